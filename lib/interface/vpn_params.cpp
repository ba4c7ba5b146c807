/*
** Field tables of the instant-messaging, VPN and cluster records.
*/
#include "lib/interface/vpn_params.h"

ZU_RECORD_TABLE(OLDIMFilterEntry)
ZU_RECORD_TABLE(IMFilterParams)
ZU_RECORD_TABLE(IMFilterEntry)
ZU_RECORD_TABLE(VpnGatewayParams)
ZU_RECORD_TABLE(VpnServerParams)
ZU_RECORD_TABLE(VpnClientParams)
ZU_RECORD_TABLE(VpnSslServerParams)
ZU_RECORD_TABLE(VpnSslClientParams)
ZU_RECORD_TABLE(SlaveHost)
ZU_RECORD_TABLE(ClusterMasterParams)
ZU_RECORD_TABLE(ClusterSlaveParams)
