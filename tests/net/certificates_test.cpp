// Certificate lookup, listing, chain verdicts and Certificate messages,
// checked against the openssl command line as an independent judge.
#include "net/certificates.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/platform_env.h"
#include "support/tls_test.h"

namespace {

using tlspeers::Quote;

/* The output of an openssl command on a certificate file. */
std::string OpenSsl(const std::string& command, const std::string& certificate) {
  std::string out;
  tlspeers::Shell("openssl " + command + " -in " + Quote(UnixPath(certificate)), &out);
  return out;
}

/* One "name=value" line of openssl x509's output. */
std::string Field(const std::string& text, const std::string& name) {
  size_t at = text.find(name + "=");
  if (at == std::string::npos) return "";
  at += name.size() + 1;
  return text.substr(at, text.find('\n', at) - at);
}

class CertificatesTest : public TlsTest {
 protected:
  static bool WineAcceptsPartialChains() {
    return platform_env::WineDeparts(
        "a server certificate given without its intermediate, which Wine's chain verification "
        "accepts, where the chain does not reach the trusted root (CERT_E_CHAINING)");
  }

  /* The upper-case SHA-1 thumbprint, as openssl prints it. */
  static std::string Thumbprint(const std::string& name) {
    std::string hex =
        Field(OpenSsl("x509 -noout -fingerprint -sha1", pki_->Cert(name)), "sha1 Fingerprint");
    std::erase(hex, ':');
    return hex;
  }

  /* A context for NAME's certificate in a memory store that also holds
  ** the intermediate when withIntermediate is set. */
  static PCCERT_CONTEXT InMemory(const std::string& name, bool withIntermediate) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    PCCERT_CONTEXT context = nullptr;
    std::string der = pki_->Der(name);
    CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
        static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS, &context);
    if (withIntermediate) {
      std::string intermediate = pki_->Der("intermediate");
      CertAddEncodedCertificateToStore(
          store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(intermediate.data()),
          static_cast<DWORD>(intermediate.size()), CERT_STORE_ADD_ALWAYS, nullptr);
    }
    CertCloseStore(store, 0);
    return context;
  }
};

TEST_F(CertificatesTest, VerdictsAgreeWithOpenSslVerify) {
  const char* chains[] = {"server",     "expired",  "expiring", "otherhost",
                          "clientonly", "wildcard", "untrusted"};
  const char* names[] = {"localhost",     "LocalHost", "127.0.0.1", "127.0.0.2",
                         "other.zu.test", "a.zu.test", "zu.test",   "b.a.zu.test"};
  bool addresses = !platform_env::WineDeparts(
      "server names that are IP addresses, which Wine matches against the certificate's DNS "
      "names only, not its IP address entries");
  struct Case {
    const char* chain;
    bool withIntermediate;
    const char* name;
  };
  std::vector<bool> withAndAlone = {true};
  if (!WineAcceptsPartialChains()) withAndAlone.push_back(false);
  std::vector<Case> cases;
  for (const char* chain : chains) {
    for (bool withIntermediate : withAndAlone) {
      for (const char* name : names) {
        if (addresses || !std::isdigit(static_cast<unsigned char>(name[0])))
          cases.push_back({chain, withIntermediate, name});
      }
    }
  }
  // openssl verify's verdicts, one exit status a line, all in one run.
  std::string script;
  for (const Case& c : cases) {
    bool address = std::isdigit(static_cast<unsigned char>(c.name[0]));
    script +=
        "openssl verify -no-CApath -no-CAstore -CAfile " + Quote(UnixPath(pki_->Cert("ca"))) +
        (c.withIntermediate ? " -untrusted " + Quote(UnixPath(pki_->Cert("intermediate"))) : "") +
        " -purpose sslserver " + (address ? "-verify_ip " : "-verify_hostname ") + c.name + " " +
        Quote(UnixPath(pki_->Cert(c.chain))) + " >/dev/null 2>&1; echo $?\n";
  }
  std::string judged;
  ASSERT_EQ(0, tlspeers::Shell(script, &judged)) << judged;
  std::istringstream verdicts(judged);
  int passes = 0, failures = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.chain) + (c.withIntermediate ? "" : " alone") + " for " + c.name);
    std::string judge;
    ASSERT_TRUE(std::getline(verdicts, judge));
    PCCERT_CONTEXT certificate = InMemory(c.chain, c.withIntermediate);
    ASSERT_TRUE(certificate);
    SecureChannel channel;
    DWORD verdict = channel.VerifyChain(certificate, c.name, 0);
    EXPECT_EQ(judge == "0", verdict == 0) << channel.MessageText.c_str();
    (verdict == 0 ? passes : failures)++;
    CertFreeCertificateContext(certificate);
  }
  EXPECT_GT(passes, 5);
  EXPECT_GT(failures, 5);
}

TEST_F(CertificatesTest, FindsByNameAndThumbprintWithValidityWarnings) {
  ASSERT_TRUE(pki_->InstallPersonal("server-empty.pfx"));
  ASSERT_TRUE(pki_->InstallPersonal("expiring.pfx"));
  ASSERT_TRUE(pki_->InstallPersonal("expired.pfx"));

  SecureCredentials byName(true);
  EXPECT_TRUE(byName.FindByName("ZU TESTS, LOCAL", false)) << byName.MessageText.c_str();
  SecureCredentials nobody(true);
  EXPECT_FALSE(nobody.FindByName("nobody", false));
  EXPECT_STREQ(
      "Certificado de 'nobody' n\xe3o encontrado (Erro 0x80092004 em CertFindCertificateInStore)",
      nobody.MessageText.c_str());
  EXPECT_FALSE(nobody.FindByName("localhost", true));  // the machine's store is another one
  EXPECT_FALSE(nobody.FindByName("", false));
  EXPECT_STREQ("Server name not supplied", nobody.MessageText.c_str());

  struct Case {
    const char* certificate;
    const char* warning;
  };
  for (const Case& c :
       {Case{"server", ""}, Case{"expiring", "Certificado ir\xe1 expirar em menos de 15 dias"},
        Case{"expired", "Certificado est\xe1 expirado ou ainda n\xe3o \xe9 v\xe1lido"}}) {
    SCOPED_TRACE(c.certificate);
    SecureCredentials credentials(true);
    EXPECT_TRUE(credentials.FindByHash(Thumbprint(c.certificate).c_str(), false));
    EXPECT_STREQ(c.warning, credentials.MessageText.c_str());
  }

  std::string hex = Thumbprint("server");
  std::string lower = hex;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (const std::string& bad : {hex.substr(1), hex + "0"}) {
    SecureCredentials credentials(true);
    EXPECT_FALSE(credentials.FindByHash(bad.c_str(), false));
    EXPECT_STREQ("Unknown hash algorithm", credentials.MessageText.c_str());
  }
  for (const std::string& unknown : {lower, hex.substr(0, 32)}) {
    SecureCredentials credentials(true);
    EXPECT_FALSE(credentials.FindByHash(unknown.c_str(), false));
    EXPECT_EQ("Certificado com hash '" + unknown +
                  "' n\xe3o encontrado (Erro 0x80092004 em CertFindCertificateInStore)",
              credentials.MessageText.c_str());
  }
}

TEST_F(CertificatesTest, LoadsPfxFiles) {
  bool machineKeys = !platform_env::WineDeparts(
      "a PFX file's key imported into the machine's key set (CRYPT_MACHINE_KEYSET), after which "
      "Wine finds no key for the certificates (CRYPT_E_NO_KEY_PROPERTY)");
  for (const char* file : {"server-empty.pfx", "server-nopass.pfx"}) {
    if (!machineKeys) break;
    SecureCredentials credentials(true);
    EXPECT_TRUE(credentials.LoadPfx(pki_->Path(file).c_str()))
        << file << credentials.MessageText.c_str();
  }
  SecureCredentials missing(true);
  EXPECT_FALSE(missing.LoadPfx(pki_->Path("absent.pfx").c_str()));
  EXPECT_STREQ("", missing.MessageText.c_str());
  SecureCredentials wrongPassword(true);
  EXPECT_FALSE(wrongPassword.LoadPfx(pki_->Path("secret.pfx").c_str()));
  if (!platform_env::WineDeparts("the error of a wrong PFX password, which Wine's "
                                 "PFXImportCertStore leaves at 0, not ERROR_INVALID_PASSWORD")) {
    EXPECT_STREQ("Erro 86 retornado por CertOpenStore", wrongPassword.MessageText.c_str());
  }
  SecureCredentials notPfx(true);
  EXPECT_FALSE(notPfx.LoadPfx(pki_->Cert("ca").c_str()));
}

TEST_F(CertificatesTest, ListsTheStoredCertificatesWithTheirKeys) {
  ASSERT_TRUE(pki_->InstallPersonal("server-empty.pfx"));
  ASSERT_TRUE(pki_->InstallPersonal("expiring.pfx"));
  if (!platform_env::kWindows) {
    // In the stand-in's files: the certificates and their keys, for their
    // owner only.
    namespace fs = std::filesystem;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(root_ / "certificates/user/MY")) {
      EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
                fs::status(entry).permissions() & fs::perms::all)
          << entry.path();
      ++files;
    }
    EXPECT_EQ(4, files);
  }

  CertificateCursor* cursor = OpenCursor(false);
  ASSERT_TRUE(cursor);
  std::vector<std::string> seen;
  zustring subject, issuer, until, from, thumbprint;
  DWORD flags = 0;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(NextCertificate(cursor, subject, issuer, until, from, thumbprint, &flags));
    EXPECT_STREQ("localhost", subject.c_str());
    EXPECT_STREQ("zu test intermediate", issuer.c_str());
    EXPECT_EQ(kCertificateHasKey, flags);
    seen.push_back(thumbprint.c_str());
    std::string name = seen.back() == Thumbprint("server") ? "server" : "expiring";
    std::string dates =
        OpenSsl("x509 -noout -enddate -startdate -dateopt iso_8601", pki_->Cert(name));
    EXPECT_EQ(Field(dates, "notAfter").substr(0, 19), until.c_str());
    EXPECT_EQ(Field(dates, "notBefore").substr(0, 19), from.c_str());
  }
  EXPECT_FALSE(NextCertificate(cursor, subject, issuer, until, from, thumbprint, &flags));
  CloseCursor(cursor);
  std::sort(seen.begin(), seen.end());
  std::vector<std::string> expected = {Thumbprint("server"), Thumbprint("expiring")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, seen);
}

TEST_F(CertificatesTest, InspectsCertificateMessages) {
  std::string leaf = pki_->Der("server"), intermediate = pki_->Der("intermediate");
  auto length3 = [](size_t n) {
    return std::string{static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
  };
  std::string entries = length3(leaf.size()) + leaf + length3(intermediate.size()) + intermediate;
  std::string whole = length3(entries.size()) + entries;
  // The second certificate cut short, as when the message spans two reads.
  std::string cut = whole.substr(0, whole.size() - 100);

  for (const std::string* message : {&whole, &cut}) {
    bool valid = message != &whole;
    testing::internal::CaptureStdout();
    char* name = InspectCertificateMessage(reinterpret_cast<const unsigned char*>(message->data()),
                                           static_cast<int>(message->size()), &valid);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(name);
    EXPECT_STREQ("localhost", name);
    std::free(name);
    // With the intermediate the chain verifies; the first certificate
    // alone cannot be completed.
    if (message == &whole || !WineAcceptsPartialChains()) {
      EXPECT_EQ(message == &whole, valid);
    }
    EXPECT_EQ(message == &whole
                  ? ""
                  : "um certificado veio truncado em 2 mensagens, nao vai dar para ler.\n",
              out);
  }
  const std::string garbage = "\x00\x00\x05\x00\x00\x02xy";
  EXPECT_EQ(nullptr,
            InspectCertificateMessage(reinterpret_cast<const unsigned char*>(garbage.data()),
                                      static_cast<int>(garbage.size()), nullptr));
  EXPECT_STREQ("(unknown)", CertificateErrorName(0x800B0111));
}

}  // namespace
