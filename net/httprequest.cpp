/*
** The HTTP/1.0 client: address parsing, the request head, connecting
** (directly, through a proxy, or through a CONNECT tunnel for "https"),
** sending the head and body, and reading the status and header lines.
** The body itself is left on the connection for the caller.
*/
#include "net/httprequest.h"

#include <cstdio>
#include <cstring>

#include "misc/fsutil.h"
#include "net/base64.h"
#include "net/securechannel.h"

namespace {

const char kUserAgent[] = "User-Agent: Ardel-HTTPLib/1.0\r\n";
const char kNoConnection[] = "N\xe3o foi possivel estabelecer conex\xe3o com o servidor remoto";
const char kNotHttp[] = "Resposta do servidor remoto n\xe3o \xe9 HTTP";
const char kIncompleteHeaders[] = "Servidor remoto enviou headers incompletos";
const char kServerError[] = "Servidor remoto envio o erro %s";

/* The leading decimal digits of text as a number (0 without any); values
** past the range of an int stop growing. */
int LeadingNumber(const char* text) {
  int value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value < 100000000) value = value * 10 + (*text - '0');
  }
  return value;
}

/* Cuts a status line into its first two words in place; the second, or
** null when the line has fewer than two. */
char* SecondWord(char* line) {
  char* cursor = line;
  if (!SplitToken(&cursor, ' ')) return nullptr;
  return SplitToken(&cursor, ' ');
}

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

HttpRequest::HttpRequest() : Version("HTTP/1.0") {
  MakeBoundary(Boundary);
}

HttpRequest::~HttpRequest() {
  if (Socket) {
    Socket->Close(false);
    delete Socket;
  }
  delete Secure;
}

void HttpRequest::SetCredentials(const char* user, const char* password) {
  Credentials = user;
  Credentials.Append(":", 1);
  Credentials += password;
}

AbSocket* HttpRequest::TakeSocket() {
  AbSocket* socket = Socket;
  Socket = nullptr;
  return socket;
}

SecureConnection* HttpRequest::TakeSecureConnection() {
  SecureConnection* secure = Secure;
  Secure = nullptr;
  return secure;
}

int HttpRequest::ReadBody(char* buffer, int length) {
  if (Secure) {
    int n = Secure->Read(buffer, length);
    if (n < 0) ErrorText = Secure->MessageText;
    return n;
  }
  if (!Socket) return -1;
  // A read of at least a buffer's worth with nothing read ahead goes
  // straight into the caller's buffer: the same bytes in the same order,
  // without a copy and a receive per 3000 bytes.
  if (length >= AbSocket::kBufferSize && !Socket->HasBufferedData()) {
    return Socket->Recv(buffer, length, 0);
  }
  return Socket->Read(buffer, length);
}

int HttpRequest::ReadResponseLine(char* buffer, int size) {
  if (Secure) return Secure->ReadLine(buffer, size);
  return Socket ? Socket->ReadLine(buffer, size) : -1;
}

bool HttpRequest::ParseAddress(const char* url, zustring& hostPart, zustring& path, int& port) {
  char scheme[11];
  char host[256];
  if (std::sscanf(url, "%10[^:]://%255[^/]", scheme, host) != 2) {
    ErrorText = "Url inv\xe1lida";
    return false;
  }
  if (_stricmp(scheme, "https") == 0) {
    IsHttps = true;
    port = 443;
  } else if (_stricmp(scheme, "http") == 0) {
    port = 80;
  } else {
    ErrorText.Format("M\xe9todo %s n\xe3o suportado", scheme);
    return false;
  }
  const char* rest = url + std::strlen(scheme) + 3 + std::strlen(host);
  path = *rest ? rest : "/";
  char* colon = std::strchr(host, ':');
  if (colon) {
    *colon = 0;
    port = LeadingNumber(colon + 1);
  }
  hostPart = host;
  return true;
}

bool HttpRequest::ReadHeaderLines(bool keep) {
  char line[kLineLength + 1];
  unsigned total = 0;
  for (;;) {
    int n = ReadResponseLine(line, sizeof line);
    total += n > 0 ? static_cast<unsigned>(n) : 0;
    if (n <= 0 || total > kMaxResponseHeaders) {
      ErrorText = kIncompleteHeaders;
      return false;
    }
    if (keep) ResponseHeaders.Append(line, n);
    if (IsLineEnd(line[0])) return true;
  }
}

bool HttpRequest::StartTls(const zustring& host) {
  SecureConnection* secure = new SecureConnection;
  secure->VerifyServerCertificate = VerifyServerCertificate;
  if (!secure->AttachAndHandshake(Socket, host.c_str())) {
    ErrorText = secure->MessageText;
    delete secure;
    return false;
  }
  Socket = nullptr;
  Secure = secure;
  return true;
}

bool HttpRequest::ConnectThroughProxy(const zustring& host, int port) {
  Socket = new AbSocket(SOCK_STREAM, 0, 0);
  if (!Socket->Connect(ProxyHost.c_str(), static_cast<int>(ProxyPort))) {
    delete Socket;
    Socket = nullptr;
    ErrorText = kNoConnection;
    return false;
  }
  if (!IsHttps) return true;

  zustring request;
  request.Format("CONNECT %s:%d HTTP/1.0\r\n\r\n", host.c_str(), port);
  Socket->SendText(request.c_str());
  char line[kLineLength + 1];
  bool tunnel = false;
  if (Socket->ReadLine(line, sizeof line) <= 0) {
    ErrorText = kNoConnection;
  } else if (char* second = SecondWord(line); !second) {
    ErrorText = kNotHttp;
  } else if (std::strcmp(second, "200") != 0) {
    ErrorText.Format(kServerError, second);
  } else {
    tunnel = ReadHeaderLines(false) && StartTls(host);
  }
  if (!tunnel) {
    Socket->Close(false);
    delete Socket;
    Socket = nullptr;
  }
  return tunnel;
}

bool HttpRequest::Connect(const zustring& host, int port) {
  if (!ProxyHost.IsEmpty() && !Socket && !Secure) return ConnectThroughProxy(host, port);
  if (IsHttps) {
    if (Secure) return true;
    if (Socket) return StartTls(host);
    SecureConnection* secure = new SecureConnection;
    secure->VerifyServerCertificate = VerifyServerCertificate;
    if (!secure->Connect(host.c_str(), port)) {
      ErrorText = secure->MessageText;
      delete secure;
      return false;
    }
    Secure = secure;
    return true;
  }
  if (!Socket) {
    AbSocket* socket = new AbSocket(SOCK_STREAM, 0, 0);
    if (socket->Connect(host.c_str(), port)) {
      Socket = socket;
    } else {
      delete socket;
    }
  }
  if (!Socket) {
    ErrorText = kNoConnection;
    return false;
  }
  return true;
}

bool HttpRequest::Perform(const char* url) {
  Status = -1;
  ResponseHeaders.Reset();
  if (HasFile && Method == kGet) {
    ErrorText = "Metodo GET n\xe3o pode ser usado para enviar arquivos";
    return false;
  }

  zustring address;
  for (const char* p = url; *p; ++p) {
    if (*p == ' ') {
      address.Append("%20", 3);
    } else {
      address.Append(p, 1);
    }
  }
  zustring hostPart, path;
  int port = 0;
  if (!ParseAddress(address.c_str(), hostPart, path, port)) return false;

  bool post = Method == kPost;
  zustring query;
  if (!post && !Fields.IsEmpty()) {
    query.Append("?", 1);
    EncodeFields(query);
  }
  bool forwarded = !ProxyHost.IsEmpty() && !IsHttps;
  zustring head(post ? "POST " : "GET ");
  head += forwarded ? address : path;
  head += query;
  head.Append(" ", 1);
  head += Version;
  head += "\r\nHost: ";
  head += hostPart;
  head += forwarded ? "\r\nConnection: close\r\nProxy-Connection: close\r\n"
                    : "\r\nConnection: close\r\n";
  head += kUserAgent;
  head += ExtraHeaders;
  if (!Credentials.IsEmpty() && Credentials.Length() < kMaxCredentials) {
    char encoded[Base64EncodedSize(kMaxCredentials)];
    Base64Encode(Credentials.c_str(), Credentials.Length(), encoded);
    head += ProxyHost.IsEmpty() ? "Authorization: Basic " : "Proxy-authorization: basic ";
    head += encoded;
  }
  zustring body;
  if (!post) {
    head.Append("\r\n", 2);
  } else if (HasFile) {
    head.AppendFormat(
        "Content-Type: multipart/form-data; boundary=%s\r\nContent-Length: %d\r\n\r\n", Boundary,
        static_cast<int>(MultipartLength()));
  } else {
    EncodeFields(body);
    head.AppendFormat(
        "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n",
        static_cast<int>(body.Length()));
  }

  if (!Connect(hostPart, port)) return false;
  if (Secure) {
    Secure->SendText(head.c_str());
  } else {
    Socket->SendText(head.c_str());
  }
  if (post && HasFile) {
    if (!SendMultipart()) return false;
  } else if (!body.IsEmpty()) {
    // An empty form body has nothing to send.
    int sent = Secure ? Secure->Send(body.c_str(), static_cast<int>(body.Length()))
                      : Socket->Send(body.c_str(), static_cast<int>(body.Length()), 0);
    if (sent <= 0) {
      ErrorText =
          Secure ? Secure->MessageText : zustring("Conex\xe3o com o host remoto foi perdida");
      return false;
    }
  }

  char line[kLineLength + 1];
  if (ReadResponseLine(line, sizeof line) <= 0) {
    ErrorText = "N\xe3o recebemos resposta do servidor remoto";
    return false;
  }
  char* second = SecondWord(line);
  if (!second) {
    ErrorText = kNotHttp;
    return false;
  }
  Status = LeadingNumber(second);
  if (Status < 200 || Status > 599) {
    ErrorText.Format(kServerError, second);
    return false;
  }
  if (!ReadHeaderLines(true)) return false;
  return Status == 200;
}

/* ---- One-call entry points ---- */

namespace {

/* Runs a request with fields; true when it gave status 200 over the wanted
** scheme. */
bool PerformWithFields(HttpRequest& request, uint32_t method, const char* url,
                       const char* const* fields, bool https) {
  request.Method = method;
  for (; fields && *fields; ++fields) {
    const char* text = *fields;
    const char* equals = std::strchr(text, '=');
    zustring name;
    if (equals != text) name = equals ? zustring(text, static_cast<unsigned>(equals - text)) : text;
    request.AddField(name.c_str(), equals ? equals + 1 : "", false);
  }
  return request.Perform(url) && request.IsHttps == https;
}

}  // namespace

AbSocket* OpenUrl(uint32_t method, const char* url, const char* const* fields) {
  HttpRequest request;
  return PerformWithFields(request, method, url, fields, false) ? request.TakeSocket() : nullptr;
}

SecureConnection* OpenSecureUrl(uint32_t method, const char* url, const char* const* fields) {
  HttpRequest request;
  return PerformWithFields(request, method, url, fields, true) ? request.TakeSecureConnection()
                                                               : nullptr;
}
