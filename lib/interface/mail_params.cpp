/*
** Field tables of the mail records.
*/
#include "lib/interface/mail_params.h"

ZU_RECORD_TABLE(SmtpServerParams)
ZU_RECORD_TABLE(PopServerParams)
ZU_RECORD_TABLE(ImapParams)
ZU_RECORD_TABLE(PopmapEntry)
ZU_RECORD_TABLE(PopmapParams)
ZU_RECORD_TABLE(DomainParams)
ZU_RECORD_TABLE(RuleCondition)
ZU_RECORD_TABLE(MailRule)
ZU_RECORD_TABLE(MailRule7)
ZU_RECORD_TABLE(MailUserRule)
ZU_RECORD_TABLE(MailShellOption)
ZU_RECORD_TABLE(MailShellParams)
ZU_RECORD_TABLE(MailUserQuota)
ZU_RECORD_TABLE(MailDispatcherParams)
ZU_RECORD_TABLE(MailDispatcherGroup)
ZU_RECORD_TABLE(MailGroupParams)
ZU_RECORD_TABLE(DomainParam)
ZU_RECORD_TABLE(MailUserRuleList)
