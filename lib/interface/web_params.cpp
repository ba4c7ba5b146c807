/*
** Field tables of the web records.
*/
#include "lib/interface/web_params.h"

ZU_RECORD_TABLE(HttpGroups)
ZU_RECORD_TABLE(HttpGroupAndSites)
ZU_RECORD_TABLE(HttpGroupParams)
ZU_RECORD_TABLE(HttpRule)
ZU_RECORD_TABLE(HttpProxyParams)
ZU_RECORD_TABLE(HttpSimpleDeviceRule)
ZU_RECORD_TABLE(HttpSimpleDevice)
ZU_RECORD_TABLE(NewHttpSimpleSlave)
ZU_RECORD_TABLE(HttpSimpleParams)
ZU_RECORD_TABLE(HttpAlias)
ZU_RECORD_TABLE(HttpExtension)
ZU_RECORD_TABLE(HttpsrvParams)
ZU_RECORD_TABLE(WebmailParams)
ZU_RECORD_TABLE(FtpRule)
ZU_RECORD_TABLE(FtpsrvParams)
