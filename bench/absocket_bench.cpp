// The socket class on loopback: 1 GiB through AbSocket::Relay against the
// same stream through socat, and ReadLine of 10 million 40-byte lines
// against getline over fdopen of the same kind of socket.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/absocket.h"
#include "ratio_main.h"
#include "support/loopback.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kRelayBytes = int64_t{1} << 30;
constexpr int kLines = 10000000;
constexpr int kLineLength = 40;

loopback::Environment& Sockets() {
  static loopback::Environment environment;
  return environment;
}

/* Writes total bytes of pattern to s in 64 KiB pieces, then stops sending. */
void Produce(SOCKET s, int64_t total, const std::string& pattern) {
  int64_t left = total;
  while (left > 0) {
    int n = static_cast<int>(left < static_cast<int64_t>(pattern.size()) ? left : pattern.size());
    int sent = send(s, pattern.data(), n, 0);
    if (sent <= 0) break;
    left -= sent;
  }
  shutdown(s, SD_SEND);
}

/* Reads s to its end; the byte count. */
int64_t Consume(SOCKET s) {
  std::vector<char> chunk(1 << 16);
  int64_t total = 0;
  int n;
  while ((n = recv(s, chunk.data(), static_cast<int>(chunk.size()), 0)) > 0) total += n;
  return total;
}

void RelayZu(benchmark::State& state) {
  Sockets();
  static const std::string pattern(1 << 16, 'r');
  for (auto _ : state) {
    loopback::Pair left;
    loopback::Pair right;
    AbSocket a(SOCK_STREAM, left.TakeServer());
    AbSocket b(SOCK_STREAM, right.TakeClient());
    Clock::time_point begin = Clock::now();
    std::thread relay([&] { AbSocket::Relay(&a, &b, nullptr, nullptr); });
    std::thread produce(Produce, left.client, kRelayBytes, std::cref(pattern));
    int64_t received = Consume(right.server);
    double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    produce.join();
    closesocket(right.TakeServer());
    relay.join();
    if (received != kRelayBytes) state.SkipWithError("the relay lost bytes");
    state.SetIterationTime(elapsed);
  }
  state.SetBytesProcessed(state.iterations() * kRelayBytes);
}

/* A port on 127.0.0.1 that is free at the moment. */
int FreePort() {
  int port = 0;
  closesocket(loopback::Listener("127.0.0.1", &port));
  return port;
}

void RelaySocat(benchmark::State& state) {
  Sockets();
  static const std::string pattern(1 << 16, 'r');
  for (auto _ : state) {
    int target = 0;
    SOCKET listening = loopback::Listener("127.0.0.1", &target);
    int front = FreePort();
    std::string listen = "TCP-LISTEN:" + std::to_string(front) + ",bind=127.0.0.1,reuseaddr";
    std::string forward = "TCP:127.0.0.1:" + std::to_string(target);
    char* argv[] = {const_cast<char*>("socat"), listen.data(), forward.data(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "socat", nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("socat is not installed");
      closesocket(listening);
      break;
    }
    SOCKET writer = INVALID_SOCKET;
    sockaddr_in address = loopback::Address("127.0.0.1", front);
    for (int attempt = 0; attempt < 500 && writer == INVALID_SOCKET; ++attempt) {
      writer = socket(AF_INET, SOCK_STREAM, 0);
      if (connect(writer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(writer);
        writer = INVALID_SOCKET;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    SOCKET reader = accept(listening, nullptr, nullptr);
    closesocket(listening);
    Clock::time_point begin = Clock::now();
    std::thread produce(Produce, writer, kRelayBytes, std::cref(pattern));
    int64_t received = Consume(reader);
    double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    produce.join();
    closesocket(reader);
    closesocket(writer);
    waitpid(pid, nullptr, 0);
    if (received != kRelayBytes) state.SkipWithError("socat lost bytes");
    state.SetIterationTime(elapsed);
  }
  state.SetBytesProcessed(state.iterations() * kRelayBytes);
}
BENCHMARK(RelayZu)
    ->Name("relay_1GiB/zu")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RelaySocat)
    ->Name("relay_1GiB/anchor")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

/* Sends kLines lines of kLineLength bytes from a thread; its peer socket. */
struct LineSource {
  loopback::Pair pair;
  std::thread writer;

  LineSource() {
    std::string block;
    for (int i = 0; i < 1600; ++i) {
      char line[kLineLength + 1];
      std::snprintf(line, sizeof line, "%039d\n", i);
      block += line;
    }
    writer = std::thread([this, block] {
      int lines = 0;
      while (lines < kLines) {
        int count = kLines - lines < 1600 ? kLines - lines : 1600;
        const char* data = block.data();
        int left = count * kLineLength;
        while (left > 0) {
          int sent = send(pair.client, data, left, 0);
          if (sent <= 0) return;
          data += sent;
          left -= sent;
        }
        lines += count;
      }
      shutdown(pair.client, SD_SEND);
    });
  }
  ~LineSource() { writer.join(); }
};

void ReadLineZu(benchmark::State& state) {
  Sockets();
  for (auto _ : state) {
    LineSource source;
    AbSocket s(SOCK_STREAM, source.pair.TakeServer());
    char line[256];
    int lines = 0;
    while (s.ReadLine(line, sizeof line) > 0) ++lines;
    if (lines != kLines) state.SkipWithError("lines lost");
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}

void ReadLineGetline(benchmark::State& state) {
  Sockets();
  for (auto _ : state) {
    LineSource source;
    FILE* stream = fdopen(dup(static_cast<int>(source.pair.server)), "r");
    char* line = nullptr;
    size_t capacity = 0;
    int lines = 0;
    while (getline(&line, &capacity, stream) > 0) ++lines;
    std::free(line);
    std::fclose(stream);
    if (lines != kLines) state.SkipWithError("lines lost");
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(ReadLineZu)
    ->Name("readline_10M_lines/zu")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ReadLineGetline)
    ->Name("readline_10M_lines/anchor")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

ZU_BENCHMARK_MAIN_WITH_RATIOS()
