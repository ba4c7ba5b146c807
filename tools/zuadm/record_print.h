/*
** The readable text form of a record that zuadm prints: the tag, then one
** line per field in serialization order, nested lists indented with each
** element's tag and name. Secrets are shown in their stored, encoded form.
** Also the same as JSON.
**
**     FIREWALL_RULES
**       RULES [
**         FIREWALL_RULE "0000"
**           ID = -1
**           NAME = "ssh in"
**       ]
*/
#pragma once

#include "paramloader/paramloader.h"

/* The text form of record (Latin-1, lines ending in LF). */
zustring RecordText(const ParamLoader& record);

/* record as a JSON object (UTF-8): "$TYPE" and the fields in order, lists
** as arrays of objects with their "$TYPE" and "$NAME"; integers as
** numbers, booleans as true and false, everything else as strings.
** Secrets in their stored, encoded form. */
zustring RecordJson(const ParamLoader& record);
