/*
** secur32 stand-in: the Schannel security package over OpenSSL 3.
**
** A credentials handle holds an SSL_CTX (client credentials without a
** certificate share one); a context handle holds an SSL object between two
** memory BIOs. The provider frames TLS records itself: it hands OpenSSL
** one complete record at a time, so it always knows how many of the
** caller's bytes were used, which ones are extra and when a record is not
** complete yet (see platform/posix/secur32.h for the contract).
**
** Handles are checked against a registry of live objects, so a stale or
** made-up handle fails with SEC_E_INVALID_HANDLE instead of being used.
*/
// The Windows names first: OpenSSL's headers declare the C library's
// struct hostent, which must not take the Windows one's place.
#include "platform/win32.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/posix/crypt32_internal.h"

namespace {

constexpr ULONG_PTR kCredentialTag = 0x5A554352;  // "ZUCR"
constexpr ULONG_PTR kContextTag = 0x5A554354;     // "ZUCT"

/* TLS record framing. */
constexpr size_t kRecordHeader = 5;
/* The largest record body TLS allows (TLS 1.2: 2^14 + 2048). */
constexpr size_t kMaxRecordBody = 16384 + 2048;
constexpr ULONG kMaxMessage = 16384;
enum ContentType : unsigned char {
  kChangeCipherSpec = 20,
  kAlert = 21,
  kHandshake = 22,
  kApplicationData = 23,
};
/* Room in the trailer for a key update that goes out with the next record
** (a TLS 1.3 KeyUpdate record is 27 bytes with a 16-byte tag). */
constexpr ULONG kKeyUpdateReserve = 64;

struct Credential {
  SSL_CTX* ctx = nullptr;
  bool server = false;
  std::atomic<int> references{1};  // the handle and every context made with it
};

struct Context {
  Credential* credential = nullptr;
  SSL* ssl = nullptr;
  BIO* input = nullptr;   // the peer's records, one at a time
  BIO* output = nullptr;  // what OpenSSL sends
  bool server = false;
  bool established = false;
  bool failed = false;
  bool closed = false;
  bool certificateQuestionAsked = false;
  SecPkgContext_StreamSizes sizes = {};
};

std::mutex registryLock;
std::unordered_set<const void*> liveObjects;

void Register(const void* object) {
  std::lock_guard<std::mutex> hold(registryLock);
  liveObjects.insert(object);
}
bool Unregister(const void* object) {
  std::lock_guard<std::mutex> hold(registryLock);
  return liveObjects.erase(object) == 1;
}
bool IsLive(const void* object) {
  std::lock_guard<std::mutex> hold(registryLock);
  return liveObjects.count(object) == 1;
}

Credential* FindCredential(const SecHandle* handle) {
  if (!handle || handle->dwUpper != kCredentialTag) return nullptr;
  auto* credential = reinterpret_cast<Credential*>(handle->dwLower);
  return IsLive(credential) ? credential : nullptr;
}

Context* FindContext(const SecHandle* handle) {
  if (!handle || handle->dwUpper != kContextTag) return nullptr;
  auto* context = reinterpret_cast<Context*>(handle->dwLower);
  return IsLive(context) ? context : nullptr;
}

void ReleaseCredential(Credential* credential) {
  if (--credential->references == 0) {
    SSL_CTX_free(credential->ctx);
    delete credential;
  }
}

void DestroyContext(Context* context) {
  SSL_free(context->ssl);  // frees both BIOs
  ReleaseCredential(context->credential);
  delete context;
}

/* Suspends the handshake the first time a server asks a client without a
** certificate for one, so that the caller hears of it once
** (SEC_I_INCOMPLETE_CREDENTIALS); the next call goes on without one. */
int ClientCertificateRequested(SSL* ssl, X509**, EVP_PKEY**) {
  auto* context = static_cast<Context*>(SSL_get_app_data(ssl));
  if (context && !context->certificateQuestionAsked) {
    context->certificateQuestionAsked = true;
    return -1;
  }
  return 0;
}

int AcceptAnyPeerCertificate(int, X509_STORE_CTX*) {
  return 1;
}

/* Cipher suites in the spirit of Schannel's defaults: AES with AEAD or
** CBC, forward secrecy first. */
const char kTls12Ciphers[] =
    "ECDHE+AESGCM:DHE+AESGCM:ECDHE+AES:DHE+AES:RSA+AESGCM:RSA+AES:!aNULL:!eNULL:!PSK:!SRP:!DSS";
const char kTls13Suites[] = "TLS_AES_256_GCM_SHA384:TLS_AES_128_GCM_SHA256";

bool LimitProtocols(SSL_CTX* ctx, DWORD enabled) {
  int low = TLS1_2_VERSION, high = TLS1_3_VERSION;
  if (enabled) {
    bool tls12 = enabled & (SP_PROT_TLS1_2_SERVER | SP_PROT_TLS1_2_CLIENT);
    bool tls13 = enabled & (SP_PROT_TLS1_3_SERVER | SP_PROT_TLS1_3_CLIENT);
    if (!tls12 && !tls13) return false;
    low = tls12 ? TLS1_2_VERSION : TLS1_3_VERSION;
    high = tls13 ? TLS1_3_VERSION : TLS1_2_VERSION;
  }
  return SSL_CTX_set_min_proto_version(ctx, low) && SSL_CTX_set_max_proto_version(ctx, high);
}

ALG_ID CipherAlgorithm(const SSL_CIPHER* cipher) {
  switch (SSL_CIPHER_get_cipher_nid(cipher)) {
    case NID_aes_128_gcm:
    case NID_aes_128_cbc:
    case NID_aes_128_ccm:
      return CALG_AES_128;
    case NID_aes_256_gcm:
    case NID_aes_256_cbc:
    case NID_aes_256_ccm:
      return CALG_AES_256;
    case NID_des_ede3_cbc:
      return CALG_3DES;
    case NID_rc4:
      return CALG_RC4;
    case NID_des_cbc:
      return CALG_DES;
    default:
      return 0;
  }
}

/* Keeps the suites whose cipher is one of the listed algorithms; false
** when none is left. Identifiers of other kinds (hashes, key exchanges)
** do not restrict anything. */
bool LimitAlgorithms(SSL_CTX* ctx, const ALG_ID* algorithms, DWORD count) {
  auto listed = [&](ALG_ID id) {
    return std::find(algorithms, algorithms + count, id) != algorithms + count;
  };
  bool anyCipher = false;
  for (ALG_ID id : {CALG_AES_128, CALG_AES_256, CALG_3DES, CALG_RC4, CALG_DES})
    anyCipher |= listed(id);
  if (!anyCipher) return true;
  std::string tls12, tls13;
  STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(ctx);
  for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i) {
    const SSL_CIPHER* cipher = sk_SSL_CIPHER_value(ciphers, i);
    if (!listed(CipherAlgorithm(cipher))) continue;
    std::string& list = SSL_CIPHER_get_kx_nid(cipher) == NID_kx_any ? tls13 : tls12;
    if (!list.empty()) list += ':';
    list += SSL_CIPHER_get_name(cipher);
  }
  if (tls12.empty() && tls13.empty()) return false;
  // An empty list turns that protocol's suites off.
  bool ok = SSL_CTX_set_ciphersuites(ctx, tls13.c_str()) == 1;
  if (tls12.empty())
    return ok && SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION) &&
           SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
  return ok && SSL_CTX_set_cipher_list(ctx, tls12.c_str()) == 1;
}

SSL_CTX* NewClientContext() {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) return nullptr;
  SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  SSL_CTX_set_client_cert_cb(ctx, ClientCertificateRequested);
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  if (!LimitProtocols(ctx, 0) || SSL_CTX_set_cipher_list(ctx, kTls12Ciphers) != 1 ||
      SSL_CTX_set_ciphersuites(ctx, kTls13Suites) != 1) {
    SSL_CTX_free(ctx);
    return nullptr;
  }
  return ctx;
}

/* The context of every client credential without a certificate and with
** default settings, made once (a new reference each call). */
SSL_CTX* SharedClientContext() {
  static std::mutex lock;
  static SSL_CTX* shared = nullptr;
  std::lock_guard<std::mutex> hold(lock);
  if (!shared) shared = NewClientContext();
  if (shared) SSL_CTX_up_ref(shared);
  return shared;
}

SECURITY_STATUS StatusForError(unsigned long error) {
  switch (ERR_GET_REASON(error)) {
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
      return SEC_E_ALGORITHM_MISMATCH;
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_WRONG_VERSION_NUMBER:
      return SEC_E_UNSUPPORTED_FUNCTION;
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
    case SSL_R_DECRYPTION_FAILED:
      return SEC_E_DECRYPT_FAILURE;
    case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
    case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
      return SEC_E_CERT_UNKNOWN;
    default:
      return SEC_E_ILLEGAL_MESSAGE;
  }
}

/* What the status of a failed OpenSSL call means, clearing its errors. */
SECURITY_STATUS FailureStatus() {
  unsigned long error = ERR_peek_last_error();
  ERR_clear_error();
  return error ? StatusForError(error) : SEC_E_ILLEGAL_MESSAGE;
}

enum class Framing { kComplete, kPartial, kInvalid };

/* Whether bytes start with a complete TLS record; its length in *length
** (or, when partial, the length it will have once its header is there). */
Framing FrameRecord(const unsigned char* bytes, size_t available, size_t* length) {
  *length = kRecordHeader;
  if (available >= 1 && (bytes[0] < kChangeCipherSpec || bytes[0] > kApplicationData)) {
    return Framing::kInvalid;
  }
  if (available >= 2 && bytes[1] != 3) return Framing::kInvalid;
  if (available >= 3 && bytes[2] > 4) return Framing::kInvalid;
  if (available < kRecordHeader) return Framing::kPartial;
  size_t body = (static_cast<size_t>(bytes[3]) << 8) | bytes[4];
  if (body > kMaxRecordBody) return Framing::kInvalid;
  *length = kRecordHeader + body;
  return available >= *length ? Framing::kComplete : Framing::kPartial;
}

SecBuffer* FindBuffer(PSecBufferDesc description, ULONG type, SecBuffer* after = nullptr) {
  if (!description || !description->pBuffers) return nullptr;
  SecBuffer* end = description->pBuffers + description->cBuffers;
  for (SecBuffer* b = after ? after + 1 : description->pBuffers; b < end; ++b) {
    if ((b->BufferType & ~0xF0000000u) == type) return b;
  }
  return nullptr;
}

/* Moves what OpenSSL wrote into the caller's output token: allocated when
** allocate is set, else copied into the caller's buffer. */
SECURITY_STATUS DeliverOutput(Context* context, PSecBufferDesc output, bool allocate) {
  size_t pending = BIO_ctrl_pending(context->output);
  SecBuffer* token = FindBuffer(output, SECBUFFER_TOKEN);
  if (!token) return pending ? SEC_E_INVALID_TOKEN : SEC_E_OK;
  if (allocate) {
    token->pvBuffer = nullptr;
    token->cbBuffer = 0;
    if (!pending) return SEC_E_OK;
    token->pvBuffer = std::malloc(pending);
    if (!token->pvBuffer) return SEC_E_INSUFFICIENT_MEMORY;
  } else if (token->cbBuffer < pending || (pending && !token->pvBuffer)) {
    return SEC_E_BUFFER_TOO_SMALL;
  }
  token->cbBuffer =
      static_cast<ULONG>(BIO_read(context->output, token->pvBuffer, static_cast<int>(pending)));
  return SEC_E_OK;
}

/* Header size of a record of the negotiated protocol and cipher: the
** explicit nonce of TLS 1.2 AEAD ciphers or IV of CBC ones follows the
** 5-byte header. Trailer: the tag, or MAC and padding. */
void ComputeSizes(Context* context) {
  const SSL_CIPHER* cipher = SSL_get_current_cipher(context->ssl);
  const EVP_CIPHER* evp = EVP_get_cipherbynid(SSL_CIPHER_get_cipher_nid(cipher));
  const EVP_MD* mac = EVP_get_digestbynid(SSL_CIPHER_get_digest_nid(cipher));
  bool tls13 = SSL_version(context->ssl) >= TLS1_3_VERSION;
  int mode = evp ? EVP_CIPHER_get_mode(evp) : 0;
  int block = evp ? EVP_CIPHER_get_block_size(evp) : 1;
  ULONG header = kRecordHeader, trailer = 16;
  if (tls13) {
    trailer = 16 + 1 + kKeyUpdateReserve;  // tag, inner content type, room for key updates
  } else if (mode == EVP_CIPH_GCM_MODE || mode == EVP_CIPH_CCM_MODE) {
    header += 8;
  } else if (mode == EVP_CIPH_CBC_MODE) {
    header += static_cast<ULONG>(EVP_CIPHER_get_iv_length(evp));
    trailer = static_cast<ULONG>((mac ? EVP_MD_get_size(mac) : 0) + block);
  }
  context->sizes = {header, trailer, kMaxMessage, 4, static_cast<ULONG>(block)};
}

/* One step of the handshake: feeds the complete records of the input to
** OpenSSL until it finishes, needs more, or must hear from the caller. */
SECURITY_STATUS Exchange(Context* context, PSecBufferDesc input, PSecBufferDesc output,
                         bool allocate) {
  SecBuffer* token = FindBuffer(input, SECBUFFER_TOKEN);
  SecBuffer* extra = token ? FindBuffer(input, SECBUFFER_EMPTY, token) : nullptr;
  const auto* bytes = token ? static_cast<const unsigned char*>(token->pvBuffer) : nullptr;
  size_t available = bytes ? token->cbBuffer : 0;
  size_t used = 0;
  size_t outputBefore = BIO_ctrl_pending(context->output);
  size_t missing = 0;
  SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
  ERR_clear_error();
  for (;;) {
    int result = SSL_do_handshake(context->ssl);
    if (result == 1) {
      status = SEC_E_OK;
      break;
    }
    int error = SSL_get_error(context->ssl, result);
    if (error == SSL_ERROR_WANT_X509_LOOKUP) {
      status = SEC_I_INCOMPLETE_CREDENTIALS;
      break;
    }
    if (error != SSL_ERROR_WANT_READ) {
      status = FailureStatus();
      break;
    }
    size_t length = 0;
    Framing framing = FrameRecord(bytes + used, available - used, &length);
    if (framing == Framing::kInvalid) {
      status = SEC_E_ILLEGAL_MESSAGE;
      break;
    }
    if (framing == Framing::kPartial) {
      missing = length - (available - used);
      break;
    }
    BIO_write(context->input, bytes + used, static_cast<int>(length));
    used += length;
  }
  ERR_clear_error();

  bool failed = status < 0;
  if (!failed && status == SEC_I_CONTINUE_NEEDED && used == 0 &&
      BIO_ctrl_pending(context->output) == outputBefore) {
    // Nothing could be used: the caller adds bytes and calls again.
    if (extra) {
      extra->BufferType = SECBUFFER_MISSING;
      extra->cbBuffer = static_cast<ULONG>(missing);
    }
    return SEC_E_INCOMPLETE_MESSAGE;
  }
  if (!failed && used < available && extra) {
    extra->BufferType = SECBUFFER_EXTRA;
    extra->cbBuffer = static_cast<ULONG>(available - used);
    extra->pvBuffer = const_cast<unsigned char*>(bytes + used);
  }
  SECURITY_STATUS delivered = DeliverOutput(context, output, allocate);
  if (failed) {
    context->failed = true;
    return status;
  }
  if (delivered != SEC_E_OK) return delivered;
  if (status == SEC_E_OK) {
    context->established = true;
    ComputeSizes(context);
  }
  return status;
}

ULONG ContextAttributes(bool server, bool allocate, bool extendedError) {
  ULONG attributes = server ? ASC_RET_REPLAY_DETECT | ASC_RET_SEQUENCE_DETECT |
                                  ASC_RET_CONFIDENTIALITY | ASC_RET_STREAM
                            : ISC_RET_REPLAY_DETECT | ISC_RET_SEQUENCE_DETECT |
                                  ISC_RET_CONFIDENTIALITY | ISC_RET_STREAM;
  if (allocate) attributes |= server ? ASC_RET_ALLOCATED_MEMORY : ISC_RET_ALLOCATED_MEMORY;
  if (extendedError) attributes |= server ? ASC_RET_EXTENDED_ERROR : ISC_RET_EXTENDED_ERROR;
  return attributes;
}

Context* NewContext(Credential* credential, bool server) {
  auto* context = new Context;
  context->ssl = SSL_new(credential->ctx);
  context->input = BIO_new(BIO_s_mem());
  context->output = BIO_new(BIO_s_mem());
  if (!context->ssl || !context->input || !context->output) {
    SSL_free(context->ssl);
    BIO_free(context->input);
    BIO_free(context->output);
    delete context;
    return nullptr;
  }
  // An empty input means "more later", not the end of the stream.
  BIO_set_mem_eof_return(context->input, -1);
  SSL_set_bio(context->ssl, context->input, context->output);
  SSL_set_app_data(context->ssl, context);
  context->server = server;
  context->credential = credential;
  ++credential->references;
  if (server) {
    SSL_set_accept_state(context->ssl);
  } else {
    SSL_set_connect_state(context->ssl);
  }
  return context;
}

/* The handshake call of either side: a new context on the first call
** (kept only when the step did not fail or ask for more bytes), then one
** exchange step. */
SECURITY_STATUS Step(PCredHandle credentialHandle, PCtxtHandle contextHandle, bool server,
                     const char* targetName, ULONG request, PSecBufferDesc input,
                     PCtxtHandle newContext, PSecBufferDesc output, ULONG* attributes) {
  bool allocate = request & (server ? ASC_REQ_ALLOCATE_MEMORY : ISC_REQ_ALLOCATE_MEMORY);
  Context* context = nullptr;
  bool fresh = contextHandle == nullptr;
  if (fresh) {
    Credential* credential = FindCredential(credentialHandle);
    if (!credential) return SEC_E_INVALID_HANDLE;
    if (credential->server != server) return SEC_E_NO_CREDENTIALS;
    context = NewContext(credential, server);
    if (!context) return SEC_E_INSUFFICIENT_MEMORY;
    if (server && (request & ASC_REQ_MUTUAL_AUTH)) {
      SSL_set_verify(context->ssl, SSL_VERIFY_PEER, AcceptAnyPeerCertificate);
    }
    if (!server && targetName && *targetName) SSL_set_tlsext_host_name(context->ssl, targetName);
  } else {
    context = FindContext(contextHandle);
    if (!context || context->server != server) return SEC_E_INVALID_HANDLE;
    if (context->failed || context->established) return SEC_E_CONTEXT_EXPIRED;
  }
  SECURITY_STATUS status = Exchange(context, input, output, allocate);
  SecBuffer* token = FindBuffer(output, SECBUFFER_TOKEN);
  if (attributes)
    *attributes = ContextAttributes(server, allocate, status < 0 && token && token->cbBuffer);
  if (fresh && (status < 0)) {
    DestroyContext(context);
    return status;
  }
  if (fresh) Register(context);
  if (newContext) *newContext = SecHandle{reinterpret_cast<ULONG_PTR>(context), kContextTag};
  return status;
}

const SecurityFunctionTableA kFunctionTable = {
    SECURITY_SUPPORT_PROVIDER_INTERFACE_VERSION,
    nullptr,
    nullptr,
    AcquireCredentialsHandleA,
    FreeCredentialsHandle,
    nullptr,
    InitializeSecurityContextA,
    AcceptSecurityContext,
    nullptr,
    DeleteSecurityContext,
    nullptr,
    QueryContextAttributesA,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    FreeContextBuffer,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    EncryptMessage,
    DecryptMessage,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PSecurityFunctionTableA InitSecurityInterfaceA() {
  return const_cast<PSecurityFunctionTableA>(&kFunctionTable);
}

SECURITY_STATUS AcquireCredentialsHandleA(SEC_CHAR* pszPrincipal, SEC_CHAR* pszPackage,
                                          ULONG fCredentialUse, void* pvLogonId, void* pAuthData,
                                          SEC_GET_KEY_FN pGetKeyFn, void* pvGetKeyArgument,
                                          PCredHandle phCredential, PTimeStamp ptsExpiry) {
  (void)pszPrincipal;
  (void)pvLogonId;
  (void)pGetKeyFn;
  (void)pvGetKeyArgument;
  if (!pszPackage || _stricmp(pszPackage, UNISP_NAME_A) != 0) return SEC_E_SECPKG_NOT_FOUND;
  if (!phCredential) return SEC_E_INVALID_PARAMETER;
  bool server = fCredentialUse == SECPKG_CRED_INBOUND;
  if (!server && fCredentialUse != SECPKG_CRED_OUTBOUND) return SEC_E_UNKNOWN_CREDENTIALS;
  const auto* record = static_cast<const SCHANNEL_CRED*>(pAuthData);
  if (record && record->dwVersion != SCHANNEL_CRED_VERSION) return SEC_E_UNKNOWN_CREDENTIALS;
  PCCERT_CONTEXT certificate =
      record && record->cCreds && record->paCred ? record->paCred[0] : nullptr;
  if (server && !certificate) return SEC_E_NO_CREDENTIALS;
  bool defaults =
      !certificate && (!record || (!record->cSupportedAlgs && !record->grbitEnabledProtocols));

  ERR_clear_error();
  SSL_CTX* ctx = nullptr;
  if (!server && defaults) {
    ctx = SharedClientContext();
  } else if (!server) {
    ctx = NewClientContext();
  } else if ((ctx = SSL_CTX_new(TLS_server_method()))) {
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    if (!LimitProtocols(ctx, 0) || SSL_CTX_set_cipher_list(ctx, kTls12Ciphers) != 1 ||
        SSL_CTX_set_ciphersuites(ctx, kTls13Suites) != 1) {
      SSL_CTX_free(ctx);
      ctx = nullptr;
    }
  }
  if (!ctx) return SEC_E_INTERNAL_ERROR;

  SECURITY_STATUS status = SEC_E_OK;
  if (record && !defaults) {
    if (!LimitProtocols(ctx, record->grbitEnabledProtocols) ||
        (record->cSupportedAlgs && record->palgSupportedAlgs &&
         !LimitAlgorithms(ctx, record->palgSupportedAlgs, record->cSupportedAlgs))) {
      status = SEC_E_ALGORITHM_MISMATCH;
    }
  }
  if (status == SEC_E_OK && certificate) {
    X509* x509 = standin::CertificateX509(certificate);
    EVP_PKEY* key = x509 ? standin::CertificateKey(certificate) : nullptr;
    if (!x509) {
      status = SEC_E_UNKNOWN_CREDENTIALS;
    } else if (!key) {
      status = SEC_E_NO_CREDENTIALS;
    } else if (!SSL_CTX_use_certificate(ctx, x509) || !SSL_CTX_use_PrivateKey(ctx, key) ||
               !SSL_CTX_check_private_key(ctx)) {
      status = SEC_E_UNKNOWN_CREDENTIALS;
    } else {
      STACK_OF(X509)* issuers = standin::CertificateIssuers(certificate);
      for (int i = 0; issuers && i < sk_X509_num(issuers); ++i) {
        SSL_CTX_add1_chain_cert(ctx, sk_X509_value(issuers, i));
      }
      sk_X509_pop_free(issuers, X509_free);
    }
    EVP_PKEY_free(key);
  }
  ERR_clear_error();
  if (status != SEC_E_OK) {
    SSL_CTX_free(ctx);
    return status;
  }
  auto* credential = new Credential;
  credential->ctx = ctx;
  credential->server = server;
  Register(credential);
  *phCredential = SecHandle{reinterpret_cast<ULONG_PTR>(credential), kCredentialTag};
  if (ptsExpiry) *ptsExpiry = SECURITY_INTEGER{0xFFFFFFFFu, 0x7FFFFFFF};
  return SEC_E_OK;
}

SECURITY_STATUS FreeCredentialsHandle(PCredHandle phCredential) {
  Credential* credential = FindCredential(phCredential);
  if (!credential || !Unregister(credential)) return SEC_E_INVALID_HANDLE;
  ReleaseCredential(credential);
  return SEC_E_OK;
}

SECURITY_STATUS InitializeSecurityContextA(PCredHandle phCredential, PCtxtHandle phContext,
                                           SEC_CHAR* pszTargetName, ULONG fContextReq,
                                           ULONG Reserved1, ULONG TargetDataRep,
                                           PSecBufferDesc pInput, ULONG Reserved2,
                                           PCtxtHandle phNewContext, PSecBufferDesc pOutput,
                                           ULONG* pfContextAttr, PTimeStamp ptsExpiry) {
  (void)Reserved1;
  (void)Reserved2;
  (void)TargetDataRep;
  if (ptsExpiry) *ptsExpiry = SECURITY_INTEGER{0xFFFFFFFFu, 0x7FFFFFFF};
  return Step(phCredential, phContext, false, pszTargetName, fContextReq,
              phContext ? pInput : nullptr, phNewContext, pOutput, pfContextAttr);
}

SECURITY_STATUS AcceptSecurityContext(PCredHandle phCredential, PCtxtHandle phContext,
                                      PSecBufferDesc pInput, ULONG fContextReq, ULONG TargetDataRep,
                                      PCtxtHandle phNewContext, PSecBufferDesc pOutput,
                                      ULONG* pfContextAttr, PTimeStamp ptsExpiry) {
  (void)TargetDataRep;
  if (ptsExpiry) *ptsExpiry = SECURITY_INTEGER{0xFFFFFFFFu, 0x7FFFFFFF};
  return Step(phCredential, phContext, true, nullptr, fContextReq, pInput, phNewContext, pOutput,
              pfContextAttr);
}

SECURITY_STATUS DeleteSecurityContext(PCtxtHandle phContext) {
  Context* context = FindContext(phContext);
  if (!context || !Unregister(context)) return SEC_E_INVALID_HANDLE;
  DestroyContext(context);
  return SEC_E_OK;
}

SECURITY_STATUS FreeContextBuffer(void* pvContextBuffer) {
  std::free(pvContextBuffer);
  return SEC_E_OK;
}

SECURITY_STATUS QueryContextAttributesA(PCtxtHandle phContext, ULONG ulAttribute, void* pBuffer) {
  Context* context = FindContext(phContext);
  if (!context) return SEC_E_INVALID_HANDLE;
  if (!pBuffer) return SEC_E_INVALID_PARAMETER;
  if (!context->established) return SEC_E_CONTEXT_EXPIRED;
  SSL* ssl = context->ssl;
  switch (ulAttribute) {
    case SECPKG_ATTR_STREAM_SIZES:
      *static_cast<SecPkgContext_StreamSizes*>(pBuffer) = context->sizes;
      return SEC_E_OK;
    case SECPKG_ATTR_CONNECTION_INFO: {
      auto* info = static_cast<SecPkgContext_ConnectionInfo*>(pBuffer);
      *info = {};
      bool server = context->server;
      switch (SSL_version(ssl)) {
        case TLS1_3_VERSION:
          info->dwProtocol = server ? SP_PROT_TLS1_3_SERVER : SP_PROT_TLS1_3_CLIENT;
          break;
        case TLS1_2_VERSION:
          info->dwProtocol = server ? SP_PROT_TLS1_2_SERVER : SP_PROT_TLS1_2_CLIENT;
          break;
        case TLS1_1_VERSION:
          info->dwProtocol = server ? SP_PROT_TLS1_1_SERVER : SP_PROT_TLS1_1_CLIENT;
          break;
        default:
          info->dwProtocol = server ? SP_PROT_TLS1_SERVER : SP_PROT_TLS1_CLIENT;
          break;
      }
      const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl);
      info->aiCipher = CipherAlgorithm(cipher);
      info->dwCipherStrength = static_cast<DWORD>(SSL_CIPHER_get_bits(cipher, nullptr));
      const EVP_MD* hash = EVP_get_digestbynid(SSL_CIPHER_get_digest_nid(cipher));
      if (!hash) hash = SSL_CIPHER_get_handshake_digest(cipher);
      switch (hash ? EVP_MD_get_type(hash) : 0) {
        case NID_md5:
          info->aiHash = CALG_MD5;
          break;
        case NID_sha1:
          info->aiHash = CALG_SHA1;
          break;
        case NID_sha256:
          info->aiHash = CALG_SHA_256;
          break;
        case NID_sha384:
          info->aiHash = CALG_SHA_384;
          break;
        default:
          break;
      }
      info->dwHashStrength = hash ? static_cast<DWORD>(EVP_MD_get_size(hash) * 8) : 0;
      EVP_PKEY* exchangeKey = nullptr;
      int kx = SSL_CIPHER_get_kx_nid(cipher);
      if (kx == NID_kx_rsa) {
        info->aiExch = CALG_RSA_KEYX;
        X509* serverCertificate =
            server ? SSL_get_certificate(ssl) : SSL_get0_peer_certificate(ssl);
        EVP_PKEY* key = serverCertificate ? X509_get0_pubkey(serverCertificate) : nullptr;
        info->dwExchStrength = key ? static_cast<DWORD>(EVP_PKEY_get_bits(key)) : 0;
      } else {
        if (server ? SSL_get_tmp_key(ssl, &exchangeKey) : SSL_get_peer_tmp_key(ssl, &exchangeKey)) {
          bool finiteField = EVP_PKEY_get_base_id(exchangeKey) == EVP_PKEY_DH ||
                             EVP_PKEY_get_base_id(exchangeKey) == EVP_PKEY_DHX;
          info->aiExch = finiteField ? CALG_DH_EPHEM : CALG_ECDH_EPHEM;
          info->dwExchStrength = static_cast<DWORD>(EVP_PKEY_get_bits(exchangeKey));
          EVP_PKEY_free(exchangeKey);
        } else {
          info->aiExch = kx == NID_kx_dhe ? CALG_DH_EPHEM : CALG_ECDH_EPHEM;
        }
      }
      return SEC_E_OK;
    }
    case SECPKG_ATTR_REMOTE_CERT_CONTEXT: {
      X509* leaf = SSL_get0_peer_certificate(ssl);
      if (!leaf) return SEC_E_NO_CREDENTIALS;
      STACK_OF(X509)* chain = sk_X509_new_null();
      STACK_OF(X509)* sent = SSL_get_peer_cert_chain(ssl);
      sk_X509_push(chain, leaf);
      for (int i = 0; sent && i < sk_X509_num(sent); ++i) {
        X509* x509 = sk_X509_value(sent, i);
        if (X509_cmp(x509, leaf) != 0) sk_X509_push(chain, x509);
      }
      PCCERT_CONTEXT certificate = standin::ContextForChain(chain);
      sk_X509_free(chain);
      if (!certificate) return SEC_E_INSUFFICIENT_MEMORY;
      *static_cast<PCCERT_CONTEXT*>(pBuffer) = certificate;
      return SEC_E_OK;
    }
    default:
      return SEC_E_UNSUPPORTED_FUNCTION;
  }
}

SECURITY_STATUS EncryptMessage(PCtxtHandle phContext, ULONG fQOP, PSecBufferDesc pMessage,
                               ULONG MessageSeqNo) {
  (void)fQOP;
  (void)MessageSeqNo;
  Context* context = FindContext(phContext);
  if (!context) return SEC_E_INVALID_HANDLE;
  if (!context->established || context->failed) return SEC_E_CONTEXT_EXPIRED;
  SecBuffer* header = FindBuffer(pMessage, SECBUFFER_STREAM_HEADER);
  SecBuffer* data = FindBuffer(pMessage, SECBUFFER_DATA);
  SecBuffer* trailer = FindBuffer(pMessage, SECBUFFER_STREAM_TRAILER);
  if (!header || !data || !trailer || !header->pvBuffer || !trailer->pvBuffer ||
      (data->cbBuffer && !data->pvBuffer)) {
    return SEC_E_INVALID_TOKEN;
  }
  if (data->cbBuffer > context->sizes.cbMaximumMessage) return SEC_E_INVALID_PARAMETER;
  if (header->cbBuffer < context->sizes.cbHeader || trailer->cbBuffer < context->sizes.cbTrailer) {
    return SEC_E_BUFFER_TOO_SMALL;
  }
  ERR_clear_error();
  size_t written = 0;
  if (data->cbBuffer && SSL_write_ex(context->ssl, data->pvBuffer, data->cbBuffer, &written) != 1) {
    context->failed = true;
    ERR_clear_error();
    return SEC_E_ENCRYPT_FAILURE;
  }
  // A key update the peer asked for goes out in front of the record; its
  // bytes end up in the trailer's room.
  size_t total = BIO_ctrl_pending(context->output);
  if (total == 0) {
    // Nothing to send: an empty message makes no record here.
    header->cbBuffer = 0;
    trailer->cbBuffer = 0;
    return SEC_E_OK;
  }
  size_t rest = total - context->sizes.cbHeader - data->cbBuffer;
  if (total < context->sizes.cbHeader + data->cbBuffer || rest > trailer->cbBuffer) {
    context->failed = true;
    return SEC_E_INTERNAL_ERROR;
  }
  BIO_read(context->output, header->pvBuffer, static_cast<int>(context->sizes.cbHeader));
  BIO_read(context->output, data->pvBuffer, static_cast<int>(data->cbBuffer));
  BIO_read(context->output, trailer->pvBuffer, static_cast<int>(rest));
  header->cbBuffer = context->sizes.cbHeader;
  trailer->cbBuffer = static_cast<ULONG>(rest);
  return SEC_E_OK;
}

SECURITY_STATUS DecryptMessage(PCtxtHandle phContext, PSecBufferDesc pMessage, ULONG MessageSeqNo,
                               ULONG* pfQOP) {
  (void)MessageSeqNo;
  if (pfQOP) *pfQOP = 0;
  Context* context = FindContext(phContext);
  if (!context) return SEC_E_INVALID_HANDLE;
  if (!context->established || context->failed) return SEC_E_CONTEXT_EXPIRED;
  if (!pMessage || !pMessage->pBuffers || pMessage->cBuffers < 4) return SEC_E_INVALID_TOKEN;
  SecBuffer* buffers = pMessage->pBuffers;
  SecBuffer* data = FindBuffer(pMessage, SECBUFFER_DATA);
  if (!data || (data->cbBuffer && !data->pvBuffer)) return SEC_E_INVALID_TOKEN;
  if (context->closed) return SEC_I_CONTEXT_EXPIRED;
  auto* bytes = static_cast<unsigned char*>(data->pvBuffer);
  size_t available = data->cbBuffer;
  size_t length = 0;
  Framing framing = FrameRecord(bytes, available, &length);
  if (framing == Framing::kInvalid) return SEC_E_ILLEGAL_MESSAGE;
  if (framing == Framing::kPartial) {
    if (SecBuffer* missing = FindBuffer(pMessage, SECBUFFER_EMPTY)) {
      missing->BufferType = SECBUFFER_MISSING;
      missing->cbBuffer = static_cast<ULONG>(length - available);
    }
    return SEC_E_INCOMPLETE_MESSAGE;
  }
  // From here on the four buffers describe the record: header, plain data,
  // trailer, and what follows it.
  // A handshake record after a TLS 1.2 handshake asks to renegotiate.
  if (bytes[0] == kHandshake && SSL_version(context->ssl) < TLS1_3_VERSION) {
    buffers[0] = SecBuffer{0, SECBUFFER_STREAM_HEADER, bytes};
    buffers[1] = SecBuffer{0, SECBUFFER_DATA, bytes};
    buffers[2] = SecBuffer{0, SECBUFFER_STREAM_TRAILER, bytes};
    buffers[3] = SecBuffer{static_cast<ULONG>(available), SECBUFFER_EXTRA, bytes};
    return SEC_I_RENEGOTIATE;
  }
  ERR_clear_error();
  BIO_write(context->input, bytes, static_cast<int>(length));
  // The plain bytes replace the record's body in place.
  unsigned char* plain = bytes + kRecordHeader;
  size_t plainLength = 0;
  int result = SSL_read_ex(context->ssl, plain, length - kRecordHeader, &plainLength);
  SECURITY_STATUS status = SEC_E_OK;
  if (result != 1) {
    int error = SSL_get_error(context->ssl, 0);
    plainLength = 0;
    if (error == SSL_ERROR_ZERO_RETURN) {
      context->closed = true;
      status = SEC_I_CONTEXT_EXPIRED;
    } else if (error != SSL_ERROR_WANT_READ) {
      unsigned long reason = ERR_GET_REASON(ERR_peek_last_error());
      status = reason == SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC ? SEC_E_MESSAGE_ALTERED
                                                                   : SEC_E_ILLEGAL_MESSAGE;
      context->failed = true;
    }
  }
  ERR_clear_error();
  if (status < 0) return status;
  buffers[0] = SecBuffer{static_cast<ULONG>(kRecordHeader), SECBUFFER_STREAM_HEADER, bytes};
  buffers[1] = SecBuffer{static_cast<ULONG>(plainLength), SECBUFFER_DATA, plain};
  buffers[2] = SecBuffer{static_cast<ULONG>(length - kRecordHeader - plainLength),
                         SECBUFFER_STREAM_TRAILER, plain + plainLength};
  // What follows the record; always reported for a record without
  // application data, so that the caller goes on to the next one.
  if (available > length || plainLength == 0) {
    buffers[3] = SecBuffer{static_cast<ULONG>(available - length), SECBUFFER_EXTRA, bytes + length};
  } else {
    buffers[3] = SecBuffer{0, SECBUFFER_EMPTY, nullptr};
  }
  return status;
}
