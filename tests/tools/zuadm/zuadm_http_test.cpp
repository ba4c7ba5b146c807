// zuadm http as a user runs it: a real process against nginx over https,
// tinyproxy, the upload server and a scripted server on loopback.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/http_peers.h"
#include "support/standin_root.h"
#include "support/temp_dir.h"
#include "support/tls_peers.h"

namespace {

using http_peers::HasLine;
using http_peers::Url;

class ZuadmHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tlspeers::LinuxPeers()) GTEST_SKIP() << tlspeers::kNoLinuxPeers;
  }
  void TearDown() override { tlspeers::Pki::LeaveSystemStores(); }
  /* zuadm http's exit code, run in dir with its output in out.txt, err.txt. */
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), {ZUADM_PATH, "http"});
    return RunProcess(args, dir.path(), dir / "out.txt", dir / "err.txt");
  }

  loopback::Environment network;
  TempDir dir;
  SharedRegistry registry{dir / "win32"};  // the user's stores, which zuadm shares
};

TEST_F(ZuadmHttp, TransfersAndFailures) {
  tlspeers::Pki pki(dir.path());
  pki.TrustRoot();
  http_peers::Server nginx =
      http_peers::Nginx(dir / "nginx", "user", "secret", pki.Chain("server"), pki.Key("server"));
  http_peers::Server proxy = http_peers::Tinyproxy(dir / "nginx", {nginx->port()});
  http_peers::Server upload = http_peers::UploadServer(dir.path());
  ASSERT_TRUE(nginx->ready() && proxy->ready() && upload->ready());
  std::string bytes(3 << 20, 'x');
  for (size_t i = 0; i < bytes.size(); i += 4099) bytes[i] = static_cast<char>(i);
  std::ofstream(dir / "nginx/www/big", std::ios::binary) << bytes;
  std::ofstream(dir / "nginx/www/private/x") << "private";

  EXPECT_EQ(Run({"-o", "saved", Url(nginx->port(), "/big", "https")}), 0);
  EXPECT_TRUE(dir.Read("saved") == bytes);
  EXPECT_EQ(0, Run({"-x", "127.0.0.1:" + std::to_string(proxy->port()), "-i",
                    Url(nginx->port(), "/big", "https")}));
  std::string out = dir.Read("out.txt");
  EXPECT_NE(out.find("Content-Length: 3145728\r\n"), std::string::npos);
  EXPECT_TRUE(out.size() > bytes.size() && out.substr(out.size() - bytes.size()) == bytes);
  EXPECT_EQ(Run({Url(nginx->port(), "/private/x", "https"), "-u", "user:secret"}),
            0);  // options after the URL
  EXPECT_EQ(dir.Read("out.txt"), "private");
#ifndef _WIN32  // script(1) gives zuadm a terminal, which sees the progress past 1 MiB
  std::string shown, command = "cd " + tlspeers::Quote(dir.path()) +
                               " && script -qec '" ZUADM_PATH " http " +
                               Url(nginx->port(), "/big", "https") + " >b' /dev/null";
  EXPECT_EQ(0, tlspeers::Shell(command, &shown));
  EXPECT_NE(shown.find("3.0 MiB received"), std::string::npos);
  EXPECT_NE(shown.find("100%"), std::string::npos);
#endif

  // Failures leave the old file as it was, with nothing beside it.
  http_peers::ScriptedServer cut("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly 14 bytes.");
  struct Case {
    std::string url, error;
  } cases[] = {
      {Url(nginx->port(), "/missing", "https"), "the server answered with status 404"},
      {Url(cut.Port(), "/"), "the body ended after 14 of 100 bytes"},
      {"http://127.0.0.1:1/",
       "N\xc3\xa3o foi possivel estabelecer conex\xc3\xa3o com o servidor remoto"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run({"-o", "saved", c.url}), 1);
    EXPECT_EQ(dir.ReadText("err.txt"), "zuadm: " + c.error + "\n");
  }
  EXPECT_TRUE(dir.Read("saved") == bytes);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().filename().string().rfind("saved.", 0), 0u) << entry.path();
  }

  // Terminal texts are UTF-8; the request carries them in Latin-1.
  dir.Write("five.txt", "hello");
  EXPECT_EQ(Run({"-F", "text=caf\xc3\xa9", "-F", "f=@five.txt", Url(upload->port(), "/up")}), 0);
  out = dir.Read("out.txt");
  EXPECT_TRUE(HasLine(out, "field\ttext\t636166e9") && HasLine(out, "closed\t1"));
  EXPECT_TRUE(HasLine(
      out,
      "file\tf\tfive.txt\t5\t2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824"));
  EXPECT_EQ(Run({"-d", "a=1", "-d", "b=x y", Url(upload->port(), "/form")}), 0);
  EXPECT_TRUE(HasLine(dir.Read("out.txt"), "field\tb\t782079"));
  EXPECT_EQ(Run({"-G", "-d", "a=1", "-d", "b=x y", Url(upload->port(), "/q")}), 0);
  EXPECT_TRUE(HasLine(dir.Read("out.txt"), "target\t/q?a=1&b=x+y"));
}

TEST_F(ZuadmHttp, BadCommandLines) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"http://a/", "http://b/"},
      {"-F", "novalue", "http://a/"},
      {"-F", "f=@", "http://a/"},
      {"-G", "-F", "a=b", "u"},
      {"-x", "host:70000", "http://a/"},
      {"-u", "nopassword", "u"},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(Run(args), 2) << (args.empty() ? "" : args[0]);
    EXPECT_EQ(dir.ReadText("err.txt").find("usage: zuadm http"),
              dir.ReadText("err.txt").find('\n') + 1);
  }
}

}  // namespace
