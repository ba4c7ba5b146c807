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

/* Times in 100-nanosecond intervals since 1601-01-01 UTC. */
typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

/* Run-time lookup of the few DLL entry points the library asks for by name.
** A module is known by its name (case-insensitive, ".dll" optional); an
** entry point can be hidden with the stand-in setting "<dll>.<entry>=0",
** e.g. advapi32.RegRenameKey=0, to play an older Windows. */
typedef struct HINSTANCE__* HMODULE;
typedef intptr_t (*FARPROC)();
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);

#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
/* UTF-8 (CP_UTF8) or Latin-1 (CP_ACP, 1252, 28591) to UTF-16. Invalid UTF-8
** becomes U+FFFD unless MB_ERR_INVALID_CHARS is given. A source length of
** -1 includes the terminating NUL; an output size of 0 asks for the length. */
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
