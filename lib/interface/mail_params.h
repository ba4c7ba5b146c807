/*
** Mail records: the SMTP, POP3 and IMAP services, remote mailbox collection,
** the mail dispatcher with its groups, domains, rules, per-user rules,
** anti-spam options and quotas.
**
** A new class of this area is declared here, its fields as in
** paramloader/paramloader.h, and gets one line in mail_params.def, which
** gives it its field table, its place in the factory and in the catalogue
** tests (catalogue.def says which of the three kinds of line to use).
*/
#pragma once

#include "lib/interface/service_params.h"

#define ZU_FIELDS_SmtpServerParams(F)                 \
  F(BOOL, "REQ_AUTHUSER", reqAuthuser, true)          \
  F(BOOL, "NOT_MX", notMx)                            \
  F(LIST, "RELAY_NETS", relayNets, StringParam)       \
  F(INT, "NUM_THREADS", numThreads, 3)                \
  F(BOOL, "ENABLE_IP_REPUTATION", enableIpReputation) \
  F(INT, "REPUTATION_SCORE", reputationScore, 80)     \
  F(STRING, "SIGNATURE", signature)

class SmtpServerParams : public ServiceRecord<SmtpServerParams, ServiceTcpParams> {
 public:
  ZU_RECORD(SmtpServerParams, "SMTPSRV")
  SmtpServerParams() { port = 25; }
};

#define ZU_FIELDS_PopServerParams(F)        \
  F(BOOL, "USE_AS_PROXY", useAsProxy, true) \
  F(INT, "SEPARATOR", separator, 35)        \
  F(BOOL, "DEL_ON_FAILURE", delOnFailure)

class PopServerParams : public ServiceRecord<PopServerParams, ServiceTcpParams> {
 public:
  ZU_RECORD(PopServerParams, "POPSRV")
  PopServerParams() { port = 110; }
};

#define ZU_FIELDS_ImapParams(F) F(BOOL, "USE_SSL", useSsl)

class ImapParams : public ServiceRecord<ImapParams, ServiceTcpParams> {
 public:
  ZU_RECORD(ImapParams, "IMAP")
  ImapParams() { port = 143; }
};

#define ZU_FIELDS_PopmapEntry(F)                 \
  F(STRING, "LOGIN", login)                      \
  F(PASSWORD, "PASSWD", passwd)                  \
  F(STRING, "SERVER", server)                    \
  F(STRING, "MAILBOX", mailbox)                  \
  F(STRING, "COPYTO", copyto)                    \
  F(BOOL, "DISTRIBUTE", distribute)              \
  F(BOOL, "ENABLED", enabled, true)              \
  F(BOOL, "SECURE_CONNECTION", secureConnection) \
  F(INT, "KEEP_PERIOD", keepPeriod)              \
  F(INT, "SERVER_PORT", serverPort, 110)         \
  F(BOOL, "USE_ON_SMTP", useOnSmtp)              \
  F(STRING, "SMTP_MAIL", smtpMail)

class PopmapEntry : public Record<PopmapEntry, ParamLoader> {
 public:
  ZU_RECORD(PopmapEntry, "MAILBOX")
};

#define ZU_FIELDS_PopmapParams(F)        \
  F(LIST, "POPMAP", popmap, PopmapEntry) \
  F(INT, "INTERVAL", interval, 15)       \
  F(INT, "THREADS", threads, 3)

class PopmapParams : public ServiceRecord<PopmapParams, ServiceParams> {
 public:
  ZU_RECORD(PopmapParams, "POPMAP")
};

#define ZU_FIELDS_DomainParams(F)                        \
  F(KEY, "NAME", name)                                   \
  F(INT, "TYPE", type, 2)                                \
  F(STRING, "ALIASES", aliases)                          \
  F(STRING, "POSTMASTER_ADDR", postmasterAddr)           \
  F(BOOL, "USE_AUTH", useAuth)                           \
  F(STRING, "AUTH_LOGIN", authLogin)                     \
  F(PASSWORD, "AUTH_PASSWD", authPasswd)                 \
  F(BOOL, "VALIDATE_USERNAMES", validateUsernames, true) \
  F(BOOL, "APPLY_FILTERS", applyFilters, true)           \
  F(INT, "DELIVERY_TYPE", deliveryType, 2)               \
  F(STRING, "DELIVERY_HOST", deliveryHost)               \
  F(INT, "DELIVERY_PORT", deliveryPort, 25)              \
  F(INT, "LOOKUP_TYPE", lookupType)                      \
  F(STRING, "SIGNATURE", signature)                      \
  F(LIST, "GROUPS", groups, GroupParams)                 \
  F(BOOL, "ROUTE_USER_MAIL", routeUserMail)              \
  F(BOOL, "IS_INTERNAL_DOMAIN", isInternalDomain)        \
  F(BOOL, "MATCH_DOMAIN_ALIASES", matchDomainAliases)    \
  F(BOOL, "RELAY_SSL", relaySsl)                         \
  F(BOOL, "SEND_TO_OTHER", sendToOther)                  \
  F(BOOL, "USE_POPMAP_AUTH", usePopmapAuth)

class DomainParams : public Record<DomainParams, ParamLoader> {
 public:
  ZU_RECORD(DomainParams, "DOMAINS")
};

#define ZU_FIELDS_RuleCondition(F)              \
  F(STRING, "FIELD_STR", fieldStr, "H:subject") \
  F(INT, "OPER", oper, 6)                       \
  F(STRING, "SEARCH_STR", searchStr)            \
  F(STRING, "NEW_FIELD", newField)

class RuleCondition : public Record<RuleCondition, ParamLoader> {
 public:
  ZU_RECORD(RuleCondition, "RULE_CONDITION")
  // Outside the table: kept by the code that evaluates the condition.
  zustring runtimeText;
};

#define ZU_FIELDS_MailRule(F)                      \
  F(BOOL, "ACTIVE", active, true)                  \
  F(BOOL, "HIDDEN", hidden)                        \
  F(STRING, "NAME", name)                          \
  F(LIST, "CONDITIONS", conditions, RuleCondition) \
  F(INT, "ACTION", action, 1)                      \
  F(STRING, "ACTION_STR", actionStr)

class MailRule : public Record<MailRule, ParamLoader> {
 public:
  ZU_RECORD(MailRule, "MAIL_RULE")
};

#define ZU_FIELDS_MailRule7(F)                  \
  F(STRING, "SIGNATURE", signature)             \
  F(BOOL, "IS_HTML_SIGNATURE", isHtmlSignature) \
  F(LIST, "SOURCE", source, ConnectionEndpoint) \
  F(LIST, "TARGET", target, ConnectionEndpoint) \
  F(BOOL, "CONTINUE_PROCESSING", continueProcessing)

class MailRule7 : public Record<MailRule7, MailRule> {
 public:
  ZU_RECORD(MailRule7, "MAIL_RULE7")
};

#define ZU_FIELDS_MailUserRule(F)                   \
  F(BOOL, "CAN_CREATE_RULES", canCreateRules, true) \
  F(KEY, "USER", user)                              \
  F(LIST, "RULES", rules, MailRule7)

class MailUserRule : public Record<MailUserRule, ParamLoader> {
 public:
  ZU_RECORD(MailUserRule, "MAIL_USER_RULE")
};

#define ZU_FIELDS_MailShellOption(F) \
  F(STRING, "KEY", key)              \
  F(KEY, "TITLE", title)             \
  F(STRING, "VALUE", value)          \
  F(BOOL, "CHECKED", checked)        \
  F(INT, "TYPE", type)               \
  F(STRING, "DEFAULT_VALUE", defaultValue)

class MailShellOption : public Record<MailShellOption, ParamLoader> {
 public:
  ZU_RECORD(MailShellOption, "MAILSHELL_OPTION")
};

#define ZU_FIELDS_MailShellParams(F) \
  F(KEY, "NAME", name)               \
  F(BOOL, "ENABLED", enabled)        \
  F(STRING, "CONF_FILE", confFile)   \
  F(LIST, "OPTIONS", options, MailShellOption)

class MailShellParams : public Record<MailShellParams, ParamLoader> {
 public:
  ZU_RECORD(MailShellParams, "MAILSHELL_PARAMS")
};

#define ZU_FIELDS_MailUserQuota(F) \
  F(STRING, "NAME", name)          \
  F(INT, "XQUOTA", xquota)         \
  F(INT, "QUOTA", quota)

class MailUserQuota : public Record<MailUserQuota, ParamLoader> {
 public:
  ZU_RECORD(MailUserQuota, "MAIL_USER_QUOTA")
};

#define ZU_FIELDS_MailDispatcherParams(F)                              \
  F(STRING, "ANTIVIRUS", antivirus, "NONE")                            \
  F(STRING, "EMAIL_ADDR_WITHOUT_AV", emailAddrWithoutAv)               \
  F(INT, "MAX_SIZE_INT", maxSizeInt)                                   \
  F(INT, "MAX_SIZE_EXT", maxSizeExt)                                   \
  F(STRING, "BAD_TYPES", badTypes)                                     \
  F(BOOL, "ALLOW_TYPES", allowTypes)                                   \
  F(BOOL, "ON_DISPATCH_PHP", onDispatchPhp)                            \
  F(BOOL, "SPAM_CHECK_PHP", spamCheckPhp)                              \
  F(INT, "SPAM_SCORE", spamScore)                                      \
  F(LIST, "MAILSHELL_OPTIONS", mailshellOptions, MailShellParams)      \
  F(LIST, "RULES", rules, MailRule)                                    \
  F(LIST, "RULES7", rules7, MailRule7)                                 \
  F(LIST, "USER_RULES", userRules, MailUserRule)                       \
  F(LIST, "DOMAINS", domains, DomainParams)                            \
  F(INT, "MAXQUARANTINERETENTIONTIME", maxquarantineretentiontime, 90) \
  F(BOOL, "VIRUS_NOTIFICATION", virusNotification, true)               \
  F(INT, "AV_PORT", avPort, 54322)                                     \
  F(INT, "MAX_RELAY_COUNT", maxRelayCount, 20)                         \
  F(INT, "MAIL_STORE_SNAP_PERIOD", mailStoreSnapPeriod, 260216)        \
  F(INT, "MAIL_STORE_SNAP_MAX_FILES", mailStoreSnapMaxFiles, 10)       \
  F(LIST, "MAIL_QUOTAS", mailQuotas, MailUserQuota)                    \
  F(INT, "MAIL_QUOTA_DEFAULT", mailQuotaDefault)                       \
  F(INT, "XMAIL_QUOTA_DEFAULT", xmailQuotaDefault)                     \
  F(BOOL, "USE_OLD_CONFIG", useOldConfig)                              \
  F(BOOL, "ENABLE_USER_RULES", enableUserRules, true)                  \
  F(INT, "NUM_THREADS", numThreads, 10)                                \
  F(BOOL, "ENABLE_ARDEL_ANTISPAM", enableArdelAntispam)                \
  F(STRING, "ARDEL_ANTISPAM_URL", ardelAntispamUrl)

class MailDispatcherParams : public ServiceRecord<MailDispatcherParams, ServiceParams> {
 public:
  ZU_RECORD(MailDispatcherParams, "MAIL_DISPATCHER")
};

#define ZU_FIELDS_MailDispatcherGroup(F)           \
  F(INT, "SPAM_SCORE", spamScore, 90)              \
  F(INT, "MAX_SIZE_INT", maxSizeInt)               \
  F(INT, "OUT_MAX_SIZE_INT", outMaxSizeInt)        \
  F(BOOL, "ALLOW_TYPES_INT", allowTypesInt)        \
  F(STRING, "BAD_TYPES_INT", badTypesInt)          \
  F(BOOL, "OUT_ALLOW_TYPES_INT", outAllowTypesInt) \
  F(STRING, "OUT_BAD_TYPES_INT", outBadTypesInt)   \
  F(INT, "MAX_SIZE_EXT", maxSizeExt)               \
  F(INT, "OUT_MAX_SIZE_EXT", outMaxSizeExt)        \
  F(BOOL, "ALLOW_TYPES_EXT", allowTypesExt)        \
  F(STRING, "BAD_TYPES_EXT", badTypesExt)          \
  F(BOOL, "OUT_ALLOW_TYPES_EXT", outAllowTypesExt) \
  F(STRING, "OUT_BAD_TYPES_EXT", outBadTypesExt)   \
  F(LIST, "RULES", rules, MailRule)                \
  F(STRING, "SIGNATURE", signature)                \
  F(BOOL, "IS_HTML_SIGNATURE", isHtmlSignature)

class MailDispatcherGroup : public Record<MailDispatcherGroup, GroupParams> {
 public:
  ZU_RECORD(MailDispatcherGroup, "MAIL_DISPATCHER_GROUP")
};

#define ZU_FIELDS_MailGroupParams(F)           \
  F(BOOL, "ENABLE_CONTROL", enableControl)     \
  F(INT, "MAX_SIZE_INT", maxSizeInt)           \
  F(INT, "MAX_SIZE_FROMOUT", maxSizeFromout)   \
  F(INT, "MAX_SIZE_TOOUT", maxSizeToout)       \
  F(STRING, "BAD_TYPES_IN", badTypesIn)        \
  F(BOOL, "ALLOW_TYPES_IN", allowTypesIn)      \
  F(BOOL, "SAME_TYPES_IN_OUT", sameTypesInOut) \
  F(STRING, "BAD_TYPES_OUT", badTypesOut)      \
  F(BOOL, "ALLOW_TYPES_OUT", allowTypesOut)    \
  F(INT, "MAX_MAILBOX_SIZE", maxMailboxSize)   \
  F(INT, "SPAM_SCORE", spamScore)

class MailGroupParams : public Record<MailGroupParams, GroupParams> {
 public:
  ZU_RECORD(MailGroupParams, "MAIL_GROUP")
};

#define ZU_FIELDS_DomainParam(F)        \
  F(KEY, "DOMAIN", domain)              \
  F(BOOL, "VIRTUAL", virtualValue)      \
  F(BOOL, "SEND_TO_OTHER", sendToOther) \
  F(BOOL, "CATCH_ALL", catchAll)        \
  F(STRING, "SUFFIX", suffix)

class DomainParam : public Record<DomainParam, ParamLoader> {
 public:
  ZU_RECORD(DomainParam, "DOMAIN_PARAM")
};

#define ZU_FIELDS_MailUserRuleList(F) F(LIST, "USER_RULES", userRules, MailUserRule)

class MailUserRuleList : public Record<MailUserRuleList, ParamLoader> {
 public:
  ZU_RECORD(MailUserRuleList, "MAIL_USER_RULE_LIST")
};
