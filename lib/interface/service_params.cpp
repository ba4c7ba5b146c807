/*
** Field tables of the service records.
*/
#include "lib/interface/service_params.h"

ZU_RECORD_TABLE(StringParam)
ZU_RECORD_TABLE(IntParam)
ZU_RECORD_TABLE(StringListParam)
ZU_RECORD_TABLE(ConnectionEndpoint)
ZU_RECORD_TABLE(NetworkAndMask)
ZU_RECORD_TABLE(GroupParams)
ZU_RECORD_TABLE(ServiceParams)
ZU_RECORD_TABLE(ServiceTcpParams)
