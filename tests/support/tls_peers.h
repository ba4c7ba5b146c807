// TLS test peers on loopback.
//
// tlspeers::Pki makes a small PKI in a directory with OpenSSL's API: a root
// CA, an intermediate, and leaf certificates issued by the intermediate
// (EC P-256 keys, SHA-256 signatures). For each NAME it writes NAME.pem,
// NAME.key (PKCS#8), NAME.der and NAME-chain.pem (leaf then intermediate);
// the PFX files server-empty.pfx (empty password) and server-nopass.pfx (no
// password) hold the server's key, certificate and intermediate.
//
//   Pki pki(dir);                      // everything below, in about 50 ms
//   pki.TrustRoot();                   // the CA into the stand-in's ROOT store
//   pki.Chain("server"), pki.Key("server")
//
// Leaves: "server" (localhost and 127.0.0.1), "expired" (yesterday),
// "expiring" (in 10 days), "otherhost" (other.zu.test), "clientonly"
// (client authentication only), "wildcard" (*.zu.test), "untrusted"
// (self-signed, trusted by nobody).
//
// Peer runs a program (openssl s_server, gnutls-serv, s_client...) with a
// pipe to its stdin and its output in a file; it is killed and reaped when
// the object goes, after a minute at most, and with the test process.
// Relay sits between a client and a server on loopback and lets a test
// see, hold, change or cut the server's TLS records. Every wait is bounded.
#pragma once

// The Windows names first: OpenSSL's headers declare the C library's
// struct hostent, which must not take the Windows one's place.
#include "platform/win32.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tlspeers {

using Clock = std::chrono::steady_clock;

/* Polls condition every 10 ms for at most timeout. */
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  for (Clock::time_point end = Clock::now() + timeout; Clock::now() < end;) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class Pki {
 public:
  explicit Pki(const std::string& directory) : dir_(directory) {
    std::filesystem::create_directories(dir_);
    caKey_ = EVP_EC_gen("P-256");
    ca_ = Make("zu test root", caKey_, nullptr, nullptr, -30, 3650, true, {});
    intermediateKey_ = EVP_EC_gen("P-256");
    intermediate_ =
        Make("zu test intermediate", intermediateKey_, ca_, caKey_, -30, 3650, true, {});
    Write("ca", ca_, caKey_, false);
    Write("intermediate", intermediate_, intermediateKey_, false);
    const char* server = "serverAuth";
    Leaf("server", "localhost", "DNS:localhost,IP:127.0.0.1", server, -1, 365);
    Leaf("expired", "localhost", "DNS:localhost,IP:127.0.0.1", server, -30, -1);
    Leaf("expiring", "localhost", "DNS:localhost,IP:127.0.0.1", server, -1, 10);
    Leaf("otherhost", "other.zu.test", "DNS:other.zu.test", server, -1, 365);
    Leaf("clientonly", "localhost", "DNS:localhost,IP:127.0.0.1", "clientAuth", -1, 365);
    Leaf("wildcard", "wildcard", "DNS:*.zu.test", server, -1, 365);
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* self =
        Make("localhost", key, nullptr, nullptr, -1, 365, false,
             {{NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1"}, {NID_ext_key_usage, server}});
    Write("untrusted", self, key, true);
    X509_free(self);
    EVP_PKEY_free(key);
    Pfx("server", "server-empty.pfx", "");
    Pfx("server", "server-nopass.pfx", nullptr);
  }
  ~Pki() {
    X509_free(ca_);
    X509_free(intermediate_);
    EVP_PKEY_free(caKey_);
    EVP_PKEY_free(intermediateKey_);
  }
  Pki(const Pki&) = delete;
  Pki& operator=(const Pki&) = delete;

  std::string Path(const std::string& file) const { return dir_ + "/" + file; }
  std::string Cert(const std::string& name) const { return Path(name + ".pem"); }
  std::string Key(const std::string& name) const { return Path(name + ".key"); }
  std::string Chain(const std::string& name) const { return Path(name + "-chain.pem"); }
  std::string Der(const std::string& name) const { return ReadFile(Path(name + ".der")); }

  /* Puts the root CA into the current stand-in root's trusted store and
  ** keeps the system's CA bundle out, so only this PKI is trusted. */
  void TrustRoot(bool machine = false) const {
    std::string der = Der("ca");
    HCERTSTORE store = CertOpenStore(
        CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, 0,
        machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
  }

  /* Imports a PFX file into the stores of the current stand-in root, as a
  ** user would: the certificate with its key into the personal store (MY),
  ** the others into the intermediates' store (CA). */
  bool InstallPersonal(const std::string& pfxFile, bool machine = false) const {
    std::string bytes = ReadFile(Path(pfxFile));
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(bytes.size()),
                            reinterpret_cast<BYTE*>(bytes.data())};
    static const WCHAR kEmpty[] = {0};
    HCERTSTORE imported = PFXImportCertStore(&blob, kEmpty, 0);
    if (!imported) imported = PFXImportCertStore(&blob, nullptr, 0);
    if (!imported) return false;
    DWORD location = machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER;
    HCERTSTORE personal =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, 0, location, "MY");
    HCERTSTORE authorities =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, 0, location, "CA");
    bool ok = personal && authorities;
    for (PCCERT_CONTEXT c = nullptr; ok && (c = CertEnumCertificatesInStore(imported, c));) {
      DWORD size = 0;
      bool hasKey =
          CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
      ok = CertAddCertificateContextToStore(hasKey ? personal : authorities, c,
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
      if (!ok) CertFreeCertificateContext(c);
    }
    CertCloseStore(personal, 0);
    CertCloseStore(authorities, 0);
    CertCloseStore(imported, 0);
    return ok;
  }

  /* Writes a PFX of NAME's key, certificate and the intermediate. */
  void Pfx(const std::string& name, const std::string& file, const char* password) const {
    BIO* keyIn = BIO_new_file(Key(name).c_str(), "r");
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyIn, nullptr, nullptr, nullptr);
    BIO_free(keyIn);
    BIO* certIn = BIO_new_file(Cert(name).c_str(), "r");
    X509* cert = PEM_read_bio_X509(certIn, nullptr, nullptr, nullptr);
    BIO_free(certIn);
    STACK_OF(X509)* others = sk_X509_new_null();
    sk_X509_push(others, intermediate_);
    PKCS12* pfx = PKCS12_create(password, name.c_str(), key, cert, others, 0, 0, 0, 0, 0);
    sk_X509_free(others);
    BIO* out = BIO_new_file(Path(file).c_str(), "wb");
    i2d_PKCS12_bio(out, pfx);
    BIO_free(out);
    PKCS12_free(pfx);
    X509_free(cert);
    EVP_PKEY_free(key);
  }

 private:
  using Extensions = std::vector<std::pair<int, const char*>>;

  void Leaf(const std::string& name, const char* commonName, const char* altNames,
            const char* usage, long fromDays, long untilDays) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = Make(commonName, key, intermediate_, intermediateKey_, fromDays, untilDays, false,
                      {{NID_subject_alt_name, altNames}, {NID_ext_key_usage, usage}});
    Write(name, cert, key, true);
    X509_free(cert);
    EVP_PKEY_free(key);
  }

  X509* Make(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
             long fromDays, long untilDays, bool authority, const Extensions& extensions) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert), serial_());
    X509_gmtime_adj(X509_getm_notBefore(cert), fromDays * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(cert), untilDays * 86400L);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("zu tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    X509_set_pubkey(cert, key);
    Extensions all = extensions;
    if (authority) {
      all.push_back({NID_basic_constraints, "critical,CA:TRUE"});
      all.push_back({NID_key_usage, "critical,keyCertSign,cRLSign"});
    } else {
      all.push_back({NID_basic_constraints, "CA:FALSE"});
      all.push_back({NID_key_usage, "critical,digitalSignature"});
    }
    all.push_back({NID_subject_key_identifier, "hash"});
    if (issuer) all.push_back({NID_authority_key_identifier, "keyid"});
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer ? issuer : cert, cert, nullptr, nullptr, 0);
    for (const auto& [nid, value] : all) {
      X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
      X509_add_ext(cert, extension, -1);
      X509_EXTENSION_free(extension);
    }
    X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256());
    return cert;
  }

  void Write(const std::string& name, X509* cert, EVP_PKEY* key, bool withChain) const {
    BIO* out = BIO_new_file(Cert(name).c_str(), "w");
    PEM_write_bio_X509(out, cert);
    BIO_free(out);
    out = BIO_new_file(Key(name).c_str(), "w");
    PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    BIO_free(out);
    out = BIO_new_file(Path(name + ".der").c_str(), "wb");
    i2d_X509_bio(out, cert);
    BIO_free(out);
    if (withChain) {
      out = BIO_new_file(Chain(name).c_str(), "w");
      PEM_write_bio_X509(out, cert);
      PEM_write_bio_X509(out, intermediate_);
      BIO_free(out);
    }
  }

  std::string dir_;
  std::mt19937_64 serial_{std::random_device()()};
  X509* ca_ = nullptr;
  X509* intermediate_ = nullptr;
  EVP_PKEY* caKey_ = nullptr;
  EVP_PKEY* intermediateKey_ = nullptr;
};

/* A port on 127.0.0.1 that was free a moment ago (Windows Sockets must be
** started). */
inline int FreePort() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  int length = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(s);
  return ntohs(address.sin_port);
}

class Peer {
 public:
  /* Starts argv[0] (found on PATH) in directory, with a pipe to its stdin
  ** and stdout and stderr in outputFile; it is killed after lifetime. */
  Peer(const std::vector<std::string>& argv, const std::string& outputFile,
       const std::string& directory = ".", std::chrono::seconds lifetime = std::chrono::seconds(60))
      : output_(outputFile) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    // Emptied before the program starts, so that no earlier output is read
    // as its own.
    int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t parent = getpid();
    pid_ = output < 0 ? -1 : fork();
    if (pid_ == 0) {
      // The child dies with the test, even when the test is killed.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent || dup2(pipeFds[0], 0) < 0 || dup2(output, 1) < 0 ||
          dup2(output, 2) < 0 || chdir(directory.c_str()) != 0) {
        _exit(127);
      }
      execvp(args[0], args.data());
      _exit(127);
    }
    if (output >= 0) close(output);
    close(pipeFds[0]);
    input_ = pipeFds[1];
    // A test blocked on a peer that waits too ends when the peer is killed.
    pid_t pid = pid_;
    watchdog_ = std::thread([this, pid, lifetime] {
      std::unique_lock<std::mutex> hold(lock_);
      if (!done_.wait_for(hold, lifetime, [this] { return finished_; }) && pid > 0)
        kill(pid, SIGKILL);
    });
  }
  ~Peer() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      finished_ = true;
    }
    done_.notify_all();
    watchdog_.join();
    if (input_ >= 0) close(input_);
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status;
    bool gone =
        WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, std::chrono::seconds(5));
    if (!gone) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  /* Writes to the program's stdin. */
  bool Type(const std::string& text) const {
    return input_ >= 0 &&
           write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void CloseInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }
  std::string Output() const { return ReadFile(output_); }
  /* Waits up to 10 s for text to appear in the output. */
  bool WaitForOutput(const std::string& text) const {
    return WaitFor([&] { return Output().find(text) != std::string::npos; });
  }
  /* Waits for the program to exit (10 s at most unless told); its exit
  ** status or -1. */
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  std::string output_;
  std::mutex lock_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread watchdog_;
};

/* A TLS server program listening on a free loopback port: ready once
** readyText appears in its output (no probing connection, which a server
** that reads its stdin would take as a client). */
class Server : public Peer {
 public:
  Server(std::vector<std::string> argv, int port, const std::string& outputFile,
         const std::string& readyText, const std::string& directory = ".",
         std::chrono::seconds lifetime = std::chrono::seconds(60))
      : Peer(argv, outputFile, directory, lifetime), port_(port) {
    // Ready, or gone (a port another process took in the meantime).
    WaitFor([&] { return Output().find(readyText) != std::string::npos || !Running(); });
    ready_ = Output().find(readyText) != std::string::npos && Running();
  }
  int port() const { return port_; }
  bool ready() const { return ready_; }

 private:
  int port_;
  bool ready_ = false;
};

/* openssl s_server with NAME's chain and key; extra options after them;
** it runs in directory (where -WWW finds its files). */
inline std::unique_ptr<Server> OpenSslServer(const Pki& pki, const std::string& name,
                                             std::vector<std::string> extra,
                                             const std::string& outputFile,
                                             const std::string& directory = ".") {
  std::unique_ptr<Server> server;
  for (int attempt = 0; attempt < 3 && !(server && server->ready()); ++attempt) {
    int port = FreePort();
    std::vector<std::string> argv = {
        "openssl", "s_server",     "-accept",     "127.0.0.1:" + std::to_string(port),
        "-cert",   pki.Cert(name), "-cert_chain", pki.Cert("intermediate"),
        "-key",    pki.Key(name),  "-ign_eof"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    server = std::make_unique<Server>(argv, port, outputFile, "ACCEPT", directory);
  }
  return server;
}

/* gnutls-serv echoing what it receives, with NAME's chain and key. Both
** try another port when the one chosen was taken before they bound it. */
inline std::unique_ptr<Server> GnuTlsServer(const Pki& pki, const std::string& name,
                                            std::vector<std::string> extra,
                                            const std::string& outputFile) {
  std::unique_ptr<Server> server;
  for (int attempt = 0; attempt < 3 && !(server && server->ready()); ++attempt) {
    int port = FreePort();
    std::vector<std::string> argv = {"gnutls-serv",        "--echo",         "--port",
                                     std::to_string(port), "--x509certfile", pki.Chain(name),
                                     "--x509keyfile",      pki.Key(name)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    server = std::make_unique<Server>(argv, port, outputFile, "...done");
  }
  return server;
}

/* A relay on a free loopback port to a server's port. The client's bytes
** pass unchanged; the server's pass record by record through tamper, which
** returns the bytes to forward now (possibly none, to hold them, or other
** ones). When tamper sets cut, the relay forwards what it returned and
** closes both sides. One connection. */
class Relay {
 public:
  struct Record {
    unsigned char type;
    std::string bytes;  // header included
  };
  using Tamper = std::function<std::string(const Record&, bool& cut)>;

  Relay(int serverPort, Tamper tamper) : tamper_(std::move(tamper)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    int length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, serverPort] { Run(serverPort); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
    closesocket(listener_);
  }
  int port() const { return port_; }

 private:
  static bool Readable(SOCKET s, int milliseconds) {
    FD_SET set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait = {0, milliseconds * 1000};
    return select(0, &set, nullptr, nullptr, &wait) == 1;
  }

  void Run(int serverPort) {
    SOCKET client = INVALID_SOCKET;
    for (Clock::time_point end = Clock::now() + std::chrono::seconds(20);
         !stop_ && Clock::now() < end;) {
      if (Readable(listener_, 50)) {
        client = accept(listener_, nullptr, nullptr);
        break;
      }
    }
    if (client == INVALID_SOCKET) return;
    SOCKET server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(serverPort));
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::string fromServer;
    bool open = true;
    char chunk[16384];
    for (Clock::time_point end = Clock::now() + std::chrono::seconds(30);
         open && !stop_ && Clock::now() < end;) {
      if (Readable(client, 10)) {
        int n = recv(client, chunk, sizeof chunk, 0);
        if (n <= 0 || send(server, chunk, n, 0) != n) break;
      }
      if (Readable(server, 10)) {
        int n = recv(server, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        fromServer.append(chunk, static_cast<size_t>(n));
        while (open && fromServer.size() >= 5) {
          size_t length = 5 + ((static_cast<unsigned char>(fromServer[3]) << 8) |
                               static_cast<unsigned char>(fromServer[4]));
          if (fromServer.size() < length) break;
          Record record{static_cast<unsigned char>(fromServer[0]), fromServer.substr(0, length)};
          fromServer.erase(0, length);
          bool cut = false;
          std::string out = tamper_(record, cut);
          if (!out.empty() && send(client, out.data(), static_cast<int>(out.size()), 0) <= 0)
            cut = true;
          open = !cut;
        }
      }
    }
    closesocket(server);
    closesocket(client);
  }

  Tamper tamper_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tlspeers
