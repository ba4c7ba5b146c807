/*
** The record catalogue and its factory: every record class of the library,
** and the function that creates a record from its type tag.
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
