// The buffered file stream against the C library's: copying a 256 MiB file
// through 64 KiB buffers, and a million formatted lines. The files live in
// a temporary directory that is removed at the end of the run.
#include <cstdio>
#include <string>
#include <vector>

#include "misc/mystdio.h"
#include "ratio_main.h"
#include "support/temp_dir.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr size_t kFileSize = 256u * 1024 * 1024;
constexpr int kLines = 1000000;

/* The temporary directory with the 256 MiB source file, made on first use. */
const TempDir& Files() {
  static TempDir* files = [] {
    TempDir* dir = new TempDir;
    std::FILE* out = std::fopen((*dir / "source").c_str(), "wb");
    std::vector<unsigned char> block(1 << 20);
    unsigned seed = 12345;
    for (size_t done = 0; done < kFileSize; done += block.size()) {
      for (unsigned char& byte : block) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<unsigned char>(seed >> 16);
      }
      std::fwrite(block.data(), 1, block.size(), out);
    }
    std::fclose(out);
    return dir;
  }();
  static struct Remover {
    ~Remover() { delete files; }
  } remover;
  return *files;
}

void CopyZu(benchmark::State& state) {
  std::string source = Files() / "source", target = Files() / "copy-zu";
  std::vector<char> chunk(kBufferSize);
  for (auto _ : state) {
    WinFile* in = winFopen(source.c_str(), "r");
    WinFile* out = winFopen(target.c_str(), "w");
    winSetvbuf(in, nullptr, 0, kBufferSize);
    winSetvbuf(out, nullptr, 0, kBufferSize);
    size_t copied = 0;
    for (int n; (n = winFread(chunk.data(), 1, chunk.size(), in)) > 0; copied += n) {
      winFwrite(chunk.data(), 1, n, out);
    }
    winFclose(in);
    winFclose(out);
    if (copied != kFileSize) state.SkipWithError("short copy");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
void CopyStd(benchmark::State& state) {
  std::string source = Files() / "source", target = Files() / "copy-std";
  std::vector<char> chunk(kBufferSize);
  for (auto _ : state) {
    std::FILE* in = std::fopen(source.c_str(), "rb");
    std::FILE* out = std::fopen(target.c_str(), "wb");
    std::setvbuf(in, nullptr, _IOFBF, kBufferSize);
    std::setvbuf(out, nullptr, _IOFBF, kBufferSize);
    size_t copied = 0;
    for (size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0; copied += n) {
      std::fwrite(chunk.data(), 1, n, out);
    }
    std::fclose(in);
    std::fclose(out);
    if (copied != kFileSize) state.SkipWithError("short copy");
  }
  state.SetBytesProcessed(state.iterations() * kFileSize);
}
BENCHMARK(CopyZu)->Name("copy_256MiB/zu")->Unit(benchmark::kMillisecond);
BENCHMARK(CopyStd)->Name("copy_256MiB/anchor")->Unit(benchmark::kMillisecond);

const char* const kNames[] = {"eth0", "lan", "mail.example.org", "x"};

void PrintfZu(benchmark::State& state) {
  std::string target = Files() / "lines-zu";
  for (auto _ : state) {
    WinFile* out = winFopen(target.c_str(), "w");
    winSetvbuf(out, nullptr, 0, kBufferSize);
    for (int i = 0; i < kLines; ++i) {
      winPrintf(out, "%d %s %08x\n", i, kNames[i & 3], static_cast<unsigned>(i) * 2654435761u);
    }
    winFclose(out);
  }
}
void PrintfStd(benchmark::State& state) {
  std::string target = Files() / "lines-std";
  for (auto _ : state) {
    std::FILE* out = std::fopen(target.c_str(), "wb");
    std::setvbuf(out, nullptr, _IOFBF, kBufferSize);
    for (int i = 0; i < kLines; ++i) {
      std::fprintf(out, "%d %s %08x\n", i, kNames[i & 3], static_cast<unsigned>(i) * 2654435761u);
    }
    std::fclose(out);
  }
}
BENCHMARK(PrintfZu)->Name("printf_1M_lines/zu")->Unit(benchmark::kMillisecond);
BENCHMARK(PrintfStd)->Name("printf_1M_lines/anchor")->Unit(benchmark::kMillisecond);

}  // namespace

ZU_BENCHMARK_MAIN_WITH_RATIOS()
