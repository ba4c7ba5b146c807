// Serializing a list of 10,000 firewall rules (13 fields each) to a counting stream,
// against a hand-written loop that makes the same stream calls directly.
#include "lib/interface/network_params.h"
#include "ratio_main.h"

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

const FirewallRuleList& Rules() {
  static FirewallRuleList* rules = [] {
    auto* r = new FirewallRuleList;
    for (int i = 0; i < 10000; ++i) {
      FirewallRule* rule = r->rules.AddNew();
      rule->id = i;
      rule->name.Format("rule %d", i);
      rule->ifname = "eth0";
      rule->remoteIp = 0x0100000A + i;
    }
    return r;
  }();
  return *rules;
}

void SerializeGeneric(benchmark::State& state) {
  const FirewallRuleList& rules = Rules();
  CountingStream stream;
  for (auto _ : state) benchmark::DoNotOptimize(rules.Serialize(stream, true));
  state.counters["fields/s"] =
      benchmark::Counter(static_cast<double>(stream.fields), benchmark::Counter::kIsRate);
}

/* The same calls, written out by hand for this one record class. */
bool SerializeByHand(const FirewallRuleList& rules, RecordStream& stream) {
  zustring tag("FIREWALL_RULES");
  if (!stream.BeginRecord(tag)) return false;
  zustring list("RULES");
  if (!stream.BeginList(list)) return false;
  for (int i = 0; i < rules.rules.Count(); ++i) {
    const FirewallRule* r = rules.rules.At(i);
    zustring name;
    name.Format("%04d", i);
    zustring elementTag("FIREWALL_RULE");
    bool ok = stream.BeginElement(elementTag, name) && stream.WriteInt(zustring("ID"), r->id) &&
              stream.WriteString(zustring("NAME"), r->name) &&
              stream.WriteString(zustring("IFNAME"), r->ifname) &&
              stream.WriteInt(zustring("EXPIRATION_TIME"), r->expirationTime) &&
              stream.WriteBool(zustring("ENABLED"), r->enabled) &&
              stream.WriteInt(zustring("PROTOCOL"), r->protocol) &&
              stream.WriteInt(zustring("DIRECTION"), r->direction) &&
              stream.WriteIpAddress(zustring("REMOTE_IP"), r->remoteIp) &&
              stream.WriteIpAddress(zustring("REMOTE_MASK"), r->remoteMask) &&
              stream.WriteInt(zustring("REMOTE_PORT"), r->remotePort) &&
              stream.WriteInt(zustring("REMOTE_PORTHI"), r->remotePorthi) &&
              stream.WriteInt(zustring("LOCAL_PORT"), r->localPort) &&
              stream.WriteInt(zustring("LOCAL_PORTHI"), r->localPorthi) &&
              stream.EndElement(elementTag);
    if (!ok) return false;
  }
  stream.EndList(list);
  stream.EndRecord(tag);
  return true;
}

void SerializeHand(benchmark::State& state) {
  const FirewallRuleList& rules = Rules();
  CountingStream stream;
  for (auto _ : state) benchmark::DoNotOptimize(SerializeByHand(rules, stream));
  state.counters["fields/s"] =
      benchmark::Counter(static_cast<double>(stream.fields), benchmark::Counter::kIsRate);
}

BENCHMARK(SerializeGeneric)->Name("serialize_10000x13/zu")->Unit(benchmark::kMillisecond);
BENCHMARK(SerializeHand)->Name("serialize_10000x13/anchor")->Unit(benchmark::kMillisecond);

}  // namespace

ZU_BENCHMARK_MAIN_WITH_RATIOS()
