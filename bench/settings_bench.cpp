// The settings stores on a key of 1,000 values and on a tree of 1,000 keys
// of 10 values: open-read-close and set-close cycles of RegValueStore and of
// RegKey over the registry stand-in (one cycle per iteration; items/s are
// cycles per second). Anchor: pugixml loading the same Values.xml files
// into a DOM, beside RegValueStore loading them (the "load" cases), from the
// file and from bytes in memory.
#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "ratio_main.h"
#include "settings/regkey.h"
#include "settings/regvaluestore.h"
#include "support/temp_dir.h"

namespace {

const int kBigKeyValues = 1000;
const int kTreeKeys = 1000;
const int kTreeKeyValues = 10;

std::string Numbered(const char* prefix, int i) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%04d", prefix, i);
  return name;
}

/* The value names of a key of n values: even ones text, odd ones integer. */
std::vector<std::string> ValueNames(int n) {
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.push_back(Numbered(i % 2 ? "count" : "text", i));
  return names;
}

/* One directory for the value store's tree and the registry database, made
** and filled once for all benchmarks. */
struct Fixture {
  TempDir dir;
  std::vector<std::string> bigNames = ValueNames(kBigKeyValues);
  std::vector<std::string> treeNames = ValueNames(kTreeKeyValues);

  Fixture() {
    setenv("ZU_WIN32_ROOT", dir.path().c_str(), 1);
    SetStoreBaseDirectory(dir.path().c_str());
    Fill("\\Big", bigNames);
    for (int k = 0; k < kTreeKeys; ++k) Fill(TreeKey(k).c_str(), treeNames);
  }
  static std::string TreeKey(int k) { return "\\Tree\\" + Numbered("key", k); }

  static void Fill(const char* path, const std::vector<std::string>& names) {
    RegValueStore store;
    RegKey key;
    if (!store.Open(path, true) || !key.Open(path, true, true)) std::abort();
    for (size_t i = 0; i < names.size(); ++i) {
      if (i % 2) {
        store.SetInteger(names[i].c_str(), static_cast<uint32_t>(i * 7919));
        key.SetInteger(names[i].c_str(), static_cast<uint32_t>(i * 7919));
      } else {
        std::string text = "setting value " + names[i] + " with <markup> & \"quotes\"";
        store.SetString(names[i].c_str(), text.c_str());
        key.SetString(names[i].c_str(), text.c_str());
      }
    }
  }
  std::string FileOf(const char* path) {
    RegValueStore store;
    store.Path = path + 1;
    return store.KeyFilePath().c_str();
  }
};

Fixture& Data() {
  static Fixture* fixture = new Fixture;
  return *fixture;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

/* The reading half of a cycle: every value of the key. */
template <typename Store>
uint32_t ReadAll(Store& store, const std::vector<std::string>& names) {
  uint32_t sum = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    sum += i % 2 ? store.GetInteger(names[i].c_str()) : store.GetString(names[i].c_str()).Length();
  }
  return sum;
}

template <typename Store>
void SetAll(Store& store, const std::vector<std::string>& names, uint32_t round) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (i % 2) {
      store.SetInteger(names[i].c_str(), round);
    } else {
      store.SetString(names[i].c_str(), "changed setting value");
    }
  }
}

/* ---- Loading: RegValueStore against pugixml on the same files ---- */

void LoadBigZu(benchmark::State& state) {
  Data();
  for (auto _ : state) {
    RegValueStore store;
    if (!store.Open("\\Big", false) || store.Values.Count() != kBigKeyValues) std::abort();
  }
}
void LoadBigPugi(benchmark::State& state) {
  std::string file = Data().FileOf("\\Big");
  for (auto _ : state) {
    pugi::xml_document document;
    if (!document.load_file(file.c_str())) std::abort();
    benchmark::DoNotOptimize(document.first_child());
  }
}
BENCHMARK(LoadBigZu)->Name("load_key_of_1000_values/zu")->Unit(benchmark::kMicrosecond);
BENCHMARK(LoadBigPugi)->Name("load_key_of_1000_values/anchor")->Unit(benchmark::kMicrosecond);

void ParseBigZu(benchmark::State& state) {
  std::string bytes = ReadFile(Data().FileOf("\\Big"));
  zustring text(bytes.c_str(), static_cast<unsigned>(bytes.size()));
  for (auto _ : state) {
    RegValueStore store;
    if (!store.ParseValues(text)) std::abort();
  }
  state.SetBytesProcessed(state.iterations() * bytes.size());
}
/* pugixml at its fastest: parsing a buffer in place (a fresh copy of the
** bytes each time, into memory allocated once). */
void ParseBigPugi(benchmark::State& state) {
  std::string bytes = ReadFile(Data().FileOf("\\Big"));
  std::vector<char> work(bytes.size());
  for (auto _ : state) {
    std::memcpy(work.data(), bytes.data(), bytes.size());
    pugi::xml_document document;
    if (!document.load_buffer_inplace(work.data(), work.size())) std::abort();
    benchmark::DoNotOptimize(document.first_child());
  }
  state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(ParseBigZu)->Name("parse_key_of_1000_values/zu")->Unit(benchmark::kMicrosecond);
BENCHMARK(ParseBigPugi)->Name("parse_key_of_1000_values/anchor")->Unit(benchmark::kMicrosecond);

void LoadTreeZu(benchmark::State& state) {
  Fixture& data = Data();
  std::vector<std::string> keys;
  for (int k = 0; k < kTreeKeys; ++k) keys.push_back(data.TreeKey(k));
  size_t k = 0;
  for (auto _ : state) {
    RegValueStore store;
    if (!store.Open(keys[k++ % kTreeKeys].c_str(), false)) std::abort();
  }
}
void LoadTreePugi(benchmark::State& state) {
  Fixture& data = Data();
  std::vector<std::string> files;
  for (int k = 0; k < kTreeKeys; ++k) files.push_back(data.FileOf(data.TreeKey(k).c_str()));
  size_t k = 0;
  for (auto _ : state) {
    pugi::xml_document document;
    if (!document.load_file(files[k++ % kTreeKeys].c_str())) std::abort();
  }
}
BENCHMARK(LoadTreeZu)->Name("load_tree_key_of_10_values/zu")->Unit(benchmark::kMicrosecond);
BENCHMARK(LoadTreePugi)->Name("load_tree_key_of_10_values/anchor")->Unit(benchmark::kMicrosecond);

/* ---- Cycles of both stores ---- */

template <typename Store>
bool OpenKey(Store& store, const char* path, bool writable) {
  if constexpr (std::is_same_v<Store, RegKey>) {
    return store.Open(path, false, writable);
  } else {
    return store.Open(path, false);
  }
}

template <typename Store>
void ReadCycles(benchmark::State& state, bool tree) {
  Fixture& data = Data();
  const std::vector<std::string>& names = tree ? data.treeNames : data.bigNames;
  size_t k = 0;
  for (auto _ : state) {
    Store store;
    std::string path = tree ? data.TreeKey(k++ % kTreeKeys) : "\\Big";
    if (!OpenKey(store, path.c_str(), false)) std::abort();
    benchmark::DoNotOptimize(ReadAll(store, names));
    store.Close();
  }
  state.SetItemsProcessed(state.iterations());
}

template <typename Store>
void SetCycles(benchmark::State& state, bool tree) {
  Fixture& data = Data();
  const std::vector<std::string>& names = tree ? data.treeNames : data.bigNames;
  size_t k = 0;
  uint32_t round = 0;
  for (auto _ : state) {
    Store store;
    std::string path = tree ? data.TreeKey(k++ % kTreeKeys) : "\\Big";
    if (!OpenKey(store, path.c_str(), true)) std::abort();
    SetAll(store, names, ++round);
    store.Close();
  }
  state.SetItemsProcessed(state.iterations());
}

const bool cyclesRegistered = [] {
  for (bool tree : {false, true}) {
    std::string prefix = tree ? "tree_of_1000_keys/" : "key_of_1000_values/";
    benchmark::RegisterBenchmark((prefix + "open_read_close/valuestore").c_str(),
                                 ReadCycles<RegValueStore>, tree)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((prefix + "open_read_close/regkey").c_str(), ReadCycles<RegKey>,
                                 tree)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((prefix + "set_close/valuestore").c_str(),
                                 SetCycles<RegValueStore>, tree)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((prefix + "set_close/regkey").c_str(), SetCycles<RegKey>, tree)
        ->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

}  // namespace

ZU_BENCHMARK_MAIN_WITH_RATIOS()
