/*
** The socket class: buffered reading over Windows Sockets, the idle
** time-out, connecting (one address or several at once), listening and
** accepting, the two-way relay and the address and port patterns.
*/
#include "net/absocket.h"

#include <atomic>
#include <cstring>

DWORD AbSocket::startupCount_ = 0;
DWORD AbSocket::socketOptions_ = 0;

namespace {

constexpr WORD kWinsockVersion = 0x0101;  // 1.1
constexpr int kListenBacklog = 300;
/* Startup's option bit that asks for the probe socket, and the control
** request the probe is sent (whatever it does, its result is ignored). */
constexpr DWORD kStartupProbe = 1;
constexpr LONG kProbeRequest = 0x3D550001;
/* The relay's idle limit when neither side has a time-out. */
constexpr long kNoIdleLimit = 0x7FFFFFFF;
constexpr int kAcceptWaitMs = 2000;
constexpr int kAcceptSecondsPerWait = 2;
constexpr long kRelayWaitSeconds = 3;
constexpr long kConnectAnySeconds = 20;
constexpr int kConnectAnyPending = 10;

void MakeNonInheritable(SOCKET handle) {
  SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
}

/* Blocking (false) or non-blocking (true) mode. */
void SetNonBlocking(SOCKET handle, bool on) {
  ULONG value = on ? 1 : 0;
  ioctlsocket(handle, FIONBIO, &value);
}

/* Closes handle without disturbing the thread's last socket error. */
void CloseKeepingError(SOCKET handle) {
  int error = WSAGetLastError();
  closesocket(handle);
  WSASetLastError(error);
}

sockaddr_in Ipv4Address(DWORD address, int port) {
  sockaddr_in result;
  std::memset(&result, 0, sizeof result);
  result.sin_family = AF_INET;
  result.sin_port = htons(static_cast<u_short>(port));
  result.sin_addr.s_addr = address;
  return result;
}

/* Sends all of data through to's Send; false when a send gives 0 or less. */
bool SendAll(AbSocket* to, const char* data, int length) {
  while (length > 0) {
    int sent = to->Send(data, length, 0);
    if (sent <= 0) return false;
    data += sent;
    length -= sent;
  }
  return true;
}

/* One readable pass of the relay from one side to the other: -1 to go on,
** else the relay's result. */
int RelayPass(AbSocket* from, AbSocket* to, int64_t* count, bool* fromEnded, bool toEnded,
              int readFailed, int bothEnded) {
  char* data = from->GetBuffer();
  int n = from->Read(data, AbSocket::kBufferSize);
  if (n < 0) return readFailed;
  if (n > 0) {
    if (count) *count += n;
    if (!SendAll(to, data, n)) {
      from->Shutdown(SD_RECEIVE);
      *fromEnded = true;
    }
  } else {
    to->Shutdown(SD_SEND);
    *fromEnded = true;
  }
  return *fromEnded && toEnded ? bothEnded : -1;
}

/* Passes urgent data waiting on from to the other side, also as urgent. */
void RelayUrgent(AbSocket* from, AbSocket* to) {
  char* data = from->GetBuffer();
  int n = recv(from->GetHandle(), data, AbSocket::kBufferSize, MSG_OOB);
  if (n > 0) send(to->GetHandle(), data, n, MSG_OOB);
}

/* Before a relay: what one side has buffered goes to the other. */
void RelayBuffered(AbSocket* from, AbSocket* to, int64_t* count) {
  int n = from->GetBufferedCount();
  if (n == 0) return;
  SendAll(to, from->GetBuffer(), n);
  if (count) *count += n;
  from->ClearBuffer();
}

/* getpeername or getsockname into a zero-filled structure; true on failure. */
bool QueryAddress(SOCKET handle, int (*query)(SOCKET, sockaddr*, int*), sockaddr* address,
                  int* length) {
  if (!address || !length || *length < 0) return true;
  std::memset(address, 0, *length);
  return handle == 0 || query(handle, address, length) != 0;
}

/* The decimal number at the start of text (0 when there is none). */
long LeadingNumber(const char* text, const char** end) {
  long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value < 100000000) value = value * 10 + (*text - '0');
  }
  *end = text;
  return value;
}

}  // namespace

AbSocket::AbSocket(int type, SOCKET handle, DWORD flags)
    : flags_(flags), handle_(handle), socketType_(type) {
  if (handle != 0) MakeNonInheritable(handle);
}

AbSocket::~AbSocket() {
  if (handle_ != 0) Close(false);
}

int AbSocket::Recv(char* buffer, int length, int flags) {
  OnBeforeRecv(buffer, length);
  if (flags == 0 && (flags_ & kTimeoutEnabled)) {
    FD_SET readable;
    FD_ZERO(&readable);
    FD_SET(handle_, &readable);
    timeval wait = {static_cast<long>(flags_ & kTimeoutMinutes) * 60, 0};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) {
      WSASetLastError(WSAETIMEDOUT);
      OnAfterRecv(buffer, length, -1);
      return -1;
    }
  }
  int result = recv(handle_, buffer, length, flags);
  if (result > 0) bytesReceived_ += result;
  OnAfterRecv(buffer, length, result);
  return result;
}

void AbSocket::OnBeforeSend(const char*, int) {}
void AbSocket::OnAfterSend(const char*, int, int) {}
void AbSocket::OnBeforeRecv(char*, int) {}
void AbSocket::OnAfterRecv(char*, int, int) {}

int AbSocket::Shutdown(int how) {
  return shutdown(handle_, how);
}

void AbSocket::Close(bool graceful) {
  if (LoadHandle() == 0) return;
  if (graceful) {
    Shutdown(SD_SEND);
    flags_ = (flags_ & ~kTimeoutMinutes) | kTimeoutEnabled | 1;
    char scratch[256];
    while (Read(scratch, sizeof scratch) > 0) {
    }
    return;
  }
  SOCKET handle = std::atomic_ref<SOCKET>(handle_).exchange(0);
  if (handle != 0) closesocket(handle);
}

int AbSocket::Send(const char* buffer, int length, int flags) {
  OnBeforeSend(buffer, length);
  int result = send(handle_, buffer, length, flags);
  if (result > 0) bytesSent_ += result;
  OnAfterSend(buffer, length, result);
  return result;
}

int AbSocket::Read(char* buffer, int length) {
  if (length < 0) return -1;
  if (bufferedCount_ == 0) {
    int received = Recv(buffer_, kBufferSize, 0);
    if (received <= 0) return received;
    bufferedCount_ = received;
  }
  int n = length < bufferedCount_ ? length : bufferedCount_;
  if (buffer != buffer_) std::memmove(buffer, buffer_, n);  // the relay reads in place
  Consume(n);
  return n;
}

int AbSocket::Unread(const char* data, int length) {
  if (length < 0 || length > kBufferSize - bufferedCount_) return -1;
  std::memmove(buffer_ + length, buffer_, bufferedCount_);
  std::memcpy(buffer_, data, length);
  bufferedCount_ += length;
  return 0;
}

int AbSocket::SendText(const char* text) {
  if (!text) return -1;
  int length = static_cast<int>(std::strlen(text));
  return Send(text, length, 0) == length ? length : -1;
}

int AbSocket::ReadLine(char* buffer, int size) {
  if (size < 2) return -1;
  int room = size - 1;
  int copied = 0;
  buffer[0] = 0;
  for (;;) {
    if (bufferedCount_ == 0) {
      int received = Recv(buffer_, kBufferSize, 0);
      if (received <= 0) {
        if (copied == 0) return received;
        break;
      }
      bufferedCount_ = received;
    }
    const char* start = buffer_;
    int take = room - copied < bufferedCount_ ? room - copied : bufferedCount_;
    const void* lineFeed = std::memchr(start, '\n', take);
    if (lineFeed) take = static_cast<int>(static_cast<const char*>(lineFeed) - start) + 1;
    std::memcpy(buffer + copied, start, take);
    copied += take;
    Consume(take);
    if (lineFeed || copied == room) break;
  }
  buffer[copied] = 0;
  return copied;
}

bool AbSocket::GetPeerAddress(DWORD* port, DWORD* address) {
  sockaddr_in peer;
  if (GetPeerSockAddr(&peer)) return true;
  *port = ntohs(peer.sin_port);
  *address = peer.sin_addr.s_addr;
  return false;
}

bool AbSocket::GetPeerSockAddr(sockaddr_in* address) {
  int length = sizeof *address;
  return GetPeerName(reinterpret_cast<sockaddr*>(address), &length);
}

bool AbSocket::GetPeerName(sockaddr* address, int* length) {
  return QueryAddress(handle_, getpeername, address, length);
}

bool AbSocket::GetLocalAddress(DWORD* port, DWORD* address) {
  sockaddr_in local;
  if (GetLocalSockAddr(&local)) return true;
  *port = ntohs(local.sin_port);
  *address = local.sin_addr.s_addr;
  return false;
}

bool AbSocket::GetLocalSockAddr(sockaddr_in* address) {
  int length = sizeof *address;
  return GetSockName(reinterpret_cast<sockaddr*>(address), &length);
}

bool AbSocket::GetSockName(sockaddr* address, int* length) {
  return QueryAddress(handle_, getsockname, address, length);
}

bool AbSocket::SetKeepAlive(bool on, DWORD interval) {
  if (handle_ == 0) return false;
  int value = on ? 1 : 0;
  if (setsockopt(handle_, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&value),
                 sizeof value) != 0) {
    return false;
  }
  if (interval != 0) {
    tcp_keepalive values = {1, interval, interval};
    DWORD returned = 0;
    WSAIoctl(handle_, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
             nullptr);
  }
  return true;
}

void AbSocket::Attach(SOCKET handle) {
  handle_ = handle;
}

SOCKET AbSocket::GetHandle() {
  return handle_;
}

SOCKET AbSocket::Detach() {
  SOCKET handle = handle_;
  handle_ = 0;
  return handle;
}

AbSocket& AbSocket::SetFlags(DWORD flags) {
  flags_ = flags;
  return *this;
}

DWORD AbSocket::GetFlags() {
  return flags_;
}

char* AbSocket::GetBuffer() {
  return buffer_;
}

AbSocket& AbSocket::ClearBuffer() {
  bufferedCount_ = 0;
  return *this;
}

int AbSocket::GetBufferedCount() {
  return bufferedCount_;
}

bool AbSocket::HasBufferedData() {
  return bufferedCount_ != 0;
}

int64_t AbSocket::GetBytesReceived() {
  return bytesReceived_;
}

int64_t AbSocket::GetBytesSent() {
  return bytesSent_;
}

bool AbSocket::DefaultQuery() {
  return true;
}

const char* AbSocket::GetClassName() {
  return "AbSocket";
}

AbSocket* AbSocket::NewInstance(int type, SOCKET handle, DWORD flags) {
  return new AbSocket(type, handle, flags);
}

/* What stays moves to the front: a pointer kept from GetBuffer always sees
** the buffered bytes. */
void AbSocket::Consume(int n) {
  bufferedCount_ -= n;
  if (bufferedCount_ != 0) std::memmove(buffer_, buffer_ + n, bufferedCount_);
}

SOCKET AbSocket::LoadHandle() {
  return std::atomic_ref<SOCKET>(handle_).load();
}

void AbSocket::Hold(SOCKET handle) {
  if (handle_ != 0) CloseKeepingError(handle_);
  handle_ = handle;
}

bool AbSocket::Connect(const char* host, int port) {
  DWORD address = Resolve(host, nullptr);
  if (address == INADDR_NONE) return false;
  return ConnectAddress(address, port);
}

bool AbSocket::ConnectAddress(DWORD address, int port) {
  SOCKET handle = socket(AF_INET, socketType_, 0);
  if (handle == INVALID_SOCKET) {
    Hold(0);
    return false;
  }
  Hold(handle);
  MakeNonInheritable(handle);
  sockaddr_in peer = Ipv4Address(address, port);
  if (connect(handle, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
    Hold(0);
    return false;
  }
  return true;
}

bool AbSocket::ConnectAny(const char* host, int port, DWORD* address) {
  hostent* entry = nullptr;
  DWORD single = Resolve(host, &entry);
  if (single == INADDR_NONE) return false;

  SOCKET pending[kConnectAnyPending];
  DWORD pendingAddress[kConnectAnyPending];
  int count = 0;
  for (int i = 0; count < kConnectAnyPending; ++i) {
    DWORD next;
    if (!entry) {
      if (i > 0) break;
      next = single;
    } else {
      if (!entry->h_addr_list[i]) break;
      std::memcpy(&next, entry->h_addr_list[i], sizeof next);
    }
    SOCKET handle = socket(AF_INET, socketType_, 0);
    if (handle == INVALID_SOCKET) continue;
    SetNonBlocking(handle, true);
    sockaddr_in peer = Ipv4Address(next, port);
    if (connect(handle, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) {
      for (int j = 0; j < count; ++j) closesocket(pending[j]);
      SetNonBlocking(handle, false);
      Hold(handle);
      if (address) *address = next;
      return true;
    }
    if (WSAGetLastError() == WSAEWOULDBLOCK) {
      pending[count] = handle;
      pendingAddress[count++] = next;
    } else {
      CloseKeepingError(handle);
    }
  }
  if (count == 0) return false;

  FD_SET writable;
  FD_ZERO(&writable);
  for (int j = 0; j < count; ++j) FD_SET(pending[j], &writable);
  timeval wait = {kConnectAnySeconds, 0};
  int winner = -1;
  if (select(0, nullptr, &writable, nullptr, &wait) > 0) {
    for (int j = 0; j < count && winner < 0; ++j) {
      if (FD_ISSET(pending[j], &writable)) winner = j;
    }
  }
  for (int j = 0; j < count; ++j) {
    if (j != winner) CloseKeepingError(pending[j]);
  }
  if (winner < 0) return false;
  SetNonBlocking(pending[winner], false);
  Hold(pending[winner]);
  if (address) *address = pendingAddress[winner];
  return true;
}

bool AbSocket::Listen(int port, sockaddr_in* address) {
  if (address && address->sin_family != AF_INET) return false;
  SOCKET handle = socket(AF_INET, socketType_, 0);
  if (handle == INVALID_SOCKET) return false;
  MakeNonInheritable(handle);
  if (socketOptions_ & kReuseAddress) {
    int one = 1;
    setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  }
  sockaddr_in local = Ipv4Address(address ? address->sin_addr.s_addr : INADDR_ANY, port);
  if (bind(handle, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    CloseKeepingError(handle);
    return false;
  }
  listen(handle, kListenBacklog);
  if (address) {
    int length = sizeof *address;
    getsockname(handle, reinterpret_cast<sockaddr*>(address), &length);
  }
  Hold(handle);
  return true;
}

AbSocket* AbSocket::Accept(sockaddr_in* peer, DWORD flags) {
  return AcceptPolling(peer, flags, kAcceptWaitMs);
}

AbSocket* AbSocket::AcceptPolling(sockaddr_in* peer, DWORD flags, int waitMilliseconds) {
  long emptyWaits = 0;
  for (;;) {
    SOCKET listening = LoadHandle();
    if (listening == 0) return nullptr;
    FD_SET readable;
    FD_ZERO(&readable);
    FD_SET(listening, &readable);
    timeval wait = {waitMilliseconds / 1000, waitMilliseconds % 1000 * 1000};
    int ready = select(0, &readable, nullptr, nullptr, &wait);
    if (ready < 0 || LoadHandle() == 0) return nullptr;
    if (ready == 0) {
      if (AcceptTimedOut(flags_, ++emptyWaits)) {
        WSASetLastError(WSAETIMEDOUT);
        return nullptr;
      }
      continue;
    }
    sockaddr_in address;
    int length = sizeof address;
    SOCKET handle = accept(listening, reinterpret_cast<sockaddr*>(peer ? peer : &address), &length);
    if (handle == INVALID_SOCKET) return nullptr;
    AbSocket* accepted = NewInstance(socketType_, handle, flags);
    if (!accepted) closesocket(handle);
    return accepted;
  }
}

bool AbSocket::AcceptTimedOut(DWORD flags, long emptyWaits) {
  long minutes = flags & kTimeoutMinutes;
  return minutes != 0 && kAcceptSecondsPerWait * emptyWaits > minutes * 60;
}

int AbSocket::Startup(DWORD options) {
  if (startupCount_++ != 0) return 0;
  WSADATA data;
  int result = WSAStartup(kWinsockVersion, &data);
  if (options & kStartupProbe) {
    SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    if (probe != INVALID_SOCKET) {
      ioctlsocket(probe, kProbeRequest, nullptr);
      closesocket(probe);
    }
  }
  return result;
}

int AbSocket::Cleanup() {
  if (startupCount_ == 0) {
    WSASetLastError(WSANOTINITIALISED);
    return -1;
  }
  if (--startupCount_ == 0) return WSACleanup();
  return static_cast<int>(startupCount_);
}

DWORD AbSocket::GetSocketOptions() {
  return socketOptions_;
}

void AbSocket::SetSocketOptions(DWORD options) {
  socketOptions_ = options;
}

DWORD AbSocket::Resolve(const char* name, hostent** entry) {
  if (entry) *entry = nullptr;
  if (!name) return INADDR_NONE;
  if (*name && name[std::strspn(name, "0123456789.")] == 0) return inet_addr(name);
  hostent* host = gethostbyname(name);
  if (!host || !host->h_addr_list[0]) return INADDR_NONE;
  if (entry) *entry = host;
  DWORD address;
  std::memcpy(&address, host->h_addr_list[0], sizeof address);
  return address;
}

zustring AbSocket::AddressToText(DWORD address) {
  in_addr in;
  in.s_addr = address;
  const char* text = inet_ntoa(in);
  return zustring(text ? text : "0.0.0.0");
}

int AbSocket::Relay(AbSocket* a, AbSocket* b, int64_t* countA, int64_t* countB) {
  RelayBuffered(a, b, countA);
  RelayBuffered(b, a, countB);

  long idleLimit = kNoIdleLimit;
  if (a->GetFlags() & kTimeoutEnabled) idleLimit = (a->GetFlags() & kTimeoutMinutes) * 60;
  if (b->GetFlags() & kTimeoutEnabled) {
    long limit = (b->GetFlags() & kTimeoutMinutes) * 60;
    if (limit < idleLimit) idleLimit = limit;
  }

  bool aEnded = false;
  bool bEnded = false;
  long idle = 0;
  for (;;) {
    SOCKET ha = a->GetHandle();
    SOCKET hb = b->GetHandle();
    FD_SET readable;
    FD_SET urgent;
    FD_ZERO(&readable);
    FD_ZERO(&urgent);
    if (!aEnded) {
      FD_SET(ha, &readable);
      FD_SET(ha, &urgent);
    }
    if (!bEnded) {
      FD_SET(hb, &readable);
      FD_SET(hb, &urgent);
    }
    timeval wait = {kRelayWaitSeconds, 0};
    int ready = select(0, &readable, nullptr, &urgent, &wait);
    if (ready < 0) return 0;
    if (ready == 0) {
      idle += kRelayWaitSeconds;
      if (idle > idleLimit) return 3;
      continue;
    }
    idle = 0;
    int result = -1;
    if (!aEnded && FD_ISSET(ha, &readable)) {
      result = RelayPass(a, b, countA, &aEnded, bEnded, 1, 2);
    }
    if (result < 0 && !bEnded && FD_ISSET(hb, &readable)) {
      result = RelayPass(b, a, countB, &bEnded, aEnded, 2, 1);
    }
    if (result >= 0) return result;
    if (FD_ISSET(ha, &urgent)) RelayUrgent(a, b);
    if (FD_ISSET(hb, &urgent)) RelayUrgent(b, a);
  }
}

int AbSocket::WaitReadable(int seconds, AbSocket* a, AbSocket* b) {
  if (a->HasBufferedData()) return 1;
  if (b && b->HasBufferedData()) return 2;
  FD_SET readable;
  FD_ZERO(&readable);
  FD_SET(a->GetHandle(), &readable);
  if (b) FD_SET(b->GetHandle(), &readable);
  timeval wait = {seconds, 0};
  int ready = select(0, &readable, nullptr, nullptr, &wait);
  if (ready <= 0) return ready;
  return FD_ISSET(a->GetHandle(), &readable) ? 1 : 2;
}

bool AbSocket::MatchAddress(DWORD address, const char* pattern) {
  if (!pattern || !*pattern) return false;
  char first[64];
  size_t run = std::strspn(pattern, "0123456789.");
  if (run >= sizeof first) run = sizeof first - 1;
  std::memcpy(first, pattern, run);
  first[run] = 0;
  DWORD low = ntohl(inet_addr(first));
  DWORD value = ntohl(address);
  const char* rest = pattern + run;
  if (*rest == '-') {
    DWORD high = ntohl(inet_addr(rest + 1));
    return low <= value && value <= high;
  }
  if (*rest == '/') {
    DWORD mask = ntohl(inet_addr(rest + 1));
    return (value & mask) == (low & mask);
  }
  return value == low;
}

bool AbSocket::MatchPort(int port, const char* pattern) {
  if (!pattern || !*pattern) return false;
  const char* rest;
  long low = LeadingNumber(pattern, &rest);
  if (*rest != '-') return port == low;
  long high = LeadingNumber(rest + 1, &rest);
  return low <= port && port <= high;
}
