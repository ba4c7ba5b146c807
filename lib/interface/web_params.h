/*
** Web records: the web proxy and its groups and rules, the web filter,
** the web server, webmail and the FTP server.
*/
#pragma once

#include "lib/interface/service_params.h"

/* The classes of this area that the factory creates by tag. */
#define ZU_FACTORY_WEB(X)
