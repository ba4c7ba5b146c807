// Feeds outside bytes to the HTTP client as a server's answer, through a
// loopback socket pair: the status line, the header lines and the body are
// read as Perform and ReadBody read them. An input that starts with "URL "
// gives the request's address in its first line, so that the address
// parser is fuzzed too. Whatever comes, the request must end with a result that agrees with
// its state, never a crash or a hang.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/httprequest.h"
#include "platform/win32.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

/* The answer must fit the socket's buffer: it is written before the
** request reads it, by the same thread. */
constexpr size_t kMaxAnswer = 60000;

struct Loopback {
  SOCKET listener;
  sockaddr_in address = {};

  Loopback() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener = socket(AF_INET, SOCK_STREAM, 0);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    int length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 4);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Loopback loopback;
  const char* bytes = reinterpret_cast<const char*>(data);
  const char* lineFeed = nullptr;
  if (size > 4 && std::memcmp(bytes, "URL ", 4) == 0) {
    lineFeed = static_cast<const char*>(std::memchr(bytes, '\n', size));
    if (!lineFeed) return 0;
  }
  std::string url = lineFeed ? std::string(bytes + 4, lineFeed - bytes - 4) : "http://fuzz/";
  if (url.find('\0') != std::string::npos) return 0;
  if (lineFeed) {
    size -= lineFeed + 1 - bytes;
    bytes = lineFeed + 1;
  }
  if (size > kMaxAnswer) return 0;

  SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
  Check(connect(client, reinterpret_cast<sockaddr*>(&loopback.address), sizeof loopback.address) ==
        0);
  SOCKET server = accept(loopback.listener, nullptr, nullptr);
  Check(server != INVALID_SOCKET);
  for (size_t sent = 0; sent < size;) {
    int n = send(server, bytes + sent, static_cast<int>(size - sent), 0);
    Check(n > 0);
    sent += n;
  }
  shutdown(server, SD_SEND);
  {
    HttpRequest request;
    request.Socket = new AbSocket(SOCK_STREAM, client, 0);
    request.VerifyServerCertificate = false;
    bool ok = request.Perform(url.c_str());
    Check(!ok || request.Status == 200);
    Check(ok || request.Status != 200 || !request.ErrorText.IsEmpty());
    Check(request.Status == -1 || (request.Status >= 0));
    Check(request.ResponseHeaders.Length() <=
          HttpRequest::kMaxResponseHeaders + HttpRequest::kLineLength);
    if (ok) {
      char body[4096];
      size_t total = 0;
      for (int n; (n = request.ReadBody(body, sizeof body)) > 0;) total += n;
      Check(total <= size);
    }
  }
  closesocket(server);
  return 0;
}
