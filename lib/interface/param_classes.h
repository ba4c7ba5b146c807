/*
** The record catalogue and its factory: every record class of the library,
** one header per area, and the function that creates a record from its type
** tag. catalogue.def lists every class once, for the code that needs them
** all (the field tables, the factory, the tests).
*/
#pragma once

#include "lib/interface/mail_params.h"
#include "lib/interface/mailuser_params.h"
#include "lib/interface/network_params.h"
#include "lib/interface/service_params.h"
#include "lib/interface/user_params.h"
#include "lib/interface/vpn_params.h"
#include "lib/interface/web_params.h"

/* A new default record of the class whose tag equals tag exactly, or null.
** Records that only occur as list elements or bases are not known here;
** their lists create them. */
ParamLoader* CreateParamByTag(const char* tag);

/* The tags CreateParamByTag knows, in byte order. */
int FactoryTagCount();
const char* FactoryTag(int index);
