// The TLS channel against real peers on loopback: openssl s_server and
// s_client, gnutls-serv and gnutls-cli, and itself; hostile servers made
// by a relay that changes or cuts a real server's records.
#include "net/securechannel.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "net/certificates.h"
#include "support/temp_dir.h"
#include "support/tls_peers.h"

namespace {

using tlspeers::Relay;
using tlspeers::Server;

class SecureChannelTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    pkiDir_ = new TempDir;
    pki_ = new tlspeers::Pki(pkiDir_->path());
  }
  static void TearDownTestSuite() {
    delete pki_;
    delete pkiDir_;
  }
  void SetUp() override {
    setenv("ZU_WIN32_ROOT", root_.path().c_str(), 1);
    root_.Write("standin.conf", "crypt32.ca_bundle=\n");
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    pki_->TrustRoot();
  }
  void TearDown() override {
    WSACleanup();
    unsetenv("ZU_WIN32_ROOT");
  }

  std::unique_ptr<Server> OpenSsl(const std::string& name, std::vector<std::string> extra) {
    auto server = tlspeers::OpenSslServer(*pki_, name, extra, root_ / "server.txt");
    EXPECT_TRUE(server->ready());
    return server;
  }

  /* A connection to port on 127.0.0.1, verifying the server as host. */
  std::unique_ptr<SecureConnection> Connect(int port, const char* host = "127.0.0.1",
                                            bool verify = true) {
    auto connection = std::make_unique<SecureConnection>();
    connection->VerifyServerCertificate = verify;
    AbSocket* socket = new AbSocket(SOCK_STREAM, 0, 0x81);
    EXPECT_TRUE(socket->Connect("127.0.0.1", port));
    if (!connection->AttachAndHandshake(socket, host)) delete socket;
    return connection;
  }

  static std::string Line(SecureConnection& connection) {
    char line[512];
    int n = connection.ReadLine(line, sizeof line);
    return n < 0 ? "<error>" : std::string(line, static_cast<size_t>(n));
  }

  static TempDir* pkiDir_;
  static tlspeers::Pki* pki_;
  TempDir root_;
};

TempDir* SecureChannelTest::pkiDir_ = nullptr;
tlspeers::Pki* SecureChannelTest::pki_ = nullptr;

TEST_F(SecureChannelTest, TalksToOpenSslOverTls12AndTls13) {
  for (const char* version : {"-tls1_2", "-tls1_3"}) {
    SCOPED_TRACE(version);
    auto server = OpenSsl("server", {version});
    SecureConnection connection;
    ASSERT_TRUE(connection.Connect("127.0.0.1", server->port())) << connection.MessageText.c_str();
    // The description of TLS 1.2 or 1.3 with AES-GCM, as Schannel codes them.
    std::string expected =
        version == std::string("-tls1_2") ? "Protocol: 0x800, " : "Protocol: 0x2000, ";
    EXPECT_EQ(
        expected + "Cipher: 0x6610 256 bits, Hash: 0x800d 384 bits, Key exchange: 0xae06 253 bits",
        connection.MessageText.c_str());
    EXPECT_EQ(6, connection.SendText("hello\n"));
    EXPECT_TRUE(server->WaitForOutput("hello\n"));
    // TLS 1.3 servers send session tickets first: they are no data.
    server->Type("world\n");
    EXPECT_EQ("world\n", Line(connection));
    // Dropped without close_notify: the socket's 0, and no TLS status.
    server->Type("q\n");
    char byte;
    EXPECT_EQ(0, connection.Read(&byte, 1));
    EXPECT_EQ(static_cast<DWORD>(SEC_E_INCOMPLETE_MESSAGE), connection.LastStatus);
  }
}

TEST_F(SecureChannelTest, ServerCloseNotifyEndsTheData) {
  auto server = OpenSsl("server", {"-www"});
  SecureConnection connection;
  ASSERT_TRUE(connection.Connect("127.0.0.1", server->port())) << connection.MessageText.c_str();
  connection.SendText("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ("HTTP/1.0 200 ok\r\n", Line(connection));
  char page[4096];
  int total = 0, n = 0;
  for (int reads = 0; reads < 1000 && (n = connection.Read(page, sizeof page)) > 0; ++reads)
    total += n;
  EXPECT_EQ(0, n);
  EXPECT_GT(total, 100);
  EXPECT_EQ(static_cast<DWORD>(SEC_I_CONTEXT_EXPIRED), connection.LastStatus);
}

}  // namespace
