/*
** Mail user records: per-user mail settings, aliases in their short and full
** forms, and summaries of stored messages, each with its list wrapper.
**
** A new class of this area is declared here, its fields as in
** paramloader/paramloader.h, and gets one line in mailuser_params.def, which
** gives it its field table, its place in the factory and in the catalogue
** tests (catalogue.def says which of the three kinds of line to use).
*/
#pragma once

#include "lib/interface/service_params.h"

#define ZU_FIELDS_MailUserParams(F)      \
  F(KEY, "LOGIN", login)                 \
  F(BOOL, "AWAY", away)                  \
  F(STRING, "AWAY_MESSAGE", awayMessage) \
  F(INT, "AWAY_INIT_DATE", awayInitDate) \
  F(INT, "AWAY_END_DATE", awayEndDate)

class MailUserParams : public Record<MailUserParams, ParamLoader> {
 public:
  ZU_RECORD(MailUserParams, "MAIL_USER_PARAMS")
};

#define ZU_FIELDS_MailUserParamList(F) F(LIST, "USER_PARAMS", userParams, MailUserParams)

class MailUserParamList : public Record<MailUserParamList, ParamLoader> {
 public:
  ZU_RECORD(MailUserParamList, "MAIL_USER_PARAM_LIST")
};

#define ZU_FIELDS_MailAlias(F) \
  F(KEY, "ALIAS", alias)       \
  F(STRING, "DESC", desc)      \
  F(LIST, "LIST", list, StringParam)

class MailAlias : public Record<MailAlias, ParamLoader> {
 public:
  ZU_RECORD(MailAlias, "MAIL_ALIAS")
};

#define ZU_FIELDS_MailAliasIndex(F) \
  F(KEY, "ALIAS", alias)            \
  F(STRING, "DESC", desc)           \
  F(INT, "COUNT", count)

class MailAliasIndex : public Record<MailAliasIndex, ParamLoader> {
 public:
  ZU_RECORD(MailAliasIndex, "MAIL_ALIAS_IDX")
};

#define ZU_FIELDS_MailAliasList(F) F(LIST, "_ALIASES", aliases, MailAliasIndex)

class MailAliasList : public Record<MailAliasList, ParamLoader> {
 public:
  ZU_RECORD(MailAliasList, "MAIL_ALIAS_LIST")
};

#define ZU_FIELDS_MailAliasFullList(F) F(LIST, "_ALIASES", aliases, MailAlias)

class MailAliasFullList : public Record<MailAliasFullList, ParamLoader> {
 public:
  ZU_RECORD(MailAliasFullList, "MAIL_ALIAS_FULLLIST")
};

#define ZU_FIELDS_MailMessage(F)              \
  F(KEY, "ID", id)                            \
  F(INT, "STATUS", status)                    \
  F(STRING, "FROM", from)                     \
  F(STRING, "SUBJECT", subject)               \
  F(INT, "TIME", time)                        \
  F(LIST, "RCPT_LIST", rcptList, StringParam) \
  F(INT, "SIZE", size)

class MailMessage : public Record<MailMessage, ParamLoader> {
 public:
  ZU_RECORD(MailMessage, "MAIL_MESSAGE")
};

#define ZU_FIELDS_MessageList(F) F(LIST, "MESSAGES", messages, MailMessage)

class MessageList : public Record<MessageList, ParamLoader> {
 public:
  ZU_RECORD(MessageList, "MESSAGE_LIST")
};
