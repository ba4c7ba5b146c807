/*
** Instant-messaging, VPN and cluster records: the IM filter with its
** per-user privileges in their old and new forms, the IM and IM policy
** services, VPN servers, clients and gateways (plain and SSL), and the
** cluster master with its slave hosts and the slave's settings.
**
** A new class of this area is declared here, its fields as in
** paramloader/paramloader.h, and gets one line in vpn_params.def, which
** gives it its field table, its place in the factory and in the catalogue
** tests (catalogue.def says which of the three kinds of line to use).
*/
#pragma once

#include "lib/interface/service_params.h"

/* The privilege rows of both IM filter entries, in this order: the old
** entry holds them per user, IMFilterEntry per group, with NETWORK between
** them and ALLOW_ONLY_LOCAL_USERS. */
#define ZU_IM_PRIVILEGES(F)                                            \
  F(BOOL, "CONNECT", connect, true)                                    \
  F(BOOL, "SEND_FILE", sendFile, true)                                 \
  F(BOOL, "RECEIVE_FILE", receiveFile, true)                           \
  F(BOOL, "FILTER_CONTACTS", filterContacts)                           \
  F(LIST, "ALLOWED_CONTACTS", allowedContacts, StringParam)            \
  F(LIST, "BLOCKED_CONTACTS", blockedContacts, StringParam)            \
  F(BOOL, "LOG_CONVERSATION", logConversation, true)                   \
  F(BOOL, "ALLOW_DATACAST", allowDatacast, true)                       \
  F(BOOL, "ALLOW_AUDIOVIDEO", allowAudiovideo, true)                   \
  F(BOOL, "ALLOW_TRANSFER_LOCAL_USERS", allowTransferLocalUsers, true) \
  F(BOOL, "BLOCK_OFFLINE_MSG", blockOfflineMsg)

#define ZU_FIELDS_OLDIMFilterEntry(F) \
  F(KEY, "LOGIN", login)              \
  ZU_IM_PRIVILEGES(F)                 \
  F(BOOL, "ALLOW_ONLY_LOCAL_USERS", allowOnlyLocalUsers, true)

class OLDIMFilterEntry : public Record<OLDIMFilterEntry, ParamLoader> {
 public:
  ZU_RECORD(OLDIMFilterEntry, "IM_PRIVS")
};

#define ZU_FIELDS_IMFilterParams(F)                                   \
  F(IPADDR, "SOURCE_NET", sourceNet)                                  \
  F(IPADDR, "SOURCE_MASK", sourceMask)                                \
  F(BOOL, "CAPTURE_MSN", captureMsn, true)                            \
  F(BOOL, "CAPTURE_ICQ", captureIcq)                                  \
  F(BOOL, "CAPTURE_YAHOO", captureYahoo)                              \
  F(BOOL, "CAPTURE_SOCKS5", captureSocks5, true)                      \
  F(INT, "POLICY_PORT", policyPort, 881)                              \
  F(STRING, "MONITORING_MESSAGES_WARNING", monitoringMessagesWarning) \
  F(LIST, "FILTERS", filters, OLDIMFilterEntry)

class IMFilterParams : public ServiceRecord<IMFilterParams, ServiceTcpParams> {
 public:
  ZU_RECORD(IMFilterParams, "IMFILTER")
  IMFilterParams() { port = 1863; }
};

#define ZU_FIELDS_IMFilterEntry(F) \
  F(STRING, "LOGIN", login)        \
  ZU_IM_PRIVILEGES(F)              \
  F(INT, "NETWORK", network)       \
  F(BOOL, "ALLOW_ONLY_LOCAL_USERS", allowOnlyLocalUsers, true)

class IMFilterEntry : public Record<IMFilterEntry, GroupParams> {
 public:
  ZU_RECORD(IMFilterEntry, "NEW_IM_PRIVS")
};

class IMessengerParams : public TaggedService<IMessengerParams, ServiceTcpParams> {
 public:
  ZU_TAG("IMSRV")
  IMessengerParams() { port = 4000; }
};

class IMPolicyServerParams : public TaggedService<IMPolicyServerParams, ServiceTcpParams> {
 public:
  ZU_TAG("IM_POLICY")
  IMPolicyServerParams() {
    logfile = "logs/IMFILTER.LOG";
    port = 881;
  }
};

#define ZU_FIELDS_VpnGatewayParams(F)            \
  F(BOOL, "IS_SERVER", isServer)                 \
  F(BOOL, "IS_GATEWAY", isGateway)               \
  F(BOOL, "LM_BROADCAST", lmBroadcast)           \
  F(BOOL, "ALLOW_ACCESS", allowAccess, true)     \
  F(BOOL, "REQUEST_ACCESS", requestAccess, true) \
  F(BOOL, "MASK_SOURCE", maskSource, true)       \
  F(IPADDR, "LOCAL_NET", localNet)               \
  F(IPADDR, "LOCAL_MASK", localMask)             \
  F(STRING, "SERVER_NAME", serverName)           \
  F(STRING, "USERNAME", username)                \
  F(PASSWORD, "PASSWORD", password)

class VpnGatewayParams : public Record<VpnGatewayParams, ParamLoader> {
 public:
  ZU_RECORD(VpnGatewayParams, "VPN_GATEWAY")
};

#define ZU_FIELDS_VpnServerParams(F) F(LIST, "GATE_INFO", gateInfo, VpnGatewayParams)

class VpnServerParams : public ServiceRecord<VpnServerParams, ServiceTcpParams> {
 public:
  ZU_RECORD(VpnServerParams, "VPN_SERVER")
  // The server starts with the description of its own gateway.
  VpnServerParams() {
    port = 444;
    VpnGatewayParams* own = static_cast<VpnGatewayParams*>(gateInfo.AddNewRecord());
    if (own) {
      own->isServer = true;
      own->allowAccess = true;
      own->requestAccess = false;
    }
  }
};

#define ZU_FIELDS_VpnClientParams(F)    \
  F(INT, "PORT", port, 444)             \
  F(INT, "CONN_STATE", connState)       \
  F(BOOL, "SAVE_PASS", savePass)        \
  F(BOOL, "USE_PROXY", useProxy)        \
  F(IPADDR, "PROXY_IP", proxyIp)        \
  F(INT, "PROXY_PORT", proxyPort, 8080) \
  F(LIST, "GATE_INFO", gateInfo, VpnGatewayParams)

class VpnClientParams : public ServiceRecord<VpnClientParams, ServiceParams> {
 public:
  ZU_RECORD(VpnClientParams, "VPN_CLIENT")
  // The client starts with one gateway description at its defaults.
  VpnClientParams() { gateInfo.AddNewRecord(); }
};

#define ZU_FIELDS_VpnSslServerParams(F)                \
  F(IPADDR, "LOCAL_IF", localIf)                       \
  F(IPADDR, "LOCAL_MASK", localMask)                   \
  F(BOOL, "MASK_SOURCE", maskSource)                   \
  F(IPADDR, "REM_START_IP", remStartIp)                \
  F(INT, "NUM_REM_IP", numRemIp)                       \
  F(LIST, "LOCAL_ROUTES", localRoutes, NetworkAndMask) \
  F(LIST, "ALGORITHMS", algorithms, StringParam)

class VpnSslServerParams : public ServiceRecord<VpnSslServerParams, ServiceTcpParams> {
 public:
  ZU_RECORD(VpnSslServerParams, "VPNSSL_SERVER")
  VpnSslServerParams() { port = 444; }
};

#define ZU_FIELDS_VpnSslClientParams(F) \
  F(STRING, "SERVER", server)           \
  F(INT, "PORT", port, 444)             \
  F(STRING, "USERNAME", username)       \
  F(PASSWORD, "PASSWORD", password)     \
  F(BOOL, "SAVE_PASS", savePass, true)  \
  F(BOOL, "IS_GATEWAY", isGateway)      \
  F(INT, "CONN_STATE", connState)       \
  F(BOOL, "USE_PROXY", useProxy)        \
  F(IPADDR, "PROXY_IP", proxyIp)        \
  F(INT, "PROXY_PORT", proxyPort)       \
  F(IPADDR, "LOCAL_IF", localIf)        \
  F(IPADDR, "LOCAL_MASK", localMask)    \
  F(LIST, "LOCAL_ROUTES", localRoutes, NetworkAndMask)

class VpnSslClientParams : public ServiceRecord<VpnSslClientParams, ServiceParams> {
 public:
  ZU_RECORD(VpnSslClientParams, "VPNSSL_CLIENT")
};

#define ZU_FIELDS_SlaveHost(F)          \
  F(INT, "INDEX", index)                \
  F(STRING, "REMOTE_NAME", remoteName)  \
  F(STRING, "DESCRIPTION", description) \
  F(PASSWORD, "KEY", key)

class SlaveHost : public Record<SlaveHost, ParamLoader> {
 public:
  ZU_RECORD(SlaveHost, "SLAVE_HOST")
};

#define ZU_FIELDS_ClusterMasterParams(F) F(LIST, "SLAVES", slaves, SlaveHost)

class ClusterMasterParams : public ServiceRecord<ClusterMasterParams, ServiceTcpParams> {
 public:
  ZU_RECORD(ClusterMasterParams, "CLUSTER_MASTER")
  ClusterMasterParams() { port = 999; }
};

#define ZU_FIELDS_ClusterSlaveParams(F) \
  F(STRING, "MASTER", master)           \
  F(INT, "PORT", port, 999)             \
  F(STRING, "SLAVE_NAME", slaveName)    \
  F(PASSWORD, "PASSWORD", password)     \
  F(LIST, "REP_OBJECTS", repObjects, StringParam)

class ClusterSlaveParams : public ServiceRecord<ClusterSlaveParams, ServiceParams> {
 public:
  ZU_RECORD(ClusterSlaveParams, "CLUSTER_SLAVE")
};
