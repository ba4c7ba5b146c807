/*
** Field tables of the service records.
*/
#include "lib/interface/service_params.h"

ZU_RECORD_TABLE(ServiceParams)
ZU_RECORD_TABLE(StringParam)
ZU_RECORD_TABLE(ServiceTcpParams)
ZU_RECORD_TABLE(IntParam)
ZU_RECORD_TABLE(StringListParam)
ZU_RECORD_TABLE(ConnectionEndpoint)
ZU_RECORD_TABLE(NetworkAndMask)
ZU_RECORD_TABLE(GroupParams)
ZU_RECORD_TABLE(DHCPLease)
ZU_RECORD_TABLE(DhcpParams)
ZU_RECORD_TABLE(DnsRule)
ZU_RECORD_TABLE(DnsServerParams)
ZU_RECORD_TABLE(DDNSParams)
ZU_RECORD_TABLE(RegraDMZ)
ZU_RECORD_TABLE(ServiceDMZParams)
ZU_RECORD_TABLE(PortmapParams)
ZU_RECORD_TABLE(RegraAcesso)
ZU_RECORD_TABLE(TProxyParams)
ZU_RECORD_TABLE(CtlAcessoParams)
