/*
** Kernel functions: files through handles, directory search, version and
** system information, last error, message texts (kernel32.cpp).
** Included through platform/win32.h only.
**
** Paths given to these calls may use either separator: a backslash is taken
** as '/', as Windows takes '/' as a backslash.
*/
#pragma once

#include "platform/posix/types.h"

/* Handles of files and sockets are descriptors; -1 is no handle. */
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

#define MAX_PATH 260

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

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400

#define IO_REPARSE_TAG_SYMLINK 0xA000000CL

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

/* Directory search. The pattern's last part may hold the wildcards * and ?,
** matched without regard to case ("*.*" matches every name). Entries come
** "." and ".." first, then in the order of their upper-case names, as NTFS
** lists them. The search takes its list of names when it starts. Attributes
** are derived from the file's status: a directory is DIRECTORY, a regular
** file ARCHIVE (plus READONLY without the owner's write permission), any
** other kind of file SYSTEM; a symbolic link adds REPARSE_POINT (with
** IO_REPARSE_TAG_SYMLINK in dwReserved0) to its target's attributes, and a
** dangling one has REPARSE_POINT alone. Failures: ERROR_PATH_NOT_FOUND
** (no such directory), ERROR_FILE_NOT_FOUND (nothing matches),
** ERROR_NO_MORE_FILES at the end of the search. */
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE search);

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_WRITE_THROUGH 0x00000008
/* Renames a file or directory in one step; with MOVEFILE_REPLACE_EXISTING
** it takes the place of an existing file atomically, else an existing
** target fails with ERROR_ALREADY_EXISTS. MOVEFILE_WRITE_THROUGH returns
** only when the new name is on the disk. Both separators accepted. */
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);

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
