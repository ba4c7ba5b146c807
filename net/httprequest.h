/*
** HttpRequest: one HTTP/1.0 exchange (GET or POST) with an "http" or
** "https" address, directly or through an HTTP proxy (plain forwarding for
** "http", a CONNECT tunnel for "https"), with optional Basic
** authentication and form fields: a query for GET, a urlencoded body for
** POST, or a multipart body when a file is sent.
**
** Perform leaves the connection (Socket, or Secure for "https") at the
** first byte of the response body; the caller reads the body with
** ReadBody or takes the connection over. Every request closes its
** connection after the response: no keep-alive, no redirects, no chunked
** decoding. Failures give false and a message in ErrorText (Latin-1);
** a status from 200 to 599 other than 200 gives false with ErrorText
** empty and the code in Status.
**
** A request belongs to one thread and is performed once.
*/
#pragma once

#include <cstdint>

#include "misc/zustring.h"
#include "net/absocket.h"
#include "net/formbody.h"

class SecureConnection;

class HttpRequest {
 public:
  /* Method values: 1 is POST, anything else GET. */
  static constexpr uint32_t kGet = 0;
  static constexpr uint32_t kPost = 1;
  /* Status line, header lines and the CONNECT answer are read in lines of
  ** at most this many bytes; a longer header line arrives in pieces. */
  static constexpr int kLineLength = 199;
  /* Credentials of this length or more send no authorization at all. */
  static constexpr unsigned kMaxCredentials = 80;
  /* ResponseHeaders never grows past this: a server that sends more header
  ** bytes gets the same answer as one that stops inside them. */
  static constexpr unsigned kMaxResponseHeaders = 1 << 20;

  HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;
  /* Deletes the fields left, hard-closes and deletes a held Socket and
  ** deletes a held Secure connection. */
  ~HttpRequest();

  /* Credentials become "user:password". */
  void SetCredentials(const char* user, const char* password);
  /* Appends a text field, or with isFile a file to upload (value is its
  ** path, sized now). False with "Arquivo %s inexistente" when nothing
  ** exists at the path; the list is then unchanged. */
  bool AddField(const char* name, const char* value, bool isFile);
  /* The whole exchange; true only for status 200. A POST without fields
  ** sends an empty body. */
  bool Perform(const char* url);
  /* Body bytes from the connection: the count, 0 at the end, or negative. */
  int ReadBody(char* buffer, int length);
  /* One line (see AbSocket::ReadLine) from the connection. */
  int ReadResponseLine(char* buffer, int size);
  /* The connection, which the request no longer holds or closes. */
  AbSocket* TakeSocket();
  SecureConnection* TakeSecureConnection();

  /* Form encoding of every field into target ("a=1&b=x+y"), emptying the
  ** list: space as "+", letters, digits, "-", "." and "_" and control bytes
  ** as they are, every other byte as "%XX". */
  void EncodeFields(zustring& target);
  /* The multipart body's length, preparing each field's part head in its
  ** Name; runs before SendMultipart. */
  uint32_t MultipartLength();
  /* Sends the multipart body, files in pieces of kFilePiece bytes, emptying
  ** the list. False with the reason in ErrorText. */
  bool SendMultipart();
  /* Sends length bytes over the connection; false with ErrorText set. */
  bool SendData(const char* data, int length);

  /* The file piece of the multipart sender. */
  static constexpr int kFilePiece = 3000;
  /* The form encoder's work area. */
  static constexpr int kEncodeArea = 508;

  FormFieldList Fields;
  AbSocket* Socket = nullptr;
  SecureConnection* Secure = nullptr;
  zustring ProxyHost;
  uint32_t ProxyPort = 0;
  zustring Credentials;
  /* Header lines, each ending in CR LF, sent after the User-Agent line. */
  zustring ExtraHeaders;
  bool HasFile = false;
  bool VerifyServerCertificate = true;
  bool IsHttps = false;
  zustring Version;
  zustring ErrorText;
  uint32_t Method = kGet;
  /* The response's header lines as received, with the empty line. */
  zustring ResponseHeaders;
  int32_t Status = -1;
  char Boundary[kBoundarySize];

 private:
  /* Cuts the escaped address into host part, path and port; sets IsHttps. */
  bool ParseAddress(const char* url, zustring& hostPart, zustring& path, int& port);
  bool Connect(const zustring& host, int port);
  bool ConnectThroughProxy(const zustring& host, int port);
  /* Wraps the held Socket in a TLS client connection to host. */
  bool StartTls(const zustring& host);
  /* Reads header lines up to the empty one, keeping them in
  ** ResponseHeaders when keep is set; false with ErrorText when the
  ** connection ends first. */
  bool ReadHeaderLines(bool keep);
};

/* One-call GET (method 0) or POST (1) of url with fields, a null-terminated
** array of "name=value" texts (a text without "=" is a name with an empty
** value). The connection of a successful "http" exchange, positioned at
** the body and owned by the caller, or null. */
AbSocket* OpenUrl(uint32_t method, const char* url, const char* const* fields);
/* The same for an "https" address; null for "http". */
SecureConnection* OpenSecureUrl(uint32_t method, const char* url, const char* const* fields);
