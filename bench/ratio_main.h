// A main() for benchmark programs that compare the library with an anchor:
// benchmarks named "<case>/zu" and "<case>/anchor" are paired, and after the
// run each pair's ratio is printed (anchor time / zu time: above 1 means zu
// is faster).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // The name as given, without suffixes such as "/iterations:3".
      std::string name = run.run_name.function_name;
      size_t slash = name.rfind('/');
      if (slash == std::string::npos || run.run_type != Run::RT_Iteration) continue;
      times_[name.substr(0, slash)][name.substr(slash + 1)] = run.GetAdjustedRealTime();
    }
  }
  void PrintRatios() const {
    std::printf("\n%-40s %14s\n", "case", "anchor/zu");
    for (const auto& [name, sides] : times_) {
      auto zu = sides.find("zu");
      auto anchor = sides.find("anchor");
      if (zu == sides.end() || anchor == sides.end() || zu->second <= 0) continue;
      std::printf("%-40s %13.2fx\n", name.c_str(), anchor->second / zu->second);
    }
  }

 private:
  std::map<std::string, std::map<std::string, double>> times_;
};

#define ZU_BENCHMARK_MAIN_WITH_RATIOS()           \
  int main(int argc, char** argv) {               \
    benchmark::Initialize(&argc, argv);           \
    RatioReporter reporter;                       \
    benchmark::RunSpecifiedBenchmarks(&reporter); \
    reporter.PrintRatios();                       \
    benchmark::Shutdown();                        \
    return 0;                                     \
  }
