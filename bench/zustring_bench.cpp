// The shared string against std::string: copying, appending, formatting and
// searching.
#include <cstdio>
#include <string>

#include "misc/zustring.h"
#include "ratio_main.h"

namespace {

const std::string kKiB(1024, 'k');

void CopyZu(benchmark::State& state) {
  zustring text(kKiB.c_str());
  for (auto _ : state) {
    zustring copy(text);
    benchmark::DoNotOptimize(copy);
  }
}
void CopyStd(benchmark::State& state) {
  std::string text(kKiB);
  for (auto _ : state) {
    std::string copy(text);
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(CopyZu)->Name("copy_1KiB/zu");
BENCHMARK(CopyStd)->Name("copy_1KiB/anchor");

void AppendZu(benchmark::State& state) {
  for (auto _ : state) {
    zustring text;
    text.Reserve(0, 10);
    for (int i = 0; i < 1000000; ++i) text.Append("x", 1);
    benchmark::DoNotOptimize(text.c_str());
  }
}
void AppendStd(benchmark::State& state) {
  for (auto _ : state) {
    std::string text;
    for (int i = 0; i < 1000000; ++i) text.push_back('x');
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(AppendZu)->Name("append_1M_bytes/zu")->Unit(benchmark::kMillisecond);
BENCHMARK(AppendStd)->Name("append_1M_bytes/anchor")->Unit(benchmark::kMillisecond);

const char* const kNames[] = {"eth0", "lan", "mail.example.org", "x"};

void FormatZu(benchmark::State& state) {
  zustring text;
  int i = 0;
  for (auto _ : state) {
    text.Format("%d:%s", i, kNames[i & 3]);
    benchmark::DoNotOptimize(text.c_str());
    ++i;
  }
}
void FormatStd(benchmark::State& state) {
  std::string text;
  int i = 0;
  for (auto _ : state) {
    char buffer[64];
    int n = std::snprintf(buffer, sizeof buffer, "%d:%s", i, kNames[i & 3]);
    text.assign(buffer, n);
    benchmark::DoNotOptimize(text.data());
    ++i;
  }
}
BENCHMARK(FormatZu)->Name("format_short/zu");
BENCHMARK(FormatStd)->Name("format_short/anchor");

std::string SearchText() {
  std::string text;
  unsigned seed = 1;
  while (text.size() < 65536 - 8) {
    seed = seed * 1103515245 + 12345;
    text += static_cast<char>('a' + (seed >> 16) % 20);
  }
  return text + "needle!";
}

void FindZu(benchmark::State& state) {
  zustring text(SearchText().c_str());
  for (auto _ : state) benchmark::DoNotOptimize(text.Find("needle"));
}
void FindStd(benchmark::State& state) {
  std::string text = SearchText();
  for (auto _ : state) benchmark::DoNotOptimize(text.find("needle"));
}
BENCHMARK(FindZu)->Name("find_in_64KiB/zu")->Unit(benchmark::kMicrosecond);
BENCHMARK(FindStd)->Name("find_in_64KiB/anchor")->Unit(benchmark::kMicrosecond);

}  // namespace

ZU_BENCHMARK_MAIN_WITH_RATIOS()
