/*
** The Win32 subset the library is written against. On Windows this is the
** system's own headers; elsewhere it declares the same names, types,
** constants and error codes, implemented by the files of this folder (one
** per DLL they stand in for). Library code includes this header and nothing
** platform-specific besides.
*/
#pragma once

#ifdef _WIN32

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <mstcpip.h>
#include <shlwapi.h>
#include <direct.h>
#include <io.h>
#include <stdio.h>
// clang-format on

#else

#include "platform/posix/types.h"
#include "platform/posix/winerror.h"
#include "platform/posix/msvcrt.h"
#include "platform/posix/kernel32.h"
#include "platform/posix/ws2_32.h"
#include "platform/posix/advapi32.h"

#endif
