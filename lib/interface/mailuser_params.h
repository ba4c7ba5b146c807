/*
** Mail user records: users, aliases and messages.
*/
#pragma once

#include "lib/interface/service_params.h"

/* The classes of this area that the factory creates by tag. */
#define ZU_FACTORY_MAILUSER(X)
