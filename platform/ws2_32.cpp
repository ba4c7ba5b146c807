/*
** Stand-in for Windows Sockets over POSIX sockets: IPv4 only, the Windows
** structures converted field by field, errno turned into the WSA error
** numbers in the thread's last error, select over poll(). What differs from
** POSIX on purpose is listed in platform/posix/ws2_32.h.
*/
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/posix/standin.h"

// The POSIX values of names that the Windows declarations below take over.
namespace posix {
constexpr int kAfInet = AF_INET;
constexpr int kSockStream = SOCK_STREAM;
constexpr int kSockDgram = SOCK_DGRAM;
constexpr int kSockRaw = SOCK_RAW;
constexpr int kIpProtoTcp = IPPROTO_TCP;
constexpr int kMsgOob = MSG_OOB;
constexpr int kMsgPeek = MSG_PEEK;
constexpr int kMsgDontRoute = MSG_DONTROUTE;
constexpr int kMsgWaitAll = MSG_WAITALL;
constexpr int kSolSocket = SOL_SOCKET;
constexpr int kSoReuseAddr = SO_REUSEADDR;
constexpr int kSoKeepAlive = SO_KEEPALIVE;
constexpr int kSoError = SO_ERROR;
}  // namespace posix

#undef AF_UNSPEC
#undef AF_INET
#undef PF_INET
#undef SOCK_STREAM
#undef SOCK_DGRAM
#undef SOCK_RAW
#undef IPPROTO_IP
#undef IPPROTO_TCP
#undef IPPROTO_UDP
#undef INADDR_ANY
#undef INADDR_LOOPBACK
#undef INADDR_NONE
#undef SOMAXCONN
#undef MSG_OOB
#undef MSG_PEEK
#undef MSG_DONTROUTE
#undef MSG_WAITALL
#undef SOL_SOCKET
#undef SO_REUSEADDR
#undef SO_KEEPALIVE
#undef SO_ERROR
#undef FIONBIO
#undef htons
#undef ntohs
#undef htonl
#undef ntohl

#define ZU_WS2_IMPLEMENTATION
#include "platform/win32.h"

namespace ws2 {

namespace {

std::atomic<int> startupCount{0};

constexpr int kMaxAddresses = 35;  // as many as a Windows hostent carries

/* C library errors and the WSA numbers they become; anything else is
** WSAEINVAL. */
struct ErrnoNumber {
  int error;
  int wsa;
};
const ErrnoNumber kErrnoNumbers[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAENOTSOCK},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEWOULDBLOCK},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

int WsaErrorOf(int error) {
  for (const ErrnoNumber& row : kErrnoNumbers) {
    if (row.error == error) return row.wsa;
  }
  return WSAEINVAL;
}

/* Sets the thread's last error and gives the failure result. */
int Fail(int wsaError) {
  SetLastError(wsaError);
  return SOCKET_ERROR;
}
int FailErrno() {
  return Fail(WsaErrorOf(errno));
}

/* The descriptor of s, or -1: 0 and numbers beyond int are no socket. */
int Fd(SOCKET s) {
  return s == 0 || s > static_cast<SOCKET>(INT_MAX) ? -1 : static_cast<int>(s);
}

bool Started() {
  return startupCount.load(std::memory_order_relaxed) > 0;
}

/* Connections that were reset. Windows goes on failing every receive on
** such a connection with 10054, where POSIX reports the reset once and an
** orderly end after it; so the stand-in keeps the mark until the socket is
** closed. The count lets the calls skip the lock while nothing is marked. */
class ResetConnections {
 public:
  void Mark(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fds_.insert(fd).second) count_.fetch_add(1, std::memory_order_release);
  }
  void Forget(int fd) {
    if (count_.load(std::memory_order_acquire) == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (fds_.erase(fd)) count_.fetch_sub(1, std::memory_order_release);
  }
  bool Has(int fd) {
    if (count_.load(std::memory_order_acquire) == 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return fds_.count(fd) != 0;
  }

 private:
  std::mutex mutex_;
  std::unordered_set<int> fds_;
  std::atomic<int> count_{0};
};

ResetConnections& Resets() {
  static ResetConnections* resets = new ResetConnections;  // outlives static destructors
  return *resets;
}

/* Fails a send or receive on fd with errno's error, marking a reset. */
int FailTransfer(int fd) {
  if (errno == ECONNRESET) Resets().Mark(fd);
  return FailErrno();
}

/* A new descriptor made fit to hand out: never 0 and never raising SIGPIPE. */
int Adopt(int fd) {
  if (fd == 0) {
    int moved = fcntl(0, F_DUPFD, 1);
    int saved = errno;
    ::close(0);
    if (moved < 0) {
      errno = saved;
      return -1;
    }
    fd = moved;
  }
  Resets().Forget(fd);
#ifdef SO_NOSIGPIPE
  int one = 1;
  ::setsockopt(fd, posix::kSolSocket, SO_NOSIGPIPE, &one, sizeof one);
#endif
  return fd;
}

/* The IPv4 address of a Windows address argument, or a WSA error. */
int ToPosix(const sockaddr* name, int namelen, ::sockaddr_in* out) {
  if (!name || namelen < static_cast<int>(sizeof(sockaddr_in))) return WSAEFAULT;
  const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(name);
  if (in->sin_family != AF_INET) return WSAEAFNOSUPPORT;
  std::memset(out, 0, sizeof *out);
  out->sin_family = static_cast<sa_family_t>(posix::kAfInet);
  out->sin_port = in->sin_port;
  out->sin_addr.s_addr = in->sin_addr.s_addr;
  return 0;
}

/* Writes a POSIX address into a Windows address argument. */
int FromPosix(const ::sockaddr_storage& from, sockaddr* name, int* namelen) {
  if (!name || !namelen || *namelen < static_cast<int>(sizeof(sockaddr_in))) return WSAEFAULT;
  const ::sockaddr_in& in = reinterpret_cast<const ::sockaddr_in&>(from);
  if (in.sin_family != posix::kAfInet) return WSAEAFNOSUPPORT;
  sockaddr_in out;
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = in.sin_port;
  out.sin_addr.s_addr = in.sin_addr.s_addr;
  std::memcpy(name, &out, sizeof out);
  *namelen = sizeof out;
  return 0;
}

/* poll() that resumes after signals until the time-out (ms, -1 for none). */
int PollFor(pollfd* fds, int count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int ready = ::poll(fds, count, timeoutMs);
    if (ready >= 0 || errno != EINTR) return ready;
    if (timeoutMs > 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeoutMs = left > 0 ? static_cast<int>(left) : 0;
    }
  }
}

}  // namespace

int WSAStartup(WORD version, LPWSADATA data) {
  if (!data) return WSAEFAULT;
  BYTE major = version & 0xFF;
  BYTE minor = version >> 8;
  if (major == 0) return WSAVERNOTSUPPORTED;
  if (major > 2 || (major == 2 && minor > 2)) version = MAKEWORD(2, 2);
  std::memset(data, 0, sizeof *data);
  data->wVersion = version;
  data->wHighVersion = MAKEWORD(2, 2);
  std::snprintf(data->szDescription, sizeof data->szDescription, "WinSock 2.0");
  std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
  startupCount.fetch_add(1);
  return 0;
}

int WSACleanup() {
  int count = startupCount.load();
  do {
    if (count == 0) return Fail(WSANOTINITIALISED);
  } while (!startupCount.compare_exchange_weak(count, count - 1));
  return 0;
}

int WSAGetLastError() {
  return static_cast<int>(GetLastError());
}

void WSASetLastError(int error) {
  SetLastError(static_cast<DWORD>(error));
}

int __WSAFDIsSet(SOCKET s, fd_set* set) {
  for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; ++i) {
    if (set->fd_array[i] == s) return 1;
  }
  return 0;
}

SOCKET socket(int af, int type, int protocol) {
  if (!Started()) return static_cast<SOCKET>(Fail(WSANOTINITIALISED));
  if (af != AF_INET) return static_cast<SOCKET>(Fail(WSAEAFNOSUPPORT));
  int posixType;
  switch (type) {
    case SOCK_STREAM:
      posixType = posix::kSockStream;
      break;
    case SOCK_DGRAM:
      posixType = posix::kSockDgram;
      break;
    case SOCK_RAW:
      posixType = posix::kSockRaw;
      break;
    default:
      return static_cast<SOCKET>(Fail(WSAESOCKTNOSUPPORT));
  }
  int fd = ::socket(posix::kAfInet, posixType, protocol);
  if (fd >= 0) fd = Adopt(fd);
  if (fd < 0) return static_cast<SOCKET>(FailErrno());
  return static_cast<SOCKET>(fd);
}

int closesocket(SOCKET s) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  Resets().Forget(fd);
  if (::close(fd) != 0 && errno != EINTR) return FailErrno();
  return 0;
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  ::sockaddr_in address;
  if (int error = ToPosix(name, namelen, &address)) return Fail(error);
  if (::bind(fd, reinterpret_cast<::sockaddr*>(&address), sizeof address) != 0) return FailErrno();
  return 0;
}

int listen(SOCKET s, int backlog) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  if (::listen(fd, backlog < 0 ? 0 : backlog) != 0) return FailErrno();
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
  int fd = Fd(s);
  if (fd < 0) return static_cast<SOCKET>(Fail(WSAENOTSOCK));
  if (addr && (!addrlen || *addrlen < static_cast<int>(sizeof(sockaddr_in)))) {
    return static_cast<SOCKET>(Fail(WSAEFAULT));
  }
  ::sockaddr_storage peer;
  socklen_t length = sizeof peer;
  int client;
  do {
    client = ::accept(fd, reinterpret_cast<::sockaddr*>(&peer), &length);
  } while (client < 0 && errno == EINTR);
  if (client >= 0) client = Adopt(client);
  if (client < 0) return static_cast<SOCKET>(FailErrno());
  // An accepted socket shares the listening socket's blocking mode, as on Windows.
  int listenFlags = fcntl(fd, F_GETFL);
  if (listenFlags >= 0 && (listenFlags & O_NONBLOCK)) {
    fcntl(client, F_SETFL, fcntl(client, F_GETFL) | O_NONBLOCK);
  }
  if (addr) FromPosix(peer, addr, addrlen);
  return static_cast<SOCKET>(client);
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  ::sockaddr_in address;
  if (int error = ToPosix(name, namelen, &address)) return Fail(error);
  if (::connect(fd, reinterpret_cast<::sockaddr*>(&address), sizeof address) == 0) return 0;
  if (errno != EINTR) return FailErrno();
  // Interrupted, the connection goes on by itself: wait for its outcome.
  pollfd entry = {fd, POLLOUT, 0};
  if (PollFor(&entry, 1, -1) < 0) return FailErrno();
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, posix::kSolSocket, posix::kSoError, &error, &length) != 0) {
    return FailErrno();
  }
  return error ? Fail(WsaErrorOf(error)) : 0;
}

int send(SOCKET s, const char* buf, int len, int flags) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  if (flags & ~(MSG_OOB | MSG_DONTROUTE)) return Fail(WSAEOPNOTSUPP);
  int posixFlags = MSG_NOSIGNAL;
  if (flags & MSG_OOB) posixFlags |= posix::kMsgOob;
  if (flags & MSG_DONTROUTE) posixFlags |= posix::kMsgDontRoute;
  ssize_t sent;
  do {
    sent = ::send(fd, buf, static_cast<size_t>(len), posixFlags);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) return FailTransfer(fd);
  return static_cast<int>(sent);
}

int recv(SOCKET s, char* buf, int len, int flags) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  if (flags & ~(MSG_OOB | MSG_PEEK | MSG_WAITALL)) return Fail(WSAEOPNOTSUPP);
  if (Resets().Has(fd)) return Fail(WSAECONNRESET);
  int posixFlags = 0;
  if (flags & MSG_OOB) posixFlags |= posix::kMsgOob;
  if (flags & MSG_PEEK) posixFlags |= posix::kMsgPeek;
  if (flags & MSG_WAITALL) posixFlags |= posix::kMsgWaitAll;
  ssize_t received;
  do {
    received = ::recv(fd, buf, static_cast<size_t>(len), posixFlags);
  } while (received < 0 && errno == EINTR);
  if (received < 0) return FailTransfer(fd);
  return static_cast<int>(received);
}

int shutdown(SOCKET s, int how) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  int posixHow;
  switch (how) {
    case SD_RECEIVE:
      posixHow = SHUT_RD;
      break;
    case SD_SEND:
      posixHow = SHUT_WR;
      break;
    case SD_BOTH:
      posixHow = SHUT_RDWR;
      break;
    default:
      return Fail(WSAEINVAL);
  }
  if (::shutdown(fd, posixHow) != 0) return FailErrno();
  return 0;
}

namespace {

/* Windows' sense of ready for the sets of select (read, write, except):
** readable includes a closed or reset connection; a failed connect is
** exceptional, not writable; urgent data is exceptional. */
bool ReadyFor(int set, short revents) {
  switch (set) {
    case 0:
      return (revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    case 1:
      return (revents & POLLOUT) && !(revents & POLLERR);
    default:
      return (revents & (POLLPRI | POLLERR)) != 0;
  }
}

}  // namespace

int select(int, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const ::timeval* timeout) {
  fd_set* sets[3] = {readfds, writefds, exceptfds};
  const short events[3] = {POLLIN, POLLOUT, POLLPRI};
  pollfd fds[3 * FD_SETSIZE];
  int descriptors[3 * FD_SETSIZE];  // fds[j] may be switched off; this keeps its number
  int count = 0;
  for (int k = 0; k < 3; ++k) {
    if (!sets[k]) continue;
    if (sets[k]->fd_count > FD_SETSIZE) sets[k]->fd_count = FD_SETSIZE;
    for (u_int i = 0; i < sets[k]->fd_count; ++i) {
      int fd = Fd(sets[k]->fd_array[i]);
      if (fd < 0) return Fail(WSAENOTSOCK);
      int j = 0;
      while (j < count && descriptors[j] != fd) ++j;
      if (j == count) {
        descriptors[count] = fd;
        fds[count++] = {fd, 0, 0};
      }
      fds[j].events |= events[k];
    }
  }
  if (count == 0) return Fail(WSAEINVAL);

  using Clock = std::chrono::steady_clock;
  int timeoutMs = -1;
  if (timeout) {
    if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return Fail(WSAEINVAL);
    long long ms = static_cast<long long>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
    timeoutMs = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
  }
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int polled = PollFor(fds, count, timeoutMs);
    if (polled < 0) return FailErrno();
    bool ready = false;
    for (int j = 0; j < count; ++j) {
      if (fds[j].revents & POLLNVAL) return Fail(WSAENOTSOCK);
      for (int k = 0; k < 3; ++k) {
        if ((fds[j].events & events[k]) && ReadyFor(k, fds[j].revents)) ready = true;
      }
    }
    if (ready || polled == 0) break;
    // Only events that Windows does not report in the sets asked for (a
    // failed connect watched for writing alone, say): those sockets sit out
    // the rest of the wait, which goes on for the time left.
    for (int j = 0; j < count; ++j) {
      if (fds[j].revents) fds[j].fd = -1;
    }
    if (timeoutMs > 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeoutMs = left > 0 ? static_cast<int>(left) : 0;
    }
  }

  int total = 0;
  for (int k = 0; k < 3; ++k) {
    if (!sets[k]) continue;
    u_int kept = 0;
    for (u_int i = 0; i < sets[k]->fd_count; ++i) {
      int fd = Fd(sets[k]->fd_array[i]);
      int j = 0;
      while (descriptors[j] != fd) ++j;
      if (ReadyFor(k, fds[j].revents)) sets[k]->fd_array[kept++] = sets[k]->fd_array[i];
    }
    sets[k]->fd_count = kept;
    total += static_cast<int>(kept);
  }
  return total;
}

int ioctlsocket(SOCKET s, LONG cmd, ULONG* argp) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  if (cmd != FIONBIO) return Fail(WSAEINVAL);
  if (!argp) return Fail(WSAEFAULT);
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return FailErrno();
  flags = *argp ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  if (fcntl(fd, F_SETFL, flags) != 0) return FailErrno();
  return 0;
}

int WSAIoctl(SOCKET s, DWORD code, LPVOID inBuffer, DWORD inSize, LPVOID, DWORD,
             DWORD* bytesReturned, LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  if (code != SIO_KEEPALIVE_VALS) return Fail(WSAEINVAL);
  if (!inBuffer || inSize < sizeof(tcp_keepalive)) return Fail(WSAEFAULT);
  tcp_keepalive values;
  std::memcpy(&values, inBuffer, sizeof values);
  int on = values.onoff ? 1 : 0;
  if (::setsockopt(fd, posix::kSolSocket, posix::kSoKeepAlive, &on, sizeof on) != 0) {
    return FailErrno();
  }
  if (on) {
    // Whole seconds here, at least one; Windows sends ten probes.
    auto seconds = [](ULONG ms) {
      return static_cast<int>(ms / 1000 > 32767 ? 32767 : (ms + 999) / 1000);
    };
    int idle = seconds(values.keepalivetime) ? seconds(values.keepalivetime) : 1;
    int interval = seconds(values.keepaliveinterval) ? seconds(values.keepaliveinterval) : 1;
    int probes = 10;
#ifdef TCP_KEEPIDLE
    if (::setsockopt(fd, posix::kIpProtoTcp, TCP_KEEPIDLE, &idle, sizeof idle) != 0)
      return FailErrno();
#endif
    if (::setsockopt(fd, posix::kIpProtoTcp, TCP_KEEPINTVL, &interval, sizeof interval) != 0 ||
        ::setsockopt(fd, posix::kIpProtoTcp, TCP_KEEPCNT, &probes, sizeof probes) != 0) {
      return FailErrno();
    }
  }
  if (bytesReturned) *bytesReturned = 0;
  return 0;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  if (level != SOL_SOCKET || (optname != SO_REUSEADDR && optname != SO_KEEPALIVE)) {
    return Fail(WSAENOPROTOOPT);
  }
  int value;
  if (!optval || optlen < static_cast<int>(sizeof value)) return Fail(WSAEFAULT);
  std::memcpy(&value, optval, sizeof value);
  int name = optname == SO_REUSEADDR ? posix::kSoReuseAddr : posix::kSoKeepAlive;
  if (::setsockopt(fd, posix::kSolSocket, name, &value, sizeof value) != 0) return FailErrno();
  return 0;
}

namespace {

int QueryName(SOCKET s, sockaddr* name, int* namelen, bool peer) {
  int fd = Fd(s);
  if (fd < 0) return Fail(WSAENOTSOCK);
  if (!name || !namelen || *namelen < static_cast<int>(sizeof(sockaddr_in))) {
    return Fail(WSAEFAULT);
  }
  ::sockaddr_storage address;
  socklen_t length = sizeof address;
  ::sockaddr* raw = reinterpret_cast<::sockaddr*>(&address);
  if ((peer ? ::getpeername(fd, raw, &length) : ::getsockname(fd, raw, &length)) != 0) {
    return FailErrno();
  }
  if (int error = FromPosix(address, name, namelen)) return Fail(error);
  return 0;
}

}  // namespace

int getpeername(SOCKET s, sockaddr* name, int* namelen) {
  return QueryName(s, name, namelen, true);
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
  return QueryName(s, name, namelen, false);
}

namespace {

/* The calling thread's gethostbyname result. */
struct HostResult {
  hostent entry;
  char name[256];
  char* aliases[1];
  ULONG addresses[kMaxAddresses];
  char* addressList[kMaxAddresses + 1];
  int count;

  void Add(ULONG address) {
    for (int i = 0; i < count; ++i) {
      if (addresses[i] == address) return;
    }
    if (count < kMaxAddresses) addresses[count++] = address;
  }
};

thread_local HostResult hostResult;

/* Adds the addresses that the hosts file named in standin.conf gives name. */
void ReadHostsFile(const char* name, HostResult* result) {
  std::string path = standin::Setting("ws2_32.hosts", "");
  if (path.empty()) return;
  FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return;
  char line[1024];
  while (std::fgets(line, sizeof line, file)) {
    line[std::strcspn(line, "#\r\n")] = 0;
    char* rest = nullptr;
    const char* address = strtok_r(line, " \t", &rest);
    ::in_addr parsed;
    if (!address || ::inet_pton(posix::kAfInet, address, &parsed) != 1) continue;
    while (const char* alias = strtok_r(nullptr, " \t", &rest)) {
      if (strcasecmp(alias, name) == 0) {
        result->Add(parsed.s_addr);
        break;
      }
    }
  }
  std::fclose(file);
}

int ResolverError(int status) {
  switch (status) {
    case EAI_NONAME:
      return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return WSANO_DATA;
#endif
    default:
      return WSANO_RECOVERY;
  }
}

}  // namespace

hostent* gethostbyname(const char* name) {
  if (!Started()) {
    Fail(WSANOTINITIALISED);
    return nullptr;
  }
  char localName[256];
  if (!name || !*name) {
    if (::gethostname(localName, sizeof localName) != 0) {
      FailErrno();
      return nullptr;
    }
    localName[sizeof localName - 1] = 0;
    name = localName;
  }
  if (std::strlen(name) >= sizeof hostResult.name) {
    Fail(WSAHOST_NOT_FOUND);
    return nullptr;
  }
  HostResult& result = hostResult;
  result.count = 0;
  ReadHostsFile(name, &result);
  if (result.count == 0) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = posix::kAfInet;
    hints.ai_socktype = posix::kSockStream;
    addrinfo* list = nullptr;
    int status = ::getaddrinfo(name, nullptr, &hints, &list);
    if (status != 0) {
      Fail(ResolverError(status));
      return nullptr;
    }
    for (addrinfo* item = list; item; item = item->ai_next) {
      if (item->ai_family != posix::kAfInet) continue;
      result.Add(reinterpret_cast<::sockaddr_in*>(item->ai_addr)->sin_addr.s_addr);
    }
    ::freeaddrinfo(list);
    if (result.count == 0) {
      Fail(WSANO_DATA);
      return nullptr;
    }
  }
  std::snprintf(result.name, sizeof result.name, "%s", name);
  result.aliases[0] = nullptr;
  for (int i = 0; i < result.count; ++i) {
    result.addressList[i] = reinterpret_cast<char*>(&result.addresses[i]);
  }
  result.addressList[result.count] = nullptr;
  result.entry.h_name = result.name;
  result.entry.h_aliases = result.aliases;
  result.entry.h_addrtype = AF_INET;
  result.entry.h_length = sizeof(ULONG);
  result.entry.h_addr_list = result.addressList;
  return &result.entry;
}

ULONG inet_addr(const char* cp) {
  if (!cp) return INADDR_NONE;
  return ::inet_addr(cp);
}

char* inet_ntoa(in_addr in) {
  thread_local char text[16];
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&in.s_addr);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

}  // namespace ws2
