/*
** TLS over the platform's security provider (the Schannel package through
** the SSPI function table, loaded from Secur32.dll at program start).
**
** SecureCredentials: shared, reference-counted credentials, client or
** server side, with or without a certificate (found in the system stores
** or a PFX file, see net/certificates.h).
**
** SecureChannel: one TLS connection over a socket handle: the handshake
** loop for both sides, record decryption and encryption in two fixed
** 20000-byte buffers (no allocation per record), server certificate
** verification and a message text: the reason of the last failure, or
** after a handshake the connection description.
**
** SecureConnection: a channel that owns an AbSocket and reads and writes
** application data for the HTTP client: Connect, AttachAndHandshake, Read,
** ReadLine, Send, SendText.
**
** Texts are Latin-1. Failures are results (false, -1, a status) with the
** reason in MessageText; socket-level failures of a secure connection
** leave 10054 as the last socket error.
*/
#pragma once

#include <cstdint>

#include "misc/zustring.h"
#include "net/absocket.h"
#include "platform/win32.h"

/* The provider's function table (the first 30 entries of the one
** InitSecurityInterfaceA returns), written once at program start. */
extern SecurityFunctionTableA SecurityInterface;
/* Makes LoadSecurityInterface print its failures; off by default. */
extern bool SecurityInterfaceVerbose;
/* Makes handshake traces dump every byte instead of the first 16; on by
** default. */
extern bool HexDumpFull;

/* Loads Secur32.dll and copies its function table into SecurityInterface;
** the module, or 0 when that failed. Runs once at program start. */
HMODULE LoadSecurityInterface();

/* Prints bytes to stdout, 16 per line: offset, hexadecimal, characters. */
void HexDump(DWORD length, const void* bytes);

class SecureCredentials {
 public:
  static constexpr int kMaxAlgorithms = 20;

  explicit SecureCredentials(bool isServer);
  ~SecureCredentials();
  SecureCredentials(const SecureCredentials&) = delete;
  SecureCredentials& operator=(const SecureCredentials&) = delete;

  /* Acquires the credentials handle with certificate (or none): the
  ** provider's status, 0 on success. A certificate that is not valid now,
  ** or will not be in 15 days, leaves a warning in MessageText. */
  SECURITY_STATUS Acquire(PCCERT_CONTEXT certificate);
  /* The handle, acquired without a certificate when not yet acquired. */
  SecHandle* EnsureHandle();

  /* Acquire with the personal store's first certificate whose subject
  ** contains subjectText (without regard to case). */
  bool FindByName(const char* subjectText, bool machineStore);
  /* Acquire with the personal store's certificate of that SHA-1
  ** thumbprint: 40 (or 32) upper-case hexadecimal digits. */
  bool FindByHash(const char* thumbprintHex, bool machineStore);
  /* Acquire with the first certificate of a PFX file (empty or no
  ** password). A missing or empty file fails without a message. */
  bool LoadPfx(const char* path);

  /* Interlocked reference count: Release deletes at 0. */
  void AddRef();
  void Release();

  bool IsServer;
  ALG_ID Algorithms[kMaxAlgorithms] = {};
  DWORD AlgorithmCount = 0;
  /* When not 0, appended to Algorithms at each acquisition. */
  ALG_ID ExtraAlgorithm = 0;
  SecHandle CredHandle = {~ULONG_PTR{0}, ~ULONG_PTR{0}};
  volatile LONG RefCount = 0;
  zustring MessageText;
};

/* A counted reference to credentials: assigning another object releases
** the old one and references the new one. */
class CredentialsRef {
 public:
  CredentialsRef() = default;
  ~CredentialsRef() { Reset(nullptr); }
  CredentialsRef(const CredentialsRef&) = delete;
  CredentialsRef& operator=(const CredentialsRef&) = delete;
  CredentialsRef& operator=(SecureCredentials* credentials) {
    Reset(credentials);
    return *this;
  }
  SecureCredentials* operator->() const { return credentials_; }
  SecureCredentials* get() const { return credentials_; }
  explicit operator bool() const { return credentials_ != nullptr; }

 private:
  void Reset(SecureCredentials* credentials);
  SecureCredentials* credentials_ = nullptr;
};

class SecureChannel {
 public:
  static constexpr int kBufferSize = 20000;
  /* Receive space kept free of socket reads (FreeReceiveSpace). */
  static constexpr int kReceiveReserve = 256;
  /* Plain bytes per record sent: with header and trailer a record always
  ** fits SendBuffer. */
  static constexpr int kPieceSize = 9900;

  SecureChannel();
  virtual ~SecureChannel();
  SecureChannel(const SecureChannel&) = delete;
  SecureChannel& operator=(const SecureChannel&) = delete;

  /* New client credentials; with a name, acquired with that certificate of
  ** the personal store (its message copied here). */
  bool InitClient(const char* certificateName, bool machineStore);
  /* New server credentials with that certificate of the personal store;
  ** *warning is set when it was found but expires within 15 days or is
  ** not valid now (the text is in MessageText). */
  bool InitServer(const char* certificateName, bool machineStore, bool* warning);
  /* Runs the handshake on a connected socket: with null credentials as a
  ** client without a certificate, else on the side of the credentials. On
  ** success MessageText is the connection description. */
  bool Handshake(SOCKET socketHandle, SecureCredentials* credentials);
  bool HandshakeOnSocket(AbSocket* socket, SecureCredentials* credentials);
  /* The server side with the credentials of InitServer. */
  bool ServerHandshake(SOCKET socketHandle);
  /* The client side; then, unless VerifyServerCertificate is cleared, the
  ** server's chain and name are verified (VerifyServer). */
  bool ClientHandshake(SOCKET socketHandle, const char* serverName);
  bool DeleteContext();

  /* Decrypts the next record of the held bytes plus length new ones
  ** (appended unless they were received in place at the write position).
  ** SEC_E_OK gives the plain bytes (in ReceiveBuffer) in *data and
  ** *length; SEC_E_INCOMPLETE_MESSAGE asks for more bytes;
  ** SEC_I_CONTEXT_EXPIRED is the peer's close. */
  SECURITY_STATUS Decrypt(const char* newBytes, char** data, DWORD* length);
  /* Encrypts length bytes (at most the provider's maximum message) into
  ** one record in SendBuffer: *record and *length describe it. */
  bool Encrypt(const char* data, char** record, DWORD* length);
  /* Moves the held bytes to the front; the position to receive at. */
  char* CompactReceive();
  /* Bytes that may be received at that position. */
  int FreeReceiveSpace();
  /* "Protocol: ..., Cipher: ..., Hash: ..., Key exchange: ..." into text;
  ** the provider's status. */
  SECURITY_STATUS DescribeConnection(zustring& text);

  /* Verifies the peer's certificate chain and serverName with the SSL
  ** policy; false with the reason in MessageText. */
  bool VerifyServer(const char* serverName);
  /* 0 when the chain of certificate is trusted, valid now, good for
  ** server authentication and issued to serverName; else the policy's
  ** error code (CERT_E_...) or the failing call's error. */
  DWORD VerifyChain(PCCERT_CONTEXT certificate, const char* serverName, DWORD checkFlags);

  char ReceiveBuffer[kBufferSize];
  char SendBuffer[kBufferSize];
  DWORD ReceivedCount = 0;
  char* ExtraData = nullptr;
  CredentialsRef Credentials;
  CtxtHandle Context = {~ULONG_PTR{0}, ~ULONG_PTR{0}};
  SecPkgContext_StreamSizes StreamSizes = {};
  DWORD LastStatus = 0;
  zustring MessageText;
  bool VerifyServerCertificate = true;
  bool Verbose = false;

 protected:
  bool HasContext() const;
  bool Negotiate(const char* targetName, SOCKET socketHandle, CtxtHandle* context,
                 SecureCredentials* credentials, bool requestClientCertificate, bool readFirst,
                 bool firstCall);
};

class SecureConnection : public SecureChannel {
 public:
  SecureConnection() = default;
  ~SecureConnection() override;

  /* Connects to host:port (one-minute idle time-out) and runs the client
  ** handshake with the host as the server name. */
  bool Connect(const char* host, int port);
  /* Takes socket (already connected, e.g. through a proxy tunnel) and runs
  ** the client handshake; on failure the caller keeps the socket. */
  bool AttachAndHandshake(AbSocket* socket, const char* serverName);

  /* The next record's plain bytes: their count with *data pointing at
  ** them, 0 when the peer closed the TLS connection, or the socket's 0 or
  ** negative result; -1 (last error 10054) on a failure. */
  int ReadRecord(char** data);
  /* Up to length plain bytes; ReadRecord's result when none are left. */
  int Read(char* buffer, int length);
  /* One line (its line feed included) or size - 1 bytes of it, NUL
  ** terminated: the count, what was read when the connection ended, or
  ** -1. */
  int ReadLine(char* buffer, int size);
  /* Sends length bytes in records of up to 9900 plain bytes: the count
  ** sent, or -1. */
  int Send(const char* data, int length);
  int SendText(const char* text);

  AbSocket* Socket = nullptr;
  char* PlainData = nullptr;
  int PlainCount = 0;
};
