/*
** Field tables of the user records.
*/
#include "lib/interface/user_params.h"

ZU_RECORD_TABLE(UserInfo)
ZU_RECORD_TABLE(GroupInfo)
ZU_RECORD_TABLE(UserListParams)
ZU_RECORD_TABLE(UserBaseConfig)
ZU_RECORD_TABLE(GroupOveride)
ZU_RECORD_TABLE(LoginParams)
ZU_RECORD_TABLE(LogoffParams)
ZU_RECORD_TABLE(AddToLogParams)
ZU_RECORD_TABLE(SystemMonitorParams)
ZU_RECORD_TABLE(ServiceInfo)
ZU_RECORD_TABLE(ServiceList)
ZU_RECORD_TABLE(FileInfo)
ZU_RECORD_TABLE(FileList)
ZU_RECORD_TABLE(ConnectionInfo)
ZU_RECORD_TABLE(ConnectionList)
ZU_RECORD_TABLE(CapabilityInfo)
ZU_RECORD_TABLE(AboutInfo)
ZU_RECORD_TABLE(ZuInfo)
ZU_RECORD_TABLE(ZuSnmpObj)
