/*
** The registry and the shlwapi key helpers (advapi32.cpp, shlwapi.cpp).
** Included through platform/win32.h only.
*/
#pragma once

#include "platform/posix/types.h"
