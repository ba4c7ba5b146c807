/*
** zuadm cert and zuadm tls: the personal certificate store and a TLS
** server's certificate, through the library's certificate functions and
** secure connection. Texts are Latin-1 inside and UTF-8 at the terminal.
*/
#include "tools/zuadm/cert_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/certificates.h"
#include "net/securechannel.h"

namespace {

enum Exit { kOk = 0, kFailed = 1, kUsage = 2 };

constexpr size_t kMaxPfxSize = 65536;

void PrintLine(const zustring& text) {
  zustring utf8 = zustring::Latin1ToUtf8(text.c_str(), text.Length());
  std::fwrite(utf8.c_str(), 1, utf8.Length(), stdout);
  std::fputc('\n', stdout);
}

int Fail(const zustring& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "zuadm: %s\n", zustring::Latin1ToUtf8(message.c_str()).c_str());
  return kFailed;
}

int Usage(const char* message) {
  std::fprintf(stderr, "zuadm: %s\n", message);
  std::fputs("usage: zuadm cert list [-m] | cert import FILE.pfx [-m] | tls check HOST:PORT [-k]\n",
             stderr);
  return kUsage;
}

/* Takes the flag out of args; whether it was there. */
bool TakeFlag(std::vector<const char*>& args, const char* flag) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (std::strcmp(*it, flag) == 0) {
      args.erase(it);
      return true;
    }
  }
  return false;
}

int ListCommand(bool machineStore) {
  CertificateCursor* cursor = OpenCursor(machineStore);
  if (!cursor) {
    zustring message;
    message.Format("cannot open the personal store (error %u)",
                   static_cast<unsigned>(GetLastError()));
    return Fail(message);
  }
  zustring subject, issuer, until, from, thumbprint;
  DWORD flags = 0;
  bool first = true;
  while (NextCertificate(cursor, subject, issuer, until, from, thumbprint, &flags)) {
    if (!first) std::fputc('\n', stdout);
    first = false;
    PrintLine(zustring("subject:     ") + subject);
    PrintLine(zustring("issuer:      ") + issuer);
    PrintLine(zustring("valid from:  ") + from);
    PrintLine(zustring("valid until: ") + until);
    PrintLine(zustring("thumbprint:  ") + thumbprint);
    PrintLine(zustring("private key: ") + ((flags & kCertificateHasKey) ? "yes" : "no"));
  }
  CloseCursor(cursor);
  return kOk;
}

/* Reads a whole PFX file, refusing a larger one than the library loads. */
bool ReadPfx(const char* path, std::vector<BYTE>& bytes, zustring& error) {
  FILE* file = std::fopen(path, "rb");
  if (!file) {
    error.Format("cannot read %s: %s", path, std::strerror(errno));
    return false;
  }
  bytes.resize(kMaxPfxSize + 1);
  size_t count = std::fread(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  if (count == 0 || count > kMaxPfxSize) {
    error.Format("%s is %s", path, count ? "larger than 64 KiB" : "empty");
    return false;
  }
  bytes.resize(count);
  return true;
}

HCERTSTORE OpenStore(const char* name, bool machineStore) {
  return CertOpenStore(
      CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, 0,
      machineStore ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER, name);
}

int ImportCommand(const char* path, bool machineStore) {
  std::vector<BYTE> bytes;
  zustring error;
  if (!ReadPfx(path, bytes, error)) return Fail(error);
  CRYPT_DATA_BLOB blob = {static_cast<DWORD>(bytes.size()), bytes.data()};
  static const WCHAR kEmptyPassword[] = {0};
  const DWORD flags = CRYPT_EXPORTABLE | (machineStore ? CRYPT_MACHINE_KEYSET : CRYPT_USER_KEYSET);
  HCERTSTORE imported = PFXImportCertStore(&blob, kEmptyPassword, flags);
  if (!imported) imported = PFXImportCertStore(&blob, nullptr, flags);
  if (!imported) {
    error.Format("cannot read %s: not a PFX file without a password (error %u)", path,
                 static_cast<unsigned>(GetLastError()));
    return Fail(error);
  }
  // Nothing is stored unless the file brings a certificate with its key.
  bool anyKey = false;
  for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(imported, c));) {
    DWORD size = 0;
    anyKey =
        anyKey || CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
  }
  if (!anyKey) {
    CertCloseStore(imported, 0);
    return Fail(zustring(path) + " holds no certificate with its private key");
  }
  HCERTSTORE personal = OpenStore("MY", machineStore);
  HCERTSTORE authorities = OpenStore("CA", machineStore);
  int result = personal && authorities ? kOk : Fail("cannot open the certificate stores");
  for (PCCERT_CONTEXT c = nullptr;
       result == kOk && (c = CertEnumCertificatesInStore(imported, c));) {
    DWORD size = 0;
    bool hasKey = CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
    char name[256];
    CertGetNameStringA(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
    if (!CertAddCertificateContextToStore(hasKey ? personal : authorities, c,
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      error.Format("cannot store %s (error %u)", name, static_cast<unsigned>(GetLastError()));
      result = Fail(error);
      CertFreeCertificateContext(c);
      break;
    }
    PrintLine(zustring(hasKey ? "MY: " : "CA: ") + name);
  }
  CertCloseStore(authorities, 0);
  CertCloseStore(personal, 0);
  CertCloseStore(imported, 0);
  return result;
}

/* HOST:PORT with a port from 1 to 65535. */
bool SplitHostPort(const char* text, std::string& host, int& port) {
  const char* colon = std::strrchr(text, ':');
  if (!colon || colon == text) return false;
  char* end = nullptr;
  errno = 0;
  long number = std::strtol(colon + 1, &end, 10);
  if (end == colon + 1 || *end || errno || number < 1 || number > 65535) return false;
  host.assign(text, colon);
  port = static_cast<int>(number);
  return true;
}

}  // namespace

int CertCommand(const std::vector<const char*>& arguments, bool machineStore) {
  std::vector<const char*> args = arguments;
  machineStore = TakeFlag(args, "-m") || machineStore;
  if (args.size() == 1 && std::strcmp(args[0], "list") == 0) return ListCommand(machineStore);
  if (args.size() == 2 && std::strcmp(args[0], "import") == 0)
    return ImportCommand(args[1], machineStore);
  return Usage("cert takes: list [-m] or import FILE.pfx [-m]");
}

int TlsCommand(const std::vector<const char*>& arguments) {
  std::vector<const char*> args = arguments;
  bool keepGoing = TakeFlag(args, "-k");
  std::string host;
  int port = 0;
  if (args.size() != 2 || std::strcmp(args[0], "check") != 0)
    return Usage("tls takes: check HOST:PORT [-k]");
  if (!SplitHostPort(args[1], host, port))
    return Usage("tls check needs HOST:PORT with a port from 1 to 65535");

  AbSocket::Startup(0);
  int result = kOk;
  {
    SecureConnection connection;
    connection.VerifyServerCertificate = false;
    if (!connection.Connect(host.c_str(), port)) {
      zustring message;
      if (connection.MessageText.IsEmpty()) {
        message.Format("cannot connect to %s (error %d)", args[1], WSAGetLastError());
      } else {
        message = zustring("handshake with ") + args[1] + " failed: " + connection.MessageText;
      }
      result = Fail(message);
    } else {
      PrintLine(zustring("connection: ") + connection.MessageText);
      PCCERT_CONTEXT certificate = nullptr;
      if (SecurityInterface.QueryContextAttributesA(
              &connection.Context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK) {
        result = Fail("the server sent no certificate");
      } else {
        std::fflush(stdout);
        PrintCertificateChain(certificate);
        std::fflush(stdout);
        DWORD verdict = connection.VerifyChain(certificate, host.c_str(), 0);
        CertFreeCertificateContext(certificate);
        if (verdict == 0) {
          PrintLine(zustring("verdict: trusted for ") + host.c_str());
        } else {
          PrintLine(zustring("verdict: ") + connection.MessageText);
          if (!keepGoing) result = kFailed;
        }
      }
    }
  }
  AbSocket::Cleanup();
  return result;
}
