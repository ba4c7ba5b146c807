// TLS test peers on loopback, the same on Linux and on Windows, where the
// test runs under Wine and the peers are still Linux programs.
//
// tlspeers::Pki makes a small PKI in a directory with the openssl command
// line (make_pki.sh says what it writes): a root CA, an intermediate, and
// leaf certificates issued by the intermediate, with their keys, chains
// and PFX files.
//
//   Pki pki(dir);                      // about half a second
//   pki.TrustRoot();                   // the CA into the user's ROOT store
//   pki.Chain("server"), pki.Key("server")
//
// Leaves: "server" (localhost and 127.0.0.1), "expired" (yesterday),
// "expiring" (in 10 days), "otherhost" (other.zu.test), "clientonly"
// (client authentication only), "wildcard" (*.zu.test), "untrusted"
// (self-signed, trusted by nobody).
//
// Peer runs a Linux program (openssl s_server, gnutls-serv, s_client...)
// through /bin/sh with a FIFO as its stdin and its output in a file. The
// shell tells the program's process id and, once it ended, its exit status
// through files, which a Windows test reads as well as a Linux one; the
// program is stopped when the object goes, and killed after its lifetime
// even when the test died. Relay sits between a client and a server on
// loopback and lets a test see, hold, change or cut the server's TLS
// records. Every wait is bounded.
#pragma once

#include "platform/win32.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"

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

/* Whether Linux programs can be started: on Linux, and on Windows under
** Wine; else the tests that need them skip with kNoLinuxPeers. */
inline bool LinuxPeers() {
  return !UnixPath(".").empty();
}
constexpr const char* kNoLinuxPeers =
    "needs Linux peers (openssl, gnutls, nginx...), which a Windows test reaches only under Wine";

/* A word for the shell, in single quotes. */
inline std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class Peer {
 public:
  /* Starts argv[0] (found on PATH) in directory, with stdout and stderr in
  ** outputFile (emptied first); it is killed after lifetime. Paths among
  ** the arguments are Linux paths (UnixPath). */
  Peer(const std::vector<std::string>& argv, const std::string& outputFile,
       const std::string& directory = ".",
       std::chrono::seconds lifetime = std::chrono::seconds(120))
      : output_(outputFile) {
    std::ostringstream script;
    std::string output = Quote(UnixPath(outputFile));
    // The program's stdin is a FIFO opened for reading and writing, so
    // that neither side waits for the other to open it. The shell removes
    // it before it tells the status, as Windows cannot (Wine does not show
    // it as a file).
    script << "exec </dev/null >/dev/null 2>&1\n"
           << "PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin; export PATH\n"
           << "cd " << Quote(UnixPath(control_.path())) << " && mkfifo input || exit\n"
           << ": >" << output << "\n"
           << "(cd " << Quote(UnixPath(directory)) << " && exec timeout -k 5 " << lifetime.count();
    for (const std::string& arg : argv) script << " " << Quote(arg);
    script << ") <>input >>" << output << " 2>&1 &\n"
           << "echo $! >pid.new && mv pid.new pid\n"
           << "wait $!\n"
           << "code=$?\n"
           << "rm -f input\n"
           << "echo $code >status.new && mv status.new status\n";
    control_.Write("run.sh", script.str());
    if (!StartShellScript(control_ / "run.sh") || !WaitFor([&] { return Has("pid"); })) return;
    pid_ = std::stoi(control_.Read("pid"));
    input_ = std::fopen((control_ / "input").c_str(), "r+b");
  }
  ~Peer() {
    if (input_) std::fclose(input_);
    if (Running()) {
      // The script removes itself last, so that the control folder is not
      // removed before the shell has read it.
      control_.Write("stop.sh", "exec >/dev/null 2>&1\nkill -TERM " + std::to_string(pid_) +
                                    "\nrm -f \"$0\"\n");
      if (StartShellScript(control_ / "stop.sh"))
        WaitFor([&] { return Has("status") && !Has("stop.sh"); });
    }
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool Running() const { return pid_ > 0 && !Has("status"); }
  /* Writes to the program's stdin. */
  bool Type(const std::string& text) const {
    return input_ && std::fwrite(text.data(), 1, text.size(), input_) == text.size() &&
           std::fflush(input_) == 0;
  }
  std::string Output() const { return FileBytes(output_); }
  /* Waits up to 10 s for text to appear in the output. */
  bool WaitForOutput(const std::string& text) const {
    return WaitFor([&] { return Output().find(text) != std::string::npos; });
  }
  /* Waits for the program to exit (10 s at most unless told); its exit
  ** status (128 + the signal's number when a signal ended it) or -1. */
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    if (pid_ <= 0 || !WaitFor([&] { return Has("status"); }, timeout)) return -1;
    return std::stoi(control_.Read("status"));
  }

 private:
  bool Has(const std::string& name) const { return std::filesystem::exists(control_ / name); }

  TempDir control_;
  int pid_ = -1;
  std::FILE* input_ = nullptr;
  std::string output_;
};

/* Runs a shell script to its end (two minutes at most): its exit status or
** -1, and its output (stdout and stderr) in *output when given. */
inline int Shell(const std::string& script, std::string* output = nullptr) {
  TempDir scratch;
  Peer shell({"sh", "-c", script}, scratch / "output");
  int status = shell.Wait(std::chrono::seconds(120));
  if (output) *output = shell.Output();
  return status;
}

class Pki {
 public:
  explicit Pki(const std::string& directory) : dir_(directory) {
    std::filesystem::create_directories(dir_);
    std::string output;
    made_ = Shell("sh " + Quote(ZU_TEST_SUPPORT_DIR "/make_pki.sh") + " " + Quote(UnixPath(dir_)) +
                      " " + Quote(ZU_TEST_PKI_KEYS),
                  &output) == 0;
    if (!made_) std::printf("make_pki.sh failed:\n%s\n", output.c_str());
  }
  Pki(const Pki&) = delete;
  Pki& operator=(const Pki&) = delete;

  /* Whether everything was made. */
  bool made() const { return made_; }
  std::string Path(const std::string& file) const { return dir_ + "/" + file; }
  std::string Cert(const std::string& name) const { return Path(name + ".pem"); }
  std::string Key(const std::string& name) const { return Path(name + ".key"); }
  std::string Chain(const std::string& name) const { return Path(name + "-chain.pem"); }
  std::string Der(const std::string& name) const { return FileBytes(Path(name + ".der")); }

  /* Puts the root CA into the trusted store (ROOT) of the current user,
  ** or of the machine. */
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

  /* Takes the PKI's certificates out of Windows' user stores, which outlive tests. */
  static void LeaveSystemStores() {
#ifdef _WIN32
    for (const char* name : {"MY", "CA", "ROOT"}) {
      HCERTSTORE store = CertOpenSystemStoreA(0, name);
      for (int i = 0; store && i < 100; ++i) {
        PCCERT_CONTEXT c = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                      CERT_FIND_SUBJECT_STR_A, "zu tests", nullptr);
        if (!c || !CertDeleteCertificateFromStore(c)) break;
      }
      if (store) CertCloseStore(store, 0);
    }
#endif
  }

  /* Imports a PFX file into the stores as an administrator would: its
  ** leaf (the certificate that issued none of the others) with its key
  ** into the personal store (MY), the others into the intermediates' store
  ** (CA). Not by which has a key: Wine gives every certificate of the
  ** file the key's property. */
  bool InstallPersonal(const std::string& pfxFile, bool machine = false) const {
    std::string bytes = FileBytes(Path(pfxFile));
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(bytes.size()),
                            reinterpret_cast<BYTE*>(bytes.data())};
    static const WCHAR kEmpty[] = {0};
    HCERTSTORE imported = PFXImportCertStore(&blob, kEmpty, 0);
    if (!imported) imported = PFXImportCertStore(&blob, nullptr, 0);
    if (!imported) return false;
    std::vector<PCCERT_CONTEXT> all;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(imported, c));)
      all.push_back(CertDuplicateCertificateContext(c));
    auto issuedAnother = [&](PCCERT_CONTEXT issuer) {
      const CERT_NAME_BLOB& name = issuer->pCertInfo->Subject;
      for (PCCERT_CONTEXT c : all) {
        const CERT_NAME_BLOB& other = c->pCertInfo->Issuer;
        if (c != issuer && other.cbData == name.cbData &&
            std::memcmp(other.pbData, name.pbData, name.cbData) == 0) {
          return true;
        }
      }
      return false;
    };
    DWORD location = machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER;
    HCERTSTORE personal =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, 0, location, "MY");
    HCERTSTORE authorities =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, 0, location, "CA");
    bool ok = personal && authorities && !all.empty();
    for (PCCERT_CONTEXT c : all) {
      ok = ok && CertAddCertificateContextToStore(issuedAnother(c) ? authorities : personal, c,
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
      CertFreeCertificateContext(c);
    }
    CertCloseStore(personal, 0);
    CertCloseStore(authorities, 0);
    CertCloseStore(imported, 0);
    return ok;
  }

 private:
  std::string dir_;
  bool made_ = false;
};

/* A port on 127.0.0.1 that was free a moment ago (Windows Sockets must be
** started). */
inline int FreePort() {
  int port = 0;
  closesocket(loopback::Listener("127.0.0.1", &port));
  return port;
}

/* A TLS server program listening on a free loopback port: ready once
** readyText appears in its output (no probing connection, which a server
** that reads its stdin would take as a client). */
class Server : public Peer {
 public:
  Server(std::vector<std::string> argv, int port, const std::string& outputFile,
         const std::string& readyText, const std::string& directory = ".",
         std::chrono::seconds lifetime = std::chrono::seconds(120))
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

/* A Server of argv(port) then extra on a free port, tried on another port
** (three at most) when the one chosen was taken before it was bound. */
inline std::unique_ptr<Server> OnFreePort(
    const std::function<std::vector<std::string>(const std::string& port)>& argv,
    const std::vector<std::string>& extra, const std::string& outputFile,
    const std::string& readyText, const std::string& directory = ".") {
  std::unique_ptr<Server> server;
  for (int attempt = 0; attempt < 3 && !(server && server->ready()); ++attempt) {
    int port = FreePort();
    std::vector<std::string> all = argv(std::to_string(port));
    all.insert(all.end(), extra.begin(), extra.end());
    server = std::make_unique<Server>(all, port, outputFile, readyText, directory);
  }
  return server;
}

/* openssl s_server with NAME's chain and key; extra options after them;
** it runs in directory (where -WWW finds its files). */
inline std::unique_ptr<Server> OpenSslServer(const Pki& pki, const std::string& name,
                                             const std::vector<std::string>& extra,
                                             const std::string& outputFile,
                                             const std::string& directory = ".") {
  return OnFreePort(
      [&](const std::string& port) {
        return std::vector<std::string>{"openssl",     "s_server",
                                        "-accept",     "127.0.0.1:" + port,
                                        "-cert",       UnixPath(pki.Cert(name)),
                                        "-cert_chain", UnixPath(pki.Cert("intermediate")),
                                        "-key",        UnixPath(pki.Key(name)),
                                        "-ign_eof"};
      },
      extra, outputFile, "ACCEPT", directory);
}

/* gnutls-serv echoing what it receives, with NAME's chain and key. */
inline std::unique_ptr<Server> GnuTlsServer(const Pki& pki, const std::string& name,
                                            const std::vector<std::string>& extra,
                                            const std::string& outputFile) {
  return OnFreePort(
      [&](const std::string& port) {
        return std::vector<std::string>{"gnutls-serv",    "--echo",
                                        "--port",         port,
                                        "--x509certfile", UnixPath(pki.Chain(name)),
                                        "--x509keyfile",  UnixPath(pki.Key(name))};
      },
      extra, outputFile, "...done");
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
    listener_ = loopback::Listener("127.0.0.1", &port_);
    thread_ = std::thread([this, serverPort] { Run(serverPort); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
    closesocket(listener_);
  }
  int port() const { return port_; }

 private:
  void Run(int serverPort) {
    SOCKET client = INVALID_SOCKET;  // 20 seconds at most
    for (int wait = 0; wait < 400 && !stop_ && client == INVALID_SOCKET; ++wait) {
      if (loopback::Ready(listener_, false, 50)) client = accept(listener_, nullptr, nullptr);
    }
    if (client == INVALID_SOCKET) return;
    SOCKET server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback::Address("127.0.0.1", serverPort);
    connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::string fromServer;
    bool open = true;
    char chunk[16384];
    for (Clock::time_point end = Clock::now() + std::chrono::seconds(30);
         open && !stop_ && Clock::now() < end;) {
      if (loopback::Ready(client, false, 10)) {
        int n = recv(client, chunk, sizeof chunk, 0);
        if (n <= 0 || send(server, chunk, n, 0) != n) break;
      }
      if (loopback::Ready(server, false, 10)) {
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
