/*
** Field tables of the IM, VPN and cluster records.
*/
#include "lib/interface/vpn_params.h"
