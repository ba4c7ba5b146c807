// Helpers for socket tests and benchmarks: a private stand-in root with its
// hosts file, started Windows Sockets, connected loopback pairs and a count
// of the process's open descriptors.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>

#include "platform/win32.h"
#include "support/platform_env.h"

namespace loopback {

/* Points the stand-in at a fresh directory whose standin.conf names a hosts
** file with the given lines, and starts Windows Sockets. Windows takes
** names from the system's hosts file, which a test leaves alone. */
class Environment {
 public:
  explicit Environment(const std::string& hostsLines = "") {
    root_ = std::filesystem::temp_directory_path() /
            ("zu-sockets-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(root_);
    platform_env::SetEnv("ZU_WIN32_ROOT", root_.string());
    std::ofstream(root_ / "hosts") << hostsLines;
    std::ofstream(root_ / "standin.conf") << "ws2_32.hosts=" << (root_ / "hosts").string() << "\n";
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~Environment() {
    WSACleanup();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

 private:
  std::filesystem::path root_;
};

/* The process's open descriptors (Linux) or handles (Windows), or -1 when
** the system does not count them: Wine's GetProcessHandleCount succeeds
** with 0, which no live process has. */
inline int OpenDescriptors() {
#ifdef _WIN32
  DWORD count = 0;
  if (!GetProcessHandleCount(GetCurrentProcess(), &count) || count == 0) return -1;
  return static_cast<int>(count);
#else
  int count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd");
       it != std::filesystem::directory_iterator(); ++it) {
    ++count;
  }
  return count;
#endif
}

inline sockaddr_in Address(const char* dotted, int port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = inet_addr(dotted);
  return address;
}

/* Whether s has data (or, with urgent, out-of-band data; on a listening
** socket, a connection) within ms milliseconds. */
inline bool Ready(SOCKET s, bool urgent = false, int ms = 5000) {
  FD_SET set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait = {ms / 1000, ms % 1000 * 1000};
  return select(0, urgent ? nullptr : &set, nullptr, urgent ? &set : nullptr, &wait) == 1;
}

/* A listening socket on dotted:0; its port goes to *port. */
inline SOCKET Listener(const char* dotted, int* port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Address(dotted, 0);
  int length = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(s, 16);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return s;
}

/* Two connected stream sockets on 127.0.0.1. */
struct Pair {
  SOCKET client = INVALID_SOCKET;
  SOCKET server = INVALID_SOCKET;

  Pair() {
    int port = 0;
    SOCKET listening = Listener("127.0.0.1", &port);
    client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Address("127.0.0.1", port);
    connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
    server = accept(listening, nullptr, nullptr);
    closesocket(listening);
  }
  ~Pair() {
    if (client != INVALID_SOCKET) closesocket(client);
    if (server != INVALID_SOCKET) closesocket(server);
  }
  /* Hands one end over to a new owner. */
  SOCKET TakeClient() { return std::exchange(client, INVALID_SOCKET); }
  SOCKET TakeServer() { return std::exchange(server, INVALID_SOCKET); }
};

}  // namespace loopback
