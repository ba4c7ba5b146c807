/*
** User records: users, groups and the user base settings, login, logoff and
** log messages, the system monitor, and the status reports of the server
** (services, files, connections, installation, SNMP objects).
**
** A new class of this area is declared here, its fields as in
** paramloader/paramloader.h, and gets one line in user_params.def, which
** gives it its field table, its place in the factory and in the catalogue
** tests (catalogue.def says which of the three kinds of line to use).
*/
#pragma once

#include "lib/interface/service_params.h"

#define ZU_FIELDS_UserInfo(F)                        \
  F(KEY, "LOGIN", login)                             \
  F(STRING, "USER_ID", userId)                       \
  F(STRING, "USERNAME", username)                    \
  F(PASSWORD, "PASSWORD", password)                  \
  F(BOOL, "SYS_PASSWD", sysPasswd)                   \
  F(BOOL, "USE_IP_AUTH", useIpAuth)                  \
  F(STRING, "USER_IP", userIp)                       \
  F(STRING, "USER_AUTH_TYPE", userAuthType, "|1|2|") \
  F(STRING, "EMAIL", email)                          \
  F(STRING, "INSTANT_MESSAGE", instantMessage)       \
  F(STRING, "MAILHOST_SERV", mailhostServ)           \
  F(STRING, "MAILHOST_ADDR", mailhostAddr)           \
  F(STRING, "MAILALIASES", mailaliases)              \
  F(MAC, "USER_MAC", userMac)                        \
  F(INT, "USER_MAX_LOGIN", userMaxLogin)             \
  F(LIST, "AD_GROUPS", adGroups, StringParam)        \
  F(BOOL, "DOMAIN_USER", domainUser)

class UserInfo : public Record<UserInfo, RepliBase> {
 public:
  ZU_RECORD(UserInfo, "USER_INFO")
};

#define ZU_FIELDS_GroupInfo(F)   \
  F(KEY, "NAME", name)           \
  F(STRING, "GROUP_ID", groupId) \
  F(STRING, "NT_GROUP", ntGroup) \
  F(STRING, "DESCRIPTION", description)

class GroupInfo : public Record<GroupInfo, RepliBase> {
 public:
  ZU_RECORD(GroupInfo, "GROUP_INFO")
};

#define ZU_FIELDS_UserListParams(F)    \
  F(LIST, "GROUPS", groups, GroupInfo) \
  F(LIST, "USERS", users, UserInfo)

class UserListParams : public Record<UserListParams, ParamLoader> {
 public:
  ZU_RECORD(UserListParams, "USER_LIST")
};

#define ZU_FIELDS_UserBaseConfig(F)                   \
  F(BOOL, "ADISACTIVE", adisactive)                   \
  F(STRING, "ADSERVER", adserver)                     \
  F(STRING, "ADUSER", aduser)                         \
  F(STRING, "ADPASSWORD", adpassword)                 \
  F(INT, "BLOCKBADLOGINS", blockbadlogins, 3)         \
  F(INT, "BADLOGINIDLETIME", badloginidletime, 300)   \
  F(INT, "BADLOGINDENYTIME", badlogindenytime, 86400) \
  F(STRING, "ADMIN_EMAIL", adminEmail)

class UserBaseConfig : public Record<UserBaseConfig, ParamLoader> {
 public:
  ZU_RECORD(UserBaseConfig, "USERBASE_CFG")
};

#define ZU_FIELDS_GroupOveride(F) \
  F(KEY, "INSTANCE", instance)    \
  F(STRING, "GROUP", group)

class GroupOveride : public Record<GroupOveride, ParamLoader> {
 public:
  ZU_RECORD(GroupOveride, "GROUP_OVERIDE")
};

#define ZU_FIELDS_LoginParams(F) \
  F(STRING, "LOGIN", login)      \
  F(STRING, "PASSWORD", password)

class LoginParams : public Record<LoginParams, ParamLoader> {
 public:
  ZU_RECORD(LoginParams, "LOGIN")
};

#define ZU_FIELDS_LogoffParams(F) \
  F(IPADDR, "IP", ip)             \
  F(STRING, "USER", user)

class LogoffParams : public Record<LogoffParams, ParamLoader> {
 public:
  ZU_RECORD(LogoffParams, "LOGOFF")
};

#define ZU_FIELDS_AddToLogParams(F) \
  F(IPADDR, "IP", ip)               \
  F(STRING, "USER", user)           \
  F(INT, "TYPE", type)              \
  F(STRING, "MESSAGE", message)

class AddToLogParams : public Record<AddToLogParams, ParamLoader> {
 public:
  ZU_RECORD(AddToLogParams, "ADD_TO_LOG_PARAMS")
};

#define ZU_FIELDS_SystemMonitorParams(F)                           \
  F(BOOL, "SMTP_ENABLE", smtpEnable)                               \
  F(STRING, "SMTP_SERVER", smtpServer)                             \
  F(INT, "SMTP_PORT", smtpPort, 25)                                \
  F(STRING, "SMTP_USER", smtpUser)                                 \
  F(PASSWORD, "SMTP_PASSWORD", smtpPassword)                       \
  F(STRING, "SMTP_RECIPIENT", smtpRecipient)                       \
  F(STRING, "SMTP_SENDER", smtpSender)                             \
  F(STRING, "TEXT_SUBJECT", textSubject)                           \
  F(STRING, "TEXT_DATA", textData)                                 \
  F(BOOL, "USE_SSL", useSsl)                                       \
  F(BOOL, "CMD_ENABLE", cmdEnable)                                 \
  F(STRING, "ON_FAILURE_CMD", onFailureCmd)                        \
  F(STRING, "ON_RECOVER_CMD", onRecoverCmd)                        \
  F(BOOL, "DO_MON_LINKS", doMonLinks)                              \
  F(BOOL, "DO_MON_FAILED_LOGINS", doMonFailedLogins, true)         \
  F(BOOL, "DO_MON_SERVICES", doMonServices, true)                  \
  F(INT, "MAIL_QUEUE_SIZE_THRESHOLD", mailQueueSizeThreshold, 100) \
  F(INT, "MAIL_QUEUE_TIME", mailQueueTime, 86400)                  \
  F(INT, "MAX_INPUT_RATE", maxInputRate)                           \
  F(INT, "MAX_OUTPUT_RATE", maxOutputRate)                         \
  F(INT, "INPUT_RATE_EVAL_TIME", inputRateEvalTime, 900)           \
  F(INT, "OUTPUT_RATE_EVAL_TIME", outputRateEvalTime, 900)         \
  F(STRING, "SMTP_EHLO", smtpEhlo)

class SystemMonitorParams : public ServiceRecord<SystemMonitorParams, ServiceParams> {
 public:
  ZU_RECORD(SystemMonitorParams, "SYSTEM_MONITOR")
};

#define ZU_FIELDS_ServiceInfo(F)              \
  F(STRING, "INSTANCE", instance)             \
  F(STRING, "SERVICE", service)               \
  F(STRING, "STATUS", status)                 \
  F(STRING, "PORT", port)                     \
  F(BOOL, "HAS_GROUP_CONFIG", hasGroupConfig) \
  F(STRING, "OID", oid)                       \
  F(BOOL, "ALLOW_MULTIPLE_INSTANCES", allowMultipleInstances)

class ServiceInfo : public Record<ServiceInfo, ParamLoader> {
 public:
  ZU_RECORD(ServiceInfo, "SVC_INFO")
};

#define ZU_FIELDS_ServiceList(F) F(LIST, "SERVICES", services, ServiceInfo)

class ServiceList : public Record<ServiceList, ParamLoader> {
 public:
  ZU_RECORD(ServiceList, "SERVICES")
};

#define ZU_FIELDS_FileInfo(F) \
  F(STRING, "NAME", name)     \
  F(BOOL, "IS_DIR", isDir)

class FileInfo : public Record<FileInfo, ParamLoader> {
 public:
  ZU_RECORD(FileInfo, "FILE_INFO")
};

#define ZU_FIELDS_FileList(F) F(LIST, "LIST", list, FileInfo)

class FileList : public Record<FileList, ParamLoader> {
 public:
  ZU_RECORD(FileList, "FILE_LIST")
};

#define ZU_FIELDS_ConnectionInfo(F)         \
  F(INT, "ID", id)                          \
  F(IPADDR, "IP_FROM", ipFrom)              \
  F(IPADDR, "IF_FROM", ifFrom)              \
  F(IPADDR, "IP_TO", ipTo)                  \
  F(IPADDR, "IF_TO", ifTo)                  \
  F(INT, "PORT_FROM", portFrom)             \
  F(INT, "PORT_TO", portTo)                 \
  F(INT, "START_TIME", startTime)           \
  F(INT, "LAST_TIME", lastTime)             \
  F(STRING, "SVC_NAME", svcName)            \
  F(STRING, "USER_NAME", userName)          \
  F(STRING, "DPI_PROTO_NAME", dpiProtoName) \
  F(INT, "BYTES_IN", bytesIn)               \
  F(INT, "BYTES_OUT", bytesOut)

class ConnectionInfo : public Record<ConnectionInfo, ParamLoader> {
 public:
  ZU_RECORD(ConnectionInfo, "CONNECTION_INFO")
  // Outside the table: kept by the code that reports the connection.
  int32_t runtimeValues[2] = {};
};

#define ZU_FIELDS_ConnectionList(F) F(LIST, "CONNECTIONS", connections, ConnectionInfo)

class ConnectionList : public Record<ConnectionList, ParamLoader> {
 public:
  ZU_RECORD(ConnectionList, "CONNECTION_LIST")
};

#define ZU_FIELDS_CapabilityInfo(F) F(STRING, "NAME", name)

class CapabilityInfo : public Record<CapabilityInfo, ParamLoader> {
 public:
  ZU_RECORD(CapabilityInfo, "CAP_INFO")
};

#define ZU_FIELDS_AboutInfo(F)     \
  F(STRING, "VERSION", version)    \
  F(STRING, "SO", so)              \
  F(STRING, "PLATFORM", platform)  \
  F(STRING, "AD_DOMAIN", adDomain) \
  F(LIST, "CAPABILITIES", capabilities, CapabilityInfo)

class AboutInfo : public Record<AboutInfo, ParamLoader> {
 public:
  ZU_RECORD(AboutInfo, "ABOUT_INFO")
};

#define ZU_FIELDS_ZuInfo(F)     \
  F(STRING, "VERSION", version) \
  F(STRING, "SERVER", server)   \
  F(STRING, "PATH", path)       \
  F(STRING, "OS", os)

class ZuInfo : public Record<ZuInfo, ParamLoader> {
 public:
  ZU_RECORD(ZuInfo, "ZU_INFO")
};

#define ZU_FIELDS_ZuSnmpObj(F) \
  F(STRING, "OID", oid)        \
  F(STRING, "DATA", data)      \
  F(INT, "TYPE", type)         \
  F(STRING, "SHORTDESC", shortdesc)

class ZuSnmpObj : public Record<ZuSnmpObj, ParamLoader> {
 public:
  ZU_RECORD(ZuSnmpObj, "SNMP_OBJ")
};
