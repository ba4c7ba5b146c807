/*
** Where the stand-in keeps its state, for the stand-in's own sources only
** (library code never includes this).
**
** The root directory is named by the environment variable ZU_WIN32_ROOT; by
** default it is ~/.zu-win32 (or /tmp/zu-win32-UID without a home). It holds
** the registry database, the certificate stores (certificates/, see
** platform/posix/crypt32.h) and standin.conf, a text file of name=value
** lines that configures what the stand-in reports, e.g.
**
**     windows.version=6.1.7601
**     advapi32.RegRenameKey=0
**
** Both are read at every use, so a test may change them between calls.
*/
#pragma once

#include <string>

#include "platform/posix/types.h"

namespace standin {

/* The root directory, created when missing; no trailing separator. */
std::string Root();
/* The value of name in ROOT/standin.conf, or fallback when it is not set. */
std::string Setting(const char* name, const char* fallback);

/* path with every backslash turned into '/': the stand-in's calls take
** both separators, as Windows does. */
std::string NativePath(const char* path);
/* The directory part of a native path: "." without a '/', "/" for a name
** right below the root. */
std::string DirectoryOf(const std::string& path);
/* The Win32 error code for a C library error number. */
DWORD ErrorFromErrno(int error);

}  // namespace standin
