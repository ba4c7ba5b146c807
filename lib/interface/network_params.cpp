/*
** Field tables of the network records.
*/
#include "lib/interface/network_params.h"

ZU_RECORD_TABLE(Ipv4Config)
ZU_RECORD_TABLE(NetworkInterface)
ZU_RECORD_TABLE(NetworkAddress)
ZU_RECORD_TABLE(FirewallRule)
ZU_RECORD_TABLE(BalanceRule)
ZU_RECORD_TABLE(NetworkParams)
ZU_RECORD_TABLE(NetworkInterfaceList)
ZU_RECORD_TABLE(NetworkAddressList)
ZU_RECORD_TABLE(FirewallRuleList)
ZU_RECORD_TABLE(LoadBalancerRule)
ZU_RECORD_TABLE(LoadBalancerParams)
ZU_RECORD_TABLE(BandwidthRule)
ZU_RECORD_TABLE(BandwidthControlParams)
