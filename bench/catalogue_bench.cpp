// The catalogue: creating every factory tag by tag, and copying a network
// configuration of 1,000 firewall rules and 100 interfaces of 4 addresses
// each, against the same data kept as std::vector of plain structs with
// std::string members.
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/param_classes.h"
#include "ratio_main.h"

namespace {

void CreateEveryTag(benchmark::State& state) {
  std::vector<const char*> tags;
  for (int i = 0; i < FactoryTagCount(); ++i) tags.push_back(FactoryTag(i));
  for (auto _ : state) {
    for (const char* tag : tags) {
      std::unique_ptr<ParamLoader> record(CreateParamByTag(tag));
      benchmark::DoNotOptimize(record.get());
    }
  }
  state.counters["calls/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * tags.size()), benchmark::Counter::kIsRate);
}

/* The anchor: the rows a hand-written configuration would hold. */
struct PlainRule {
  int32_t id = -1;
  std::string name, ifName;
  int32_t expirationTime = 0;
  bool enabled = true;
  int32_t protocol = 0, direction = 0;
  uint32_t remoteIp = 0, remoteMask = 0;
  int32_t remotePort = 0, remotePortHi = 0, localPort = 0, localPortHi = 0;
};
struct PlainAddress {
  uint32_t address = 0, mask = 0;
};
struct PlainIpv4 {
  uint32_t address = 0, mask = 0, gw = 0, dns1 = 0, dns2 = 0, dns3 = 0;
};
struct PlainInterface {
  std::string label, uglyName, prettyName;
  uint8_t mac[6] = {};
  std::string mediaType;
  std::vector<PlainAddress> ips;
  int32_t mtu = 0, type = 1;
  uint32_t defaultIp = 0;
  bool isEnabled = true, isPhysEnabled = true, isFaulty = false;
  int32_t uWeight = 1000, eWeight = 0, inRate = 1000, outRate = 300;
  std::string dunUsername, dunPassword;
  bool useDun = false;
  std::string dunAfterDialCmd;
  bool disableInterfaceTest = false;
  std::vector<PlainIpv4> ifConfig;
  std::string slaveIf;
  int32_t ipProtocol = 1, dnsProtocol = 1;
  std::string runtimeName;
  int32_t runtimeIndex = -1, runtimeState = 0, runtimeCounter = 0;
};
struct PlainNetwork {
  bool enableFw = true, enablePs = true;
  int32_t enableCid = 2;
  bool outputFw = true, enableBalance = false, icmpReply = false, dhcpReply = false;
  std::string defaultExtIf;
  std::vector<PlainRule> fwRules;
  std::vector<PlainInterface> ifList;
  std::string testLinkTarget = "www.google.com";
};

void FillRule(int i, std::string& name, std::string& ifName, int32_t& port) {
  name = "rule " + std::to_string(i);
  ifName = "eth" + std::to_string(i % 4);
  port = 1024 + i;
}

const NetworkParams& Network() {
  static NetworkParams* network = [] {
    auto* n = new NetworkParams;
    for (int i = 0; i < 1000; ++i) {
      FirewallRule* rule = n->fwRules.AddNew();
      std::string name, ifName;
      FillRule(i, name, ifName, rule->localPort);
      rule->name = name.c_str();
      rule->ifname = ifName.c_str();
    }
    for (int i = 0; i < 100; ++i) {
      NetworkInterface* eth = n->ifList.AddNew();
      eth->label.Format("eth%d", i);
      eth->prettyName.Format("Network interface %d", i);
      for (int a = 0; a < 4; ++a) eth->ips.AddNew()->address = 0x0100000a + a;
    }
    return n;
  }();
  return *network;
}

const PlainNetwork& Plain() {
  static PlainNetwork* network = [] {
    auto* n = new PlainNetwork;
    for (int i = 0; i < 1000; ++i) {
      PlainRule& rule = n->fwRules.emplace_back();
      FillRule(i, rule.name, rule.ifName, rule.localPort);
    }
    for (int i = 0; i < 100; ++i) {
      PlainInterface& eth = n->ifList.emplace_back();
      eth.label = "eth" + std::to_string(i);
      eth.prettyName = "Network interface " + std::to_string(i);
      for (int a = 0; a < 4; ++a) eth.ips.push_back({0x0100000au + a, 0});
    }
    return n;
  }();
  return *network;
}

void CopyNetwork(benchmark::State& state) {
  const NetworkParams& source = Network();
  for (auto _ : state) {
    NetworkParams copy;
    copy = source;
    benchmark::DoNotOptimize(copy.fwRules.At(999));
  }
  state.counters["copies/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void CopyPlain(benchmark::State& state) {
  const PlainNetwork& source = Plain();
  for (auto _ : state) {
    PlainNetwork copy;
    copy = source;
    benchmark::DoNotOptimize(copy.fwRules.data());
  }
  state.counters["copies/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(CreateEveryTag)->Name("create_every_tag")->Iterations(100000);
BENCHMARK(CopyNetwork)->Name("copy_network/zu")->Unit(benchmark::kMicrosecond);
BENCHMARK(CopyPlain)->Name("copy_network/anchor")->Unit(benchmark::kMicrosecond);

}  // namespace

ZU_BENCHMARK_MAIN_WITH_RATIOS()
