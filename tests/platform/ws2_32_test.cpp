// The Windows Sockets stand-in: Windows error numbers, fd_set and select
// semantics, the resolver's hosts file, descriptor 0, SIGPIPE, the ioctls
// and socket options.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
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

/* A port on 127.0.0.1 that nobody listens on. */
int ClosedPort() {
  int port = 0;
  closesocket(loopback::Listener("127.0.0.1", &port));
  return port;
}

TEST_F(Ws2, ErrorNumbersAreWindowsOnes) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in refused = loopback::Address("127.0.0.1", ClosedPort());
  EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&refused), sizeof refused), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
  EXPECT_EQ(GetLastError(), 10061u);
  closesocket(s);

  WSASetLastError(42);
  EXPECT_EQ(GetLastError(), 42u);
  char byte;
  EXPECT_EQ(recv(INVALID_SOCKET, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

  loopback::Pair pair;
  ULONG on = 1;
  ASSERT_EQ(ioctlsocket(pair.server, FIONBIO, &on), 0);
  EXPECT_EQ(recv(pair.server, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

  // Writing to a closed connection fails with 10054 and raises no SIGPIPE.
  closesocket(pair.TakeServer());
  int result = 0;
  for (int i = 0; i < 200 && result != SOCKET_ERROR; ++i) {
    result = send(pair.client, "data", 4, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(result, SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);

  // Without a start-up, socket calls are refused.
  ASSERT_EQ(WSACleanup(), 0);
  EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_EQ(socket(AF_INET + 21, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
}

TEST_F(Ws2, SelectKeepsWindowsFdSets) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(7, &set);
  FD_SET(7, &set);
  EXPECT_EQ(set.fd_count, 1u);
  for (SOCKET s = 100; s < 200; ++s) FD_SET(s, &set);
  EXPECT_EQ(set.fd_count, static_cast<u_int>(FD_SETSIZE));
  FD_CLR(7, &set);
  EXPECT_EQ(set.fd_count, static_cast<u_int>(FD_SETSIZE - 1));
  EXPECT_FALSE(FD_ISSET(7, &set));
  EXPECT_EQ(set.fd_array[0], 100u);
  timeval none = {0, 0};
  FD_ZERO(&set);
  EXPECT_EQ(select(0, &set, nullptr, nullptr, &none), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);

  loopback::Pair pair;
  fd_set readable;
  fd_set writable;
  FD_ZERO(&readable);
  FD_SET(pair.server, &readable);
  EXPECT_EQ(select(0, &readable, nullptr, nullptr, &none), 0);
  EXPECT_EQ(readable.fd_count, 0u);

  // Ready sockets are counted once per set they are ready in.
  ASSERT_EQ(send(pair.client, "x", 1, 0), 1);
  ASSERT_TRUE(loopback::Ready(pair.server));
  FD_ZERO(&readable);
  FD_SET(pair.client, &readable);
  FD_SET(pair.server, &readable);
  FD_ZERO(&writable);
  FD_SET(pair.server, &writable);
  EXPECT_EQ(select(0, &readable, &writable, nullptr, &none), 2);
  ASSERT_EQ(readable.fd_count, 1u);
  EXPECT_EQ(readable.fd_array[0], pair.server);
  EXPECT_TRUE(FD_ISSET(pair.server, &writable));

  // Urgent data is exceptional.
  ASSERT_EQ(send(pair.client, "!", 1, MSG_OOB), 1);
  ASSERT_TRUE(loopback::Ready(pair.server, true));
  char byte = 0;
  EXPECT_EQ(recv(pair.server, &byte, 1, MSG_OOB), 1);
  EXPECT_EQ(byte, '!');

  // A refused non-blocking connect is exceptional, never writable.
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  ULONG on = 1;
  ioctlsocket(s, FIONBIO, &on);
  sockaddr_in refused = loopback::Address("127.0.0.1", ClosedPort());
  ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&refused), sizeof refused), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  FD_ZERO(&writable);
  FD_SET(s, &writable);
  fd_set failed = writable;
  timeval wait = {5, 0};
  EXPECT_EQ(select(0, nullptr, &writable, &failed, &wait), 1);
  EXPECT_EQ(writable.fd_count, 0u);
  EXPECT_TRUE(FD_ISSET(s, &failed));
  int error = 0;
  int length = sizeof error;
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length), 0);
  EXPECT_EQ(error, WSAECONNREFUSED);
  closesocket(s);
}

TEST_F(Ws2, SelectWaitsOnDescriptorsBeyond1024) {
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
  hostent* host = gethostbyname("Multi.Test");
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->h_addrtype, AF_INET);
  EXPECT_EQ(host->h_length, 4);
  EXPECT_EQ(Addresses(host), (std::vector<std::string>{"127.0.0.5", "127.0.0.6"}));
  EXPECT_EQ(inet_ntoa(*reinterpret_cast<in_addr*>(host->h_addr)), std::string("127.0.0.5"));

  host = gethostbyname("localhost");
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(Addresses(host)[0], "127.0.0.1");
  host = gethostbyname("127.0.0.9");
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(Addresses(host), std::vector<std::string>{"127.0.0.9"});

  EXPECT_EQ(inet_addr("10.0.0.5"), htonl(0x0A000005));
  EXPECT_EQ(inet_addr("1.2.3.256"), INADDR_NONE);
  EXPECT_EQ(inet_addr(""), INADDR_NONE);
  EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
}

TEST_F(Ws2, IoctlsAndOptions) {
  loopback::Pair pair;
  EXPECT_EQ(ioctlsocket(pair.client, 0x3D550001, nullptr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(ioctlsocket(pair.client, FIONBIO, nullptr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  ASSERT_EQ(send(pair.client, "12345", 5, 0), 5);
  ASSERT_TRUE(loopback::Ready(pair.server));
  ULONG value = 0;
  EXPECT_EQ(ioctlsocket(pair.server, FIONREAD, &value), 0);
  EXPECT_EQ(value, 5u);
  EXPECT_EQ(ioctlsocket(pair.server, SIOCATMARK, &value), 0);
  EXPECT_EQ(value, 1u);

  tcp_keepalive keepalive = {1, 30000, 5000};
  DWORD returned = 7;
  EXPECT_EQ(WSAIoctl(pair.client, SIO_KEEPALIVE_VALS, &keepalive, sizeof keepalive, nullptr, 0,
                     &returned, nullptr, nullptr),
            0);
  EXPECT_EQ(returned, 0u);
  int flag = 0;
  int length = sizeof flag;
  getsockopt(pair.client, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char*>(&flag), &length);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(WSAIoctl(pair.client, SIO_KEEPALIVE_VALS, &keepalive, 8, nullptr, 0, &returned, nullptr,
                     nullptr),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(WSAIoctl(pair.client, 0x98000099, &keepalive, sizeof keepalive, nullptr, 0, &returned,
                     nullptr, nullptr),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);

  DWORD timeout = 1500;
  ASSERT_EQ(setsockopt(pair.client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout),
                       sizeof timeout),
            0);
  timeout = 0;
  length = sizeof timeout;
  getsockopt(pair.client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), &length);
  EXPECT_EQ(timeout, 1500u);
  linger lingering = {1, 3};
  ASSERT_EQ(setsockopt(pair.client, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&lingering),
                       sizeof lingering),
            0);
  lingering = {};
  length = sizeof lingering;
  getsockopt(pair.client, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&lingering), &length);
  EXPECT_EQ(lingering.l_onoff, 1);
  EXPECT_EQ(lingering.l_linger, 3);
  length = sizeof flag;
  getsockopt(pair.client, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&flag), &length);
  EXPECT_EQ(flag, SOCK_STREAM);
  EXPECT_EQ(setsockopt(pair.client, SOL_SOCKET, 0x4242, reinterpret_cast<char*>(&flag), 4),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
  EXPECT_EQ(setsockopt(pair.client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&flag), 2),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  sockaddr_in peer;
  length = 8;
  EXPECT_EQ(getpeername(pair.client, reinterpret_cast<sockaddr*>(&peer), &length), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

}  // namespace
