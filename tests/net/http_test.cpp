// The HTTP client against real peers on loopback: nginx serving files,
// tinyproxy forwarding and tunnelling, the upload server whose parsers are
// Python's and werkzeug's, and scripted servers for the answers no real
// server gives.
#include "net/httprequest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "net/securechannel.h"
#include "support/http_peers.h"
#include "support/standin_root.h"
#include "support/temp_dir.h"
#include "support/tls_peers.h"

namespace {

using http_peers::HasLine;
using http_peers::ScriptedServer;
using http_peers::Url;

const char kNoConnection[] = "N\xe3o foi possivel estabelecer conex\xe3o com o servidor remoto";
const char kNotHttp[] = "Resposta do servidor remoto n\xe3o \xe9 HTTP";
const char kIncomplete[] = "Servidor remoto enviou headers incompletos";
const char kHeadTail[] = "Connection: close\r\nUser-Agent: Ardel-HTTPLib/1.0\r\n";

std::string Random(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, 0);
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char b : bytes) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return hex;
}

std::string Sha256(const std::string& file) {
  std::string output;
  tlspeers::Shell("sha256sum <" + tlspeers::Quote(UnixPath(file)), &output);
  return output.substr(0, 64);
}

std::string ReadAll(SecureConnection* connection, size_t limit) {
  std::string bytes;
  char buffer[4096];
  for (int n; bytes.size() < limit && (n = connection->Read(buffer, sizeof buffer)) > 0;)
    bytes.append(buffer, n);
  return bytes;
}

struct Outcome {
  bool ok = false;
  int status = -1;
  std::string error, headers, body;
};

/* Performs request and, on success, reads the body (at most 64 MiB). */
Outcome Exchange(HttpRequest& request, const std::string& url) {
  Outcome o;
  o.ok = request.Perform(url.c_str());
  o.status = request.Status;
  o.error = request.ErrorText.c_str();
  o.headers.assign(request.ResponseHeaders.c_str(), request.ResponseHeaders.Length());
  std::vector<char> buffer(65536);
  for (int n; o.ok && o.body.size() < (64u << 20) &&
              (n = request.ReadBody(buffer.data(), static_cast<int>(buffer.size()))) > 0;) {
    o.body.append(buffer.data(), n);
  }
  return o;
}

class HttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tlspeers::LinuxPeers()) GTEST_SKIP() << tlspeers::kNoLinuxPeers;
  }
  loopback::Environment network;
  TempDir dir;
};

TEST(Boundary, MinimalStandardGeneratorDigits) {
  SeedBoundaryGenerator(1);
  HttpRequest first;
  std::minstd_rand0 reference(1);  // the same generator, from the C++ library
  std::string expected = "----------";
  for (int i = 0; i < 7; ++i) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%.4x", static_cast<unsigned>(reference()));
    expected += i < 6 ? std::string(digits, 4) : std::string(digits);
  }
  EXPECT_EQ(first.Boundary, expected);
  // Requests made in the same second still differ: the state advances.
  SeedBoundaryGenerator(static_cast<uint32_t>(std::time(nullptr)));
  HttpRequest a, b;
  EXPECT_STRNE(a.Boundary, b.Boundary);
  EXPECT_EQ(std::strspn(a.Boundary + 10, "0123456789abcdef") + 10, std::strlen(a.Boundary));
}

TEST_F(HttpTest, RequestHeadsAsSent) {
  ScriptedServer server("HTTP/1.0 200 OK\r\nX-A: 1\r\n\r\nthe body");
  std::string port = std::to_string(server.Port());
  HttpRequest get;
  get.AddField("a", "1", false);
  get.AddField("b", "x y", false);
  Outcome o = Exchange(get, "http://localhost:" + port + "/path");
  EXPECT_TRUE(o.ok) << o.error;
  EXPECT_EQ(o.headers, "X-A: 1\r\n\r\n");
  EXPECT_EQ(o.body, "the body");
  HttpRequest escaped;  // the name as it is; value bytes escaped, a line feed kept raw
  escaped.AddField("n &m", "~\xe9-._ z\n", false);
  escaped.Version = "HTTP/1.1";
  escaped.ExtraHeaders = "X-Extra: 1\r\n";
  EXPECT_TRUE(escaped.Perform(("HtTp://127.0.0.1:" + port).c_str()));
  HttpRequest spaces;
  EXPECT_TRUE(spaces.Perform(("http://127.0.0.1:" + port + "/a b/c d").c_str()));
  HttpRequest post, empty;
  post.Method = empty.Method = HttpRequest::kPost;
  post.AddField("k", "v&w", false);
  EXPECT_TRUE(post.Perform(Url(server.Port(), "/form").c_str()));
  EXPECT_TRUE(
      empty.Perform(Url(server.Port(), "/empty").c_str()));  // nothing to send, but a request
  const char* fields[] = {"a=1=2", "b", "=c", nullptr};
  std::unique_ptr<AbSocket> socket(OpenUrl(0, Url(server.Port(), "/get").c_str(), fields));
  ASSERT_TRUE(socket);
  char buffer[64];
  EXPECT_EQ(socket->Read(buffer, sizeof buffer), 8);
  EXPECT_EQ(OpenSecureUrl(0, Url(server.Port(), "/").c_str(), nullptr), nullptr);

  std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_EQ(requests[0], "GET /path?a=1&b=x+y HTTP/1.0\r\nHost: localhost\r\n" +
                             std::string(kHeadTail) + "\r\n");
  EXPECT_EQ(requests[1], "GET /?n &m=%7E%E9-._+z\n HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                             std::string(kHeadTail) + "X-Extra: 1\r\n\r\n");
  EXPECT_EQ(requests[2].substr(0, 28), "GET /a%20b/c%20d HTTP/1.0\r\nH");
  EXPECT_EQ(
      requests[3],
      "POST /form HTTP/1.0\r\nHost: 127.0.0.1\r\n" + std::string(kHeadTail) +
          "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 7\r\n\r\nk=v%26w");
  EXPECT_NE(requests[4].find("Content-Length: 0\r\n\r\n"), std::string::npos);
  EXPECT_EQ(requests[5].substr(0, 29), "GET /get?a=1%3D2&b=&=c HTTP/1");
}

TEST_F(HttpTest, FailuresGiveTheirMessages) {
  struct Case {
    std::string answer;
    const char* url;  // PORT stands for the scripted server's port
    int status;
    const char* error;
    bool viaProxy = false;
    int holdMs = 0;
  } cases[] = {
      {"", "ftp://127.0.0.1/x", -1, "M\xe9todo ftp n\xe3o suportado"},
      {"", "127.0.0.1/x", -1, "Url inv\xe1lida"},
      {"", "http://", -1, "Url inv\xe1lida"},
      {"", "httpxxxxxxx://127.0.0.1/", -1, "Url inv\xe1lida"},  // a scheme of 11 letters
      {"", "http://127.0.0.1:1/", -1, kNoConnection},
      {"", "http://127.0.0.1:PORT/", -1, "N\xe3o recebemos resposta do servidor remoto"},
      {"", "http://127.0.0.1:PORT/", -1, "N\xe3o recebemos resposta do servidor remoto", false,
       1500},
      {"HTTP/1.0\r\n\r\n", "http://127.0.0.1:PORT/", -1, kNotHttp},
      {"   \r\n\r\n", "http://127.0.0.1:PORT/", -1, kNotHttp},
      {"HTTP/1.0 abc\r\n\r\n", "http://127.0.0.1:PORT/", 0, "Servidor remoto envio o erro abc"},
      {"HTTP/1.0 199 A\r\n\r\n", "http://127.0.0.1:PORT/", 199, "Servidor remoto envio o erro 199"},
      {"HTTP/1.0 600 A\r\n\r\n", "http://127.0.0.1:PORT/", 600, "Servidor remoto envio o erro 600"},
      {"HTTP/1.1 404 Not Found\r\nA: b\r\n\r\n", "http://127.0.0.1:PORT/", 404, ""},
      {"HTTP/1.0 200 OK\r\nA: b\r\n", "http://127.0.0.1:PORT/", 200, kIncomplete},
      {"HTTP/1.0 200 OK\r\nX: " + std::string(2 << 20, 'v') + "\r\n\r\n", "http://127.0.0.1:PORT/",
       200, kIncomplete},
      // The proxy's answer to CONNECT, for an address in capitals with the default port.
      {"HTTP/1.0 403 Forbidden\r\n\r\n", "HTTPS://example/", -1, "Servidor remoto envio o erro 403",
       true},
      {"", "HTTPS://example/", -1, kNoConnection, true},
      {"HTTP/1.0\r\n", "HTTPS://example/", -1, kNotHttp, true},
      {"HTTP/1.0 200 Connection established\r\n", "HTTPS://example/", -1, kIncomplete, true},
  };
  for (const Case& c : cases) {
    ScriptedServer server(c.answer, c.holdMs);
    HttpRequest request;
    if (c.viaProxy) {
      request.ProxyHost = "127.0.0.1";
      request.ProxyPort = server.Port();
      request.SetCredentials("user", "pass");
    }
    std::string url = c.url;
    if (url.find("PORT") != std::string::npos)
      url.replace(url.find("PORT"), 4, std::to_string(server.Port()));
    EXPECT_FALSE(request.Perform(url.c_str()));
    EXPECT_EQ(request.Status, c.status) << url << " " << c.answer.substr(0, 20);
    EXPECT_STREQ(request.ErrorText.c_str(), c.error) << url << " " << c.answer.substr(0, 20);
    if (c.viaProxy) {  // the tunnel request names the host and port 443 and carries no credentials
      ASSERT_EQ(server.Requests().size(), 1u);
      EXPECT_EQ(server.Requests()[0], "CONNECT example:443 HTTP/1.0\r\n\r\n");
    }
  }
  // A header line of 100 KB arrives in pieces, kept in order.
  std::string longLine = "X-Long: " + std::string(100 * 1024, 'v') + "\r\n";
  ScriptedServer server("HTTP/1.0 200 OK\r\n" + longLine + "\r\nbody");
  HttpRequest request;
  Outcome o = Exchange(request, Url(server.Port(), "/"));
  EXPECT_TRUE(o.ok && o.headers == longLine + "\r\n" && o.body == "body");
}

TEST_F(HttpTest, NginxDirectlyAndThroughTinyproxy) {
  std::string user(40, 'u'), password(38, 'p');  // 79 characters with the colon
  http_peers::Server nginx = http_peers::Nginx(dir.path(), user, password);
  http_peers::Server proxy = http_peers::Tinyproxy(dir.path(), {1}, "agent", "s3cret");
  ASSERT_TRUE(nginx->ready() && proxy->ready());
  for (size_t size : {0u, 2999u, 3000u, 3001u, (1u << 20) + 7}) {
    std::string bytes = Random(size, static_cast<unsigned>(size));
    std::ofstream(dir / ("www/" + std::to_string(size)), std::ios::binary) << bytes;
    for (bool viaProxy : {false, true}) {
      HttpRequest request;
      if (viaProxy) {
        request.ProxyHost = "127.0.0.1";
        request.ProxyPort = proxy->port();
        request.SetCredentials("agent", "s3cret");
      }
      Outcome o = Exchange(request, Url(nginx->port(), "/" + std::to_string(size)));
      EXPECT_TRUE(o.ok && o.body == bytes) << size << " " << viaProxy << " " << o.error << o.status;
    }
  }
  HttpRequest unauthorized;
  unauthorized.ProxyHost = "127.0.0.1";
  unauthorized.ProxyPort = proxy->port();
  EXPECT_EQ(Exchange(unauthorized, Url(nginx->port(), "/0")).status, 407);

  std::ofstream(dir / "www/private/x") << "secret";
  struct Case {
    std::string password;
    int status;
  } cases[] = {
      {password, 200}, {password + "p", 401}, {"wrong", 401}};  // 80 characters send nothing
  for (const Case& c : cases) {
    HttpRequest request;
    request.SetCredentials(user.c_str(), c.password.c_str());
    Outcome o = Exchange(request, Url(nginx->port(), "/private/x"));
    EXPECT_EQ(o.status, c.status) << c.password.size();
    EXPECT_EQ(o.body, c.status == 200 ? "secret" : "");
  }
}

TEST_F(HttpTest, HttpsDirectlyThroughTunnelsAndEndToEnd) {
  PrivateRegistry registry(dir.path(), PrivateRegistry::kUserOnly);  // for the test CA
  tlspeers::Pki pki(dir.path());
  pki.TrustRoot();
  http_peers::Server nginx =
      http_peers::Nginx(dir / "n1", "u", "p", pki.Chain("server"), pki.Key("server"));
  http_peers::Server other =
      http_peers::Nginx(dir / "n2", "u", "p", pki.Chain("otherhost"), pki.Key("otherhost"));
  http_peers::Server upload =
      http_peers::UploadServer(dir.path(), pki.Chain("server"), pki.Key("server"));
  http_peers::Server proxy = http_peers::Tinyproxy(dir / "n1", {nginx->port(), upload->port()});
  http_peers::Server guarded =
      http_peers::Tinyproxy(dir / "n2", {nginx->port()}, "agent", "s3cret");
  ASSERT_TRUE(nginx->ready() && other->ready() && upload->ready() && proxy->ready() &&
              guarded->ready());
  std::string bytes = Random(100007, 5);
  for (const char* site : {"n1", "n2"})
    std::ofstream(dir / site + "/www/f", std::ios::binary) << bytes;
  std::string url = Url(nginx->port(), "/f", "https");
  HttpRequest direct;
  Outcome o = Exchange(direct, url);
  EXPECT_TRUE(o.ok && o.body == bytes) << o.error;
  std::unique_ptr<SecureConnection> secure(OpenSecureUrl(0, url.c_str(), nullptr));
  ASSERT_TRUE(secure);
  EXPECT_TRUE(ReadAll(secure.get(), bytes.size() + 1) == bytes);

  // A certificate for another host is refused unless verification is off.
  HttpRequest refused, accepted;
  accepted.VerifyServerCertificate = false;
  EXPECT_FALSE(refused.Perform(Url(other->port(), "/f", "https").c_str()));
  EXPECT_STREQ(refused.ErrorText.c_str(),
               "Certificado inv\xe1lido (erro 0x800b010f = CERT_E_CN_NO_MATCH)");
  EXPECT_TRUE(Exchange(accepted, Url(other->port(), "/f", "https")).body == bytes);
  // The CONNECT request carries no credentials: a proxy that wants them says 407.
  HttpRequest tunnel;
  tunnel.ProxyHost = "127.0.0.1";
  tunnel.ProxyPort = guarded->port();
  tunnel.SetCredentials("agent", "s3cret");
  EXPECT_FALSE(tunnel.Perform(url.c_str()));
  EXPECT_STREQ(tunnel.ErrorText.c_str(), "Servidor remoto envio o erro 407");

  // The whole way: a CONNECT tunnel, Basic authentication inside it, a
  // multipart body with a file, and the answer read from the secure connection.
  dir.Write("five.txt", "hello");
  HttpRequest request;
  request.Method = HttpRequest::kPost;
  request.ProxyHost = "127.0.0.1";
  request.ProxyPort = proxy->port();
  request.SetCredentials("user", "pass");
  request.AddField("note", "hi", false);
  request.AddField("f", (dir / "five.txt").c_str(), true);
  ASSERT_TRUE(request.Perform(Url(upload->port(), "/up", "https").c_str()))
      << request.ErrorText.c_str();
  secure.reset(request.TakeSecureConnection());
  std::string answer = ReadAll(secure.get(), 100000);
  for (std::string line :
       {std::string("header\tProxy-authorization\tbasic dXNlcjpwYXNz"), "field\tnote\t" + Hex("hi"),
        "file\tf\t" + (dir / "five.txt") + "\t5\t" + Sha256(dir / "five.txt"),
        std::string("closed\t1")}) {
    EXPECT_TRUE(HasLine(answer, line)) << line << "\n" << answer;
  }
}

TEST_F(HttpTest, UploadsAsWerkzeugAndUrllibParseThem) {
  http_peers::Server server = http_peers::UploadServer(dir.path());
  ASSERT_TRUE(server->ready());
  std::string binary = Random(100001, 3);
  dir.Write("five.txt", "hello");
  dir.Write("binary.bin", binary);
  dir.Write("empty", "");
  HttpRequest multipart;
  multipart.Method = HttpRequest::kPost;
  multipart.AddField("text", "caf\xe9 & more", false);
  EXPECT_TRUE(multipart.AddField("five", (dir / "five.txt").c_str(), true));
  EXPECT_FALSE(multipart.AddField("f", (dir / "missing").c_str(), true));
  EXPECT_EQ(multipart.ErrorText.c_str(), "Arquivo " + (dir / "missing") + " inexistente");
  EXPECT_TRUE(multipart.AddField("binary", (dir / "binary.bin").c_str(), true));
  EXPECT_TRUE(multipart.AddField("empty", (dir / "empty").c_str(), true));
  Outcome o = Exchange(multipart, Url(server->port(), "/upload"));
  ASSERT_TRUE(o.ok) << o.error;
  for (std::string line :
       {"field\ttext\t" + Hex("caf\xe9 & more"),
        "file\tfive\t" + (dir / "five.txt") + "\t5\t" + Sha256(dir / "five.txt"),
        "file\tbinary\t" + (dir / "binary.bin") + "\t100001\t" + Sha256(dir / "binary.bin"),
        "file\tempty\t" + (dir / "empty") + "\t0\t" + Sha256(dir / "empty"),
        std::string("extra\t0"), std::string("closed\t1")}) {
    EXPECT_TRUE(HasLine(o.body, line)) << line;
  }
  size_t length = o.body.find("\ncontent-length\t"), received = o.body.find("\nreceived\t");
  EXPECT_EQ(std::stoul(o.body.substr(length + 16)), std::stoul(o.body.substr(received + 10)));

  // Every byte value, and values that fill the encoder's work area to each
  // of its last places before an escaped byte arrives.
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::vector<std::string> values = {all, std::string(508, 'a'), std::string(170, '~'),
                                     "a" + std::string(170, '~'), "ab" + std::string(170, '~')};
  HttpRequest form;
  form.Method = HttpRequest::kPost;
  for (size_t i = 0; i < values.size(); ++i)
    form.AddField(("v" + std::to_string(i)).c_str(), values[i].c_str(), false);
  o = Exchange(form, Url(server->port(), "/form"));
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_TRUE(HasLine(o.body, "field\tv" + std::to_string(i) + "\t" + Hex(values[i]))) << i;
  }

  HttpRequest gone, get;
  gone.Method = HttpRequest::kPost;
  dir.Write("gone", "abc");
  ASSERT_TRUE(gone.AddField("f", (dir / "gone").c_str(), true) &&
              get.AddField("f", (dir / "gone").c_str(), true));
  std::remove((dir / "gone").c_str());
  EXPECT_FALSE(gone.Perform(Url(server->port(), "/upload").c_str()));
  EXPECT_EQ(gone.ErrorText.c_str(),
            "N\xe3o foi possivel abrir e enviar o arquivo " + (dir / "gone"));
  EXPECT_FALSE(get.Perform(Url(server->port(), "/").c_str()));
  EXPECT_STREQ(get.ErrorText.c_str(), "Metodo GET n\xe3o pode ser usado para enviar arquivos");
}

}  // namespace
