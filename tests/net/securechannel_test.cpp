// The TLS channel against real peers on loopback: openssl s_server and
// s_client, gnutls-serv and gnutls-cli, and itself; hostile servers made
// by a relay that changes or cuts a real server's records.
#include "net/securechannel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "net/certificates.h"
#include "support/platform_env.h"
#include "support/tls_test.h"

namespace {

using tlspeers::Relay;
using tlspeers::Server;

class SecureChannelTest : public TlsTest {
 protected:
  std::unique_ptr<Server> OpenSsl(const std::string& name, std::vector<std::string> extra) {
    auto server = tlspeers::OpenSslServer(*pki_, name, extra, root_ / "server.txt");
    EXPECT_TRUE(server->ready());
    return server;
  }

  /* A connection to port on 127.0.0.1, verifying the server as host. */
  std::unique_ptr<SecureConnection> Connect(int port, const char* host = "localhost",
                                            bool verify = true) {
    auto connection = std::make_unique<SecureConnection>();
    connection->VerifyServerCertificate = verify;
    AbSocket* socket = new AbSocket(SOCK_STREAM, 0, 0x81);
    EXPECT_TRUE(socket->Connect("127.0.0.1", port));
    if (!connection->AttachAndHandshake(socket, host)) delete socket;
    return connection;
  }

  /* Whether the system's Schannel offers TLS 1.3. */
  static bool Tls13() {
    return !platform_env::WineDeparts("TLS 1.3, which Wine's Schannel does not offer");
  }
  static bool NoServerSide() {
    return platform_env::WineDeparts(
        "the server side: Wine's AcceptSecurityContext fails with SEC_E_UNSUPPORTED_FUNCTION");
  }

  static std::string Line(SecureConnection& connection) {
    char line[512];
    int n = connection.ReadLine(line, sizeof line);
    return n < 0 ? "<error>" : std::string(line, static_cast<size_t>(n));
  }
};

TEST_F(SecureChannelTest, TalksToOpenSslOverTls12AndTls13) {
  for (const char* version : {"-tls1_2", "-tls1_3"}) {
    SCOPED_TRACE(version);
    bool tls13 = version == std::string("-tls1_3");
    if (tls13 && !Tls13()) continue;
    auto server = OpenSsl("server", {version});
    SecureConnection connection;
    ASSERT_TRUE(connection.Connect("localhost", server->port())) << connection.MessageText.c_str();
    // The description of TLS 1.2 or 1.3 with AES-GCM, as Schannel codes them.
    std::string expected = std::string(tls13 ? "Protocol: 0x2000, " : "Protocol: 0x800, ") +
                           "Cipher: 0x6610 256 bits, Hash: 0x800d 384 bits, Key exchange: 0xae06 "
                           "253 bits";
    if (platform_env::WineDeparts("the strengths of the hash and the key exchange, which Wine "
                                  "gives as 0 bits")) {
      expected.resize(expected.find(" 384 bits"));
    }
    EXPECT_EQ(expected, std::string(connection.MessageText.c_str()).substr(0, expected.size()));
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
  ASSERT_TRUE(connection.Connect("localhost", server->port())) << connection.MessageText.c_str();
  connection.SendText("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ("HTTP/1.0 200 ok\r\n", Line(connection));
  char page[4096];
  int total = 0, n = 0;
  for (int reads = 0; reads < 1000 && (n = connection.Read(page, sizeof page)) > 0; ++reads)
    total += n;
  EXPECT_EQ(0, n);
  EXPECT_GT(total, 100);
  if (!platform_env::WineDeparts("the server's close_notify, for which Wine's DecryptMessage "
                                 "returns SEC_E_OK and no data, not SEC_I_CONTEXT_EXPIRED")) {
    EXPECT_EQ(static_cast<DWORD>(SEC_I_CONTEXT_EXPIRED), connection.LastStatus);
  }
}

/* Plain lengths of the application records s_server's trace shows it
** received (TLS 1.3 with AES-GCM adds 17 bytes: the tag and the type). */
std::vector<int> ReceivedRecordSizes(const std::string& trace) {
  static const std::string kData = "  Content Type = ApplicationData (23)\n  Length = ";
  static const std::string kInner = "\n  Inner Content Type = ApplicationData";
  std::vector<int> sizes;
  for (size_t at = 0; (at = trace.find("Received Record\n", at)) != std::string::npos;) {
    size_t data = trace.find(kData, at);
    at += 1;
    if (data == std::string::npos) break;
    size_t number = data + kData.size();
    size_t end = trace.find_first_not_of("0123456789", number);
    // Only if this very record's header says so.
    if (end == std::string::npos || trace.compare(end, kInner.size(), kInner) != 0 ||
        trace.find("Received Record\n", at) < data) {
      continue;
    }
    sizes.push_back(std::stoi(trace.substr(number, end - number)) - 17);
  }
  return sizes;
}

TEST_F(SecureChannelTest, SendsPiecesOf9900AndSurvivesAKeyUpdate) {
  if (!Tls13()) GTEST_SKIP() << "needs TLS 1.3";
  auto server = OpenSsl("server", {"-tls1_3", "-trace"});
  SecureConnection connection;
  ASSERT_TRUE(connection.Connect("localhost", server->port())) << connection.MessageText.c_str();
  std::string big(25000, 'x');
  big.back() = '\n';
  EXPECT_EQ(25000, connection.Send(big.data(), static_cast<int>(big.size())));
  EXPECT_TRUE(tlspeers::WaitFor([&] { return ReceivedRecordSizes(server->Output()).size() >= 3; }));
  EXPECT_EQ((std::vector<int>{9900, 9900, 5200}), ReceivedRecordSizes(server->Output()));

  // The server updates its keys and asks for ours to be updated too: the
  // update must reach it before anything sent with the new keys.
  server->Type("before\n");
  EXPECT_EQ("before\n", Line(connection));
  // Once the update has arrived, the server has taken the command alone.
  server->Type("K\n");
  EXPECT_EQ(1, AbSocket::WaitReadable(10, connection.Socket, nullptr));
  server->Type("after\n");
  EXPECT_EQ("after\n", Line(connection));
  EXPECT_EQ(6, connection.SendText("reply\n"));
  EXPECT_TRUE(server->WaitForOutput("reply\n"));
}

TEST_F(SecureChannelTest, TalksToGnuTlsThatAsksForAClientCertificate) {
  auto server = tlspeers::GnuTlsServer(*pki_, "server", {}, root_ / "gnutls.txt");
  ASSERT_TRUE(server->ready()) << server->Output();
  auto connection = Connect(server->port());
  ASSERT_TRUE(connection->Socket) << connection->MessageText.c_str();
  const char* protocol =
      Tls13() ? "Protocol: 0x2000, Cipher: 0x66" : "Protocol: 0x800, Cipher: 0x66";
  EXPECT_EQ(1u, connection->MessageText.Find(protocol)) << connection->MessageText.c_str();
  EXPECT_EQ(5, connection->SendText("ping\n"));
  EXPECT_EQ("ping\n", Line(*connection));
}

TEST_F(SecureChannelTest, ServesOpenSslAndGnuTlsClients) {
  if (NoServerSide()) GTEST_SKIP() << "needs the server side";
  ASSERT_TRUE(pki_->InstallPersonal("server-empty.pfx"));
  std::string ca = UnixPath(pki_->Cert("ca"));
  for (int client = 0; client < 2; ++client) {
    SCOPED_TRACE(client ? "gnutls-cli" : "openssl s_client");
    AbSocket listener;
    sockaddr_in address = loopback::Address("127.0.0.1", 0);
    ASSERT_TRUE(listener.Listen(0, &address));
    std::string port = std::to_string(ntohs(address.sin_port));
    std::vector<std::string> argv = {"gnutls-cli",   "--port",   port,
                                     "--x509cafile", ca,         "--verify-hostname",
                                     "localhost",    "127.0.0.1"};
    if (!client) {
      argv = {"openssl", "s_client", "-connect", "127.0.0.1:" + port, "-CAfile", ca, "-quiet"};
      argv.insert(argv.end(), {"-verify_return_error", "-verify_hostname", "localhost"});
    }
    tlspeers::Peer peer(argv, root_ / "client.txt");
    peer.Type("from client\n");

    SecureConnection connection;
    connection.Socket = listener.Accept(nullptr, 0x81);
    ASSERT_TRUE(connection.Socket);
    bool warning = true;
    ASSERT_TRUE(connection.InitServer("localhost", false, &warning))
        << connection.MessageText.c_str();
    EXPECT_FALSE(warning);
    ASSERT_TRUE(connection.ServerHandshake(connection.Socket->GetHandle()))
        << connection.MessageText.c_str() << peer.Output();
    EXPECT_EQ(1u, connection.MessageText.Find("Protocol: 0x1000, "))
        << connection.MessageText.c_str();
    EXPECT_EQ("from client\n", Line(connection));
    EXPECT_EQ(12, connection.SendText("from server\n"));
    EXPECT_TRUE(peer.WaitForOutput("from server")) << peer.Output();
  }
}

TEST_F(SecureChannelTest, TalksToItselfAndJoinsALineFromTwoRecords) {
  if (NoServerSide()) GTEST_SKIP() << "needs the server side";
  ASSERT_TRUE(pki_->InstallPersonal("server-nopass.pfx"));
  AbSocket listener;
  sockaddr_in address = loopback::Address("127.0.0.1", 0);
  ASSERT_TRUE(listener.Listen(0, &address));
  std::string received;
  std::thread serverSide([&] {
    SecureConnection server;
    server.Socket = listener.Accept(nullptr, 0x81);
    if (!server.Socket || !server.InitServer("localhost", false, nullptr) ||
        !server.ServerHandshake(server.Socket->GetHandle())) {
      return;
    }
    server.SendText("abcd");
    server.SendText("ef\n");
    received = Line(server);
  });
  SecureConnection client;
  bool connected = client.Connect("localhost", ntohs(address.sin_port));
  EXPECT_TRUE(connected) << client.MessageText.c_str();
  if (connected) {
    EXPECT_EQ("abcdef\n", Line(client));
    client.SendText("done\n");
  }
  serverSide.join();
  EXPECT_EQ(connected ? "done\n" : "", received);
}

TEST_F(SecureChannelTest, VerifiesTheServerUnlessTold) {
  struct Case {
    const char* certificate;
    const char* message;
  };
  const Case cases[] = {
      {"otherhost", "Certificado inv\xe1lido (erro 0x800b010f = CERT_E_CN_NO_MATCH)"},
      {"expired", "Certificado inv\xe1lido (erro 0x800b0101 = CERT_E_EXPIRED)"},
      {"untrusted", "Certificado inv\xe1lido (erro 0x800b0109 = CERT_E_UNTRUSTEDROOT)"},
      {"clientonly", "Certificado inv\xe1lido (erro 0x800b0110 = CERT_E_WRONG_USAGE)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.certificate);
    auto server = OpenSsl(c.certificate, {});
    SecureConnection checked;
    EXPECT_FALSE(checked.Connect("127.0.0.1", server->port()));
    EXPECT_STREQ(c.message, checked.MessageText.c_str());
    EXPECT_EQ(nullptr, checked.Socket);
    auto unchecked = Connect(server->port(), "127.0.0.1", false);
    EXPECT_TRUE(unchecked->Socket) << unchecked->MessageText.c_str();
  }
}

TEST_F(SecureChannelTest, KeepsARecordThatCameWithTheLastHandshakeMessage) {
  auto server = OpenSsl("server", {"-tls1_2"});
  // Hold the server's bytes from its ChangeCipherSpec until its first
  // application record, then pass them on in one piece.
  std::string held;
  bool holding = false;
  Relay relay(server->port(), [held, holding](const Relay::Record& record, bool&) mutable {
    holding = holding || record.type == 20;
    if (!holding) return record.bytes;
    held += record.bytes;
    if (record.type != 23) return std::string();
    holding = false;
    return std::exchange(held, std::string());
  });
  server->Type("early\n");
  auto connection = Connect(relay.port());
  ASSERT_TRUE(connection->Socket) << connection->MessageText.c_str();
  EXPECT_GT(connection->ReceivedCount, 0u);
  EXPECT_EQ("early\n", Line(*connection));
}

TEST_F(SecureChannelTest, FailsCleanlyOnHostileServers) {
  struct Case {
    const char* what;
    Relay::Tamper tamper;
    const char* message;  // the message starts with it
    const char* wine;     // how Wine departs from the status the message names
  };
  // The statuses are those Schannel gives for the TLS alert each case
  // deserves: unexpected_message, bad_record_mac, record_overflow.
  auto firstRecord = [](std::function<std::string(const std::string&)> change) {
    return [change, done = false](const Relay::Record& record, bool& cut) mutable {
      if (done) return record.bytes;
      done = cut = true;
      return change(record.bytes);
    };
  };
  auto firstData = [](std::function<std::string(const std::string&)> change) {
    return [change](const Relay::Record& record, bool&) {
      return record.type == 23 ? change(record.bytes) : record.bytes;
    };
  };
  const Case cases[] = {
      {"garbage for a ServerHello", firstRecord([](const std::string&) {
         return std::string("HTTP/1.0 400 Bad Request\r\n\r\n");
       }),
       "Erro 80090326 em AcceptSecurityContext",
       "garbage for a ServerHello, for which Wine's InitializeSecurityContext waits for the "
       "bytes a record header would announce, not failing with SEC_E_ILLEGAL_MESSAGE"},
      {"handshake cut short",
       firstRecord([](const std::string& r) { return r.substr(0, r.size() / 2); }),
       "recv retornou erro ", nullptr},
      {"bad MAC", firstData([](std::string r) {
         r.back() ^= 1;
         return r;
       }),
       "Erro 0x8009030f em DecryptMessage()",
       "a bad MAC, for which Wine's DecryptMessage fails with SEC_E_INTERNAL_ERROR, not "
       "SEC_E_MESSAGE_ALTERED"},
      {"record of 20001 bytes", firstData([](const std::string&) {
         return std::string("\x17\x03\x03\x4e\x21", 5) + std::string(100, 'x');
       }),
       "Erro 0x80090326 em DecryptMessage()",
       "a record over the TLS limit, for which Wine's DecryptMessage waits for all of it, not "
       "failing with SEC_E_ILLEGAL_MESSAGE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.wine && platform_env::WineDeparts(c.wine)) continue;
    auto server = OpenSsl("server", {"-tls1_2"});
    Relay relay(server->port(), c.tamper);
    server->Type("data\n");
    auto connection = Connect(relay.port());
    if (connection->Socket) {
      char line[64];
      EXPECT_EQ(-1, connection->ReadLine(line, sizeof line));
      EXPECT_EQ(10054, WSAGetLastError());
    }
    EXPECT_EQ(0u, std::string(connection->MessageText.c_str()).rfind(c.message, 0))
        << connection->MessageText.c_str();
  }
}

TEST_F(SecureChannelTest, DumpsBytesAndReportsALoaderFailure) {
  testing::internal::CaptureStdout();
  HexDump(20, "0123456789abcdef\x01\x02\x03\x7f");
  EXPECT_EQ(
      "0000  30 31 32 33 34 35 36 37:38 39 61 62 63 64 65 66  0123456789abcdef\n"
      "0010  01 02 03 7f                                      ....\n",
      testing::internal::GetCapturedStdout());

  if (platform_env::kWindows) {
    GTEST_SKIP() << "the loader's failure is made through the stand-in's standin.conf; Windows "
                    "has its own Secur32.dll";
  }
  root_.Write("standin.conf", "secur32.InitSecurityInterfaceA=0\n");
  SecurityInterfaceVerbose = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, LoadSecurityInterface());
  SecurityInterfaceVerbose = false;
  EXPECT_EQ("Error 0x7f reading InitSecurityInterface entry point.\n",
            testing::internal::GetCapturedStdout());
  // The table loaded at start is still there.
  root_.Write("standin.conf", "crypt32.ca_bundle=\n");
  EXPECT_NE(nullptr, LoadSecurityInterface());
  EXPECT_NE(nullptr, SecurityInterface.DecryptMessage);
}

}  // namespace
