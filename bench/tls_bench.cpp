// TLS on loopback against one openssl s_server (TLS 1.3, its -WWW file
// server): receiving 1 GiB through SecureConnection::Read next to openssl
// s_client receiving the same file from the same server, and full client
// handshakes (a new SecureConnection each, server verified) next to
// openssl s_time -new on the same server.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

// clang-format off
#include "net/securechannel.h"
// clang-format on
#include "ratio_main.h"
#include "support/temp_dir.h"
#include "support/tls_peers.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kFileBytes = int64_t{1} << 30;
constexpr int kHandshakeSeconds = 5;
const char kRequest[] = "GET /big HTTP/1.0\r\n\r\n";

struct Setup {
  TempDir dir;
  std::unique_ptr<tlspeers::Pki> pki;
  std::unique_ptr<tlspeers::Server> server;

  Setup() {
    setenv("ZU_WIN32_ROOT", (dir / "root").c_str(), 1);
    dir.MakeDir("root");
    dir.Write("root/standin.conf", "crypt32.ca_bundle=\n");
    dir.MakeDir("www");
    // A sparse file: the server reads zeros without a disk behind them.
    // Read once here, so that both sides find it in the page cache (the
    // first reading of a hole fills the cache with zeroed pages).
    int fd = open((dir / "www/big").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, kFileBytes) != 0) std::abort();
    static char chunk[1 << 20];
    while (read(fd, chunk, sizeof chunk) > 0) {
    }
    close(fd);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    pki = std::make_unique<tlspeers::Pki>(dir / "pki");
    pki->TrustRoot();
    int port = tlspeers::FreePort();
    server = std::make_unique<tlspeers::Server>(
        std::vector<std::string>{"openssl", "s_server", "-accept",
                                 "127.0.0.1:" + std::to_string(port), "-cert", pki->Cert("server"),
                                 "-cert_chain", pki->Cert("intermediate"), "-key",
                                 pki->Key("server"), "-tls1_3", "-WWW", "-quiet"},
        port, dir / "server.txt", "", dir / "www", std::chrono::seconds(3600));
    if (!tlspeers::WaitFor([&] { return server->Running(); })) std::abort();
    // -quiet says nothing when ready: wait until a handshake succeeds.
    if (!tlspeers::WaitFor([&] {
          SecureConnection probe;
          return probe.Connect("127.0.0.1", port);
        })) {
      std::abort();
    }
  }
  int port() const { return server->port(); }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void ReceiveZu(benchmark::State& state) {
  Setup& setup = Shared();
  static char buffer[1 << 16];
  for (auto _ : state) {
    Clock::time_point begin = Clock::now();
    SecureConnection connection;
    if (!connection.Connect("127.0.0.1", setup.port()))
      state.SkipWithError(connection.MessageText.c_str());
    connection.SendText(kRequest);
    int64_t total = 0;
    for (int n; (n = connection.Read(buffer, sizeof buffer)) > 0;) total += n;
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
    if (total < kFileBytes) state.SkipWithError("the file arrived short");
  }
  state.SetBytesProcessed(state.iterations() * kFileBytes);
}

void ReceiveAnchor(benchmark::State& state) {
  Setup& setup = Shared();
  for (auto _ : state) {
    Clock::time_point begin = Clock::now();
    tlspeers::Peer client(
        {"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(setup.port()), "-quiet"},
        "/dev/null", ".", std::chrono::seconds(600));
    client.Type(kRequest);
    if (client.Wait(std::chrono::seconds(600)) != 0) state.SkipWithError("s_client failed");
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
  }
  state.SetBytesProcessed(state.iterations() * kFileBytes);
}

/* One iteration is one handshake. */
void HandshakeZu(benchmark::State& state) {
  Setup& setup = Shared();
  for (auto _ : state) {
    Clock::time_point begin = Clock::now();
    SecureConnection connection;
    if (!connection.Connect("127.0.0.1", setup.port()))
      state.SkipWithError(connection.MessageText.c_str());
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
  }
}

/* One run of s_time for kHandshakeSeconds; its time per connection. */
void HandshakeAnchor(benchmark::State& state) {
  Setup& setup = Shared();
  for (auto _ : state) {
    std::string output = setup.dir / "s_time.txt";
    Clock::time_point begin = Clock::now();
    tlspeers::Peer timer(
        {"openssl", "s_time", "-connect", "127.0.0.1:" + std::to_string(setup.port()), "-new",
         "-time", std::to_string(kHandshakeSeconds)},
        output, ".", std::chrono::seconds(600));
    timer.Wait(std::chrono::seconds(600));
    double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    long connections = 0;
    std::string text = FileBytes(output);
    size_t at = text.find(" connections in ");
    if (at != std::string::npos) connections = std::atol(text.c_str() + text.rfind('\n', at) + 1);
    if (connections <= 0) {
      state.SkipWithError("s_time reported no connections");
      break;
    }
    state.SetIterationTime(elapsed / static_cast<double>(connections));
    state.counters["connections"] = static_cast<double>(connections);
  }
}

BENCHMARK(ReceiveZu)
    ->Name("receive_1GiB/zu")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ReceiveAnchor)
    ->Name("receive_1GiB/anchor")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(HandshakeZu)
    ->Name("handshake/zu")
    ->UseManualTime()
    ->MinTime(kHandshakeSeconds)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(HandshakeAnchor)
    ->Name("handshake/anchor")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

ZU_BENCHMARK_MAIN_WITH_RATIOS()
