/*
** Kernel functions: files through handles, directory search, version and
** system information, last error, message texts (kernel32.cpp).
** Included through platform/win32.h only.
*/
#pragma once

#include "platform/posix/types.h"

/* Handles of files and sockets are descriptors; -1 is no handle. */
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

/* The calling thread's last error (shared with WSAGetLastError). */
DWORD GetLastError();
void SetLastError(DWORD error);

#define HANDLE_FLAG_INHERIT 0x00000001
#define HANDLE_FLAG_PROTECT_FROM_CLOSE 0x00000002

/* Sets the flags of mask to those of flags; only inheritance by child
** processes (close-on-exec) is kept here. */
BOOL SetHandleInformation(HANDLE handle, DWORD mask, DWORD flags);
