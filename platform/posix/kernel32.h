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
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400

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
** lists them. The search takes its list of names when it starts. Only the
** name and the attributes DIRECTORY (a directory) and ARCHIVE (a regular
** file) are filled, following symbolic links, and REPARSE_POINT for a
** symbolic link (zuadm does not follow links out of its store); anything
** else, a dangling link too, has no attributes but that one. Failures: ERROR_PATH_NOT_FOUND
** (no such directory), ERROR_FILE_NOT_FOUND (nothing matches),
** ERROR_NO_MORE_FILES at the end of the search. */
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE search);

typedef LONG* PLONG;
typedef const void* LPCVOID;

/* Overlapped I/O is not supported: every transfer is done when the call
** returns. */
typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(-1))

/* Opens or creates a file; the handle is its descriptor (never 0), closed on
** exec unless the security attributes ask for inheritance. Access and
** creation work as on Windows, including ERROR_ALREADY_EXISTS after
** CREATE_ALWAYS or OPEN_ALWAYS found the file and ERROR_ACCESS_DENIED for
** a directory. FILE_ATTRIBUTE_READONLY makes a new file read-only;
** FILE_FLAG_SEQUENTIAL_SCAN becomes a read-ahead hint.
** Share modes are enforced among handles of the stand-in, in this and in
** other processes, through open-file-description locks on offsets far
** beyond any file's end (so reads and writes are unaffected): an open whose
** access another handle does not share, or whose share mode excludes
** another handle's access, fails with ERROR_SHARING_VIOLATION. Programs
** that do not use the stand-in are not restricted (locks are advisory), nor
** are files on file systems without such locks. */
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flagsAndAttributes, HANDLE templateFile);
/* Reads up to size bytes; at the end of the file TRUE with 0 bytes. */
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
/* Writes all size bytes, or fails with the count written so far. */
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
/* Moves the file pointer; the low 32 bits of the new position, or
** INVALID_SET_FILE_POINTER (ERROR_NEGATIVE_SEEK before the start; without
** distanceHigh, ERROR_INVALID_PARAMETER past 4 GiB). */
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL CloseHandle(HANDLE handle);

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000

#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_SYS_DEFAULT 0x02
#define MAKELANGID(primary, sub) ((static_cast<WORD>(sub) << 10) | static_cast<WORD>(primary))
#define PRIMARYLANGID(language) (static_cast<WORD>(language) & 0x3FF)
#define LANG_USER_DEFAULT MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)
#define LANG_SYSTEM_DEFAULT MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT)

/* The system's English text of a Win32 error code (ending in CR LF, as on
** Windows), stored with its NUL in buffer; returns its length, or 0 with
** ERROR_MR_MID_NOT_FOUND for a code without text, ERROR_INSUFFICIENT_BUFFER
** when it does not fit, ERROR_RESOURCE_LANG_NOT_FOUND for a language other
** than neutral, default or English. Only FORMAT_MESSAGE_FROM_SYSTEM (with
** or without IGNORE_INSERTS) into a caller's buffer is supported. */
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments);

/* user32's message box, here a line "caption: text" on stderr; returns
** IDOK at once. */
typedef void* HWND;
#define MB_OK 0x00000000
#define MB_ICONERROR 0x00000010
#define IDOK 1
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

/* Version and system information, as the stand-in's configuration
** (standin.conf, see platform/posix/standin.h) describes the machine:
**
**   windows.version=6.1.7601      major.minor[.build]; default 10.0.19045.
**                                 Any other form makes GetVersionExA fail
**                                 with ERROR_INVALID_DATA.
**   windows.platform=nt           nt, windows (95/98/Me) or win32s, or the
**                                 VER_PLATFORM_ number; default nt
**   windows.product_type=server   workstation, domain_controller, server or
**                                 none (0, as Windows 9x reports), or the
**                                 VER_NT_ number; default workstation
**   windows.service_pack=Service Pack 1
**                                 the service-pack text (" A" for 98 SE);
**                                 "Service Pack N[.M]" also sets the numbers
**   windows.processor=x64         the machine's architecture, reported by
**                                 GetNativeSystemInfo: x86, x64, arm, arm64,
**                                 ia64 or the PROCESSOR_ARCHITECTURE_ number;
**                                 default the architecture of this build
**   windows.process_processor=x86 what GetSystemInfo reports (x86 for a
**                                 32-bit process on 64-bit Windows); default
**                                 windows.processor
*/
typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

/* The extended structure: the same members, then these (156 bytes). */
typedef struct _OSVERSIONINFOEXA : _OSVERSIONINFOA {
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
} OSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2
#define VER_NT_WORKSTATION 1
#define VER_NT_DOMAIN_CONTROLLER 2
#define VER_NT_SERVER 3

/* dwOSVersionInfoSize must be the size of one of the two structures
** (ERROR_INSUFFICIENT_BUFFER otherwise); the extended one gets the service
** pack numbers and the product type. */
BOOL GetVersionExA(LPOSVERSIONINFOA info);

typedef uintptr_t DWORD_PTR;

typedef struct _SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_ARM 5
#define PROCESSOR_ARCHITECTURE_IA64 6
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_ARM64 12
#define PROCESSOR_ARCHITECTURE_UNKNOWN 0xFFFF
#define PROCESSOR_INTEL_PENTIUM 586
#define PROCESSOR_AMD_X8664 8664

void GetSystemInfo(LPSYSTEM_INFO info);
void GetNativeSystemInfo(LPSYSTEM_INFO info);

/* Modules. The stand-in knows the DLLs and entry points that the library
** looks up at run time (a table in kernel32.cpp); names are matched without
** regard to case, ".dll" may be left out. An entry can be hidden, as on a
** Windows version without it, by the setting DLL.ENTRY=0 in standin.conf
** (e.g. kernel32.GetNativeSystemInfo=0). Unknown DLLs fail with
** ERROR_MOD_NOT_FOUND, unknown entries with ERROR_PROC_NOT_FOUND. */
#ifndef WINAPI
#define WINAPI
#endif
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef intptr_t(WINAPI* FARPROC)();

HMODULE LoadLibraryA(LPCSTR name);
/* As LoadLibraryA. */
HMODULE GetModuleHandleA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_WRITE_THROUGH 0x00000008
/* Renames a file or directory in one step; with MOVEFILE_REPLACE_EXISTING
** it takes the place of an existing file atomically, else an existing
** target fails with ERROR_ALREADY_EXISTS. MOVEFILE_WRITE_THROUGH returns
** only when the new name is on the disk. Both separators accepted. */
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);

#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
/* UTF-8 (CP_UTF8, the one code page here) to UTF-16. Invalid UTF-8 becomes
** U+FFFD unless MB_ERR_INVALID_CHARS is given. A source length of
** -1 includes the terminating NUL; an output size of 0 asks for the length. */
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);

/* Named mutexes, shared by the processes that use one stand-in root: each
** is a file ROOT/mutex/NAME (with '!' for the separators in NAME), and a
** handle is a descriptor of it, closed with CloseHandle. Only named ones,
** created without initial ownership. Ownership belongs to the handle (one
** thread uses a handle here) and counts repeated waits, as on Windows; it
** ends with ReleaseMutex, or when the last copy of the handle is closed or
** its process ends, and the next owner's wait then returns WAIT_ABANDONED.
** A wait polls the mutex, every few milliseconds, up to its time-out. */
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED (static_cast<DWORD>(0xFFFFFFFF))
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
/* For a mutex handle: WAIT_OBJECT_0 or WAIT_ABANDONED once it is owned,
** WAIT_TIMEOUT after milliseconds (INFINITE: never), WAIT_FAILED with
** ERROR_INVALID_HANDLE for any other handle. */
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
/* FALSE with ERROR_NOT_OWNER when the handle does not own the mutex. */
BOOL ReleaseMutex(HANDLE mutex);
