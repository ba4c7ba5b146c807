// Shared by the TLS fuzz targets: a stand-in root of their own, server
// credentials for a self-signed certificate made in memory, and a
// handshake between two contexts of the provider without sockets.
#pragma once

// The library's headers first: OpenSSL's declare a struct hostent of the C
// library, which must not hide the Windows one the socket class names.
// clang-format off
#include "net/securechannel.h"
// clang-format on
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fuzzsupport {

inline void Check(bool condition) {
  if (!condition) std::abort();
}

/* Points the stand-in at a fresh directory trusting no CA bundle. */
inline void PrivateRoot() {
  static bool done = false;
  if (done) return;
  done = true;
  char pattern[] = "/tmp/zu-fuzz-XXXXXX";
  const char* directory = mkdtemp(pattern);
  Check(directory != nullptr);
  setenv("ZU_WIN32_ROOT", directory, 1);
  FILE* conf = std::fopen((std::string(directory) + "/standin.conf").c_str(), "w");
  std::fputs("crypt32.ca_bundle=\n", conf);
  std::fclose(conf);
}

/* Server credentials for a self-signed localhost certificate, made once. */
inline SecHandle* ServerCredentials() {
  static SecHandle handle;
  static bool made = false;
  if (made) return &handle;
  made = true;
  PrivateRoot();
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 365);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, X509_get_subject_name(cert));
  X509_set_pubkey(cert, key);
  X509_sign(cert, key, EVP_sha256());
  PKCS12* pfx = PKCS12_create("", "fuzz", key, cert, nullptr, 0, 0, 0, 0, 0);
  unsigned char* der = nullptr;
  int length = i2d_PKCS12(pfx, &der);
  CRYPT_DATA_BLOB blob = {static_cast<DWORD>(length), der};
  static const WCHAR kEmpty[] = {0};
  HCERTSTORE store = PFXImportCertStore(&blob, kEmpty, 0);
  PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr);
  SCHANNEL_CRED record = {};
  record.dwVersion = SCHANNEL_CRED_VERSION;
  record.cCreds = 1;
  record.paCred = &context;
  Check(SecurityInterface.AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A),
                                                    SECPKG_CRED_INBOUND, nullptr, &record, nullptr,
                                                    nullptr, &handle, nullptr) == SEC_E_OK);
  CertFreeCertificateContext(context);
  CertCloseStore(store, 0);
  OPENSSL_free(der);
  PKCS12_free(pfx);
  X509_free(cert);
  EVP_PKEY_free(key);
  return &handle;
}

/* Client credentials with the given protocols (0: TLS 1.2 and 1.3). */
inline SecHandle ClientCredentials(DWORD protocols) {
  SCHANNEL_CRED record = {};
  record.dwVersion = SCHANNEL_CRED_VERSION;
  record.grbitEnabledProtocols = protocols;
  record.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;
  SecHandle handle;
  Check(SecurityInterface.AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A),
                                                    SECPKG_CRED_OUTBOUND, nullptr, &record, nullptr,
                                                    nullptr, &handle, nullptr) == SEC_E_OK);
  return handle;
}

constexpr ULONG kRequest = 0x1811C;

/* One handshake call; its output token appended to out. */
inline SECURITY_STATUS Call(bool server, SecHandle* credentials, SecHandle* context, bool first,
                            std::string& in, std::string& out) {
  SecBuffer input[2] = {{static_cast<ULONG>(in.size()), SECBUFFER_TOKEN, in.data()},
                        {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc inputs = {SECBUFFER_VERSION, 2, input};
  SecBuffer output = {0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc outputs = {SECBUFFER_VERSION, 1, &output};
  ULONG attributes = 0;
  SECURITY_STATUS status =
      server
          ? SecurityInterface.AcceptSecurityContext(credentials, first ? nullptr : context, &inputs,
                                                    kRequest, SECURITY_NATIVE_DREP, context,
                                                    &outputs, &attributes, nullptr)
          : SecurityInterface.InitializeSecurityContextA(
                credentials, first ? nullptr : context, nullptr, kRequest, 0, SECURITY_NATIVE_DREP,
                first ? nullptr : &inputs, 0, context, &outputs, &attributes, nullptr);
  if (status != SEC_E_INCOMPLETE_MESSAGE) {
    Check(input[1].BufferType != SECBUFFER_EXTRA || input[1].cbBuffer <= in.size());
    in = input[1].BufferType == SECBUFFER_EXTRA ? in.substr(in.size() - input[1].cbBuffer)
                                                : std::string();
  }
  if (output.pvBuffer) {
    out.append(static_cast<const char*>(output.pvBuffer), output.cbBuffer);
    SecurityInterface.FreeContextBuffer(output.pvBuffer);
  }
  return status;
}

/* Runs a handshake between a new client and a new server context; the
** bytes the server sent after its last handshake call stay in toClient. */
inline bool Handshake(DWORD protocols, SecHandle* client, SecHandle* server,
                      std::string& toClient) {
  static SecHandle credentials[3];
  static bool made[3] = {};
  int slot = protocols == 0 ? 0 : protocols == SP_PROT_TLS1_2_CLIENT ? 1 : 2;
  if (!made[slot]) {
    credentials[slot] = ClientCredentials(protocols);
    made[slot] = true;
  }
  std::string toServer;
  toClient.clear();
  SECURITY_STATUS clientStatus = Call(false, &credentials[slot], client, true, toClient, toServer);
  SECURITY_STATUS serverStatus = SEC_I_CONTINUE_NEEDED;
  bool firstServerCall = true;
  for (int round = 0; round < 10; ++round) {
    if (serverStatus != SEC_E_OK) {
      serverStatus = Call(true, ServerCredentials(), server, firstServerCall, toServer, toClient);
      firstServerCall = false;
    }
    if (clientStatus != SEC_E_OK && !toClient.empty()) {
      clientStatus = Call(false, &credentials[slot], client, false, toClient, toServer);
    }
    if (clientStatus == SEC_E_OK && serverStatus == SEC_E_OK) return true;
    if (clientStatus < 0 && clientStatus != SEC_E_INCOMPLETE_MESSAGE) return false;
    if (serverStatus < 0 && serverStatus != SEC_E_INCOMPLETE_MESSAGE) return false;
  }
  return false;
}

}  // namespace fuzzsupport
