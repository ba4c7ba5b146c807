/*
** Field tables of the mail user records.
*/
#include "lib/interface/mailuser_params.h"

ZU_RECORD_TABLE(MailUserParams)
ZU_RECORD_TABLE(MailUserParamList)
ZU_RECORD_TABLE(MailAlias)
ZU_RECORD_TABLE(MailAliasIndex)
ZU_RECORD_TABLE(MailAliasList)
ZU_RECORD_TABLE(MailAliasFullList)
ZU_RECORD_TABLE(MailMessage)
ZU_RECORD_TABLE(MessageList)
