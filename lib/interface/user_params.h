/*
** User, login, monitoring and status records.
*/
#pragma once

#include "lib/interface/service_params.h"

/* The classes of this area that the factory creates by tag. */
#define ZU_FACTORY_USER(X)
