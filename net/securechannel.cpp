/*
** TLS channels over the security provider's function table: credentials,
** the handshake loop of both sides, record decryption and encryption in
** the channel's fixed buffers, and the secure connection's reads and
** writes. The certificate lookups and the server verification are in
** certificates.cpp.
*/
#include "net/securechannel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

SecurityFunctionTableA SecurityInterface = {};
bool SecurityInterfaceVerbose = false;
bool HexDumpFull = true;

namespace {

/* The entries of the provider's table that are copied (120 bytes in the
** 32-bit original, where each is 4 bytes). */
constexpr size_t kInterfaceEntries = 30;
const char kSecurityDll[] = "Secur32.dll";

/* Recorded when a handshake's first read gets nothing. */
constexpr DWORD kFirstReadFailed = 0x80090399;

/* Request flags of the handshake. */
constexpr ULONG kRequestWithTarget = 0xC11C;
constexpr ULONG kRequestStream = 0x1811C;
constexpr ULONG kRequestClientCertificate = 0x1811E;
constexpr ULONG kExtendedErrorAttribute = 0x4000;

constexpr int kHexDumpShort = 16;
constexpr DWORD kRecvTimeoutOneMinute = 0x81;
constexpr int kConnectionReset = 10054;

const SecHandle kNoHandle = {~ULONG_PTR{0}, ~ULONG_PTR{0}};

bool IsHandle(const SecHandle& handle) {
  return handle.dwLower != kNoHandle.dwLower || handle.dwUpper != kNoHandle.dwUpper;
}

bool Failed(SECURITY_STATUS status) {
  return status < 0;
}

/* The table is loaded when the program starts, before the host's code. */
struct LoadAtStart {
  LoadAtStart() { LoadSecurityInterface(); }
} loadAtStart;

using InitSecurityInterfaceFunction = PSecurityFunctionTableA(SEC_ENTRY*)();

}  // namespace

HMODULE LoadSecurityInterface() {
  HMODULE module = LoadLibraryA(kSecurityDll);
  if (!module) {
    if (SecurityInterfaceVerbose) {
      std::printf("Error 0x%x loading %s.\n", static_cast<unsigned>(GetLastError()), kSecurityDll);
    }
    return nullptr;
  }
  auto initialize = reinterpret_cast<InitSecurityInterfaceFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "InitSecurityInterfaceA")));
  if (!initialize) {
    if (SecurityInterfaceVerbose) {
      std::printf("Error 0x%x reading InitSecurityInterface entry point.\n",
                  static_cast<unsigned>(GetLastError()));
    }
    FreeLibrary(module);
    return nullptr;
  }
  PSecurityFunctionTableA table = initialize();
  if (!table) {
    if (SecurityInterfaceVerbose) {
      std::printf("Error 0x%x reading security interface.\n",
                  static_cast<unsigned>(GetLastError()));
    }
    FreeLibrary(module);
    return nullptr;
  }
  std::memcpy(&SecurityInterface, table, kInterfaceEntries * sizeof(void*));
  return module;
}

void HexDump(DWORD length, const void* bytes) {
  const auto* data = static_cast<const unsigned char*>(bytes);
  for (DWORD offset = 0; offset < length; offset += 16) {
    DWORD count = std::min<DWORD>(16, length - offset);
    char line[96];
    int n = std::snprintf(line, sizeof line, "%4.4x  ", static_cast<unsigned>(offset));
    for (DWORD i = 0; i < count; ++i) {
      n += std::snprintf(line + n, sizeof line - n, "%02x%c", data[offset + i], i == 7 ? ':' : ' ');
    }
    for (DWORD i = count; i < 16; ++i) n += std::snprintf(line + n, sizeof line - n, "   ");
    line[n++] = ' ';
    for (DWORD i = 0; i < count; ++i) {
      unsigned char c = data[offset + i];
      line[n++] = c < 32 || c > 126 ? '.' : static_cast<char>(c);
    }
    line[n] = 0;
    std::printf("%s\n", line);
  }
}

/* ---- Credentials ---- */

SecureCredentials::SecureCredentials(bool isServer) : IsServer(isServer) {}

SecureCredentials::~SecureCredentials() {
  if (IsHandle(CredHandle) && SecurityInterface.FreeCredentialHandle) {
    SecurityInterface.FreeCredentialHandle(&CredHandle);
  }
}

SECURITY_STATUS SecureCredentials::Acquire(PCCERT_CONTEXT certificate) {
  if (certificate) {
    // Only a warning: the acquisition goes on.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    constexpr uint64_t kFifteenDays = 15ULL * 24 * 3600 * 10000000;
    uint64_t later =
        ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) + kFifteenDays;
    FILETIME inFifteenDays = {static_cast<DWORD>(later), static_cast<DWORD>(later >> 32)};
    if (CertVerifyTimeValidity(&now, certificate->pCertInfo) != 0) {
      MessageText = "Certificado est\xe1 expirado ou ainda n\xe3o \xe9 v\xe1lido";
    } else if (CertVerifyTimeValidity(&inFifteenDays, certificate->pCertInfo) != 0) {
      MessageText = "Certificado ir\xe1 expirar em menos de 15 dias";
    }
  }
  SCHANNEL_CRED record = {};
  record.dwVersion = SCHANNEL_CRED_VERSION;
  if (certificate) {
    record.cCreds = 1;
    record.paCred = &certificate;
  }
  if (ExtraAlgorithm && AlgorithmCount < kMaxAlgorithms)
    Algorithms[AlgorithmCount++] = ExtraAlgorithm;
  if (AlgorithmCount) {
    record.cSupportedAlgs = AlgorithmCount;
    record.palgSupportedAlgs = Algorithms;
  }
  record.grbitEnabledProtocols = 0;
  record.dwFlags = IsServer ? 0 : SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;

  if (IsHandle(CredHandle)) {
    SecurityInterface.FreeCredentialHandle(&CredHandle);
    CredHandle = kNoHandle;
  }
  TimeStamp expiry;
  SECURITY_STATUS status = SecurityInterface.AcquireCredentialsHandleA
                               ? SecurityInterface.AcquireCredentialsHandleA(
                                     nullptr, const_cast<char*>(UNISP_NAME_A),
                                     IsServer ? SECPKG_CRED_INBOUND : SECPKG_CRED_OUTBOUND, nullptr,
                                     &record, nullptr, nullptr, &CredHandle, &expiry)
                               : SEC_E_SECPKG_NOT_FOUND;
  if (status != SEC_E_OK) {
    CredHandle = kNoHandle;
    MessageText.Format("Erro %d retornado por AcquireCredentialsHandle", static_cast<int>(status));
    return status;
  }
  return SEC_E_OK;
}

SecHandle* SecureCredentials::EnsureHandle() {
  if (!IsHandle(CredHandle)) Acquire(nullptr);
  return &CredHandle;
}

void SecureCredentials::AddRef() {
  InterlockedIncrement(&RefCount);
}

void SecureCredentials::Release() {
  if (InterlockedDecrement(&RefCount) == 0) delete this;
}

void CredentialsRef::Reset(SecureCredentials* credentials) {
  if (credentials) credentials->AddRef();
  if (credentials_) credentials_->Release();
  credentials_ = credentials;
}

/* ---- Channel ---- */

SecureChannel::SecureChannel() = default;

SecureChannel::~SecureChannel() {
  if (HasContext()) DeleteContext();
}

bool SecureChannel::HasContext() const {
  return IsHandle(Context);
}

bool SecureChannel::InitClient(const char* certificateName, bool machineStore) {
  auto* credentials = new SecureCredentials(false);
  Credentials = credentials;
  if (!certificateName) return true;
  bool found = credentials->FindByName(certificateName, machineStore);
  MessageText = credentials->MessageText;
  return found;
}

bool SecureChannel::InitServer(const char* certificateName, bool machineStore, bool* warning) {
  if (warning) *warning = false;
  auto* credentials = new SecureCredentials(true);
  Credentials = credentials;
  bool found = credentials->FindByName(certificateName, machineStore);
  MessageText = credentials->MessageText;
  if (found && !credentials->MessageText.IsEmpty() && warning) *warning = true;
  return found;
}

bool SecureChannel::Handshake(SOCKET socketHandle, SecureCredentials* credentials) {
  if (credentials) {
    Credentials = credentials;
  } else {
    Credentials = new SecureCredentials(false);
  }
  SecureCredentials* current = Credentials.get();
  if (!Negotiate(nullptr, socketHandle, &Context, current, false, current->IsServer, true)) {
    return false;
  }
  DescribeConnection(MessageText);
  return true;
}

bool SecureChannel::HandshakeOnSocket(AbSocket* socket, SecureCredentials* credentials) {
  return Handshake(socket->GetHandle(), credentials);
}

bool SecureChannel::ServerHandshake(SOCKET socketHandle) {
  if (!Credentials) Credentials = new SecureCredentials(true);
  if (!Negotiate(nullptr, socketHandle, &Context, Credentials.get(), false, true, true))
    return false;
  DescribeConnection(MessageText);
  return true;
}

bool SecureChannel::ClientHandshake(SOCKET socketHandle, const char* serverName) {
  if (!Handshake(socketHandle, nullptr)) return false;
  if (VerifyServerCertificate && !VerifyServer(serverName)) {
    DeleteContext();
    return false;
  }
  return true;
}

bool SecureChannel::DeleteContext() {
  if (SecurityInterface.DeleteSecurityContext) SecurityInterface.DeleteSecurityContext(&Context);
  Context = kNoHandle;
  return true;
}

bool SecureChannel::Negotiate(const char* targetName, SOCKET socketHandle, CtxtHandle* context,
                              SecureCredentials* credentials, bool requestClientCertificate,
                              bool readFirst, bool firstCall) {
  SecHandle* credentialHandle = credentials->EnsureHandle();
  if (!IsHandle(*credentialHandle)) {
    MessageText = credentials->MessageText;
    return false;
  }
  ULONG request = targetName                 ? kRequestWithTarget
                  : requestClientCertificate ? kRequestClientCertificate
                                             : kRequestStream;
  bool receivedAny = false;
  SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
  while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE ||
         status == SEC_I_INCOMPLETE_CREDENTIALS) {
    if (!readFirst || (ReceivedCount != 0 && status != SEC_E_INCOMPLETE_MESSAGE)) {
      readFirst = true;
    } else {
      int received = recv(socketHandle, ReceiveBuffer + ReceivedCount,
                          static_cast<int>(kBufferSize - ReceivedCount), 0);
      if (received <= 0) {
        if (!receivedAny) LastStatus = kFirstReadFailed;
        MessageText.Format("recv retornou erro %d", static_cast<int>(GetLastError()));
        return false;
      }
      if (Verbose) {
        std::printf("\nReceived %d (handshake) bytes from client\n", received);
        HexDump(HexDumpFull ? received : std::min(received, kHexDumpShort),
                ReceiveBuffer + ReceivedCount);
      }
      receivedAny = true;
      ReceivedCount += static_cast<DWORD>(received);
    }

    SecBuffer input[2] = {{ReceivedCount, SECBUFFER_TOKEN, ReceiveBuffer},
                          {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inputDescription = {SECBUFFER_VERSION, 2, input};
    SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outputDescription = {SECBUFFER_VERSION, 1, output};
    ULONG attributes = 0;
    TimeStamp expiry;
    if (credentials->IsServer) {
      status = SecurityInterface.AcceptSecurityContext(
          credentialHandle, firstCall ? nullptr : context, &inputDescription, request,
          SECURITY_NATIVE_DREP, context, &outputDescription, &attributes, &expiry);
    } else {
      status = SecurityInterface.InitializeSecurityContextA(
          credentialHandle, firstCall ? nullptr : context, const_cast<char*>(targetName), request,
          0, SECURITY_NATIVE_DREP, firstCall ? nullptr : &inputDescription, 0, context,
          &outputDescription, &attributes, &expiry);
    }
    LastStatus = static_cast<DWORD>(status);
    if (IsHandle(*context)) firstCall = false;

    if (output[0].pvBuffer) {
      bool deliver = status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
                     (Failed(status) && (attributes & kExtendedErrorAttribute));
      int sent = 1;
      if (deliver && output[0].cbBuffer) {
        sent = send(socketHandle, static_cast<const char*>(output[0].pvBuffer),
                    static_cast<int>(output[0].cbBuffer), 0);
        if (Verbose) {
          std::printf("\nSend %d handshake bytes to client\n",
                      static_cast<int>(output[0].cbBuffer));
          HexDump(
              HexDumpFull ? output[0].cbBuffer : std::min<DWORD>(output[0].cbBuffer, kHexDumpShort),
              output[0].pvBuffer);
        }
      }
      SecurityInterface.FreeContextBuffer(output[0].pvBuffer);
      if (sent < 1) {
        DeleteContext();
        MessageText.Format("SSPInegotiate: erro %d em send", static_cast<int>(GetLastError()));
        return false;
      }
    }

    if (status != SEC_E_INCOMPLETE_MESSAGE) {
      if (input[1].BufferType == SECBUFFER_EXTRA) {
        std::memmove(ReceiveBuffer, ReceiveBuffer + (ReceivedCount - input[1].cbBuffer),
                     input[1].cbBuffer);
        ReceivedCount = input[1].cbBuffer;
      } else if (!Failed(status)) {
        ReceivedCount = 0;
      }
      if (Failed(status)) {
        MessageText.Format("Erro %lx em AcceptSecurityContext",
                           static_cast<unsigned long>(static_cast<DWORD>(status)));
        return false;
      }
    }
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
      readFirst = false;
      status = SEC_I_CONTINUE_NEEDED;
    } else if (status == SEC_E_OK) {
      SecurityInterface.QueryContextAttributesA(context, SECPKG_ATTR_STREAM_SIZES, &StreamSizes);
      return true;
    }
  }
  return false;
}

SECURITY_STATUS SecureChannel::DescribeConnection(zustring& text) {
  text = "Erro lendo par\xe2metros de conex\xe3o";
  SecPkgContext_ConnectionInfo info = {};
  SECURITY_STATUS status =
      SecurityInterface.QueryContextAttributesA(&Context, SECPKG_ATTR_CONNECTION_INFO, &info);
  if (status != SEC_E_OK) return status;
  switch (info.dwProtocol) {
    case 1:
    case 2:
      text = "Protocol: PCT, ";
      break;
    case 4:
    case 8:
      text = "Protocol: SSL2, ";
      break;
    case 16:
    case 32:
      text = "Protocol: SSL3, ";
      break;
    case 64:
    case 128:
      text = "Protocol: TLS1, ";
      break;
    default:
      text.Format("Protocol: 0x%x, ", static_cast<unsigned>(info.dwProtocol));
      break;
  }
  switch (info.aiCipher) {
    case CALG_RC4:
      text += "Cipher: RC4 ";
      break;
    case CALG_3DES:
      text += "Cipher: Triple DES ";
      break;
    case CALG_RC2:
      text += "Cipher: RC2 ";
      break;
    case CALG_DES:
    case 0x660C:  // CALG_CYLINK_MEK
      text += "Cipher: DES ";
      break;
    case CALG_SKIPJACK:
      text += "Cipher: Skipjack ";
      break;
    default:
      text.AppendFormat("Cipher: 0x%x ", static_cast<unsigned>(info.aiCipher));
      break;
  }
  text.AppendFormat("%d bits, ", static_cast<int>(info.dwCipherStrength));
  switch (info.aiHash) {
    case CALG_MD5:
      text += "Hash: MD5 ";
      break;
    case CALG_SHA1:
      text += "Hash: SHA ";
      break;
    default:
      text.AppendFormat("Hash: 0x%x ", static_cast<unsigned>(info.aiHash));
      break;
  }
  text.AppendFormat("%d bits, ", static_cast<int>(info.dwHashStrength));
  switch (info.aiExch) {
    case CALG_RSA_KEYX:
    case 0x2400:  // CALG_RSA_SIGN
      text += "Key exchange: RSA ";
      break;
    case CALG_KEA_KEYX:
      text += "Key exchange: KEA ";
      break;
    case CALG_DH_EPHEM:
      text += "Key exchange: DH Ephemeral ";
      break;
    default:
      text.AppendFormat("Key exchange: 0x%x ", static_cast<unsigned>(info.aiExch));
      break;
  }
  text.AppendFormat("%d bits", static_cast<int>(info.dwExchStrength));
  return SEC_E_OK;
}

SECURITY_STATUS SecureChannel::Decrypt(const char* newBytes, char** data, DWORD* length) {
  DWORD count = length ? *length : 0;
  if (data) *data = nullptr;
  if (length) *length = 0;
  CompactReceive();
  if (count) {
    if (newBytes != ReceiveBuffer + ReceivedCount) {
      if (count > kBufferSize - ReceivedCount) {
        LastStatus = static_cast<DWORD>(SEC_E_BUFFER_TOO_SMALL);
        MessageText.Format("Erro 0x%x em DecryptMessage()", static_cast<unsigned>(LastStatus));
        return SEC_E_BUFFER_TOO_SMALL;
      }
      std::memmove(ReceiveBuffer + ReceivedCount, newBytes, count);
    }
    ReceivedCount += count;
  }
  SECURITY_STATUS status = SEC_E_INCOMPLETE_MESSAGE;
  while (ReceivedCount) {
    SecBuffer buffers[4] = {{ReceivedCount, SECBUFFER_DATA, ReceiveBuffer},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
    status = SecurityInterface.DecryptMessage(&Context, &description, 0, nullptr);
    if (status != SEC_E_OK) break;
    DWORD plain = 0;
    if (buffers[1].BufferType == SECBUFFER_DATA) {
      plain = buffers[1].cbBuffer;
      if (data) *data = static_cast<char*>(buffers[1].pvBuffer);
      if (length) *length = plain;
    }
    if (buffers[2].BufferType == SECBUFFER_EXTRA) {
      ExtraData = static_cast<char*>(buffers[2].pvBuffer);
      ReceivedCount = buffers[2].cbBuffer;
    } else if (buffers[3].BufferType == SECBUFFER_EXTRA) {
      ExtraData = static_cast<char*>(buffers[3].pvBuffer);
      ReceivedCount = buffers[3].cbBuffer;
      if (plain == 0) {
        // A record without application data: go on with what follows it.
        CompactReceive();
        status = SEC_E_INCOMPLETE_MESSAGE;
        continue;
      }
    } else {
      ReceivedCount = 0;
    }
    break;
  }
  LastStatus = static_cast<DWORD>(status);
  if (status != SEC_E_OK && status != SEC_E_INCOMPLETE_MESSAGE) {
    MessageText.Format("Erro 0x%x em DecryptMessage()", static_cast<unsigned>(LastStatus));
  }
  return status;
}

bool SecureChannel::Encrypt(const char* data, char** record, DWORD* length) {
  DWORD count = *length;
  DWORD header = StreamSizes.cbHeader;
  if (static_cast<uint64_t>(header) + count + StreamSizes.cbTrailer > kBufferSize) {
    LastStatus = static_cast<DWORD>(SEC_E_BUFFER_TOO_SMALL);
    return false;
  }
  char* body = SendBuffer + header;
  if (count) std::memmove(body, data, count);
  SecBuffer buffers[4] = {{header, SECBUFFER_STREAM_HEADER, SendBuffer},
                          {count, SECBUFFER_DATA, body},
                          {StreamSizes.cbTrailer, SECBUFFER_STREAM_TRAILER, body + count},
                          {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
  SECURITY_STATUS status = SecurityInterface.EncryptMessage(&Context, 0, &description, 0);
  if (status != SEC_E_OK) {
    LastStatus = static_cast<DWORD>(status);
    return false;
  }
  *record = SendBuffer;
  *length = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
  return true;
}

char* SecureChannel::CompactReceive() {
  if (ExtraData && ReceivedCount) std::memmove(ReceiveBuffer, ExtraData, ReceivedCount);
  ExtraData = nullptr;
  return ReceiveBuffer + ReceivedCount;
}

int SecureChannel::FreeReceiveSpace() {
  return kBufferSize - kReceiveReserve - static_cast<int>(ReceivedCount);
}

/* ---- Connection ---- */

SecureConnection::~SecureConnection() {
  delete Socket;
  Socket = nullptr;
}

bool SecureConnection::Connect(const char* host, int port) {
  delete Socket;
  Socket = new AbSocket(SOCK_STREAM, 0, 0);
  InitClient(nullptr, true);
  Socket->SetFlags(kRecvTimeoutOneMinute);
  if (!Socket->Connect(host, port)) {
    if (Verbose) std::fprintf(stderr, "Erro conectando ao host\n");
    return false;
  }
  if (!ClientHandshake(Socket->GetHandle(), host)) {
    if (Verbose) std::fprintf(stderr, "Erro em handshake SSL: %s", MessageText.c_str());
    Socket->Close(false);
    delete Socket;
    Socket = nullptr;
    return false;
  }
  return true;
}

bool SecureConnection::AttachAndHandshake(AbSocket* socket, const char* serverName) {
  Socket = socket;
  InitClient(nullptr, true);
  if (!ClientHandshake(socket->GetHandle(), serverName)) {
    if (Verbose) std::fprintf(stderr, "Erro em handshake SSL: %s", MessageText.c_str());
    Socket = nullptr;
    return false;
  }
  return true;
}

int SecureConnection::ReadRecord(char** data) {
  DWORD length = 0;
  SECURITY_STATUS status = Decrypt(nullptr, data, &length);
  while (status == SEC_E_INCOMPLETE_MESSAGE) {
    char* at = CompactReceive();
    if (!Socket) {
      WSASetLastError(kConnectionReset);
      return -1;
    }
    // With nothing read ahead, the record's bytes go straight into the
    // free space: a read through the socket's buffer takes 3000 at a time.
    int space = FreeReceiveSpace();
    int received = Socket->HasBufferedData() || space < AbSocket::kBufferSize
                       ? Socket->Read(at, space)
                       : Socket->Recv(at, space, 0);
    if (received <= 0) return received;
    length = static_cast<DWORD>(received);
    status = Decrypt(at, data, &length);
  }
  if (status == SEC_E_OK) return static_cast<int>(length);
  if (status == SEC_I_CONTEXT_EXPIRED) return 0;
  WSASetLastError(kConnectionReset);
  return -1;
}

int SecureConnection::Read(char* buffer, int length) {
  if (PlainCount == 0) {
    int count = ReadRecord(&PlainData);
    if (count <= 0) {
      PlainData = nullptr;
      return count;
    }
    PlainCount = count;
  }
  int n = std::min(std::max(length, 0), PlainCount);
  std::memcpy(buffer, PlainData, static_cast<size_t>(n));
  PlainData += n;
  PlainCount -= n;
  return n;
}

int SecureConnection::ReadLine(char* buffer, int size) {
  if (size < 2) return -1;
  int copied = 0;
  while (copied < size - 1) {
    if (PlainCount == 0) {
      int count = ReadRecord(&PlainData);
      if (count <= 0) {
        PlainData = nullptr;
        buffer[copied] = 0;
        return count < 0 ? -1 : copied;
      }
      PlainCount = count;
    }
    int room = std::min(size - 1 - copied, PlainCount);
    const void* lineFeed = std::memchr(PlainData, '\n', static_cast<size_t>(room));
    int n = lineFeed ? static_cast<int>(static_cast<const char*>(lineFeed) - PlainData) + 1 : room;
    std::memcpy(buffer + copied, PlainData, static_cast<size_t>(n));
    copied += n;
    PlainData += n;
    PlainCount -= n;
    if (lineFeed) break;
  }
  buffer[copied] = 0;
  return copied;
}

int SecureConnection::Send(const char* data, int length) {
  if (!Socket || length < 0) {
    WSASetLastError(kConnectionReset);
    return -1;
  }
  int sent = 0;
  do {
    int piece = std::min(length - sent, kPieceSize);
    char* record = nullptr;
    DWORD recordLength = static_cast<DWORD>(piece);
    if (!Encrypt(data + sent, &record, &recordLength)) return -1;
    if (Socket->Send(record, static_cast<int>(recordLength), 0) != static_cast<int>(recordLength)) {
      MessageText = "Erro enviando dados ao servidor remoto";
      WSASetLastError(kConnectionReset);
      return -1;
    }
    sent += piece;
  } while (sent < length);
  return sent;
}

int SecureConnection::SendText(const char* text) {
  return Send(text, static_cast<int>(std::strlen(text)));
}
