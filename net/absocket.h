/*
** AbSocket: the library's socket, a polymorphic wrapper around one IPv4
** Windows Sockets handle.
**
** Each object carries a 3000-byte read-ahead buffer (its valid bytes always
** start at its first byte) that Read, ReadLine and Unread work on, an idle
** time-out word, byte counters and hooks called around every send and
** receive. Composite operations go through the virtual table, so a derived
** class (a TLS channel, say) changes them too; Accept makes the accepted
** objects through NewInstance for the same reason.
**
** The time-out word: bits 0-6 are minutes (0-127), bit 7 (0x80) enables the
** idle time-out of Recv. Accept gives up after that many minutes of waiting
** whether or not bit 7 is set, when the minutes are not 0. Time-outs leave
** 10060 as the thread's last socket error.
**
** Class-level operations: counted start-up and clean-up of Windows Sockets,
** name resolution, the parallel connect, the two-way relay, waiting for
** data and address and port patterns. Every wait is a select of fixed
** length. Handle 0 means "no socket". Results are bool, a count or -1, or
** null; the address queries are the exception: they return true on failure.
*/
#pragma once

#include <cstdint>

#include "misc/zustring.h"
#include "platform/win32.h"

class AbSocket {
 public:
  static constexpr int kBufferSize = 3000;
  /* Flags bits: the time-out minutes and the time-out switch. */
  static constexpr DWORD kTimeoutMinutes = 0x7F;
  static constexpr DWORD kTimeoutEnabled = 0x80;
  /* SocketOptions bit: listening sockets reuse their address. */
  static constexpr DWORD kReuseAddress = 0x200;

  /* Wraps handle (0 for none), which is made non-inheritable. */
  explicit AbSocket(int type = SOCK_STREAM, SOCKET handle = 0, DWORD flags = 0);
  AbSocket(const AbSocket&) = delete;
  AbSocket& operator=(const AbSocket&) = delete;

  /* recv with the idle time-out (recv flags 0 and bit 7 of Flags); bypasses
  ** the read-ahead buffer. */
  virtual int Recv(char* buffer, int length, int flags);
  virtual ~AbSocket();
  virtual void OnBeforeSend(const char* buffer, int length);
  virtual void OnAfterSend(const char* buffer, int length, int result);
  virtual void OnBeforeRecv(char* buffer, int length);
  virtual void OnAfterRecv(char* buffer, int length, int result);
  virtual int Shutdown(int how);
  /* Graceful: stops sending and drains the peer's data (one minute idle
  ** time-out), keeping the handle. Hard: closes the handle. */
  virtual void Close(bool graceful);
  virtual int Send(const char* buffer, int length, int flags);
  /* Up to length bytes from the read-ahead buffer, refilled when empty. */
  virtual int Read(char* buffer, int length);
  /* Puts data back in front of the buffered bytes; -1 when it does not fit. */
  virtual int Unread(const char* data, int length);
  /* The whole text or -1. */
  virtual int SendText(const char* text);
  /* One line (its line feed included) or size - 1 bytes of it, terminated;
  ** the count copied, or the failed refill's 0 or negative result. */
  virtual int ReadLine(char* buffer, int size);
  virtual bool GetPeerAddress(DWORD* port, DWORD* address);
  virtual bool GetPeerSockAddr(sockaddr_in* address);
  virtual bool GetPeerName(sockaddr* address, int* length);
  virtual bool GetLocalAddress(DWORD* port, DWORD* address);
  virtual bool GetLocalSockAddr(sockaddr_in* address);
  virtual bool GetSockName(sockaddr* address, int* length);
  /* Keep-alive on or off; a non-zero interval (ms) also sets the idle time
  ** and the probe interval. False without a handle or when SO_KEEPALIVE
  ** cannot be set. */
  virtual bool SetKeepAlive(bool on, DWORD interval);
  virtual void Attach(SOCKET handle);
  virtual SOCKET GetHandle();
  virtual SOCKET Detach();
  virtual AbSocket& SetFlags(DWORD flags);
  virtual DWORD GetFlags();
  virtual char* GetBuffer();
  virtual AbSocket& ClearBuffer();
  virtual int GetBufferedCount();
  virtual bool HasBufferedData();
  virtual int64_t GetBytesReceived();
  virtual int64_t GetBytesSent();
  virtual bool DefaultQuery();
  virtual const char* GetClassName();
  /* A new object of this class around an accepted handle. */
  virtual AbSocket* NewInstance(int type, SOCKET handle, DWORD flags);

  /* Resolves host and connects; false leaves the object empty. */
  bool Connect(const char* host, int port);
  /* address in network order, port in host order; blocking. On failure the
  ** object is empty and the last socket error is the connect's. */
  bool ConnectAddress(DWORD address, int port);
  /* Connects to up to 10 of host's addresses at once and keeps the first
  ** one in address order that answers within 20 seconds; its address goes
  ** to *address. Every other socket is closed. */
  bool ConnectAny(const char* host, int port, DWORD* address);
  /* Listens on port (0: any; the chosen one is written back) of the given
  ** address, or of every address when none is given. */
  bool Listen(int port, sockaddr_in* address);
  /* The next connection as a new object owned by the caller, or null when
  ** the wait failed, timed out or another thread closed this object. */
  AbSocket* Accept(sockaddr_in* peer, DWORD flags);

  /* Counted WSAStartup: the first call starts Windows Sockets and returns
  ** its result, later ones return 0. */
  static int Startup(DWORD options);
  /* The last matching call stops Windows Sockets and returns WSACleanup's
  ** result; others return the remaining count. -1 without a Startup. */
  static int Cleanup();
  static DWORD GetSocketOptions();
  static void SetSocketOptions(DWORD options);
  /* The IPv4 address (network order) of a dotted address or host name, or
  ** 0xFFFFFFFF. *entry receives gethostbyname's result for a name and null
  ** for a dotted address. */
  static DWORD Resolve(const char* name, hostent** entry);
  static zustring AddressToText(DWORD address);
  /* Copies between a and b, both ways, until: 0 select failed, 1 a's read
  ** failed or b ended after a, 2 b's read failed or a ended after b, 3 idle
  ** beyond the time-out of a or b. A side ends when its peer stops sending
  ** or a send to the other side fails. The counters (optional) grow by the
  ** bytes read from each. */
  static int Relay(AbSocket* a, AbSocket* b, int64_t* countA, int64_t* countB);
  /* 1 or 2 for the first of a and b (optional) with data, else select's
  ** 0 (time-out) or -1. */
  static int WaitReadable(int seconds, AbSocket* a, AbSocket* b);
  /* Pattern "a.b.c.d", "first-last" or "address/mask" (dotted mask). */
  static bool MatchAddress(DWORD address, const char* pattern);
  /* Pattern "n" or "n-m". */
  static bool MatchPort(int port, const char* pattern);

 protected:
  /* Accept with waits of another length; the time-out still counts every
  ** wait as two seconds. For derived classes that must notice a close from
  ** another thread sooner. */
  AbSocket* AcceptPolling(sockaddr_in* peer, DWORD flags, int waitMilliseconds);
  /* Whether Accept gives up after emptyWaits waits without a connection,
  ** each counted as two seconds, under the time-out word flags. */
  static bool AcceptTimedOut(DWORD flags, long emptyWaits);

  DWORD flags_;

 private:
  char buffer_[kBufferSize];
  int32_t bufferedCount_ = 0;

 protected:
  SOCKET handle_;
  int32_t socketType_;
  int64_t bytesReceived_ = 0;
  int64_t bytesSent_ = 0;

 private:
  /* Drops n bytes from the front of the buffered ones. */
  void Consume(int n);
  /* handle_ as seen by a thread blocked in Accept while another closes. */
  SOCKET LoadHandle();
  /* Replaces the held socket (closing it) with a new one. */
  void Hold(SOCKET handle);

  static DWORD startupCount_;
  static DWORD socketOptions_;
};
