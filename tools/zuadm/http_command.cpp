/*
** zuadm http [-x HOST[:PORT]] [-u USER:PASSWORD] [-k] [-G]
**            [-d NAME=VALUE]... [-F NAME=VALUE | -F NAME=@FILE]...
**            [-o FILE] [-i] URL
**
** GET, or POST when -d or -F give fields (a urlencoded body, or a multipart
** body when a file is sent); -G sends -d fields as the query of a GET. The
** option letters mean what they mean to curl. The body goes to standard
** output or to FILE, with the response's header lines in front of it with
** -i. A FILE is written beside its place and moved there once the whole
** body has arrived, so it holds the old content or the new, never a part.
** When standard error is a terminal and the body is over 1 MiB, a progress
** line shows there.
*/
#include "tools/zuadm/http_command.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "misc/getopt.h"
#include "misc/zustring.h"
#include "net/httprequest.h"

#ifdef _WIN32
#include <fcntl.h>
#endif

namespace {

enum Exit { kOk = 0, kFailed = 1, kUsage = 2 };

const char kUsageText[] =
    "usage: zuadm http [-x HOST[:PORT]] [-u USER:PASSWORD] [-k] [-G] [-d NAME=VALUE]...\n"
    "                  [-F NAME=VALUE | -F NAME=@FILE]... [-o FILE] [-i] URL\n";

constexpr int kDefaultProxyPort = 1080;
constexpr int64_t kProgressThreshold = 1 << 20;
constexpr int kBodyPiece = 256 * 1024;

int Usage(const char* message) {
  std::fprintf(stderr, "zuadm: %s\n%s", message, kUsageText);
  return kUsage;
}

int Fail(const zustring& message) {
  std::fprintf(stderr, "zuadm: %s\n",
               zustring::Latin1ToUtf8(message.c_str(), message.Length()).c_str());
  return kFailed;
}

zustring FromTerminal(const char* text) {
  return zustring::Utf8ToLatin1(text, '?');
}

struct Field {
  zustring name;
  std::string value;  // a file's path keeps the bytes the system knows it by
  bool isFile;
};

struct Options {
  zustring proxyHost;
  int proxyPort = 0;
  zustring user, password;
  bool credentials = false;
  bool insecure = false;
  bool getWithFields = false;
  bool post = false;
  bool multipartOption = false;
  std::vector<Field> fields;
  const char* output = nullptr;
  bool headers = false;
  const char* url = nullptr;
};

/* A port of 1 to 65535 in decimal. */
bool ParsePort(const char* text, int& port) {
  port = 0;
  if (!*text) return false;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9' || (port = port * 10 + (*text - '0')) > 65535) return false;
  }
  return port > 0;
}

/* The options and the URL, or a usage message. */
const char* ParseArguments(int argc, char** argv, Options& o) {
  optind = 1;
  opterr = 0;
  while (optind < argc) {
    int c = getopt(argc, argv, "x:u:kGd:F:o:i");
    if (c == -1) {
      // A word that is not an option is the URL; options may follow it.
      if (optind >= argc) break;
      if (o.url) return "give one URL";
      o.url = argv[optind++];
      continue;
    }
    switch (c) {
      case 'x': {
        const char* text = optarg;
        if (std::strncmp(text, "http://", 7) == 0) text += 7;
        const char* colon = std::strrchr(text, ':');
        std::string host = colon ? std::string(text, colon - text) : std::string(text);
        o.proxyPort = kDefaultProxyPort;
        if (host.empty() || (colon && !ParsePort(colon + 1, o.proxyPort))) {
          return "-x needs HOST or HOST:PORT";
        }
        o.proxyHost = FromTerminal(host.c_str());
        break;
      }
      case 'u': {
        const char* colon = std::strchr(optarg, ':');
        if (!colon) return "-u needs USER:PASSWORD";
        o.user = FromTerminal(std::string(optarg, colon - optarg).c_str());
        o.password = FromTerminal(colon + 1);
        o.credentials = true;
        break;
      }
      case 'k':
        o.insecure = true;
        break;
      case 'G':
        o.getWithFields = true;
        break;
      case 'd':
      case 'F': {
        const char* equals = std::strchr(optarg, '=');
        if (!equals && c == 'F') return "-F needs NAME=VALUE or NAME=@FILE";
        Field field;
        field.name = FromTerminal(
            std::string(optarg, equals ? equals - optarg : std::strlen(optarg)).c_str());
        const char* value = equals ? equals + 1 : "";
        field.isFile = c == 'F' && value[0] == '@';
        field.value =
            field.isFile ? std::string(value + 1) : std::string(FromTerminal(value).c_str());
        if (field.isFile && field.value.empty()) return "-F NAME=@FILE needs a file name";
        o.fields.push_back(field);
        o.multipartOption |= c == 'F';
        break;
      }
      case 'o':
        o.output = optarg;
        break;
      case 'i':
        o.headers = true;
        break;
      default:
        return "unknown option or missing argument";
    }
  }
  if (!o.url) return "no URL";
  if (o.getWithFields && o.multipartOption) return "-G sends -d fields only, not -F";
  o.post = !o.fields.empty() && !o.getWithFields;
  return nullptr;
}

/* Where the body goes: standard output, a device written directly, or a
** regular file written under a temporary name and moved into place by
** Commit. */
class Output {
 public:
  ~Output() {
    if (file_ && file_ != stdout) std::fclose(file_);
    if (!temporary_.empty()) std::remove(temporary_.c_str());
  }

  bool Open(const char* path) {
    if (!path || std::strcmp(path, "-") == 0) {
#ifdef _WIN32
      _setmode(_fileno(stdout), _O_BINARY);
#endif
      file_ = stdout;
      return true;
    }
    path_ = path;
    struct _stat status;
    bool device = _stat(path, &status) == 0 && (status.st_mode & _S_IFMT) != _S_IFREG &&
                  (status.st_mode & _S_IFMT) != _S_IFDIR;
    if (device) {
      file_ = std::fopen(path, "wb");
      return file_ != nullptr;
    }
    std::string name = path_ + ".XXXXXX";
    if (!_mktemp(name.data())) return false;
    file_ = std::fopen(name.c_str(), "wb");
    if (file_) temporary_ = name;
    return file_ != nullptr;
  }

  bool Write(const char* data, size_t n) {
    return std::fwrite(data, 1, n, file_) == n;
  }

  bool Commit() {
    bool ok = std::fflush(file_) == 0;
    if (file_ == stdout) return ok;
    if (!temporary_.empty()) ok = ok && _commit(_fileno(file_)) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (ok && !temporary_.empty()) {
      ok = MoveFileExA(temporary_.c_str(), path_.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      if (ok) temporary_.clear();
    }
    return ok;
  }

 private:
  FILE* file_ = nullptr;
  std::string path_;
  std::string temporary_;
};

/* The Content-Length of the response's header lines, or -1. */
int64_t ContentLength(const zustring& headers) {
  const char* p = headers.c_str();
  const char* end = p + headers.Length();
  static const char kName[] = "content-length:";
  while (p < end) {
    const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (!lineEnd) lineEnd = end;
    if (static_cast<size_t>(lineEnd - p) > sizeof kName - 1 &&
        _strnicmp(p, kName, sizeof kName - 1) == 0) {
      const char* digits = p + sizeof kName - 1;
      while (*digits == ' ' || *digits == '\t') ++digits;
      int64_t value = 0;
      const char* q = digits;
      for (; q < lineEnd && *q >= '0' && *q <= '9' && value < (int64_t{1} << 50); ++q) {
        value = value * 10 + (*q - '0');
      }
      return q > digits ? value : -1;
    }
    p = lineEnd + 1;
  }
  return -1;
}

/* A line on standard error, rewritten in place, when it is a terminal. */
class Progress {
 public:
  explicit Progress(int64_t total) : total_(total), shown_(_isatty(2) != 0) {}

  void Update(int64_t received, bool last) {
    if (!shown_ || (received <= kProgressThreshold && total_ <= kProgressThreshold)) return;
    auto now = Clock::now();
    if (!last && now - lastShown_ < std::chrono::milliseconds(250)) return;
    lastShown_ = now;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double mib = static_cast<double>(received) / (1 << 20);
    std::fprintf(stderr, "\r%.1f MiB received, %.1f MiB/s", mib, seconds > 0 ? mib / seconds : 0.0);
    if (total_ > 0) std::fprintf(stderr, ", %d%%", static_cast<int>(received * 100 / total_));
    std::fputs(last ? "\n" : "   ", stderr);
    std::fflush(stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  int64_t total_;
  bool shown_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastShown_;
};

}  // namespace

int HttpCommand(int argc, char** argv) {
  Options o;
  if (const char* problem = ParseArguments(argc, argv, o)) return Usage(problem);

  AbSocket::Startup(0);
  struct SocketsStop {
    ~SocketsStop() { AbSocket::Cleanup(); }
  } socketsStop;

  HttpRequest request;
  request.Method = o.post ? HttpRequest::kPost : HttpRequest::kGet;
  request.ProxyHost = o.proxyHost;
  request.ProxyPort = static_cast<uint32_t>(o.proxyPort);
  request.VerifyServerCertificate = !o.insecure;
  if (o.credentials) request.SetCredentials(o.user.c_str(), o.password.c_str());
  for (const Field& field : o.fields) {
    if (!request.AddField(field.name.c_str(), field.value.c_str(), field.isFile)) {
      return Fail(request.ErrorText);
    }
  }
  if (!request.Perform(FromTerminal(o.url).c_str())) {
    if (!request.ErrorText.IsEmpty()) return Fail(request.ErrorText);
    zustring message;
    message.Format("the server answered with status %d", request.Status);
    return Fail(message);
  }

  Output output;
  if (!output.Open(o.output)) {
    return Fail(zustring("cannot write ") + o.output);
  }
  if (o.headers &&
      !output.Write(request.ResponseHeaders.c_str(), request.ResponseHeaders.Length())) {
    return Fail(zustring("cannot write ") + (o.output ? o.output : "the output"));
  }
  int64_t expected = ContentLength(request.ResponseHeaders);
  Progress progress(expected);
  std::vector<char> piece(kBodyPiece);
  int64_t received = 0;
  int n;
  while ((n = request.ReadBody(piece.data(), kBodyPiece)) > 0) {
    if (!output.Write(piece.data(), static_cast<size_t>(n))) {
      return Fail(zustring("cannot write ") + (o.output ? o.output : "the output"));
    }
    received += n;
    progress.Update(received, false);
  }
  progress.Update(received, true);
  if (n < 0) {
    return Fail(request.ErrorText.IsEmpty() ? zustring("the connection failed inside the body")
                                            : request.ErrorText);
  }
  if (expected >= 0 && received != expected) {
    zustring message;
    message.Format("the body ended after %lld of %lld bytes", static_cast<long long>(received),
                   static_cast<long long>(expected));
    return Fail(message);
  }
  if (!output.Commit())
    return Fail(zustring("cannot write ") + (o.output ? o.output : "the output"));
  return kOk;
}
