// HTTP peers on free loopback ports for tests, stopped and reaped when the
// object goes (tls_peers.h runs the processes): nginx serving files,
// tinyproxy, the upload server (http_upload_server.py, whose parsers are
// Python's and werkzeug's) and a scripted server run by a thread of the
// test for the answers no real server gives. Every wait is bounded. Needs
// Windows Sockets started.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"
#include "support/tls_peers.h"

namespace http_peers {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline bool Accepts(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback::Address("127.0.0.1", port);
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  closesocket(s);
  return ok;
}

/* A server program on a free loopback port, ready once it accepts
** connections. */
class ServerProcess : public tlspeers::Peer {
 public:
  ServerProcess(const std::vector<std::string>& argv, int port, const std::string& log)
      : Peer(argv, log), port_(port) {
    ready_ = tlspeers::WaitFor([&] { return Running() && Accepts(port_); });
  }
  int port() const { return port_; }
  bool ready() const { return ready_; }

 private:
  int port_;
  bool ready_ = false;
};
using Server = std::unique_ptr<ServerProcess>;

/* nginx serving dir/www, over TLS with cert and key; dir/www/private/
** wants Basic authentication of user. */
inline Server Nginx(const std::string& dir, const std::string& user = "u",
                    const std::string& password = "p", const std::string& cert = "",
                    const std::string& key = "") {
  std::filesystem::create_directories(dir + "/www/private");
  std::ofstream(dir + "/htpasswd", std::ios::binary) << user << ":{PLAIN}" << password << "\n";
  int port = tlspeers::FreePort();
  std::string home = UnixPath(dir);  // nginx reads Linux paths
  std::ofstream conf(dir + "/nginx.conf", std::ios::binary);
  conf << "daemon off; master_process off; pid " << home << "/nginx.pid;\nevents {}\nhttp {";
  for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    conf << " " << temp << "_temp_path " << home << "/temp;";
  }
  conf << " server { listen 127.0.0.1:" << port << (cert.empty() ? "; " : " ssl; ssl_certificate ")
       << (cert.empty() ? "" : UnixPath(cert) + "; ssl_certificate_key " + UnixPath(key) + "; ")
       << "root " << home << "/www; location /private/ { auth_basic zu; auth_basic_user_file "
       << home << "/htpasswd; } } }\n";
  conf.close();
  return std::make_unique<ServerProcess>(
      std::vector<std::string>{"nginx", "-p", home, "-c", home + "/nginx.conf", "-e", "stderr"},
      port, dir + "/nginx.log");
}

/* tinyproxy allowing CONNECT to the given ports, with Basic authentication
** of user when one is given. */
inline Server Tinyproxy(const std::string& dir, std::vector<int> connectPorts,
                        const std::string& user = "", const std::string& password = "") {
  int port = tlspeers::FreePort();
  std::ofstream conf(dir + "/tinyproxy.conf", std::ios::binary);
  conf << "Port " << port << "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nLogLevel Error\n"
       << (user.empty() ? "" : "BasicAuth " + user + " " + password + "\n");
  for (int connectPort : connectPorts) conf << "ConnectPort " << connectPort << "\n";
  conf.close();
  return std::make_unique<ServerProcess>(
      std::vector<std::string>{"tinyproxy", "-d", "-c", UnixPath(dir + "/tinyproxy.conf")}, port,
      dir + "/tinyproxy.log");
}

/* The upload server, over TLS with cert and key. */
inline Server UploadServer(const std::string& dir, const std::string& cert = "",
                           const std::string& key = "") {
  int port = tlspeers::FreePort();
  return std::make_unique<ServerProcess>(
      std::vector<std::string>{"/usr/bin/python3", ZU_TEST_SUPPORT_DIR "/http_upload_server.py",
                               std::to_string(port), cert.empty() ? "" : UnixPath(cert),
                               key.empty() ? "" : UnixPath(key)},
      port, dir + "/upload.log");
}

/* A loopback URL; https names localhost, as Wine matches no IP address. */
inline std::string Url(int port, const std::string& path, const std::string& scheme = "http") {
  return scheme + (scheme == "https" ? "://localhost:" : "://127.0.0.1:") + std::to_string(port) +
         path;
}

/* Whether the upload server's answer holds this line (words joined by tabs). */
inline bool HasLine(const std::string& answer, const std::string& line) {
  return ("\n" + answer).find("\n" + line + "\n") != std::string::npos;
}

/* A server run by a thread of the test: for each connection it reads the
** request (the head and a body of the announced Content-Length, for at
** most 5 seconds) and keeps it, waits holdMs, sends answer and closes. */
class ScriptedServer {
 public:
  explicit ScriptedServer(std::string answer, int holdMs = 0) : answer_(std::move(answer)) {
    listener_ = loopback::Listener("127.0.0.1", &port_);
    thread_ = std::thread([this, holdMs] {
      while (!stop_) {
        if (!loopback::Ready(listener_, false, 50)) continue;
        SOCKET s = accept(listener_, nullptr, nullptr);
        std::string request = Read(s);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(request);
        }
        for (auto end = Clock::now() + milliseconds(holdMs); !stop_ && Clock::now() < end;) {
          std::this_thread::sleep_for(milliseconds(10));
        }
        for (size_t sent = 0; sent < answer_.size();) {
          int n = send(s, answer_.data() + sent, static_cast<int>(answer_.size() - sent), 0);
          if (n <= 0) break;
          sent += n;
        }
        closesocket(s);
      }
    });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    closesocket(listener_);
  }
  int Port() const { return port_; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  std::string Read(SOCKET s) {
    std::string request;
    size_t wanted = std::string::npos, headEnd;
    for (auto end = Clock::now() + std::chrono::seconds(5);
         !stop_ && Clock::now() < end && request.size() < wanted;) {
      char buffer[4096];
      int n = loopback::Ready(s, false, 50) ? recv(s, buffer, sizeof buffer, 0) : -2;
      if (n == -2) continue;
      if (n <= 0) break;
      request.append(buffer, n);
      if (wanted == std::string::npos &&
          (headEnd = request.find("\r\n\r\n")) != std::string::npos) {
        size_t length = request.find("Content-Length: ");
        wanted = headEnd + 4 + (length < headEnd ? std::stoul(request.substr(length + 16)) : 0);
      }
    }
    return request;
  }

  std::string answer_;
  int port_ = 0;
  SOCKET listener_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace http_peers
