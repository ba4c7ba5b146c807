/*
** crypt32 stand-in: certificate stores, contexts, names and properties,
** PFX import, chain building and the chain policies, over OpenSSL 3.
**
** A certificate context is the first member of a Certificate object, which
** also holds the decoded CERT_INFO, the OpenSSL certificate and, when there
** is one, the private key or the path of its key file. Every store owns
** its certificates; contexts handed to callers are counted, and each counts
** as a reference to its store, so that a closed store lives on until its
** last context is released. System stores are directories of DER files
** (see platform/posix/crypt32.h); trusted roots are cached in one OpenSSL
** store that is rebuilt when a ROOT directory or the CA bundle changes.
*/
// The Windows names first: OpenSSL's headers declare the C library's
// struct hostent, which must not take the Windows one's place.
#include "platform/win32.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/crypt32_internal.h"
#include "platform/posix/standin.h"

namespace {

/* FILETIME counts 100-nanosecond ticks from 1601-01-01, 11644473600
** seconds before the Unix epoch. */
constexpr int64_t kEpochOffsetSeconds = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000;

constexpr uint32_t kStoreMagic = 0x53545245;        // "STRE"
constexpr uint32_t kCertificateMagic = 0x43455254;  // "CERT"
constexpr uint32_t kChainMagic = 0x4348414E;        // "CHAN"

constexpr size_t kSha1Size = 20;
constexpr size_t kMd5Size = 16;

/* fdwChecks bits of the SSL policy's extra data. */
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreWrongUsage = 0x00000200;
constexpr DWORD kIgnoreNameInvalid = 0x00001000;
constexpr DWORD kIgnoreDateInvalid = 0x00002000;

constexpr HRESULT kSelfSigned = static_cast<HRESULT>(0x80092007);  // CRYPT_E_SELF_SIGNED
constexpr HRESULT kBasicConstraints =
    static_cast<HRESULT>(0x80096019);  // TRUST_E_BASIC_CONSTRAINTS
constexpr const char* kAnyExtendedKeyUsage = "2.5.29.37.0";

void Fail(DWORD error) {
  SetLastError(error);
}

FILETIME FileTimeFromUnix(int64_t seconds) {
  uint64_t ticks = static_cast<uint64_t>((seconds + kEpochOffsetSeconds) * kTicksPerSecond);
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

int64_t UnixFromFileTime(const FILETIME& time) {
  return static_cast<int64_t>(Ticks(time) / kTicksPerSecond) - kEpochOffsetSeconds;
}

FILETIME Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return now;
}

FILETIME FromAsn1Time(const ASN1_TIME* time) {
  struct tm parts = {};
  if (!time || !ASN1_TIME_to_tm(time, &parts)) return FILETIME{0, 0};
  return FileTimeFromUnix(timegm(&parts));
}

template <typename T, typename Encode>
std::vector<BYTE> Encoded(const T* object, Encode encode) {
  std::vector<BYTE> bytes;
  int length = encode(object, nullptr);
  if (length <= 0) return bytes;
  bytes.resize(static_cast<size_t>(length));
  unsigned char* out = bytes.data();
  encode(object, &out);
  return bytes;
}

std::string ObjectId(const ASN1_OBJECT* object) {
  char text[128];
  int n = OBJ_obj2txt(text, sizeof text, object, 1);
  return n > 0 && static_cast<size_t>(n) < sizeof text ? std::string(text) : std::string();
}

/* UTF-8 to Latin-1: characters beyond it become '?'. */
std::string Latin1FromUtf8(const unsigned char* s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n;) {
    unsigned c = s[i];
    unsigned code = c;
    size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : 3;
    if (extra) code = c & (0x3F >> extra);
    size_t j = 1;
    for (; j <= extra && i + j < n && (s[i + j] & 0xC0) == 0x80; ++j)
      code = (code << 6) | (s[i + j] & 0x3F);
    out += code <= 0xFF ? static_cast<char>(code) : '?';
    i += j;
  }
  return out;
}

std::string Latin1(const ASN1_STRING* value) {
  unsigned char* utf8 = nullptr;
  int n = ASN1_STRING_to_UTF8(&utf8, value);
  if (n < 0) return std::string();
  std::string text = Latin1FromUtf8(utf8, static_cast<size_t>(n));
  OPENSSL_free(utf8);
  return text;
}

unsigned char FoldLatin1(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  return c;
}

bool ContainsFolded(const std::string& text, const char* part) {
  std::string a, b;
  for (unsigned char c : text) a += static_cast<char>(FoldLatin1(c));
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(part); *p; ++p) {
    b += static_cast<char>(FoldLatin1(*p));
  }
  return a.find(b) != std::string::npos;
}

/* Copies text with its NUL into out (cch characters at most, truncating);
** the count written, or needed when out is null or cch is 0. */
DWORD CopyOut(const std::string& text, LPSTR out, DWORD cch) {
  DWORD needed = static_cast<DWORD>(text.size() + 1);
  if (!out || cch == 0) return needed;
  DWORD n = std::min(needed, cch);
  std::memcpy(out, text.data(), n - 1);
  out[n - 1] = 0;
  return n;
}

/* ---- Names ---- */

struct AttributeKey {
  const char* oid;
  const char* key;
};
const AttributeKey kX500Keys[] = {
    {"2.5.4.3", "CN"},
    {"2.5.4.7", "L"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"1.2.840.113549.1.9.1", "E"},
    {"2.5.4.6", "C"},
    {"2.5.4.8", "S"},
    {"2.5.4.9", "STREET"},
    {"2.5.4.12", "T"},
    {"2.5.4.42", "G"},
    {"2.5.4.43", "I"},
    {"2.5.4.4", "SN"},
    {"0.9.2342.19200300.100.1.25", "DC"},
    {"2.5.4.5", "SERIALNUMBER"},
    {"2.5.4.17", "PostalCode"},
    {"2.5.4.13", "Description"},
    {"0.9.2342.19200300.100.1.1", "UID"},
};

std::string QuotedValue(const std::string& value) {
  bool quote = value.empty() || value.front() == ' ' || value.back() == ' ' ||
               value.find_first_of(",+=\"\r\n<>#;") != std::string::npos;
  if (!quote) return value;
  std::string out = "\"";
  for (char c : value) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string NameToString(const X509_NAME* name, DWORD form) {
  DWORD kind = form & 0xFFFF;
  const char* rdnSeparator = (form & CERT_NAME_STR_SEMICOLON_FLAG) ? "; "
                             : (form & CERT_NAME_STR_CRLF_FLAG)    ? "\r\n"
                                                                   : ", ";
  const char* plus = (form & CERT_NAME_STR_NO_PLUS_FLAG) ? rdnSeparator : " + ";
  int count = X509_NAME_entry_count(name);
  // Group the entries by RDN, in encoding order or reversed.
  std::vector<std::vector<std::string>> rdns;
  int lastSet = -1;
  for (int i = 0; i < count; ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    std::string oid = ObjectId(X509_NAME_ENTRY_get_object(entry));
    std::string value = Latin1(X509_NAME_ENTRY_get_data(entry));
    if (!(form & CERT_NAME_STR_NO_QUOTING_FLAG) && kind != CERT_SIMPLE_NAME_STR) {
      value = QuotedValue(value);
    }
    std::string item;
    if (kind == CERT_SIMPLE_NAME_STR) {
      item = value;
    } else {
      std::string key = kind == CERT_OID_NAME_STR ? oid : "OID." + oid;
      if (kind != CERT_OID_NAME_STR) {
        for (const AttributeKey& row : kX500Keys) {
          if (oid == row.oid) key = row.key;
        }
      }
      item = key + "=" + value;
    }
    int set = X509_NAME_ENTRY_set(entry);
    if (set != lastSet || rdns.empty()) rdns.emplace_back();
    rdns.back().push_back(item);
    lastSet = set;
  }
  if (form & CERT_NAME_STR_REVERSE_FLAG) std::reverse(rdns.begin(), rdns.end());
  std::string out;
  for (size_t r = 0; r < rdns.size(); ++r) {
    if (r) out += rdnSeparator;
    for (size_t a = 0; a < rdns[r].size(); ++a) {
      if (a) out += plus;
      out += rdns[r][a];
    }
  }
  return out;
}

/* The first attribute of name with that dotted OID, or empty. */
std::string Attribute(const X509_NAME* name, const char* oid) {
  int count = X509_NAME_entry_count(name);
  for (int i = 0; i < count; ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    if (ObjectId(X509_NAME_ENTRY_get_object(entry)) == oid) {
      return Latin1(X509_NAME_ENTRY_get_data(entry));
    }
  }
  return std::string();
}

/* The first alternative name of that type (GEN_DNS, GEN_EMAIL). */
std::string AlternativeName(X509* x509, bool issuer, int type) {
  auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(
      x509, issuer ? NID_issuer_alt_name : NID_subject_alt_name, nullptr, nullptr));
  std::string found;
  for (int i = 0; names && found.empty() && i < sk_GENERAL_NAME_num(names); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
    if (name->type == type) found = Latin1(name->d.ia5);
  }
  GENERAL_NAMES_free(names);
  return found;
}

/* ---- Stores and contexts ---- */

struct Store;

struct Certificate {
  CERT_CONTEXT context;  // first: a PCCERT_CONTEXT points at the object
  CERT_INFO info = {};
  uint32_t magic = kCertificateMagic;
  std::atomic<long> handedOut{0};
  Store* store = nullptr;
  X509* x509 = nullptr;
  EVP_PKEY* key = nullptr;  // attached key (PFX import, or added to a memory store)
  std::string keyPath;      // key file beside a stored certificate
  BYTE sha1[kSha1Size] = {};
  std::vector<BYTE> der, serial, issuer, subject, signatureParameters, keyParameters, publicKey;
  std::string signatureOid, keyOid;
  std::vector<CERT_EXTENSION> extensions;
  std::deque<std::string> extensionOids;
  std::deque<std::vector<BYTE>> extensionValues;

  ~Certificate() {
    X509_free(x509);
    EVP_PKEY_free(key);
  }
  bool HasKey() const { return key || (!keyPath.empty() && access(keyPath.c_str(), R_OK) == 0); }
};

struct Store {
  uint32_t magic = kStoreMagic;
  std::atomic<long> references{1};  // the open handle and every context handed out
  std::string directory;            // empty for a memory store
  bool readOnly = false;
  std::vector<std::unique_ptr<Certificate>> certificates;
  std::vector<std::unique_ptr<Certificate>> replaced;  // may still be referenced
};

Store* StoreFromHandle(HCERTSTORE handle) {
  auto* store = static_cast<Store*>(handle);
  return store && store->magic == kStoreMagic ? store : nullptr;
}

Certificate* FromContext(PCCERT_CONTEXT context) {
  if (!context) return nullptr;
  auto* certificate = reinterpret_cast<Certificate*>(const_cast<CERT_CONTEXT*>(context));
  return certificate->magic == kCertificateMagic ? certificate : nullptr;
}

void ReleaseStore(Store* store) {
  if (--store->references == 0) {
    store->magic = 0;
    delete store;
  }
}

PCCERT_CONTEXT HandOut(Certificate* certificate) {
  ++certificate->handedOut;
  ++certificate->store->references;
  return &certificate->context;
}

void Release(Certificate* certificate) {
  --certificate->handedOut;
  ReleaseStore(certificate->store);
}

void SetBitBlob(CRYPT_BIT_BLOB& blob, const ASN1_BIT_STRING* bits, std::vector<BYTE>& storage) {
  blob = {};
  if (!bits) return;
  const unsigned char* data = ASN1_STRING_get0_data(bits);
  storage.assign(data, data + ASN1_STRING_length(bits));
  blob.cbData = static_cast<DWORD>(storage.size());
  blob.pbData = storage.empty() ? nullptr : storage.data();
}

void SetAlgorithm(CRYPT_ALGORITHM_IDENTIFIER& out, const X509_ALGOR* algorithm, std::string& oid,
                  std::vector<BYTE>& parameters) {
  const ASN1_OBJECT* object = nullptr;
  int type = 0;
  const void* value = nullptr;
  X509_ALGOR_get0(&object, &type, &value, algorithm);
  oid = ObjectId(object);
  parameters.clear();
  if (type != V_ASN1_UNDEF) {
    ASN1_TYPE* any = ASN1_TYPE_new();
    if (any && ASN1_TYPE_set1(any, type, value)) parameters = Encoded(any, i2d_ASN1_TYPE);
    ASN1_TYPE_free(any);
  }
  out.pszObjId = oid.data();
  out.Parameters.cbData = static_cast<DWORD>(parameters.size());
  out.Parameters.pbData = parameters.empty() ? nullptr : parameters.data();
}

/* A certificate object for a decoded certificate (whose reference it
** takes) and its DER bytes, with its CERT_INFO filled in. */
std::unique_ptr<Certificate> Describe(X509* x509, std::vector<BYTE> der) {
  auto c = std::make_unique<Certificate>();
  c->x509 = x509;
  c->der = std::move(der);
  // OpenSSL keeps the SHA-1 hash of a decoded certificate.
  unsigned int hashLength = 0;
  X509_digest(x509, EVP_sha1(), c->sha1, &hashLength);

  CERT_INFO& info = c->info;
  info.dwVersion = static_cast<DWORD>(X509_get_version(x509));
  // The serial number's content octets, least significant first.
  std::vector<BYTE> serialDer = Encoded(X509_get0_serialNumber(x509), i2d_ASN1_INTEGER);
  if (serialDer.size() > 2) {
    const unsigned char* q = serialDer.data();
    long contentLength = 0;
    int tag = 0, cls = 0;
    if (!(ASN1_get_object(&q, &contentLength, &tag, &cls, static_cast<long>(serialDer.size())) &
          0x80)) {
      c->serial.assign(q, q + contentLength);
      std::reverse(c->serial.begin(), c->serial.end());
    }
  }
  info.SerialNumber = {static_cast<DWORD>(c->serial.size()), c->serial.data()};
  const ASN1_BIT_STRING* signature = nullptr;
  const X509_ALGOR* signatureAlgorithm = nullptr;
  X509_get0_signature(&signature, &signatureAlgorithm, x509);
  SetAlgorithm(info.SignatureAlgorithm, signatureAlgorithm, c->signatureOid,
               c->signatureParameters);
  c->issuer = Encoded(X509_get_issuer_name(x509), i2d_X509_NAME);
  c->subject = Encoded(X509_get_subject_name(x509), i2d_X509_NAME);
  info.Issuer = {static_cast<DWORD>(c->issuer.size()), c->issuer.data()};
  info.Subject = {static_cast<DWORD>(c->subject.size()), c->subject.data()};
  info.NotBefore = FromAsn1Time(X509_get0_notBefore(x509));
  info.NotAfter = FromAsn1Time(X509_get0_notAfter(x509));

  X509_PUBKEY* publicKey = X509_get_X509_PUBKEY(x509);
  const unsigned char* keyBytes = nullptr;
  int keyLength = 0;
  X509_ALGOR* keyAlgorithm = nullptr;
  if (publicKey &&
      X509_PUBKEY_get0_param(nullptr, &keyBytes, &keyLength, &keyAlgorithm, publicKey)) {
    SetAlgorithm(info.SubjectPublicKeyInfo.Algorithm, keyAlgorithm, c->keyOid, c->keyParameters);
    c->publicKey.assign(keyBytes, keyBytes + keyLength);
    info.SubjectPublicKeyInfo.PublicKey = {static_cast<DWORD>(c->publicKey.size()),
                                           c->publicKey.data(), 0};
  }
  const ASN1_BIT_STRING* issuerId = nullptr;
  const ASN1_BIT_STRING* subjectId = nullptr;
  X509_get0_uids(x509, &issuerId, &subjectId);
  c->extensionValues.emplace_back();
  SetBitBlob(info.IssuerUniqueId, issuerId, c->extensionValues.back());
  c->extensionValues.emplace_back();
  SetBitBlob(info.SubjectUniqueId, subjectId, c->extensionValues.back());

  int extensions = X509_get_ext_count(x509);
  for (int i = 0; i < extensions; ++i) {
    X509_EXTENSION* extension = X509_get_ext(x509, i);
    c->extensionOids.push_back(ObjectId(X509_EXTENSION_get_object(extension)));
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(extension);
    const unsigned char* bytes = ASN1_STRING_get0_data(data);
    c->extensionValues.emplace_back(bytes, bytes + ASN1_STRING_length(data));
    CERT_EXTENSION row;
    row.pszObjId = c->extensionOids.back().data();
    row.fCritical = X509_EXTENSION_get_critical(extension) ? TRUE : FALSE;
    row.Value = {static_cast<DWORD>(c->extensionValues.back().size()),
                 c->extensionValues.back().data()};
    c->extensions.push_back(row);
  }
  info.cExtension = static_cast<DWORD>(c->extensions.size());
  info.rgExtension = c->extensions.empty() ? nullptr : c->extensions.data();

  c->context.dwCertEncodingType = X509_ASN_ENCODING;
  c->context.pbCertEncoded = c->der.data();
  c->context.cbCertEncoded = static_cast<DWORD>(c->der.size());
  c->context.pCertInfo = &c->info;
  c->context.hCertStore = nullptr;
  return c;
}

/* A certificate object for DER bytes; null when they are not exactly one
** certificate. */
std::unique_ptr<Certificate> MakeCertificate(const BYTE* der, size_t length) {
  const unsigned char* p = der;
  X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(length));
  if (!x509 || p != der + length) {
    X509_free(x509);
    return nullptr;
  }
  return Describe(x509, std::vector<BYTE>(der, der + length));
}

std::unique_ptr<Certificate> MakeCertificate(X509* x509) {
  std::vector<BYTE> der = Encoded(x509, i2d_X509);
  if (der.empty()) return nullptr;
  X509_up_ref(x509);
  return Describe(x509, std::move(der));
}

std::string HexThumbprint(const BYTE* sha1) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (size_t i = 0; i < kSha1Size; ++i) {
    hex += kDigits[sha1[i] >> 4];
    hex += kDigits[sha1[i] & 15];
  }
  return hex;
}

Certificate* Adopt(Store* store, std::unique_ptr<Certificate> certificate) {
  certificate->store = store;
  certificate->context.hCertStore = store;
  store->certificates.push_back(std::move(certificate));
  return store->certificates.back().get();
}

bool ReadWholeFile(const std::string& path, std::vector<BYTE>& bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bytes.clear();
  BYTE chunk[8192];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  close(fd);
  return n == 0;
}

bool IsThumbprintName(const std::string& name, const char* suffix) {
  size_t suffixLength = std::strlen(suffix);
  if (name.size() != 2 * kSha1Size + suffixLength) return false;
  if (name.compare(2 * kSha1Size, suffixLength, suffix) != 0) return false;
  return std::all_of(name.begin(), name.begin() + 2 * kSha1Size,
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

/* Loads the .cer files of a store directory, in name order; files that do
** not hold a certificate are skipped. */
void LoadDirectory(Store* store) {
  DIR* dir = opendir(store->directory.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    if (IsThumbprintName(entry->d_name, ".cer")) names.push_back(entry->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::vector<BYTE> der;
    if (!ReadWholeFile(store->directory + "/" + name, der)) continue;
    std::unique_ptr<Certificate> certificate = MakeCertificate(der.data(), der.size());
    if (!certificate) continue;
    std::string keyPath = store->directory + "/" + name.substr(0, 2 * kSha1Size) + ".key";
    if (access(keyPath.c_str(), F_OK) == 0) certificate->keyPath = keyPath;
    Adopt(store, std::move(certificate));
  }
}

bool MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

/* The directory of a system store: a store name of letters, digits and
** a few punctuation marks, kept in upper case. */
std::string SystemStoreDirectory(const std::string& name, bool machine) {
  if (name.empty() || name.size() > 64) return std::string();
  std::string upper;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != ' ') {
      return std::string();
    }
    upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return standin::Root() + "/certificates/" + (machine ? "machine/" : "user/") + upper;
}

Store* OpenSystemStore(const std::string& name, DWORD flags) {
  DWORD location = flags & CERT_SYSTEM_STORE_LOCATION_MASK;
  if (location != 0 && location != CERT_SYSTEM_STORE_CURRENT_USER &&
      location != CERT_SYSTEM_STORE_LOCAL_MACHINE) {
    Fail(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  std::string directory = SystemStoreDirectory(name, location == CERT_SYSTEM_STORE_LOCAL_MACHINE);
  if (directory.empty()) {
    Fail(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  struct stat status;
  bool exists = stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
  if (!exists) {
    if (flags & (CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG)) {
      Fail(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    if (!MakeDirectories(directory)) {
      Fail(standin::ErrorFromErrno(errno));
      return nullptr;
    }
  }
  auto* store = new Store;
  store->directory = directory;
  store->readOnly = (flags & CERT_STORE_READONLY_FLAG) != 0;
  LoadDirectory(store);
  return store;
}

/* Writes bytes to path through a temporary file renamed into place, made
** durable before the rename and the rename itself after. */
bool WriteFileDurably(const std::string& path, const std::vector<BYTE>& bytes, mode_t mode) {
  std::string temporary = path + ".tmp" + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size() && fsync(fd) == 0;
  int error = errno;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temporary.c_str());
    errno = error;
    return false;
  }
  std::string directory = path.substr(0, path.rfind('/'));
  int dirFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

EVP_PKEY* LoadKeyFile(const std::string& path) {
  BIO* in = BIO_new_file(path.c_str(), "rb");
  if (!in) return nullptr;
  EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
  BIO_free(in);
  return key;
}

EVP_PKEY* KeyOf(const Certificate* certificate) {
  if (certificate->key) {
    EVP_PKEY_up_ref(certificate->key);
    return certificate->key;
  }
  return certificate->keyPath.empty() ? nullptr : LoadKeyFile(certificate->keyPath);
}

/* Stores a certificate (and its key) in the store's directory: the key
** first, so that a certificate on the disk always has its key beside it. */
bool Persist(Store* store, const Certificate* certificate, EVP_PKEY* key) {
  std::string base = store->directory + "/" + HexThumbprint(certificate->sha1);
  if (key) {
    BIO* out = BIO_new(BIO_s_mem());
    std::vector<BYTE> pem;
    if (out && PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr)) {
      char* data = nullptr;
      long n = BIO_get_mem_data(out, &data);
      pem.assign(data, data + n);
    }
    BIO_free(out);
    if (pem.empty() || !WriteFileDurably(base + ".key", pem, 0600)) return false;
  }
  return WriteFileDurably(base + ".cer", certificate->der, 0600);
}

/* The store's certificate that is x509, or null. */
Certificate* FindCertificate(Store* store, X509* x509) {
  if (!store) return nullptr;
  for (auto& c : store->certificates) {
    if (X509_cmp(c->x509, x509) == 0) return c.get();
  }
  return nullptr;
}

Certificate* FindByThumbprint(Store* store, const BYTE* sha1) {
  for (auto& c : store->certificates) {
    if (std::memcmp(c->sha1, sha1, kSha1Size) == 0) return c.get();
  }
  return nullptr;
}

/* Adds a copy of a certificate (with key when given) to the store,
** following the disposition; the store's certificate, or null. */
Certificate* AddToStore(Store* store, std::unique_ptr<Certificate> fresh, EVP_PKEY* key,
                        DWORD disposition) {
  if (disposition < CERT_STORE_ADD_NEW || disposition > CERT_STORE_ADD_ALWAYS) {
    EVP_PKEY_free(key);
    Fail(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  Certificate* existing = FindByThumbprint(store, fresh->sha1);
  if (existing && disposition == CERT_STORE_ADD_NEW) {
    EVP_PKEY_free(key);
    Fail(static_cast<DWORD>(CRYPT_E_EXISTS));
    return nullptr;
  }
  if (existing && disposition == CERT_STORE_ADD_USE_EXISTING) {
    EVP_PKEY_free(key);
    return existing;
  }
  if (store->readOnly) {
    EVP_PKEY_free(key);
    Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (!store->directory.empty()) {
    if (!Persist(store, fresh.get(), key)) {
      EVP_PKEY_free(key);
      Fail(standin::ErrorFromErrno(errno));
      return nullptr;
    }
    if (key) fresh->keyPath = store->directory + "/" + HexThumbprint(fresh->sha1) + ".key";
    EVP_PKEY_free(key);
  } else {
    fresh->key = key;
  }
  // A system store holds one file per thumbprint: adding always replaces.
  if (existing && (disposition == CERT_STORE_ADD_REPLACE_EXISTING || !store->directory.empty())) {
    auto it = std::find_if(store->certificates.begin(), store->certificates.end(),
                           [&](const auto& c) { return c.get() == existing; });
    fresh->store = store;
    fresh->context.hCertStore = store;
    store->replaced.push_back(std::move(*it));
    *it = std::move(fresh);
    return it->get();
  }
  return Adopt(store, std::move(fresh));
}

/* ---- Trusted roots and chains ---- */

const char* const kDefaultCaBundle = "/etc/ssl/certs/ca-certificates.crt";

std::string CaBundlePath() {
  return standin::Setting("crypt32.ca_bundle", kDefaultCaBundle);
}

/* What identifies the current contents of a path, for the cache. */
std::string PathStamp(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return "-";
  return std::to_string(status.st_ino) + ":" + std::to_string(status.st_size) + ":" +
         std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
}

std::vector<X509*> StoreDirectoryCertificates(const std::string& name, bool machine) {
  std::vector<X509*> out;
  std::string directory = SystemStoreDirectory(name, machine);
  DIR* dir = opendir(directory.c_str());
  if (!dir) return out;
  while (dirent* entry = readdir(dir)) {
    if (!IsThumbprintName(entry->d_name, ".cer")) continue;
    std::vector<BYTE> der;
    if (!ReadWholeFile(directory + "/" + entry->d_name, der)) continue;
    const unsigned char* p = der.data();
    if (X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()))) out.push_back(x509);
  }
  closedir(dir);
  return out;
}

/* The trusted roots as an OpenSSL store (a new reference), rebuilt when a
** ROOT store or the bundle changed since the last call. */
X509_STORE* TrustedRoots() {
  static std::mutex lock;
  static X509_STORE* cached = nullptr;
  static std::string cachedStamp;
  std::string bundle = CaBundlePath();
  std::string stamp = PathStamp(SystemStoreDirectory("ROOT", false)) + "|" +
                      PathStamp(SystemStoreDirectory("ROOT", true)) + "|" + bundle + "|" +
                      (bundle.empty() ? "" : PathStamp(bundle));
  std::lock_guard<std::mutex> hold(lock);
  if (!cached || stamp != cachedStamp) {
    X509_STORE* roots = X509_STORE_new();
    if (!roots) return nullptr;
    for (bool machine : {false, true}) {
      for (X509* x509 : StoreDirectoryCertificates("ROOT", machine)) {
        X509_STORE_add_cert(roots, x509);
        X509_free(x509);
      }
    }
    if (!bundle.empty() && access(bundle.c_str(), R_OK) == 0)
      X509_STORE_load_file(roots, bundle.c_str());
    ERR_clear_error();
    X509_STORE_free(cached);
    cached = roots;
    cachedStamp = stamp;
  }
  X509_STORE_up_ref(cached);
  return cached;
}

struct ChainContext {
  CERT_CHAIN_CONTEXT chain;  // first: a PCCERT_CHAIN_CONTEXT points at the object
  uint32_t magic = kChainMagic;
  CERT_SIMPLE_CHAIN simple = {};
  PCERT_SIMPLE_CHAIN simpleList[1] = {};
  std::vector<CERT_CHAIN_ELEMENT> elements;
  std::vector<PCERT_CHAIN_ELEMENT> elementList;
  HCERTSTORE issuers = nullptr;  // the memory store of the elements after the first
};

struct VerifyErrors {
  std::vector<std::pair<int, int>> list;  // (depth, OpenSSL error)
};

int RecordVerifyError(int ok, X509_STORE_CTX* context) {
  if (!ok) {
    auto* errors = static_cast<VerifyErrors*>(X509_STORE_CTX_get_app_data(context));
    errors->list.emplace_back(X509_STORE_CTX_get_error_depth(context),
                              X509_STORE_CTX_get_error(context));
  }
  return 1;
}

DWORD TrustErrorFor(int error) {
  switch (error) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return CERT_TRUST_IS_NOT_TIME_VALID;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return CERT_TRUST_IS_UNTRUSTED_ROOT;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return CERT_TRUST_IS_PARTIAL_CHAIN;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
      return CERT_TRUST_IS_NOT_SIGNATURE_VALID;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
    case X509_V_ERR_CERT_REVOKED:
      return CERT_TRUST_IS_REVOKED;
    default:
      return CERT_TRUST_INVALID_EXTENSION;
  }
}

/* Whether the certificate's extended key usage (when it has one) allows
** the requested usages: any of them (OR) or all of them (AND). */
bool UsageAllowed(X509* x509, const CERT_USAGE_MATCH& requested) {
  if (requested.Usage.cUsageIdentifier == 0) return true;
  auto* usages =
      static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(x509, NID_ext_key_usage, nullptr, nullptr));
  if (!usages) return true;
  std::vector<std::string> present;
  for (int i = 0; i < sk_ASN1_OBJECT_num(usages); ++i) {
    present.push_back(ObjectId(sk_ASN1_OBJECT_value(usages, i)));
  }
  EXTENDED_KEY_USAGE_free(usages);
  if (std::find(present.begin(), present.end(), kAnyExtendedKeyUsage) != present.end()) return true;
  size_t matches = 0;
  for (DWORD i = 0; i < requested.Usage.cUsageIdentifier; ++i) {
    const char* oid = requested.Usage.rgpszUsageIdentifier[i];
    if (oid && std::find(present.begin(), present.end(), oid) != present.end()) ++matches;
  }
  return requested.dwType == USAGE_MATCH_TYPE_AND ? matches == requested.Usage.cUsageIdentifier
                                                  : matches > 0;
}

void AppendStoreCertificates(STACK_OF(X509) * stack, Store* store) {
  if (!store) return;
  for (auto& c : store->certificates) {
    X509_up_ref(c->x509);
    sk_X509_push(stack, c->x509);
  }
}

void AppendDirectoryCertificates(STACK_OF(X509) * stack, const char* name) {
  for (bool machine : {false, true}) {
    for (X509* x509 : StoreDirectoryCertificates(name, machine)) sk_X509_push(stack, x509);
  }
}

/* ---- Server names ---- */

bool EqualFolded(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

/* A DNS pattern against a host name: exact, or "*." followed by at least
** two labels standing for one whole leftmost label. */
bool DnsNameMatches(std::string pattern, std::string host) {
  if (!host.empty() && host.back() == '.') host.pop_back();
  if (!pattern.empty() && pattern.back() == '.') pattern.pop_back();
  if (pattern.empty() || host.empty()) return false;
  if (pattern.compare(0, 2, "*.") != 0) return EqualFolded(pattern, host);
  std::string rest = pattern.substr(2);
  size_t dot = host.find('.');
  if (rest.find('.') == std::string::npos || rest.find('*') != std::string::npos) return false;
  return dot != std::string::npos && dot > 0 && EqualFolded(host.substr(dot + 1), rest);
}

/* The server name converted from UTF-16 (ASCII in practice). */
std::string NarrowName(const WCHAR* name) {
  std::string out;
  for (; name && *name; ++name) out += *name < 0x80 ? static_cast<char>(*name) : '?';
  return out;
}

/* A dotted IPv4 address (four decimal numbers up to 255) into address. */
bool ParseIpv4(const std::string& text, unsigned char address[4]) {
  size_t position = 0;
  for (int part = 0; part < 4; ++part) {
    if (part && (position >= text.size() || text[position++] != '.')) return false;
    size_t start = position;
    unsigned value = 0;
    while (position < text.size() && position - start < 3 &&
           std::isdigit(static_cast<unsigned char>(text[position]))) {
      value = value * 10 + static_cast<unsigned>(text[position++] - '0');
    }
    if (position == start || value > 255) return false;
    address[part] = static_cast<unsigned char>(value);
  }
  return position == text.size();
}

bool NameMatches(X509* x509, const std::string& host) {
  unsigned char address[4];
  int addressLength = ParseIpv4(host, address) ? 4 : 0;
  auto* names =
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(x509, NID_subject_alt_name, nullptr, nullptr));
  bool hasDns = false, matched = false;
  for (int i = 0; names && i < sk_GENERAL_NAME_num(names); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
    if (name->type == GEN_DNS) {
      hasDns = true;
      if (!addressLength && DnsNameMatches(Latin1(name->d.dNSName), host)) matched = true;
    } else if (name->type == GEN_IPADD && addressLength) {
      const ASN1_OCTET_STRING* ip = name->d.iPAddress;
      if (ASN1_STRING_length(ip) == addressLength &&
          std::memcmp(ASN1_STRING_get0_data(ip), address, addressLength) == 0) {
        matched = true;
      }
    }
  }
  bool hasNames = names != nullptr;
  GENERAL_NAMES_free(names);
  if (matched) return true;
  if (hasDns || (addressLength && hasNames)) return false;
  // No alternative names for it: the common names.
  const X509_NAME* subject = X509_get_subject_name(x509);
  for (int i = -1; (i = X509_NAME_get_index_by_NID(subject, NID_commonName, i)) >= 0;) {
    std::string common = Latin1(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, i)));
    if (addressLength ? common == host : DnsNameMatches(common, host)) return true;
  }
  return false;
}

}  // namespace

/* ---- Time ---- */

void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t ticks = static_cast<uint64_t>((now.tv_sec + kEpochOffsetSeconds) * kTicksPerSecond +
                                         now.tv_nsec / 100);
  lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
  if (!lpFileTime || !lpSystemTime || (lpFileTime->dwHighDateTime & 0x80000000u)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uint64_t ticks = Ticks(*lpFileTime);
  uint64_t seconds = ticks / kTicksPerSecond;
  int64_t days = static_cast<int64_t>(seconds / 86400);
  uint64_t secondOfDay = seconds % 86400;
  // Days since 1601-01-01 (a Monday) to a civil date, by 400-year eras
  // counted from 0000-03-01, which lies 584694 days before 1601-01-01.
  int64_t z = days + 584694;
  int64_t era = z / 146097;
  int64_t dayOfEra = z - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  lpSystemTime->wYear = static_cast<WORD>(year);
  lpSystemTime->wMonth = static_cast<WORD>(month);
  lpSystemTime->wDay = static_cast<WORD>(day);
  lpSystemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
  lpSystemTime->wHour = static_cast<WORD>(secondOfDay / 3600);
  lpSystemTime->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
  lpSystemTime->wSecond = static_cast<WORD>(secondOfDay % 60);
  lpSystemTime->wMilliseconds = static_cast<WORD>(ticks / 10000 % 1000);
  return TRUE;
}

/* ---- Stores ---- */

HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                         HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara) {
  (void)dwEncodingType;
  (void)hCryptProv;
  if (lpszStoreProvider == CERT_STORE_PROV_MEMORY) return new Store;
  std::string name;
  if (lpszStoreProvider == CERT_STORE_PROV_SYSTEM_W ||
      lpszStoreProvider == CERT_STORE_PROV_SYSTEM_REGISTRY_W) {
    name = NarrowName(static_cast<const WCHAR*>(pvPara));
  } else if (lpszStoreProvider == CERT_STORE_PROV_SYSTEM_A ||
             lpszStoreProvider == CERT_STORE_PROV_SYSTEM_REGISTRY_A) {
    name = pvPara ? static_cast<const char*>(pvPara) : "";
  } else {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return OpenSystemStore(name, dwFlags);
}

HCERTSTORE CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol) {
  (void)hProv;
  return OpenSystemStore(szSubsystemProtocol ? szSubsystemProtocol : "",
                         CERT_SYSTEM_STORE_CURRENT_USER);
}

BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
  (void)dwFlags;
  if (!hCertStore) return TRUE;
  Store* store = StoreFromHandle(hCertStore);
  if (!store) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ReleaseStore(store);
  return TRUE;
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext) {
  return CertFindCertificateInStore(hCertStore, X509_ASN_ENCODING, 0, CERT_FIND_ANY, nullptr,
                                    pPrevCertContext);
}

PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                          DWORD dwFindFlags, DWORD dwFindType,
                                          const void* pvFindPara, PCCERT_CONTEXT pPrevCertContext) {
  (void)dwCertEncodingType;
  (void)dwFindFlags;
  Store* store = StoreFromHandle(hCertStore);
  Certificate* previous = FromContext(pPrevCertContext);
  size_t start = 0;
  if (store && previous) {
    for (size_t i = 0; i < store->certificates.size(); ++i) {
      if (store->certificates[i].get() == previous) start = i + 1;
    }
  }
  PCCERT_CONTEXT found = nullptr;
  DWORD error = static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  if (!store) {
    error = ERROR_INVALID_HANDLE;
  } else if (dwFindType != CERT_FIND_ANY && dwFindType != CERT_FIND_SHA1_HASH &&
             dwFindType != CERT_FIND_SUBJECT_STR_A) {
    error = static_cast<DWORD>(E_INVALIDARG);
  } else {
    for (size_t i = start; i < store->certificates.size() && !found; ++i) {
      Certificate* c = store->certificates[i].get();
      bool match = dwFindType == CERT_FIND_ANY;
      if (dwFindType == CERT_FIND_SHA1_HASH && pvFindPara) {
        auto* hash = static_cast<const CRYPT_HASH_BLOB*>(pvFindPara);
        match = hash->cbData == kSha1Size && hash->pbData &&
                std::memcmp(hash->pbData, c->sha1, kSha1Size) == 0;
      } else if (dwFindType == CERT_FIND_SUBJECT_STR_A && pvFindPara) {
        match = ContainsFolded(NameToString(X509_get_subject_name(c->x509), CERT_SIMPLE_NAME_STR),
                               static_cast<const char*>(pvFindPara));
      }
      if (match) found = HandOut(c);
    }
  }
  if (previous) Release(previous);
  if (!found) SetLastError(error);
  return found;
}

PCCERT_CONTEXT CertGetIssuerCertificateFromStore(HCERTSTORE hCertStore,
                                                 PCCERT_CONTEXT pSubjectContext,
                                                 PCCERT_CONTEXT pPrevIssuerContext,
                                                 DWORD* pdwFlags) {
  Store* store = StoreFromHandle(hCertStore);
  Certificate* subject = FromContext(pSubjectContext);
  Certificate* previous = FromContext(pPrevIssuerContext);
  if (pdwFlags) *pdwFlags = 0;
  PCCERT_CONTEXT found = nullptr;
  DWORD error = static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  if (!store || !subject) {
    error = static_cast<DWORD>(E_INVALIDARG);
  } else if (X509_check_issued(subject->x509, subject->x509) == X509_V_OK) {
    error = static_cast<DWORD>(kSelfSigned);
  } else {
    bool afterPrevious = previous == nullptr;
    for (auto& c : store->certificates) {
      if (!afterPrevious) {
        afterPrevious = c.get() == previous;
        continue;
      }
      if (X509_check_issued(c->x509, subject->x509) == X509_V_OK) {
        found = HandOut(c.get());
        break;
      }
    }
  }
  if (previous) Release(previous);
  if (!found) SetLastError(error);
  return found;
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
  Certificate* certificate = FromContext(pCertContext);
  return certificate ? HandOut(certificate) : nullptr;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  if (Certificate* certificate = FromContext(pCertContext)) Release(certificate);
  return TRUE;
}

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData) {
  Certificate* c = FromContext(pCertContext);
  if (!c || !pcbData) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  std::vector<BYTE> value;
  if (dwPropId == CERT_SHA1_HASH_PROP_ID) {
    value.assign(c->sha1, c->sha1 + kSha1Size);
  } else if (dwPropId == CERT_MD5_HASH_PROP_ID) {
    value.resize(kMd5Size);
    EVP_Digest(c->der.data(), c->der.size(), value.data(), nullptr, EVP_md5(), nullptr);
  } else if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID && c->HasKey()) {
    // The structure, then its two wide strings.
    std::string container = c->keyPath.empty() ? "imported-" + HexThumbprint(c->sha1)
                                               : c->keyPath.substr(c->keyPath.rfind('/') + 1);
    const std::string provider = "zu stand-in key files";
    size_t header = sizeof(CRYPT_KEY_PROV_INFO);
    size_t total = header + (container.size() + 1 + provider.size() + 1) * sizeof(WCHAR);
    if (!pvData) {
      *pcbData = static_cast<DWORD>(total);
      return TRUE;
    }
    if (*pcbData < total) {
      *pcbData = static_cast<DWORD>(total);
      SetLastError(ERROR_MORE_DATA);
      return FALSE;
    }
    auto* info = static_cast<CRYPT_KEY_PROV_INFO*>(pvData);
    auto* text = reinterpret_cast<WCHAR*>(static_cast<BYTE*>(pvData) + header);
    info->pwszContainerName = text;
    for (char ch : container) *text++ = static_cast<unsigned char>(ch);
    *text++ = 0;
    info->pwszProvName = text;
    for (char ch : provider) *text++ = static_cast<unsigned char>(ch);
    *text++ = 0;
    info->dwProvType = PROV_RSA_FULL;
    info->dwFlags = c->store && c->store->directory.find("/machine/") != std::string::npos
                        ? CRYPT_MACHINE_KEYSET
                        : 0;
    info->cProvParam = 0;
    info->rgProvParam = nullptr;
    info->dwKeySpec = AT_KEYEXCHANGE;
    *pcbData = static_cast<DWORD>(total);
    return TRUE;
  } else {
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return FALSE;
  }
  if (!pvData) {
    *pcbData = static_cast<DWORD>(value.size());
    return TRUE;
  }
  if (*pcbData < value.size()) {
    *pcbData = static_cast<DWORD>(value.size());
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  std::memcpy(pvData, value.data(), value.size());
  *pcbData = static_cast<DWORD>(value.size());
  return TRUE;
}

BOOL CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                      const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext) {
  if (ppCertContext) *ppCertContext = nullptr;
  Store* store = StoreFromHandle(hCertStore);
  if (!store) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(dwCertEncodingType & X509_ASN_ENCODING) || !pbCertEncoded) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  std::unique_ptr<Certificate> fresh = MakeCertificate(pbCertEncoded, cbCertEncoded);
  ERR_clear_error();
  if (!fresh) {
    SetLastError(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
    return FALSE;
  }
  Certificate* added = AddToStore(store, std::move(fresh), nullptr, dwAddDisposition);
  if (!added) return FALSE;
  if (ppCertContext) *ppCertContext = HandOut(added);
  return TRUE;
}

BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext) {
  if (ppStoreContext) *ppStoreContext = nullptr;
  Store* store = StoreFromHandle(hCertStore);
  Certificate* source = FromContext(pCertContext);
  if (!store || !source) {
    SetLastError(!store ? ERROR_INVALID_HANDLE : static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  std::unique_ptr<Certificate> fresh = MakeCertificate(source->der.data(), source->der.size());
  if (!fresh) {
    SetLastError(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
    return FALSE;
  }
  Certificate* added = AddToStore(store, std::move(fresh), KeyOf(source), dwAddDisposition);
  ERR_clear_error();
  if (!added) return FALSE;
  if (ppStoreContext) *ppStoreContext = HandOut(added);
  return TRUE;
}

LONG CertVerifyTimeValidity(LPFILETIME pTimeToVerify, PCERT_INFO pCertInfo) {
  uint64_t now = Ticks(pTimeToVerify ? *pTimeToVerify : Now());
  if (now < Ticks(pCertInfo->NotBefore)) return -1;
  if (now > Ticks(pCertInfo->NotAfter)) return 1;
  return 0;
}

/* ---- Names ---- */

DWORD CertNameToStrA(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType, LPSTR psz,
                     DWORD csz) {
  (void)dwCertEncodingType;
  std::string text;
  if (pName && pName->pbData) {
    const unsigned char* p = pName->pbData;
    X509_NAME* name = d2i_X509_NAME(nullptr, &p, static_cast<long>(pName->cbData));
    if (name) text = NameToString(name, dwStrType);
    X509_NAME_free(name);
    ERR_clear_error();
  }
  return CopyOut(text, psz, csz);
}

DWORD CertGetNameStringA(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags, void* pvTypePara,
                         LPSTR pszNameString, DWORD cchNameString) {
  Certificate* c = FromContext(pCertContext);
  std::string text;
  if (c) {
    bool issuer = (dwFlags & CERT_NAME_ISSUER_FLAG) != 0;
    const X509_NAME* name = issuer ? X509_get_issuer_name(c->x509) : X509_get_subject_name(c->x509);
    switch (dwType) {
      case CERT_NAME_EMAIL_TYPE:
        text = AlternativeName(c->x509, issuer, GEN_EMAIL);
        if (text.empty()) text = Attribute(name, "1.2.840.113549.1.9.1");
        break;
      case CERT_NAME_RDN_TYPE:
        text =
            NameToString(name, pvTypePara ? *static_cast<DWORD*>(pvTypePara) : CERT_X500_NAME_STR);
        break;
      case CERT_NAME_ATTR_TYPE:
        if (pvTypePara) text = Attribute(name, static_cast<const char*>(pvTypePara));
        break;
      case CERT_NAME_DNS_TYPE:
        text = AlternativeName(c->x509, issuer, GEN_DNS);
        if (text.empty()) text = Attribute(name, szOID_COMMON_NAME);
        break;
      case CERT_NAME_SIMPLE_DISPLAY_TYPE:
      case CERT_NAME_FRIENDLY_DISPLAY_TYPE:
        for (const char* oid :
             {szOID_COMMON_NAME, "2.5.4.11", "2.5.4.10", "1.2.840.113549.1.9.1"}) {
          if (text.empty()) text = Attribute(name, oid);
        }
        if (text.empty()) text = AlternativeName(c->x509, issuer, GEN_EMAIL);
        break;
      default:
        break;
    }
  }
  return CopyOut(text, pszNameString, cchNameString);
}

/* ---- PFX ---- */

HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags) {
  (void)dwFlags;
  if (!pPFX || !pPFX->pbData) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  const unsigned char* p = pPFX->pbData;
  PKCS12* pfx = d2i_PKCS12(nullptr, &p, static_cast<long>(pPFX->cbData));
  if (!pfx) {
    ERR_clear_error();
    SetLastError(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
    return nullptr;
  }
  // A null password and an empty one differ in PKCS#12; the MAC tells which
  // one made the file.
  std::string password;
  for (const WCHAR* w = szPassword; w && *w; ++w) {
    char utf8[4];
    int n = 0;
    if (*w < 0x80) {
      utf8[n++] = static_cast<char>(*w);
    } else if (*w < 0x800) {
      utf8[n++] = static_cast<char>(0xC0 | (*w >> 6));
      utf8[n++] = static_cast<char>(0x80 | (*w & 0x3F));
    } else {
      utf8[n++] = static_cast<char>(0xE0 | (*w >> 12));
      utf8[n++] = static_cast<char>(0x80 | ((*w >> 6) & 0x3F));
      utf8[n++] = static_cast<char>(0x80 | (*w & 0x3F));
    }
    password.append(utf8, n);
  }
  const char* pass = szPassword ? password.c_str() : nullptr;
  bool macOk = !PKCS12_mac_present(pfx) ||
               PKCS12_verify_mac(pfx, pass, pass ? static_cast<int>(password.size()) : 0);
  EVP_PKEY* key = nullptr;
  X509* leaf = nullptr;
  STACK_OF(X509)* others = nullptr;
  bool parsed = macOk && PKCS12_parse(pfx, pass, &key, &leaf, &others);
  PKCS12_free(pfx);
  ERR_clear_error();
  if (!parsed) {
    SetLastError(macOk ? static_cast<DWORD>(CRYPT_E_BAD_ENCODE) : ERROR_INVALID_PASSWORD);
    return nullptr;
  }
  auto* store = new Store;
  // The certificate with the key first, then the others in file order.
  if (leaf) {
    if (std::unique_ptr<Certificate> c = MakeCertificate(leaf)) {
      if (key && X509_check_private_key(leaf, key)) std::swap(c->key, key);
      Adopt(store, std::move(c));
    }
  }
  for (int i = 0; others && i < sk_X509_num(others); ++i) {
    if (std::unique_ptr<Certificate> c = MakeCertificate(sk_X509_value(others, i))) {
      Adopt(store, std::move(c));
    }
  }
  X509_free(leaf);
  EVP_PKEY_free(key);
  sk_X509_pop_free(others, X509_free);
  ERR_clear_error();
  return store;
}

/* ---- Chains ---- */

BOOL CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext,
                             LPFILETIME pTime, HCERTSTORE hAdditionalStore,
                             PCERT_CHAIN_PARA pChainPara, DWORD dwFlags, LPVOID pvReserved,
                             PCCERT_CHAIN_CONTEXT* ppChainContext) {
  (void)dwFlags;
  (void)pvReserved;
  Certificate* leaf = FromContext(pCertContext);
  if (ppChainContext) *ppChainContext = nullptr;
  // Only the default engines: the current user's (null) and the machine's (1).
  if (reinterpret_cast<uintptr_t>(hChainEngine) > 1 || !leaf || !ppChainContext || !pChainPara) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  X509_STORE* roots = TrustedRoots();
  STACK_OF(X509)* untrusted = sk_X509_new_null();
  X509_STORE_CTX* verify = X509_STORE_CTX_new();
  if (!roots || !untrusted || !verify) {
    X509_STORE_free(roots);
    sk_X509_free(untrusted);
    X509_STORE_CTX_free(verify);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  AppendStoreCertificates(untrusted, StoreFromHandle(hAdditionalStore));
  AppendDirectoryCertificates(untrusted, "CA");

  VerifyErrors errors;
  X509_STORE_CTX_init(verify, roots, leaf->x509, untrusted);
  X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(verify);
  X509_VERIFY_PARAM_set_time(parameters, UnixFromFileTime(pTime ? *pTime : Now()));
  // A certificate in a ROOT store is an anchor whether or not it is
  // self-signed, as on Windows.
  X509_VERIFY_PARAM_set_flags(parameters, X509_V_FLAG_PARTIAL_CHAIN);
  X509_STORE_CTX_set_app_data(verify, &errors);
  X509_STORE_CTX_set_verify_cb(verify, RecordVerifyError);
  X509_verify_cert(verify);
  STACK_OF(X509)* path = X509_STORE_CTX_get1_chain(verify);
  X509_STORE_CTX_free(verify);
  sk_X509_pop_free(untrusted, X509_free);
  X509_STORE_free(roots);
  ERR_clear_error();
  if (!path || sk_X509_num(path) == 0) {
    sk_X509_pop_free(path, X509_free);
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    return FALSE;
  }

  auto* chain = new ChainContext;
  int length = sk_X509_num(path);
  chain->elements.resize(static_cast<size_t>(length));
  chain->elementList.resize(static_cast<size_t>(length));
  chain->issuers = length > 1 ? CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr) : nullptr;
  DWORD chainErrors = 0;
  for (int i = 0; i < length; ++i) {
    CERT_CHAIN_ELEMENT& element = chain->elements[static_cast<size_t>(i)];
    element = {};
    element.cbSize = sizeof element;
    X509* x509 = sk_X509_value(path, i);
    if (i == 0) {
      element.pCertContext = CertDuplicateCertificateContext(pCertContext);
    } else if (Certificate* known = FindCertificate(StoreFromHandle(hAdditionalStore), x509)) {
      element.pCertContext = HandOut(known);
    } else if (std::unique_ptr<Certificate> c = MakeCertificate(x509)) {
      element.pCertContext = HandOut(Adopt(StoreFromHandle(chain->issuers), std::move(c)));
    }
    for (const auto& [depth, error] : errors.list) {
      if (depth == i) element.TrustStatus.dwErrorStatus |= TrustErrorFor(error);
    }
    if (!UsageAllowed(x509, pChainPara->RequestedUsage)) {
      element.TrustStatus.dwErrorStatus |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    }
    element.TrustStatus.dwInfoStatus =
        X509_check_issued(x509, x509) == X509_V_OK
            ? CERT_TRUST_IS_SELF_SIGNED | CERT_TRUST_HAS_NAME_MATCH_ISSUER
            : (i + 1 < length ? CERT_TRUST_HAS_NAME_MATCH_ISSUER : 0);
    chainErrors |= element.TrustStatus.dwErrorStatus;
    chain->elementList[static_cast<size_t>(i)] = &element;
  }
  sk_X509_pop_free(path, X509_free);
  // The partial-chain mark belongs to the chain, not to an element.
  for (CERT_CHAIN_ELEMENT& element : chain->elements) {
    element.TrustStatus.dwErrorStatus &= ~CERT_TRUST_IS_PARTIAL_CHAIN;
  }
  chain->simple.cbSize = sizeof chain->simple;
  chain->simple.TrustStatus.dwErrorStatus = chainErrors;
  chain->simple.cElement = static_cast<DWORD>(length);
  chain->simple.rgpElement = chain->elementList.data();
  chain->simpleList[0] = &chain->simple;
  chain->chain = {};
  chain->chain.cbSize = sizeof chain->chain;
  chain->chain.TrustStatus = chain->simple.TrustStatus;
  chain->chain.cChain = 1;
  chain->chain.rgpChain = chain->simpleList;
  *ppChainContext = &chain->chain;
  return TRUE;
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
  if (!pChainContext) return;
  auto* chain = reinterpret_cast<ChainContext*>(const_cast<CERT_CHAIN_CONTEXT*>(pChainContext));
  if (chain->magic != kChainMagic) return;
  for (CERT_CHAIN_ELEMENT& element : chain->elements) {
    CertFreeCertificateContext(element.pCertContext);
  }
  CertCloseStore(chain->issuers, 0);
  chain->magic = 0;
  delete chain;
}

BOOL CertVerifyCertificateChainPolicy(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
                                      PCERT_CHAIN_POLICY_PARA pPolicyPara,
                                      PCERT_CHAIN_POLICY_STATUS pPolicyStatus) {
  bool ssl = pszPolicyOID == CERT_CHAIN_POLICY_SSL;
  if ((!ssl && pszPolicyOID != CERT_CHAIN_POLICY_BASE) || !pChainContext || !pPolicyStatus ||
      pChainContext->cChain == 0) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  const SSL_EXTRA_CERT_CHAIN_POLICY_PARA* extra =
      ssl && pPolicyPara
          ? static_cast<const SSL_EXTRA_CERT_CHAIN_POLICY_PARA*>(pPolicyPara->pvExtraPolicyPara)
          : nullptr;
  DWORD checks = extra ? extra->fdwChecks : 0;
  const CERT_SIMPLE_CHAIN* simple = pChainContext->rgpChain[0];

  struct Rule {
    DWORD trustError;
    HRESULT error;
    DWORD ignoredBy;
  };
  const Rule rules[] = {
      {CERT_TRUST_IS_NOT_SIGNATURE_VALID, TRUST_E_CERT_SIGNATURE, 0},
      {CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_E_UNTRUSTEDROOT, kIgnoreUnknownCa},
      {CERT_TRUST_IS_PARTIAL_CHAIN, CERT_E_CHAINING, 0},
      {CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED, kIgnoreDateInvalid},
      {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, ssl ? CERT_E_ROLE : kBasicConstraints, 0},
      {CERT_TRUST_INVALID_EXTENSION, CERT_E_CRITICAL, 0},
      {CERT_TRUST_IS_REVOKED, CERT_E_REVOKED, 0},
      {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, CERT_E_WRONG_USAGE, kIgnoreWrongUsage},
  };
  pPolicyStatus->dwError = 0;
  pPolicyStatus->lChainIndex = -1;
  pPolicyStatus->lElementIndex = -1;
  for (const Rule& rule : rules) {
    if (!(simple->TrustStatus.dwErrorStatus & rule.trustError) || (checks & rule.ignoredBy)) {
      continue;
    }
    if (rule.trustError == CERT_TRUST_IS_NOT_VALID_FOR_USAGE && !ssl) continue;
    pPolicyStatus->dwError = static_cast<DWORD>(rule.error);
    pPolicyStatus->lChainIndex = 0;
    pPolicyStatus->lElementIndex = static_cast<LONG>(simple->cElement) - 1;
    for (DWORD i = 0; i < simple->cElement; ++i) {
      if (simple->rgpElement[i]->TrustStatus.dwErrorStatus & rule.trustError) {
        pPolicyStatus->lElementIndex = static_cast<LONG>(i);
        break;
      }
    }
    return TRUE;
  }
  if (extra && extra->dwAuthType != AUTHTYPE_CLIENT && extra->pwszServerName &&
      *extra->pwszServerName && !(checks & kIgnoreNameInvalid)) {
    Certificate* leaf = FromContext(simple->rgpElement[0]->pCertContext);
    if (!leaf || !NameMatches(leaf->x509, NarrowName(extra->pwszServerName))) {
      pPolicyStatus->dwError = static_cast<DWORD>(CERT_E_CN_NO_MATCH);
      pPolicyStatus->lChainIndex = 0;
      pPolicyStatus->lElementIndex = 0;
    }
    ERR_clear_error();
  }
  return TRUE;
}

/* ---- For the security provider ---- */

namespace standin {

X509* CertificateX509(PCCERT_CONTEXT context) {
  Certificate* certificate = FromContext(context);
  return certificate ? certificate->x509 : nullptr;
}

EVP_PKEY* CertificateKey(PCCERT_CONTEXT context) {
  Certificate* certificate = FromContext(context);
  EVP_PKEY* key = certificate ? KeyOf(certificate) : nullptr;
  ERR_clear_error();
  return key;
}

STACK_OF(X509) * CertificateIssuers(PCCERT_CONTEXT context) {
  Certificate* certificate = FromContext(context);
  STACK_OF(X509)* issuers = sk_X509_new_null();
  if (!certificate || !issuers) return issuers;
  STACK_OF(X509)* candidates = sk_X509_new_null();
  AppendStoreCertificates(candidates, certificate->store);
  AppendDirectoryCertificates(candidates, "CA");
  X509* current = certificate->x509;
  // Walk up by issuer, at most as many steps as there are candidates.
  for (int step = 0; step < sk_X509_num(candidates); ++step) {
    if (X509_check_issued(current, current) == X509_V_OK) break;
    X509* issuer = nullptr;
    for (int i = 0; i < sk_X509_num(candidates) && !issuer; ++i) {
      X509* candidate = sk_X509_value(candidates, i);
      if (X509_check_issued(candidate, current) == X509_V_OK) issuer = candidate;
    }
    if (!issuer || X509_check_issued(issuer, issuer) == X509_V_OK) break;
    X509_up_ref(issuer);
    sk_X509_push(issuers, issuer);
    current = issuer;
  }
  sk_X509_pop_free(candidates, X509_free);
  ERR_clear_error();
  return issuers;
}

PCCERT_CONTEXT ContextForChain(STACK_OF(X509) * chain) {
  auto* store = new Store;
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    if (std::unique_ptr<Certificate> c = MakeCertificate(sk_X509_value(chain, i))) {
      Adopt(store, std::move(c));
    }
  }
  PCCERT_CONTEXT first =
      store->certificates.empty() ? nullptr : HandOut(store->certificates[0].get());
  ReleaseStore(store);
  ERR_clear_error();
  return first;
}

}  // namespace standin
