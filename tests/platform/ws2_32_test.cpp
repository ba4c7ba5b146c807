// The Windows Sockets stand-in where the socket class's tests do not reach
// it: descriptors beyond 1024 and descriptor 0, and the resolver's hosts
// file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/loopback.h"

namespace {

class Ws2 : public ::testing::Test {
 protected:
  void SetUp() override { before_ = loopback::OpenDescriptors(); }
  void TearDown() override { EXPECT_EQ(loopback::OpenDescriptors(), before_); }

  loopback::Environment env_{
      "127.0.0.5 multi.test first.test\n"
      "::1 multi.test\n"
      "# 127.0.0.7 multi.test\n"
      "127.0.0.6\tother.test MULTI.test\n"};
  int before_ = 0;
};

// A descriptor beyond the C library's select limit is waited on too.
TEST_F(Ws2, SelectWaitsOnDescriptorsPast1024) {
  std::vector<SOCKET> filler;
  while (filler.size() < 1100) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) break;
    filler.push_back(s);
    if (s > 1024) break;
  }
  bool high = !filler.empty() && filler.back() > 1024;
  if (high) {
    loopback::Pair pair;
    EXPECT_GT(pair.server, 1024u);
    ASSERT_EQ(send(pair.client, "x", 1, 0), 1);
    EXPECT_TRUE(loopback::Ready(pair.server));
  }
  for (SOCKET s : filler) closesocket(s);
  if (!high) GTEST_SKIP() << "the descriptor limit stays below 1025";
}

TEST_F(Ws2, NeverHandsOutDescriptorZero) {
  std::fclose(stdin);
  before_ = loopback::OpenDescriptors();
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(s, 0u);
  EXPECT_NE(s, INVALID_SOCKET);
  EXPECT_FALSE(std::filesystem::exists("/proc/self/fd/0"));
  {
    loopback::Pair pair;
    EXPECT_NE(pair.client, 0u);
    EXPECT_NE(pair.server, 0u);
  }
  closesocket(s);
  EXPECT_EQ(closesocket(0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

std::vector<std::string> Addresses(const hostent* host) {
  std::vector<std::string> list;
  for (char** item = host->h_addr_list; *item; ++item) {
    in_addr address;
    memcpy(&address, *item, sizeof address);
    list.push_back(inet_ntoa(address));
  }
  return list;
}

TEST_F(Ws2, ResolverReadsTheHostsFileFirst) {
  // Names without regard to case, every line that names the host, IPv4
  // addresses only, comments skipped.
  hostent* host = gethostbyname("Multi.Test");
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->h_length, 4);
  EXPECT_EQ(Addresses(host), (std::vector<std::string>{"127.0.0.5", "127.0.0.6"}));
}

}  // namespace
