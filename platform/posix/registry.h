/*
** The registry engine of advapi32.cpp as seen by shlwapi.cpp: whole-tree
** operations, each one transaction. For the stand-in's own sources only.
*/
#pragma once

#include "platform/win32.h"

namespace standin {

/* Deletes subKey of key (key itself when subKey is null or empty) with all
** its subkeys and values. */
LSTATUS RegistryDeleteTree(HKEY key, const char* subKey);
/* Copies the values and subkeys of subKey of source (source itself when
** subKey is null or empty) into destination, replacing values of the same
** name and merging into subkeys of the same name. */
LSTATUS RegistryCopyTree(HKEY source, const char* subKey, HKEY destination);

}  // namespace standin
