/*
** Service records: the bases every service configuration derives from, the
** services without fields of their own, the address, name, redirection and
** access-control services, and the small value records that many other
** records hold in their lists.
*/
#pragma once

#include "paramloader/paramloader.h"

/* Shared value records. */

#define ZU_FIELDS_StringParam(F) F(KEY, "VALUE", value)

class StringParam : public Record<StringParam, ParamLoader> {
 public:
  ZU_RECORD(StringParam, "STRING_PARAM")
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

/* Service bases. Every concrete service writes its own tag into SERVICE. */

#define ZU_FIELDS_ServiceParams(F)        \
  F(STRING, "SERVICE", service)           \
  F(STRING, "STATUS", status)             \
  F(INT, "AUTO_START", autoStart, 1)      \
  F(STRING, "LOGFILE", logFile)           \
  F(INT, "LOGSIZE", logSize)              \
  F(INT, "LOGVERBOSITY", logVerbosity, 1) \
  F(INT, "MAX_REQUESTS", maxRequests)

class ServiceParams : public Record<ServiceParams, ParamLoaderRefCounted> {
 public:
  ZU_RECORD(ServiceParams, "SERVICE")
};

#define ZU_FIELDS_ServiceTcpParams(F)               \
  F(INT, "PORT", port)                              \
  F(BOOL, "SENDSTAT", sendStat, true)               \
  F(LIST, "ALLOWED_NETS", allowedNets, StringParam) \
  F(INT, "SSL_CONFIG", sslConfig)                   \
  F(STRING, "SSL_CERTIFICATE", sslCertificate)

class ServiceTcpParams : public Record<ServiceTcpParams, ServiceParams> {
 public:
  ZU_RECORD(ServiceTcpParams, "SERVICE_TCP")
  ServiceTcpParams() { service = kTag; }
};

class DummyTcpParams : public TaggedRecord<DummyTcpParams, ServiceTcpParams> {
 public:
  ZU_TAG("DUMMY_TCP")
  DummyTcpParams() { service = kTag; }
};

class ManagerParams : public TaggedRecord<ManagerParams, ServiceTcpParams> {
 public:
  ZU_TAG("MANAGER")
  ManagerParams() {
    service = kTag;
    port = 9033;
  }
};

/* The one service that keeps the SERVICE text of its base. */
class TelnetParams : public TaggedRecord<TelnetParams, ServiceTcpParams> {
 public:
  ZU_TAG("TELNET")
  TelnetParams() { port = 23; }
};

/* The classes of this area that the factory creates by tag. */
#define ZU_FACTORY_SERVICES(X) \
  X(StringParam)               \
  X(IntParam)                  \
  X(StringListParam)           \
  X(NetworkAndMask)            \
  X(GroupParams)               \
  X(ServiceParams)             \
  X(ServiceTcpParams)          \
  X(DummyTcpParams)            \
  X(ManagerParams)             \
  X(TelnetParams)
