/*
** Network records: the global network settings, interfaces and their
** addresses, named addresses, firewall rules, link balancing and bandwidth
** control.
**
** A new class of this area is declared here, its fields as in
** paramloader/paramloader.h, and gets one line in network_params.def, which
** gives it its field table, its place in the factory and in the catalogue
** tests (catalogue.def says which of the three kinds of line to use).
*/
#pragma once

#include "lib/interface/service_params.h"

#define ZU_FIELDS_Ipv4Config(F) \
  F(IPADDR, "ADDRESS", address) \
  F(IPADDR, "MASK", mask)       \
  F(IPADDR, "GW", gw)           \
  F(IPADDR, "DNS1", dns1)       \
  F(IPADDR, "DNS2", dns2)       \
  F(IPADDR, "DNS3", dns3)

class Ipv4Config : public Record<Ipv4Config, ParamLoader> {
 public:
  ZU_RECORD(Ipv4Config, "IPV4_IFACE_CONFIG")
};

#define ZU_FIELDS_NetworkInterface(F)                     \
  F(KEY, "LABEL", label)                                  \
  F(STRING, "UGLY_NAME", uglyName)                        \
  F(STRING, "PRETTY_NAME", prettyName)                    \
  F(MAC, "MAC", mac)                                      \
  F(STRING, "MEDIA_TYPE", mediaType)                      \
  F(LIST, "IPS", ips, NetworkAndMask)                     \
  F(INT, "MTU", mtu)                                      \
  F(INT, "TYPE", type, 1)                                 \
  F(IPADDR, "DEFAULT_IP", defaultIp)                      \
  F(BOOL, "ISENABLED", isenabled, true)                   \
  F(BOOL, "IS_PHYS_ENABLED", isPhysEnabled, true)         \
  F(BOOL, "ISFAULTY", isfaulty)                           \
  F(INT, "UWEIGHT", uweight, 1000)                        \
  F(INT, "EWEIGHT", eweight)                              \
  F(INT, "INRATE", inrate, 1000)                          \
  F(INT, "OUTRATE", outrate, 300)                         \
  F(STRING, "DUN_USERNAME", dunUsername)                  \
  F(PASSWORD, "DUN_PASSWORD", dunPassword)                \
  F(BOOL, "USE_DUN", useDun)                              \
  F(STRING, "DUN_AFTERDIALCMD", dunAfterdialcmd)          \
  F(BOOL, "DISABLE_INTERFACE_TEST", disableInterfaceTest) \
  F(LIST, "IF_CONFIG", ifConfig, Ipv4Config)              \
  F(STRING, "SLAVE_IF", slaveIf)                          \
  F(INT, "IP_PROTOCOL", ipProtocol, 1)                    \
  F(INT, "DNS_PROTOCOL", dnsProtocol, 1)

class NetworkInterface : public Record<NetworkInterface, ParamLoader> {
 public:
  ZU_RECORD(NetworkInterface, "NETWORK_INTERFACE")
  // Outside the table: the state the owning service keeps for the interface.
  zustring runtimeName;
  int32_t runtimeIndex = -1;
  int32_t runtimeState = 0;
  int32_t runtimeCounter = 0;
};

#define ZU_FIELDS_NetworkAddress(F)         \
  F(KEY, "NAME", name)                      \
  F(INT, "TYPE", type)                      \
  F(IPADDR, "ADDRESS", address)             \
  F(IPADDR, "MASK", mask)                   \
  F(INT, "CONTROL", control, 1)             \
  F(INT, "EXPIRATION_TIME", expirationTime) \
  F(STRING, "CREATOR", creator, "SYS")      \
  F(STRING, "COMMENT", comment)

class NetworkAddress : public Record<NetworkAddress, ParamLoader> {
 public:
  ZU_RECORD(NetworkAddress, "NET_ADDRESS")
};

#define ZU_FIELDS_FirewallRule(F)           \
  F(INT, "ID", id, -1)                      \
  F(STRING, "NAME", name)                   \
  F(STRING, "IFNAME", ifname)               \
  F(INT, "EXPIRATION_TIME", expirationTime) \
  F(BOOL, "ENABLED", enabled, true)         \
  F(INT, "PROTOCOL", protocol)              \
  F(INT, "DIRECTION", direction)            \
  F(IPADDR, "REMOTE_IP", remoteIp)          \
  F(IPADDR, "REMOTE_MASK", remoteMask)      \
  F(INT, "REMOTE_PORT", remotePort)         \
  F(INT, "REMOTE_PORTHI", remotePorthi)     \
  F(INT, "LOCAL_PORT", localPort)           \
  F(INT, "LOCAL_PORTHI", localPorthi)

class FirewallRule : public Record<FirewallRule, ParamLoader> {
 public:
  ZU_RECORD(FirewallRule, "FIREWALL_RULE")
  // Outside the table: the state the firewall keeps for an installed rule.
  int32_t runtimeId = 0;
  bool runtimeFlag = false;
  int32_t runtimeValues[3] = {};
};

#define ZU_FIELDS_BalanceRule(F)                        \
  F(BOOL, "ENABLE", enable, true)                       \
  F(IPADDR, "IP_LOW", ipLow)                            \
  F(IPADDR, "IP_HIGH", ipHigh)                          \
  F(INT, "PORT_LOW", portLow)                           \
  F(INT, "PORT_HIGH", portHigh)                         \
  F(INT, "BAL_TYPE", balType, 1)                        \
  F(INT, "ORDER", order)                                \
  F(LIST, "SEL_INTERFACES", selInterfaces, StringParam) \
  F(STRING, "SERVICE", service)

class BalanceRule : public Record<BalanceRule, ParamLoader> {
 public:
  ZU_RECORD(BalanceRule, "BALANCE_RULE")
};

#define ZU_FIELDS_NetworkParams(F)                                \
  F(BOOL, "ENABLE_FW", enableFw, true)                            \
  F(BOOL, "ENABLE_PS", enablePs, true)                            \
  F(INT, "ENABLE_CID", enableCid, 2)                              \
  F(BOOL, "OUTPUT_FW", outputFw, true)                            \
  F(BOOL, "ENABLE_BALANCE", enableBalance)                        \
  F(BOOL, "ICMP_REPLY", icmpReply)                                \
  F(BOOL, "DHCP_REPLY", dhcpReply)                                \
  F(STRING, "DEFAULT_EXT_IF", defaultExtIf)                       \
  F(LIST, "NET_LIST", netList, NetworkAddress)                    \
  F(LIST, "FW_RULES", fwRules, FirewallRule)                      \
  F(LIST, "BAL_RULES", balRules, BalanceRule)                     \
  F(LIST, "IF_LIST", ifList, NetworkInterface)                    \
  F(BOOL, "ENABLE_LOG", enableLog, true)                          \
  F(INT, "TX_BANDWIDTH", txBandwidth)                             \
  F(INT, "RX_BANDWIDTH", rxBandwidth)                             \
  F(BOOL, "ENABLE_FW_LOGFILE", enableFwLogfile)                   \
  F(BOOL, "ENABLE_FW_LOGADM", enableFwLogadm)                     \
  F(STRING, "FW_LOG_FILENAME", fwLogFilename)                     \
  F(BOOL, "ENABLE_WRR_ADJUST", enableWrrAdjust)                   \
  F(STRING, "TEST_LINK_TARGET", testLinkTarget, "www.google.com") \
  F(INT, "PS_THRESHOLD", psThreshold, 10)                         \
  F(INT, "PS_BLOCKPERIOD", psBlockperiod, 720)                    \
  F(INT, "CID_BLOCKPERIOD", cidBlockperiod, 1440)

class NetworkParams : public Record<NetworkParams, ParamLoaderRefCounted> {
 public:
  ZU_RECORD(NetworkParams, "NETWORK_PARAMS")
  // Outside the table: addresses the host adds at run time; never written.
  ParamList<NetworkAddress> runtimeNetList;
};

#define ZU_FIELDS_NetworkInterfaceList(F) F(LIST, "LIST", list, NetworkInterface)

class NetworkInterfaceList : public Record<NetworkInterfaceList, ParamLoader> {
 public:
  ZU_RECORD(NetworkInterfaceList, "NETWORK_INTERFACE_LIST")
};

#define ZU_FIELDS_NetworkAddressList(F) F(LIST, "NET_LIST", netList, NetworkAddress)

class NetworkAddressList : public Record<NetworkAddressList, ParamLoader> {
 public:
  ZU_RECORD(NetworkAddressList, "NET_ADDRESS_LIST")
};

#define ZU_FIELDS_FirewallRuleList(F) F(LIST, "RULES", rules, FirewallRule)

class FirewallRuleList : public Record<FirewallRuleList, ParamLoader> {
 public:
  ZU_RECORD(FirewallRuleList, "FIREWALL_RULES")
};

#define ZU_FIELDS_LoadBalancerRule(F)                   \
  F(BOOL, "ENABLE", enable, true)                       \
  F(INT, "BAL_TYPE", balType, 1)                        \
  F(INT, "ORDER", order)                                \
  F(LIST, "SEL_INTERFACES", selInterfaces, StringParam) \
  F(STRING, "SERVICE", service)                         \
  F(LIST, "SOURCE", source, ConnectionEndpoint)         \
  F(LIST, "TARGET", target, ConnectionEndpoint)

class LoadBalancerRule : public Record<LoadBalancerRule, ParamLoader> {
 public:
  ZU_RECORD(LoadBalancerRule, "LOAD_BALANCER_RULE")
};

#define ZU_FIELDS_LoadBalancerParams(F)               \
  F(BOOL, "ENABLE_CACHE_HTTP", enableCacheHttp, true) \
  F(BOOL, "ENABLE_RULES", enableRules)                \
  F(LIST, "RULES", rules, LoadBalancerRule)

class LoadBalancerParams : public ServiceRecord<LoadBalancerParams, ServiceParams> {
 public:
  ZU_RECORD(LoadBalancerParams, "LOAD_BALANCER")
};

#define ZU_FIELDS_BandwidthRule(F)              \
  F(INT, "ORDER", order)                        \
  F(BOOL, "ACTIVE", active, true)               \
  F(LIST, "SOURCE", source, ConnectionEndpoint) \
  F(LIST, "TARGET", target, ConnectionEndpoint) \
  F(STRING, "SERVICE", service)                 \
  F(INT, "PROTOCOL", protocol)                  \
  F(INT, "DST_PORT_LOW", dstPortLow)            \
  F(INT, "DST_PORT_HI", dstPortHi)              \
  F(INT, "POLICY_TYPE", policyType, 4)          \
  F(INT, "POLICY_TX", policyTx, 100)            \
  F(INT, "POLICY_RX", policyRx, 100)            \
  F(INT, "POLICY_PRIO", policyPrio, 4)          \
  F(INT, "AGGREGATION", aggregation)

class BandwidthRule : public Record<BandwidthRule, ParamLoader> {
 public:
  ZU_RECORD(BandwidthRule, "BANDWIDTH_RULE")
  // Outside the table: kept by the bandwidth service.
  zustring runtimeText;
};

#define ZU_FIELDS_BandwidthControlParams(F) \
  F(LIST, "RULES", rules, BandwidthRule)    \
  F(INT, "DEF_POLICY", defPolicy, 4)        \
  F(INT, "DEF_VALUE_TX", defValueTx, 100)   \
  F(INT, "DEF_VALUE_RX", defValueRx, 100)   \
  F(INT, "DEF_PRIORITY", defPriority, 4)    \
  F(INT, "DEF_AGGREGATION", defAggregation, 2)

class BandwidthControlParams : public ServiceRecord<BandwidthControlParams, ServiceParams> {
 public:
  ZU_RECORD(BandwidthControlParams, "BANDWIDTH_CONTROL")
};
