/*
** Kernel functions: files through handles, directory search, version and
** system information, last error, message texts (kernel32.cpp).
** Included through platform/win32.h only.
*/
#pragma once

#include "platform/posix/types.h"
