/*
** Web records: the caching proxy with its groups, sites and rules, the
** per-device web filter, the web server, webmail and the FTP server.
**
** A new class of this area is declared here, its fields as in
** paramloader/paramloader.h, and gets one line in web_params.def, which
** gives it its field table, its place in the factory and in the catalogue
** tests (catalogue.def says which of the three kinds of line to use).
*/
#pragma once

#include "lib/interface/service_params.h"

#define ZU_FIELDS_HttpGroups(F)   \
  F(KEY, "GROUP_NAME", groupName) \
  F(STRING, "OLD_NAME", oldName)  \
  F(LIST, "SITES", sites, StringParam)

class HttpGroups : public Record<HttpGroups, ParamLoader> {
 public:
  ZU_RECORD(HttpGroups, "GROUPS")
};

#define ZU_FIELDS_HttpGroupAndSites(F)       \
  F(KEY, "NAME", name)                       \
  F(STRING, "GROUP_ID", groupId)             \
  F(STRING, "EXTENSIONS", extensions)        \
  F(STRING, "TIME", time, "-")               \
  F(BOOL, "ALLOW_EXTENSION", allowExtension) \
  F(INT, "MAXSIZE", maxsize)                 \
  F(BOOL, "ACTIVE", active, true)            \
  F(INT, "PROTOCOL", protocol, 7)            \
  F(INT, "ORDER", order)                     \
  F(INT, "MINUTES_PER_DAY", minutesPerDay)   \
  F(INT, "KBYTES_PER_DAY", kbytesPerDay)     \
  F(BOOL, "DO_NOT_LOG", doNotLog)

class HttpGroupAndSites : public Record<HttpGroupAndSites, ParamLoader> {
 public:
  ZU_RECORD(HttpGroupAndSites, "GROUP_SITES")
  // Outside the table: kept by the code that filters with the group.
  bool runtimeFlag = false;
};

#define ZU_FIELDS_HttpGroupParams(F)                          \
  F(BOOL, "WHITE_LIST", whiteList)                            \
  F(BOOL, "CONTENT_CONTROL", contentControl, true)            \
  F(LIST, "URL_LIST", urlList, HttpGroupAndSites)             \
  F(LIST, "NETFILTER", netfilter, HttpGroupAndSites)          \
  F(BOOL, "USE_NETFILTER", useNetfilter)                      \
  F(LIST, "EXCEPTION_LIST", exceptionList, HttpGroupAndSites) \
  F(BOOL, "RULE_DEFAULT", ruleDefault, true)                  \
  F(STRING, "EXTENSION_DEFAULT", extensionDefault)            \
  F(STRING, "TIME_DEFAULT", timeDefault, "-")                 \
  F(INT, "MAXSIZE_DEFAULT", maxsizeDefault)                   \
  F(INT, "PROTOCOL_DEFAULT", protocolDefault, 7)              \
  F(BOOL, "ALLOW_EXTENSION", allowExtension)                  \
  F(BOOL, "BLOCK_IP_HOSTS", blockIpHosts)

class HttpGroupParams : public Record<HttpGroupParams, GroupParams> {
 public:
  ZU_RECORD(HttpGroupParams, "HTTP_GROUP")
};

#define ZU_FIELDS_HttpRule(F)                   \
  F(INT, "ORDER", order)                        \
  F(BOOL, "ACTIVE", active, true)               \
  F(KEY, "RULE_ID", ruleId)                     \
  F(LIST, "SOURCE", source, ConnectionEndpoint) \
  F(LIST, "TARGET", target, ConnectionEndpoint) \
  F(STRING, "EXTENSIONS", extensions)           \
  F(BOOL, "ALLOW_EXTENSION", allowExtension)    \
  F(STRING, "TIME", time, "-")                  \
  F(INT, "PROTOCOL", protocol, 7)               \
  F(INT, "MINUTES_PER_DAY", minutesPerDay)      \
  F(INT, "KBYTES_PER_DAY", kbytesPerDay)        \
  F(BOOL, "DO_NOT_LOG", doNotLog)

class HttpRule : public Record<HttpRule, Replicatable> {
 public:
  ZU_RECORD(HttpRule, "HTTP_RULE")
};

#define ZU_FIELDS_HttpProxyParams(F)                                  \
  F(BOOL, "REQUIRE_AUTH", requireAuth)                                \
  F(BOOL, "STRICT_AUTH", strictAuth)                                  \
  F(BOOL, "REQUIRE_PROXY", requireProxy)                              \
  F(BOOL, "USE_CACHE", useCache, true)                                \
  F(STRING, "CACHE_DIR", cacheDir, "CACHE")                           \
  F(INT, "CACHE_SIZE", cacheSize, 50)                                 \
  F(LIST, "NOAUTH_PARAMS", noauthParams, HttpGroupParams)             \
  F(INT, "AUTH_TIME", authTime, 3600)                                 \
  F(BOOL, "CASCADE", cascade)                                         \
  F(IPADDR, "PROXY_IP", proxyIp)                                      \
  F(INT, "PROXY_PORT", proxyPort, 8080)                               \
  F(INT, "PROXY_HTTPS_PORT", proxyHttpsPort)                          \
  F(BOOL, "HAS_NETFILTER", hasNetfilter)                              \
  F(STRING, "NETFILTER_HOST", netfilterHost, "0")                     \
  F(INT, "NETFILTER_PORT", netfilterPort, 43985)                      \
  F(LIST, "GROUPS", groups, HttpGroups)                               \
  F(LIST, "RULES", rules, HttpRule)                                   \
  F(BOOL, "REMOTE_NETFILTER", remoteNetfilter, true)                  \
  F(BOOL, "USE_PROTO_HANDLER", useProtoHandler, true)                 \
  F(BOOL, "USE_OLD_CONFIG", useOldConfig)                             \
  F(BOOL, "DENY_UNKNOWN_CERTIFICATES", denyUnknownCertificates, true) \
  F(BOOL, "USE_SOCKAUTHD", useSockauthd)                              \
  F(BOOL, "USE_DOMAIN_AUTH", useDomainAuth)                           \
  F(BOOL, "USE_DOMAIN_AUTH_TRANSPARENT", useDomainAuthTransparent)    \
  F(STRING, "DEFAULT_HOST", defaultHost)                              \
  F(INT, "DEFAULT_PORT", defaultPort)

class HttpProxyParams : public ServiceRecord<HttpProxyParams, ServiceTcpParams> {
 public:
  ZU_RECORD(HttpProxyParams, "HTTP")
  // The proxy starts with the group of users who need no authentication.
  HttpProxyParams() {
    port = 8080;
    HttpGroupParams* noAuth = static_cast<HttpGroupParams*>(noauthParams.AddNewRecord());
    if (noAuth) {
      noAuth->group = "$NOAUTH$";
      noAuth->contentControl = false;
    }
  }
  // Outside the table: kept by the proxy service.
  int32_t runtimeValue = 0;
};

#define ZU_FIELDS_HttpSimpleDeviceRule(F)                    \
  F(LIST, "TIMES", times, StringParam)                       \
  F(LIST, "BLOCKED_CATEGORIES", blockedCategories, IntParam) \
  F(BOOL, "ENABLED", enabled, true)                          \
  F(BOOL, "USE_BLACKLIST", useBlacklist, true)               \
  F(BOOL, "USE_WHITELIST", useWhitelist, true)

class HttpSimpleDeviceRule : public Record<HttpSimpleDeviceRule, ParamLoader> {
 public:
  ZU_RECORD(HttpSimpleDeviceRule, "HTTP_SIMPLE_DEVICE_RULE")
};

#define ZU_FIELDS_HttpSimpleDevice(F)    \
  F(STRING, "DEVICE_MAC", deviceMac)     \
  F(STRING, "DEVICE_NAME", deviceName)   \
  F(BOOL, "ENABLE_TIMES", enableTimes)   \
  F(BOOL, "LOG_ACCESS", logAccess, true) \
  F(BOOL, "BLOCK_ACCESS", blockAccess)   \
  F(LIST, "DEVICE_RULES", deviceRules, HttpSimpleDeviceRule)

class HttpSimpleDevice : public Record<HttpSimpleDevice, ParamLoader> {
 public:
  ZU_RECORD(HttpSimpleDevice, "HTTP_SIMPLE_DEVICE")
};

#define ZU_FIELDS_NewHttpSimpleSlave(F)        \
  F(LIST, "RULES", rules, HttpSimpleDevice)    \
  F(LIST, "WHITELIST", whitelist, StringParam) \
  F(LIST, "BLACKLIST", blacklist, StringParam)

class NewHttpSimpleSlave : public Record<NewHttpSimpleSlave, RepliBase> {
 public:
  ZU_RECORD(NewHttpSimpleSlave, "NEW_HTTP_SIMPLE_SLAVE")
};

#define ZU_FIELDS_HttpSimpleParams(F) F(LIST, "SLAVES", slaves, NewHttpSimpleSlave)

class HttpSimpleParams : public ServiceRecord<HttpSimpleParams, ServiceParams> {
 public:
  ZU_RECORD(HttpSimpleParams, "HTTP_SIMPLE")
};

#define ZU_FIELDS_HttpAlias(F)      \
  F(KEY, "ALIAS", alias)            \
  F(STRING, "DIRECTORY", directory) \
  F(BOOL, "ENABLE_LOGADM", enableLogadm, true)

class HttpAlias : public Record<HttpAlias, ParamLoader> {
 public:
  ZU_RECORD(HttpAlias, "HTTPSRV_ALIAS")
};

#define ZU_FIELDS_HttpExtension(F) \
  F(KEY, "EXTENSION", extension)   \
  F(STRING, "HANDLER", handler)

class HttpExtension : public Record<HttpExtension, ParamLoader> {
 public:
  ZU_RECORD(HttpExtension, "HTTPSRV_EXT")
};

#define ZU_FIELDS_HttpsrvParams(F)                 \
  F(STRING, "DOCROOT", docroot)                    \
  F(LIST, "EXTENSIONS", extensions, HttpExtension) \
  F(LIST, "ALIASES", aliases, HttpAlias)

class HttpsrvParams : public ServiceRecord<HttpsrvParams, ServiceTcpParams> {
 public:
  ZU_RECORD(HttpsrvParams, "HTTPSRV")
  HttpsrvParams() { port = 80; }
};

#define ZU_FIELDS_WebmailParams(F) F(STRING, "WEBSERVER_INSTANCE", webserverInstance)

class WebmailParams : public ServiceRecord<WebmailParams, ServiceParams> {
 public:
  ZU_RECORD(WebmailParams, "WEBMAIL")
};

#define ZU_FIELDS_FtpRule(F)             \
  F(INT, "ORDER", order)                 \
  F(BOOL, "ACTIVE", active, true)        \
  F(KEY, "RULE_ID", ruleId)              \
  F(STRING, "DIR", dir)                  \
  F(INT, "PERMISSION", permission)       \
  F(BOOL, "USE_ANONYMOUS", useAnonymous) \
  F(LIST, "SOURCE", source, ConnectionEndpoint)

class FtpRule : public Record<FtpRule, ParamLoader> {
 public:
  ZU_RECORD(FtpRule, "FTP_RULE")
};

#define ZU_FIELDS_FtpsrvParams(F)                \
  F(STRING, "ANONYMOUS_USER", anonymousUser)     \
  F(PASSWORD, "ANONYMOUS_PASSW", anonymousPassw) \
  F(LIST, "RULES", rules, FtpRule)

class FtpsrvParams : public ServiceRecord<FtpsrvParams, ServiceTcpParams> {
 public:
  ZU_RECORD(FtpsrvParams, "FTPSRV")
  FtpsrvParams() { port = 21; }
};
