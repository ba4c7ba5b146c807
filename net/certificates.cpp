/*
** Certificates for the TLS layer: finding a credential's certificate in the
** personal store or a PFX file, listing the personal store, verifying a
** server's chain and name with the SSL policy, naming the policy's errors,
** printing a chain and reading a Certificate handshake message.
*/
#include "net/certificates.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "misc/fsutil.h"

namespace {

const WCHAR kPersonalStoreName[] = {'M', 'Y', 0};
const char kPersonalStoreNameA[] = "MY";

/* PFX files are read up to this size. */
constexpr size_t kMaxPfxSize = 65536;
constexpr DWORD kPfxImportFlags = CRYPT_EXPORTABLE | CRYPT_MACHINE_KEYSET;

constexpr DWORD kNameBufferSize = 1000;
constexpr DWORD kDisplayNameSize = 256;
constexpr DWORD kX500NoPlus = CERT_X500_NAME_STR | CERT_NAME_STR_NO_PLUS_FLAG;
/* Issuers printed at most, so that a looping set of certificates ends. */
constexpr int kMaxChainDepth = 16;

constexpr DWORD kNoMemory = 0x80090300;
constexpr DWORD kNameNotConverted = 0x80090322;

const char* const kErrorNames[] = {
    "CERT_E_EXPIRED",
    "CERT_E_VALIDITYPERIODNESTING",
    "CERT_E_ROLE",
    "CERT_E_PATHLENCONST",
    "CERT_E_CRITICAL",
    "CERT_E_PURPOSE",
    "CERT_E_ISSUERCHAINING",
    "CERT_E_MALFORMED",
    "CERT_E_UNTRUSTEDROOT",
    "CERT_E_CHAINING",
    "TRUST_E_FAIL",
    "CERT_E_REVOKED",
    "CERT_E_UNTRUSTEDTESTROOT",
    "CERT_E_REVOCATION_FAILURE",
    "CERT_E_CN_NO_MATCH",
    "CERT_E_WRONG_USAGE",
};
constexpr DWORD kFirstErrorCode = 0x800B0101;

HCERTSTORE OpenPersonalStore(bool machineStore) {
  if (machineStore) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, X509_ASN_ENCODING, 0,
                         CERT_SYSTEM_STORE_LOCAL_MACHINE, kPersonalStoreName);
  }
  return CertOpenSystemStoreA(0, kPersonalStoreNameA);
}

unsigned Error() {
  return static_cast<unsigned>(GetLastError());
}

/* "YYYY-MM-DD hh:mm:ss" of a UTC file time. */
zustring DateText(const FILETIME& time) {
  SYSTEMTIME parts = {};
  zustring text;
  if (FileTimeToSystemTime(&time, &parts)) {
    text.Format("%04d-%02d-%02d %02d:%02d:%02d", parts.wYear, parts.wMonth, parts.wDay, parts.wHour,
                parts.wMinute, parts.wSecond);
  }
  return text;
}

/* The certificate's name as an X.500 string without plus signs, or a
** line about the failure and an empty text. */
void NameLine(PCERT_NAME_BLOB name, const char* failure, char* out) {
  out[0] = 0;
  if (!CertNameToStrA(X509_ASN_ENCODING, name, kX500NoPlus, out, kNameBufferSize)) {
    std::printf(failure, Error());
  }
}

/* Acquires credentials with the certificate a search found, or sets the
** message of a failed search (text and the search's error in format);
** releases the certificate and the store either way. */
bool AcquireFound(SecureCredentials& credentials, HCERTSTORE store, PCCERT_CONTEXT certificate,
                  const char* notFoundFormat, const char* text) {
  if (!certificate) {
    credentials.MessageText.Format(notFoundFormat, text, Error());
    CertCloseStore(store, 0);
    return false;
  }
  SECURITY_STATUS status = credentials.Acquire(certificate);
  CertFreeCertificateContext(certificate);
  CertCloseStore(store, 0);
  return status == SEC_E_OK;
}

}  // namespace

/* ---- Finding a credential's certificate ---- */

bool SecureCredentials::FindByName(const char* subjectText, bool machineStore) {
  if (!subjectText || !*subjectText) {
    MessageText = "Server name not supplied";
    return false;
  }
  HCERTSTORE store = OpenPersonalStore(machineStore);
  if (!store) {
    MessageText.Format("Erro %d retornado por CertOpenStore", static_cast<int>(GetLastError()));
    return false;
  }
  PCCERT_CONTEXT certificate = CertFindCertificateInStore(
      store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_A, subjectText, nullptr);
  return AcquireFound(
      *this, store, certificate,
      "Certificado de '%s' n\xe3o encontrado (Erro 0x%x em CertFindCertificateInStore)",
      subjectText);
}

bool SecureCredentials::FindByHash(const char* thumbprintHex, bool machineStore) {
  size_t length = thumbprintHex ? std::strlen(thumbprintHex) : 0;
  if (length != 40 && length != 32) {
    MessageText = "Unknown hash algorithm";
    return false;
  }
  HCERTSTORE store = OpenPersonalStore(machineStore);
  if (!store) {
    MessageText.Format("Erro %d retornado por CertOpenStore", static_cast<int>(GetLastError()));
    return false;
  }
  // Pairs of upper-case hexadecimal digits.
  BYTE hash[20];
  auto digit = [](char c) {
    int value = c - '0';
    return value > 9 ? value - 7 : value;
  };
  for (size_t i = 0; i < length / 2; ++i) {
    hash[i] = static_cast<BYTE>(digit(thumbprintHex[2 * i]) * 16 + digit(thumbprintHex[2 * i + 1]));
  }
  CRYPT_HASH_BLOB blob = {static_cast<DWORD>(length / 2), hash};
  PCCERT_CONTEXT certificate =
      CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_HASH, &blob, nullptr);
  return AcquireFound(
      *this, store, certificate,
      "Certificado com hash '%s' n\xe3o encontrado (Erro 0x%x em CertFindCertificateInStore)",
      thumbprintHex);
}

bool SecureCredentials::LoadPfx(const char* path) {
  if (!path) return false;
  zustring native(path);
  for (char* p = native.GetWritableBuffer(); p && *p; ++p) {
    if (*p == '/' || *p == '\\') *p = PATH_SEPARATOR;
  }
  FILE* file = std::fopen(native.c_str(), "rb");
  if (!file) return false;
  std::vector<BYTE> bytes(kMaxPfxSize);
  size_t count = std::fread(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  if (count == 0) return false;

  CRYPT_DATA_BLOB blob = {static_cast<DWORD>(count), bytes.data()};
  static const WCHAR kEmptyPassword[] = {0};
  HCERTSTORE store = PFXImportCertStore(&blob, kEmptyPassword, kPfxImportFlags);
  if (!store) store = PFXImportCertStore(&blob, nullptr, kPfxImportFlags);
  if (!store) {
    MessageText.Format("Erro %d retornado por CertOpenStore", static_cast<int>(GetLastError()));
    return false;
  }
  PCCERT_CONTEXT certificate =
      CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_ANY, nullptr, nullptr);
  return AcquireFound(
      *this, store, certificate,
      "Certificado '%s' n\xe3o encontrado (Erro 0x%x em CertFindCertificateInStore)", path);
}

/* ---- Listing ---- */

CertificateCursor* OpenCursor(bool machineStore) {
  HCERTSTORE store = OpenPersonalStore(machineStore);
  if (!store) return nullptr;
  auto* cursor = new CertificateCursor;
  cursor->Store = store;
  return cursor;
}

bool NextCertificate(CertificateCursor* cursor, zustring& subject, zustring& issuer,
                     zustring& validUntil, zustring& validFrom, zustring& thumbprint,
                     DWORD* flags) {
  cursor->Current = CertEnumCertificatesInStore(cursor->Store, cursor->Current);
  PCCERT_CONTEXT certificate = cursor->Current;
  if (!certificate) return false;
  if (flags) {
    DWORD size = 0;
    *flags =
        CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)
            ? kCertificateHasKey
            : 0;
  }
  char name[kDisplayNameSize];
  if (!CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name,
                          sizeof name)) {
    return false;
  }
  subject = name;
  validUntil = DateText(certificate->pCertInfo->NotAfter);
  validFrom = DateText(certificate->pCertInfo->NotBefore);
  if (!CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG,
                          nullptr, name, sizeof name)) {
    return false;
  }
  issuer = name;
  BYTE hash[20];
  DWORD size = sizeof hash;
  if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
    return false;
  }
  static const char kDigits[] = "0123456789ABCDEF";
  char hex[2 * sizeof hash + 1];
  for (DWORD i = 0; i < size; ++i) {
    hex[2 * i] = kDigits[hash[i] >> 4];
    hex[2 * i + 1] = kDigits[hash[i] & 15];
  }
  hex[2 * size] = 0;
  thumbprint = hex;
  return true;
}

void CloseCursor(CertificateCursor* cursor) {
  if (!cursor) return;
  if (cursor->Current) CertFreeCertificateContext(cursor->Current);
  CertCloseStore(cursor->Store, 0);
  delete cursor;
}

/* ---- Verification ---- */

bool SecureChannel::VerifyServer(const char* serverName) {
  PCCERT_CONTEXT certificate = nullptr;
  SECURITY_STATUS status = SecurityInterface.QueryContextAttributesA(
      &Context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
  if (status != SEC_E_OK) {
    LastStatus = static_cast<DWORD>(status);
    MessageText.Format("Erro 0x%x lendo certificado do servidor", static_cast<unsigned>(status));
    return false;
  }
  DWORD result = VerifyChain(certificate, serverName, 0);
  CertFreeCertificateContext(certificate);
  return result == 0;
}

DWORD SecureChannel::VerifyChain(PCCERT_CONTEXT certificate, const char* serverName,
                                 DWORD checkFlags) {
  // The name's Latin-1 bytes are its UTF-16 code units.
  if (!serverName) return kNameNotConverted;
  size_t length = std::strlen(serverName) + 1;
  auto* wideName = static_cast<WCHAR*>(std::malloc(length * sizeof(WCHAR)));
  if (!wideName) return kNoMemory;
  for (size_t i = 0; i < length; ++i) wideName[i] = static_cast<unsigned char>(serverName[i]);

  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH),
                    const_cast<LPSTR>(szOID_SERVER_GATED_CRYPTO),
                    const_cast<LPSTR>(szOID_SGC_NETSCAPE)};
  CERT_CHAIN_PARA parameters = {};
  parameters.cbSize = sizeof parameters;
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 3;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters,
                               0, nullptr, &chain)) {
    DWORD error = GetLastError();
    MessageText.Format("Erro 0x%x retornado por CertGetCertificateChain",
                       static_cast<unsigned>(error));
    std::free(wideName);
    return error;
  }

  SSL_EXTRA_CERT_CHAIN_POLICY_PARA extra = {};
  extra.cbStruct = sizeof extra;
  extra.dwAuthType = AUTHTYPE_SERVER;
  extra.fdwChecks = checkFlags;
  extra.pwszServerName = wideName;
  CERT_CHAIN_POLICY_PARA policy = {sizeof policy, 0, &extra};
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof status;
  DWORD result = 0;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
    result = GetLastError();
    MessageText.Format("Error 0x%x returned by CertVerifyCertificateChainPolicy!\n",
                       static_cast<unsigned>(result));
  } else if (status.dwError) {
    result = status.dwError;
    MessageText.Format("Certificado inv\xe1lido (erro 0x%x = %s)", static_cast<unsigned>(result),
                       CertificateErrorName(result));
  }
  CertFreeCertificateChain(chain);
  std::free(wideName);
  return result;
}

const char* CertificateErrorName(DWORD code) {
  DWORD index = code - kFirstErrorCode;
  return code >= kFirstErrorCode && index < sizeof kErrorNames / sizeof *kErrorNames
             ? kErrorNames[index]
             : "(unknown)";
}

/* ---- Printing and inspecting ---- */

void PrintCertificateChain(PCCERT_CONTEXT certificate) {
  char name[kNameBufferSize];
  NameLine(&certificate->pCertInfo->Subject, "**** Error 0x%x building subject name\n", name);
  std::printf("Client subject: %s\n", name);
  NameLine(&certificate->pCertInfo->Issuer, "**** Error 0x%x building issuer name\n", name);
  std::printf("Client issuer: %s\n\n", name);

  PCCERT_CONTEXT current = certificate;
  for (int depth = 0; depth < kMaxChainDepth; ++depth) {
    DWORD flags = 0;
    PCCERT_CONTEXT issuer =
        CertGetIssuerCertificateFromStore(certificate->hCertStore, current, nullptr, &flags);
    if (!issuer) break;
    NameLine(&issuer->pCertInfo->Subject, "**** Error 0x%x building subject name\n", name);
    std::printf("CA subject: %s\n", name);
    NameLine(&issuer->pCertInfo->Issuer, "**** Error 0x%x building issuer name\n", name);
    std::printf("CA issuer: %s\n\n", name);
    if (current != certificate) CertFreeCertificateContext(current);
    current = issuer;
  }
  if (current != certificate) CertFreeCertificateContext(current);
}

char* InspectCertificateMessage(const unsigned char* bytes, int length, bool* chainValid) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (!store) return nullptr;
  PCCERT_CONTEXT first = nullptr;
  char* commonName = nullptr;
  const unsigned char* next = bytes ? bytes + 3 : nullptr;
  int remaining = bytes ? length - 3 : 0;
  while (remaining > 0) {
    if (remaining < 3) break;
    int entry = (next[0] << 16) | (next[1] << 8) | next[2];
    next += 3;
    remaining -= 3;
    if (entry > remaining) {
      std::printf("um certificado veio truncado em 2 mensagens, nao vai dar para ler.\n");
      break;
    }
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, next, static_cast<DWORD>(entry),
                                          CERT_STORE_ADD_ALWAYS, first ? nullptr : &added)) {
      break;
    }
    if (!first) {
      first = added;
      char name[kDisplayNameSize];
      DWORD n = CertGetNameStringA(first, CERT_NAME_ATTR_TYPE, 0,
                                   const_cast<char*>(szOID_COMMON_NAME), name, sizeof name);
      if (n > 1) {
        commonName = static_cast<char*>(std::malloc(n));
        if (commonName) std::memcpy(commonName, name, n);
      }
    }
    next += entry;
    remaining -= entry;
  }
  if (chainValid && commonName) {
    auto channel = std::make_unique<SecureChannel>();
    *chainValid = channel->VerifyChain(first, commonName, 0) == 0;
  }
  if (first) CertFreeCertificateContext(first);
  CertCloseStore(store, 0);
  return commonName;
}
