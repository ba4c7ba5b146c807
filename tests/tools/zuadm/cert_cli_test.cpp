// zuadm cert and zuadm tls as a user runs them: a real process with the
// stand-in's stores in a temp directory and openssl s_server as the server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

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
    setenv("ZU_WIN32_ROOT", (dir_ / "win32").c_str(), 1);
    dir_.MakeDir("win32");
    dir_.Write("win32/standin.conf", "crypt32.ca_bundle=\n");
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  void TearDown() override {
    WSACleanup();
    unsetenv("ZU_WIN32_ROOT");
  }

  Result Run(const std::vector<std::string>& args) {
    std::string command = ZUADM_PATH;
    for (const std::string& arg : args) command += " '" + arg + "'";
    command += " >" + (dir_ / "out.txt") + " 2>" + (dir_ / "err.txt");
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, dir_.Read("out.txt"),
            dir_.Read("err.txt")};
  }

  TempDir dir_;
  tlspeers::Pki pki_{dir_.path()};
};

TEST_F(ZuadmCert, ImportsListsAndChecksAServer) {
  Result imported = Run({"cert", "import", pki_.Path("server-nopass.pfx")});
  EXPECT_EQ(0, imported.exit) << imported.err;
  EXPECT_EQ("MY: localhost\nCA: zu test intermediate\n", imported.out);
  Result notPfx = Run({"cert", "import", pki_.Cert("ca")});
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

  auto server = tlspeers::OpenSslServer(pki_, "server", {"-www"}, dir_ / "server.txt");
  ASSERT_TRUE(server->ready());
  std::string target = "127.0.0.1:" + std::to_string(server->port());
  // The root is not trusted yet: the chain cannot be completed.
  Result rejected = Run({"tls", "check", target});
  EXPECT_EQ(1, rejected.exit);
  EXPECT_NE(std::string::npos,
            rejected.out.find("verdict: Certificado inv\xc3\xa1lido (erro 0x800b010a = "
                              "CERT_E_CHAINING)\n"))
      << rejected.out;
  EXPECT_EQ(0, Run({"tls", "check", target, "-k"}).exit);

  pki_.TrustRoot();
  Result trusted = Run({"tls", "check", target});
  EXPECT_EQ(0, trusted.exit) << trusted.out << trusted.err;
  EXPECT_EQ(0u, trusted.out.find("connection: Protocol: 0x2000, Cipher: 0x6610 256 bits"))
      << trusted.out;
  EXPECT_NE(std::string::npos,
            trusted.out.find("Client subject: O=zu tests, CN=localhost\n"
                             "Client issuer: O=zu tests, CN=zu test intermediate\n\n"
                             "CA subject: O=zu tests, CN=zu test intermediate\n"
                             "CA issuer: O=zu tests, CN=zu test root\n\n"
                             "verdict: trusted for 127.0.0.1\n"))
      << trusted.out;

  EXPECT_EQ(2, Run({"tls", "check", "127.0.0.1"}).exit);
  EXPECT_EQ(2, Run({"cert", "remove"}).exit);
}

}  // namespace
