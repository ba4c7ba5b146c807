/*
** Mail records: the mail services, dispatcher groups, domains and the
** mail-policy rules.
*/
#pragma once

#include "lib/interface/service_params.h"

/* The classes of this area that the factory creates by tag. */
#define ZU_FACTORY_MAIL(X)
