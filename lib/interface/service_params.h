/*
** Service records: the bases every service configuration derives from, the
** services without fields of their own, the address, name, redirection and
** access-control services, and the small value records that many other
** records hold in their lists.
**
** A new class of this area is declared here, its fields as in
** paramloader/paramloader.h, and gets one line in service_params.def, which
** gives it its field table, its place in the factory and in the catalogue
** tests (catalogue.def says which of the three kinds of line to use).
*/
#pragma once

#include "paramloader/paramloader.h"

#define ZU_FIELDS_ServiceParams(F)        \
  F(STRING, "SERVICE", service)           \
  F(STRING, "STATUS", status)             \
  F(INT, "AUTO_START", autoStart, 1)      \
  F(STRING, "LOGFILE", logfile)           \
  F(INT, "LOGSIZE", logsize)              \
  F(INT, "LOGVERBOSITY", logverbosity, 1) \
  F(INT, "MAX_REQUESTS", maxRequests)

class ServiceParams : public Record<ServiceParams, ParamLoaderRefCounted> {
 public:
  ZU_RECORD(ServiceParams, "SERVICE")
};

/* The bases of the concrete service records: after the base constructors
** have run, the constructor writes the class's own tag into the inherited
** SERVICE field, so the most derived class's tag wins. */
template <class Self, class Base>
class ServiceRecord : public Record<Self, Base> {
 public:
  ServiceRecord() { this->service = Self::kTag; }
};

template <class Self, class Base>
class TaggedService : public TaggedRecord<Self, Base> {
 public:
  TaggedService() { this->service = Self::kTag; }
};

#define ZU_FIELDS_StringParam(F) F(KEY, "VALUE", value)

class StringParam : public Record<StringParam, ParamLoader> {
 public:
  ZU_RECORD(StringParam, "STRING_PARAM")
};

#define ZU_FIELDS_ServiceTcpParams(F)               \
  F(INT, "PORT", port)                              \
  F(BOOL, "SENDSTAT", sendstat, true)               \
  F(LIST, "ALLOWED_NETS", allowedNets, StringParam) \
  F(INT, "SSL_CONFIG", sslConfig)                   \
  F(STRING, "SSL_CERTIFICATE", sslCertificate)

class ServiceTcpParams : public ServiceRecord<ServiceTcpParams, ServiceParams> {
 public:
  ZU_RECORD(ServiceTcpParams, "SERVICE_TCP")
};

class DummyTcpParams : public TaggedService<DummyTcpParams, ServiceTcpParams> {
 public:
  ZU_TAG("DUMMY_TCP")
};

class ManagerParams : public TaggedService<ManagerParams, ServiceTcpParams> {
 public:
  ZU_TAG("MANAGER")
  ManagerParams() { port = 9033; }
};

// The one service record whose constructor leaves SERVICE as its base set it.
class TelnetParams : public TaggedRecord<TelnetParams, ServiceTcpParams> {
 public:
  ZU_TAG("TELNET")
  TelnetParams() { port = 23; }
};

#define ZU_FIELDS_IntParam(F) F(INT, "VALUE", value)

class IntParam : public Record<IntParam, ParamLoader> {
 public:
  ZU_RECORD(IntParam, "INT_PARAM")
};

#define ZU_FIELDS_StringListParam(F) F(LIST, "STRINGS", strings, StringParam)

class StringListParam : public Record<StringListParam, ParamLoader> {
 public:
  ZU_RECORD(StringListParam, "STRINGLIST_PARAM")
};

#define ZU_FIELDS_ConnectionEndpoint(F) \
  F(INT, "TYPE", type)                  \
  F(STRING, "VALUE", value)

class ConnectionEndpoint : public Record<ConnectionEndpoint, ParamLoader> {
 public:
  ZU_RECORD(ConnectionEndpoint, "ENDPOINT")
};

#define ZU_FIELDS_NetworkAndMask(F) \
  F(IPADDR, "ADDRESS", address)     \
  F(IPADDR, "MASK", mask)

class NetworkAndMask : public Record<NetworkAndMask, ParamLoader> {
 public:
  ZU_RECORD(NetworkAndMask, "NET_AND_MASK")
};

#define ZU_FIELDS_GroupParams(F) \
  F(KEY, "GROUP", group)         \
  F(BOOL, "ALLOWED", allowed, true)

class GroupParams : public Record<GroupParams, RepliBase> {
 public:
  ZU_RECORD(GroupParams, "GROUP_PARAMS")
};

#define ZU_FIELDS_DHCPLease(F)          \
  F(INT, "STATUS", status)              \
  F(STRING, "DESCRIPTION", description) \
  F(KEY, "MAC", mac)                    \
  F(IPADDR, "IP", ip)                   \
  F(IPADDR, "MASK", mask)               \
  F(IPADDR, "GW", gw)                   \
  F(IPADDR, "PDNS", pdns)               \
  F(IPADDR, "SDNS", sdns)               \
  F(STRING, "DOMAIN", domain)           \
  F(STRING, "WPAD", wpad)

class DHCPLease : public Record<DHCPLease, ParamLoader> {
 public:
  ZU_RECORD(DHCPLease, "DHCP_LEASE")
};

#define ZU_FIELDS_DhcpParams(F)         \
  F(IPADDR, "SERV_IP", servIp)          \
  F(IPADDR, "MASK", mask)               \
  F(IPADDR, "IPINIT", ipinit)           \
  F(INT, "NUMIPS", numips, 250)         \
  F(IPADDR, "GW", gw)                   \
  F(IPADDR, "PDNS", pdns)               \
  F(IPADDR, "SDNS", sdns)               \
  F(STRING, "DOMAIN", domain)           \
  F(STRING, "WPAD", wpad)               \
  F(INT, "ALLOC_HOURS", allocHours, 96) \
  F(LIST, "LEASES", leases, DHCPLease)

class DhcpParams : public ServiceRecord<DhcpParams, ServiceParams> {
 public:
  ZU_RECORD(DhcpParams, "DHCP")
};

#define ZU_FIELDS_DnsRule(F)           \
  F(INT, "ORDER", order)               \
  F(BOOL, "ENABLED", enabled, true)    \
  F(STRING, "DOMAIN", domain)          \
  F(IPADDR, "DNS_SERVER", dnsServer)   \
  F(IPADDR, "DNS_SERVER2", dnsServer2) \
  F(IPADDR, "DNS_SERVER3", dnsServer3)

class DnsRule : public Record<DnsRule, ParamLoader> {
 public:
  ZU_RECORD(DnsRule, "DNS_RULE")
};

#define ZU_FIELDS_DnsServerParams(F)   \
  F(BOOL, "AUTO_DNS", autoDns, true)   \
  F(IPADDR, "DNS_SERVER", dnsServer)   \
  F(IPADDR, "DNS_SERVER2", dnsServer2) \
  F(IPADDR, "DNS_SERVER3", dnsServer3) \
  F(LIST, "RULES", rules, DnsRule)

class DnsServerParams : public ServiceRecord<DnsServerParams, ServiceTcpParams> {
 public:
  ZU_RECORD(DnsServerParams, "DNS")
  DnsServerParams() { port = 53; }
};

#define ZU_FIELDS_DDNSParams(F)        \
  F(STRING, "DOMAIN_NAME", domainName) \
  F(PASSWORD, "SENHA", senha)          \
  F(IPADDR, "CURRENT_IP", currentIp)   \
  F(BOOL, "USE_REAL_IP", useRealIp)    \
  F(INT, "IF_LABEL", ifLabel)          \
  F(INT, "REG_TYPE", regType)

class DDNSParams : public ServiceRecord<DDNSParams, ServiceParams> {
 public:
  ZU_RECORD(DDNSParams, "DDNS")
};

#define ZU_FIELDS_RegraDMZ(F)              \
  F(STRING, "DESC", desc)                  \
  F(BOOL, "ENABLED", enabled)              \
  F(INT, "ORDER", order)                   \
  F(IPADDR, "INCOMING_IP", incomingIp)     \
  F(IPADDR, "INCOMING_MASK", incomingMask) \
  F(INT, "START_PORT", startPort)          \
  F(INT, "END_PORT", endPort)              \
  F(INT, "PROTOCOL", protocol)             \
  F(IPADDR, "DEST_IP", destIp)             \
  F(INT, "DEST_PORT", destPort)            \
  F(INT, "FLAGS", flags)

class RegraDMZ : public Record<RegraDMZ, ParamLoader> {
 public:
  ZU_RECORD(RegraDMZ, "REGRA_DMZ")
};

#define ZU_FIELDS_ServiceDMZParams(F) F(LIST, "DMZ_RULES", dmzRules, RegraDMZ)

class ServiceDMZParams : public ServiceRecord<ServiceDMZParams, ServiceParams> {
 public:
  ZU_RECORD(ServiceDMZParams, "DMZ")
  ServiceDMZParams() { autoStart = 1; }
};

#define ZU_FIELDS_PortmapParams(F) \
  F(STRING, "DEST_HOST", destHost) \
  F(INT, "DEST_PORT", destPort)    \
  F(INT, "REDIRECT_TYPE", redirectType)

class PortmapParams : public ServiceRecord<PortmapParams, ServiceTcpParams> {
 public:
  ZU_RECORD(PortmapParams, "PORTMAP_TCP")
  PortmapParams() { port = 0; }
};

class PortmapUdpParams : public TaggedService<PortmapUdpParams, PortmapParams> {
 public:
  ZU_TAG("PORTMAP_UDP")
  PortmapUdpParams() { port = 0; }
};

#define ZU_FIELDS_RegraAcesso(F)          \
  F(INT, "ORDER", order)                  \
  F(BOOL, "ENABLED", enabled, true)       \
  F(INT, "PROTOCOL", protocol)            \
  F(INT, "PORTA_INICIO", portaInicio)     \
  F(INT, "PORTA_FIM", portaFim)           \
  F(STRING, "NET_NAME", netName)          \
  F(INT, "TIPO", tipo)                    \
  F(INT, "ADDRESS", address)              \
  F(INT, "MASK", mask)                    \
  F(LIST, "GRUPOS", grupos, StringParam)  \
  F(LIST, "IP_ORIG", ipOrig, StringParam) \
  F(STRING, "USER_NAME", userName)        \
  F(STRING, "PROGRAM_NAME", programName)  \
  F(BOOL, "MONITORED", monitored)         \
  F(BOOL, "ACTION", action, true)

class RegraAcesso : public Record<RegraAcesso, ParamLoader> {
 public:
  ZU_RECORD(RegraAcesso, "REGRA_ACESSO")
};

#define ZU_FIELDS_TProxyParams(F)                        \
  F(IPADDR, "SOURCE_NET", sourceNet)                     \
  F(IPADDR, "SOURCE_MASK", sourceMask)                   \
  F(BOOL, "CAPTURE_POP", capturePop, true)               \
  F(BOOL, "CAPTURE_FTP", captureFtp, true)               \
  F(BOOL, "CAPTURE_IM", captureIm)                       \
  F(BOOL, "ENABLE_DPI", enableDpi)                       \
  F(BOOL, "CONTROL_ACCESS", controlAccess)               \
  F(BOOL, "DEFAULT_ACCESS", defaultAccess)               \
  F(LIST, "ACCESS_RULES", accessRules, RegraAcesso)      \
  F(LIST, "APP_PROTO_RULES", appProtoRules, RegraAcesso) \
  F(INT, "UDP_TIME_LIMIT", udpTimeLimit, 60)

class TProxyParams : public ServiceRecord<TProxyParams, ServiceTcpParams> {
 public:
  ZU_RECORD(TProxyParams, "TPROXY")
  TProxyParams() {
    autoStart = 1;
    port = 0;
  }
};

class ServiceSocksParams : public TaggedService<ServiceSocksParams, TProxyParams> {
 public:
  ZU_TAG("SOCKS5")
  ServiceSocksParams() { port = 1080; }
};

#define ZU_FIELDS_CtlAcessoParams(F)       \
  F(BOOL, "ATIVO", ativo)                  \
  F(BOOL, "ACESSO_DEFAULT", acessoDefault) \
  F(LIST, "REGRA_ACESSO", regraAcesso, RegraAcesso)

class CtlAcessoParams : public Record<CtlAcessoParams, ParamLoader> {
 public:
  ZU_RECORD(CtlAcessoParams, "CTL_ACESSO_PARAMS")
};
