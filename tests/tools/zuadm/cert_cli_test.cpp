// zuadm cert and zuadm tls as a user runs them: a real process with the
// current user's stores (on Linux the stand-in's, in a temp directory) and
// openssl s_server as the server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/platform_env.h"
#include "support/process.h"
#include "support/standin_root.h"
#include "support/temp_dir.h"
#include "support/tls_peers.h"

namespace {

struct Result {
  int exit = -1;
  std::string out, err;
};

class ZuadmCert : public testing::Test {
 protected:
  void SetUp() override {
    if (!tlspeers::LinuxPeers()) GTEST_SKIP() << tlspeers::kNoLinuxPeers;
    dir_.MakeDir("win32");
    dir_.Write("win32/standin.conf", "crypt32.ca_bundle=\n");
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    pki_ = std::make_unique<tlspeers::Pki>(dir_ / "pki");
    ASSERT_TRUE(pki_->made());
  }
  void TearDown() override {
    tlspeers::Pki::LeaveSystemStores();
    WSACleanup();
  }

  static bool WineKeysEveryCertificate() {
    return platform_env::WineDeparts(
        "which certificates of a PFX file go to the personal store: Wine's PFXImportCertStore "
        "gives the file's key to every certificate, not only to the one it belongs to");
  }

  Result Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {ZUADM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    int exit = RunProcess(argv, dir_.path(), dir_ / "out.txt", dir_ / "err.txt");
    return {exit, dir_.ReadText("out.txt"), dir_.ReadText("err.txt")};
  }

  TempDir dir_;
  SharedRegistry registry_{dir_ / "win32"};
  std::unique_ptr<tlspeers::Pki> pki_;
};

TEST_F(ZuadmCert, ImportsListsAndChecksAServer) {
  Result imported = Run({"cert", "import", pki_->Path("server-nopass.pfx")});
  EXPECT_EQ(0, imported.exit) << imported.err;
  if (!WineKeysEveryCertificate()) {
    EXPECT_EQ("MY: localhost\nCA: zu test intermediate\n", imported.out);
  }
  Result notPfx = Run({"cert", "import", pki_->Cert("ca")});
  EXPECT_EQ(1, notPfx.exit);
  EXPECT_NE(std::string::npos, notPfx.err.find("not a PFX file")) << notPfx.err;

  Result listed = Run({"cert", "list"});
  EXPECT_EQ(0, listed.exit) << listed.err;
  EXPECT_NE(std::string::npos,
            listed.out.find("subject:     localhost\nissuer:      zu test intermediate\n"))
      << listed.out;
  EXPECT_NE(std::string::npos, listed.out.find("private key: yes\n")) << listed.out;
  Result machine = Run({"cert", "list", "-m"});
  EXPECT_EQ(0, machine.exit);
  EXPECT_EQ("", machine.out);

  auto server = tlspeers::OpenSslServer(*pki_, "server", {"-www"}, dir_ / "server.txt");
  ASSERT_TRUE(server->ready());
  std::string target = "localhost:" + std::to_string(server->port());
  // The root is not trusted yet: the chain cannot be completed.
  if (!platform_env::WineDeparts("a chain that does not reach a trusted root, which Wine's "
                                 "chain verification accepts (not CERT_E_CHAINING)")) {
    Result rejected = Run({"tls", "check", target});
    EXPECT_EQ(1, rejected.exit);
    EXPECT_NE(std::string::npos,
              rejected.out.find("verdict: Certificado inv\xc3\xa1lido (erro 0x800b010a = "
                                "CERT_E_CHAINING)\n"))
        << rejected.out;
  }
  EXPECT_EQ(0, Run({"tls", "check", target, "-k"}).exit);

  pki_->TrustRoot();
  Result trusted = Run({"tls", "check", target});
  EXPECT_EQ(0, trusted.exit) << trusted.out << trusted.err;
  const char* protocol = platform_env::WineDeparts("TLS 1.3, which Wine's Schannel does not offer")
                             ? "0x800"
                             : "0x2000";
  EXPECT_EQ(0u, trusted.out.find("connection: Protocol: " + std::string(protocol) +
                                 ", Cipher: 0x6610 256 bits"))
      << trusted.out;
  EXPECT_NE(std::string::npos,
            trusted.out.find("Client subject: O=zu tests, CN=localhost\n"
                             "Client issuer: O=zu tests, CN=zu test intermediate\n\n"
                             "CA subject: O=zu tests, CN=zu test intermediate\n"
                             "CA issuer: O=zu tests, CN=zu test root\n\n"
                             "verdict: trusted for localhost\n"))
      << trusted.out;

  EXPECT_EQ(2, Run({"tls", "check", "127.0.0.1"}).exit);
  EXPECT_EQ(2, Run({"cert", "remove"}).exit);
}

}  // namespace
