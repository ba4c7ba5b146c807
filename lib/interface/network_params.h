/*
** Network records: the global network settings, interfaces and their
** addresses, named addresses, firewall rules, link balancing and bandwidth
** control.
*/
#pragma once

#include "lib/interface/service_params.h"

/* The classes of this area that the factory creates by tag. */
#define ZU_FACTORY_NETWORK(X)
