// Serializing a list of 10,000 records of 13 fields to a counting stream,
// against a hand-written loop that makes the same stream calls directly.
#include "paramloader/paramloader.h"
#include "ratio_main.h"

#define ZU_FIELDS_BenchRule(F)              \
  F(INT, "ID", id, -1)                      \
  F(STRING, "NAME", name)                   \
  F(STRING, "IFNAME", ifName)               \
  F(INT, "EXPIRATION_TIME", expirationTime) \
  F(BOOL, "ENABLED", enabled, true)         \
  F(INT, "PROTOCOL", protocol)              \
  F(INT, "DIRECTION", direction)            \
  F(IPADDR, "REMOTE_IP", remoteIp)          \
  F(IPADDR, "REMOTE_MASK", remoteMask)      \
  F(INT, "REMOTE_PORT", remotePort)         \
  F(INT, "REMOTE_PORTHI", remotePortHi)     \
  F(INT, "LOCAL_PORT", localPort)           \
  F(INT, "LOCAL_PORTHI", localPortHi)

class BenchRule : public Record<BenchRule, ParamLoader> {
 public:
  ZU_RECORD(BenchRule, "BENCH_RULE")
};

#define ZU_FIELDS_BenchRules(F) F(LIST, "RULES", rules, BenchRule)

class BenchRules : public Record<BenchRules, ParamLoader> {
 public:
  ZU_RECORD(BenchRules, "BENCH_RULES")
};

ZU_RECORD_TABLE(BenchRule)
ZU_RECORD_TABLE(BenchRules)

namespace {

class CountingStream : public RecordStream {
 public:
  long fields = 0;
  long calls = 0;
  bool BeginRecord(const zustring&) override { return Call(); }
  bool EndRecord(const zustring&) override { return Call(); }
  bool BeginList(const zustring&) override { return Call(); }
  bool EndList(const zustring&) override { return Call(); }
  bool WriteInt(const zustring&, int32_t) override { return Field(); }
  bool WriteBool(const zustring&, bool) override { return Field(); }
  bool WriteString(const zustring&, const zustring&) override { return Field(); }
  bool WriteIpAddress(const zustring&, uint32_t) override { return Field(); }
  bool WriteMacAddress(const zustring&, const MacAddress&) override { return Field(); }
  bool BeginElement(const zustring&, const zustring&) override { return Call(); }
  bool EndElement(const zustring&) override { return Call(); }
  void EncodeSecret(zustring&) override {}

 private:
  bool Call() { return ++calls > 0; }
  bool Field() {
    ++fields;
    return Call();
  }
};

const BenchRules& Rules() {
  static BenchRules* rules = [] {
    auto* r = new BenchRules;
    for (int i = 0; i < 10000; ++i) {
      BenchRule* rule = r->rules.AddNew();
      rule->id = i;
      rule->name.Format("rule %d", i);
      rule->ifName = "eth0";
      rule->remoteIp = 0x0100000A + i;
    }
    return r;
  }();
  return *rules;
}

void SerializeGeneric(benchmark::State& state) {
  const BenchRules& rules = Rules();
  CountingStream stream;
  for (auto _ : state) benchmark::DoNotOptimize(rules.Serialize(stream, true));
  state.counters["fields/s"] =
      benchmark::Counter(static_cast<double>(stream.fields), benchmark::Counter::kIsRate);
}

/* The same calls, written out by hand for this one record class. */
bool SerializeByHand(const BenchRules& rules, RecordStream& stream) {
  zustring tag("BENCH_RULES");
  if (!stream.BeginRecord(tag)) return false;
  zustring list("RULES");
  if (!stream.BeginList(list)) return false;
  for (int i = 0; i < rules.rules.Count(); ++i) {
    const BenchRule* r = rules.rules.At(i);
    zustring name;
    name.Format("%04d", i);
    zustring elementTag("BENCH_RULE");
    bool ok = stream.BeginElement(elementTag, name) && stream.WriteInt(zustring("ID"), r->id) &&
              stream.WriteString(zustring("NAME"), r->name) &&
              stream.WriteString(zustring("IFNAME"), r->ifName) &&
              stream.WriteInt(zustring("EXPIRATION_TIME"), r->expirationTime) &&
              stream.WriteBool(zustring("ENABLED"), r->enabled) &&
              stream.WriteInt(zustring("PROTOCOL"), r->protocol) &&
              stream.WriteInt(zustring("DIRECTION"), r->direction) &&
              stream.WriteIpAddress(zustring("REMOTE_IP"), r->remoteIp) &&
              stream.WriteIpAddress(zustring("REMOTE_MASK"), r->remoteMask) &&
              stream.WriteInt(zustring("REMOTE_PORT"), r->remotePort) &&
              stream.WriteInt(zustring("REMOTE_PORTHI"), r->remotePortHi) &&
              stream.WriteInt(zustring("LOCAL_PORT"), r->localPort) &&
              stream.WriteInt(zustring("LOCAL_PORTHI"), r->localPortHi) &&
              stream.EndElement(elementTag);
    if (!ok) return false;
  }
  stream.EndList(list);
  stream.EndRecord(tag);
  return true;
}

void SerializeHand(benchmark::State& state) {
  const BenchRules& rules = Rules();
  CountingStream stream;
  for (auto _ : state) benchmark::DoNotOptimize(SerializeByHand(rules, stream));
  state.counters["fields/s"] =
      benchmark::Counter(static_cast<double>(stream.fields), benchmark::Counter::kIsRate);
}

BENCHMARK(SerializeGeneric)->Name("serialize_10000x13/zu")->Unit(benchmark::kMillisecond);
BENCHMARK(SerializeHand)->Name("serialize_10000x13/anchor")->Unit(benchmark::kMillisecond);

}  // namespace

ZU_BENCHMARK_MAIN_WITH_RATIOS()
