/*
** The Win32 subset the library is written against. On Windows this is the
** system's own headers; elsewhere it declares the same names, types,
** constants and error codes, implemented by the files of this folder (one
** per DLL they stand in for). Library code includes this header and nothing
** platform-specific besides.
*/
#pragma once

#ifdef _WIN32

/* std::min and std::max, not the macros of windows.h. */
#ifndef NOMINMAX
#define NOMINMAX
#endif
/* The system's API, then the C runtime's own calls (_stricmp, _vsnprintf,
** _stat, _chdir...). */
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <mstcpip.h>
#include <shlwapi.h>
#define SECURITY_WIN32
#include <wincrypt.h>
#include <security.h>
#include <schannel.h>
#include <direct.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
// clang-format on

/* MinGW's headers lack the SDK's acquire read of a LONG; a macro, so that
** headers which do declare it keep their own. */
#if defined(__MINGW32__) && !defined(ReadAcquire)
inline LONG zu_ReadAcquire(const volatile LONG* source) {
  return __atomic_load_n(source, __ATOMIC_ACQUIRE);
}
#define ReadAcquire zu_ReadAcquire
#endif

#else

// clang-format off
#include "platform/posix/types.h"
#include "platform/posix/winerror.h"
#include "platform/posix/msvcrt.h"
#include "platform/posix/kernel32.h"
#include "platform/posix/ws2_32.h"
#include "platform/posix/advapi32.h"
#include "platform/posix/crypt32.h"
#include "platform/posix/secur32.h"
// clang-format on

#endif
