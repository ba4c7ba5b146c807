/*
** Field tables of the network records.
*/
#include "lib/interface/network_params.h"
