/*
** Windows Sockets (ws2_32.cpp): the IPv4 subset the library uses, with the
** Windows names, values, structures and error numbers (WSAGetLastError
** gives 10035, 10054, 10060... from the thread's last error, the same value
** as GetLastError). Included through platform/win32.h only.
**
** The declarations live in namespace ws2, because the C library declares
** POSIX functions and types under several of the same names (fd_set and
** select everywhere; socket, sockaddr and the rest in the stand-in's own
** source); for every other source each Windows name is brought into the
** global namespace by name. The one exception is the set type of select:
** the C library's fd_set is already global, so hosts use the type's other
** Windows name, FD_SET (FD_SET readable; FD_ZERO(&readable); ...).
**
** Behaviour worth knowing on this platform:
** - SOCKET is the POSIX descriptor. Descriptor 0 is never handed out: a
**   process may run with standard input closed, and the library takes a
**   socket handle of 0 for "no socket".
** - FD_SET is the Windows set (a count and an array of up to FD_SETSIZE
**   sockets); select waits with poll(), so any descriptor number works.
**   A failed non-blocking connect is reported in the exception set, never
**   as writable, as on Windows; a socket ready only in a way that the sets
**   asked for do not report does not end the wait.
** - No send raises SIGPIPE; writing to a reset connection fails with 10054,
**   and so does every receive after a reset, until the socket is closed.
** - gethostbyname first consults the hosts file named by the setting
**   ws2_32.hosts in the stand-in's standin.conf (lines of "address name
**   alias...", '#' starts a comment; IPv4 addresses only, in file order,
**   all lines naming the host count), then the system resolver. This lets
**   a test give one name several addresses without touching /etc/hosts.
** - Socket calls fail with 10093 (WSANOTINITIALISED) before WSAStartup.
*/
#pragma once

// The C library's own fd_set, FD_* macros and select arrive with its
// standard headers; take them in first so that the Windows names below win.
#include <sys/select.h>
#include <sys/time.h>
#include <sys/types.h>

#include "platform/posix/types.h"

namespace ws2 {

typedef uintptr_t SOCKET;

struct in_addr {
  ULONG s_addr;
};

struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  short sin_family;
  u_short sin_port;
  in_addr sin_addr;
  char sin_zero[8];
};

struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;
};

/* Argument of WSAIoctl SIO_KEEPALIVE_VALS; times in milliseconds. */
struct tcp_keepalive {
  ULONG onoff;
  ULONG keepalivetime;
  ULONG keepaliveinterval;
};

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

/* 64-bit Windows moves the counts and the pointer in front of the texts. */
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
#if UINTPTR_MAX > 0xFFFFFFFFu
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
#else
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
#endif
};
typedef WSADATA* LPWSADATA;

#undef FD_SETSIZE
#define FD_SETSIZE 64

struct fd_set {
  u_int fd_count;
  SOCKET fd_array[FD_SETSIZE];
};

struct WSAOVERLAPPED;
typedef WSAOVERLAPPED* LPWSAOVERLAPPED;
typedef void (*LPWSAOVERLAPPED_COMPLETION_ROUTINE)(DWORD error, DWORD transferred,
                                                   LPWSAOVERLAPPED overlapped, DWORD flags);

int WSAStartup(WORD version, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int bind(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int connect(SOCKET s, const sockaddr* name, int namelen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int shutdown(SOCKET s, int how);
/* nfds is ignored, as on Windows. A null time-out waits without limit. */
int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
           const ::timeval* timeout);
/* FIONBIO only; u_long arguments of Windows are 32 bits there and here. */
int ioctlsocket(SOCKET s, LONG cmd, ULONG* argp);
int WSAIoctl(SOCKET s, DWORD code, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
             DWORD* bytesReturned, LPWSAOVERLAPPED overlapped,
             LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
/* SO_REUSEADDR and SO_KEEPALIVE (4-byte integers) of level SOL_SOCKET. */
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
/* The result belongs to the calling thread until its next call. */
hostent* gethostbyname(const char* name);
ULONG inet_addr(const char* cp);
/* The result belongs to the calling thread until its next call. */
char* inet_ntoa(in_addr in);

inline u_short htons(u_short v) {
  return static_cast<u_short>((v >> 8) | (v << 8));
}
inline u_short ntohs(u_short v) {
  return htons(v);
}
inline ULONG htonl(ULONG v) {
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}
inline ULONG ntohl(ULONG v) {
  return htonl(v);
}

int __WSAFDIsSet(SOCKET s, fd_set* set);

inline void FdSet(SOCKET s, fd_set* set) {
  for (u_int i = 0; i < set->fd_count; ++i) {
    if (set->fd_array[i] == s) return;
  }
  if (set->fd_count < FD_SETSIZE) set->fd_array[set->fd_count++] = s;
}

}  // namespace ws2

#undef FD_CLR
#undef FD_SET
#undef FD_ZERO
#undef FD_ISSET
#define FD_SET(fd, set) ws2::FdSet(static_cast<ws2::SOCKET>(fd), (set))
#define FD_ZERO(set) ((set)->fd_count = 0)
#define FD_ISSET(fd, set) ws2::__WSAFDIsSet(static_cast<ws2::SOCKET>(fd), (set))

#ifndef h_addr
#define h_addr h_addr_list[0]
#endif

#define MAKEWORD(low, high) \
  static_cast<WORD>(static_cast<BYTE>(low) | (static_cast<WORD>(static_cast<BYTE>(high)) << 8))

#define INVALID_SOCKET (~static_cast<ws2::SOCKET>(0))
#define SOCKET_ERROR (-1)

#define AF_UNSPEC 0
#define AF_INET 2
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define SOCK_RAW 3
#define IPPROTO_IP 0
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define INADDR_ANY static_cast<ULONG>(0x00000000)
#define INADDR_LOOPBACK 0x7f000001
#define INADDR_NONE 0xffffffff
#define SOMAXCONN 0x7fffffff

#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4
#define MSG_WAITALL 0x8

#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

#define SOL_SOCKET 0xffff
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008

#define FIONBIO static_cast<LONG>(0x8004667E)
#define SIO_KEEPALIVE_VALS static_cast<DWORD>(0x98000004)

#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAELOOP 10062
#define WSAENAMETOOLONG 10063
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

// ws2_32.cpp, which also sees the POSIX names, keeps these in the namespace.
#ifndef ZU_WS2_IMPLEMENTATION
using ws2::hostent;
using ws2::in_addr;
using ws2::LPWSADATA;
using ws2::sockaddr;
using ws2::sockaddr_in;
using ws2::SOCKET;
using ws2::tcp_keepalive;
using ws2::WSADATA;

using ws2::accept;
using ws2::bind;
using ws2::closesocket;
using ws2::connect;
using ws2::gethostbyname;
using ws2::getpeername;
using ws2::getsockname;
using ws2::htonl;
using ws2::htons;
using ws2::inet_addr;
using ws2::inet_ntoa;
using ws2::ioctlsocket;
using ws2::listen;
using ws2::ntohl;
using ws2::ntohs;
using ws2::recv;
using ws2::select;
using ws2::send;
using ws2::setsockopt;
using ws2::shutdown;
using ws2::socket;
using ws2::WSACleanup;
using ws2::WSAGetLastError;
using ws2::WSAIoctl;
using ws2::WSASetLastError;
using ws2::WSAStartup;
#endif

typedef ws2::fd_set FD_SET, *PFD_SET, *LPFD_SET;
