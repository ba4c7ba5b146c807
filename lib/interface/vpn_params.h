/*
** Instant-messaging filter, VPN and cluster records.
*/
#pragma once

#include "lib/interface/service_params.h"

/* The classes of this area that the factory creates by tag. */
#define ZU_FACTORY_VPN(X)
