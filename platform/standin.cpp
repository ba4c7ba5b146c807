/*
** The stand-in's own state and helpers shared by its sources: the root
** directory, standin.conf, native paths and the Win32 codes of C library
** errors (see platform/posix/standin.h).
*/
#include "platform/posix/standin.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32.h"

namespace standin {

std::string Root() {
  std::string root;
  if (const char* named = std::getenv("ZU_WIN32_ROOT"); named && *named) {
    root = named;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    root = std::string(home) + "/.zu-win32";
  } else {
    root = "/tmp/zu-win32-" + std::to_string(getuid());
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  // Make the path one directory at a time; existing parts are fine.
  for (size_t slash = root.find('/', 1);; slash = root.find('/', slash + 1)) {
    std::string part = root.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) break;
    if (slash == std::string::npos) break;
  }
  return root;
}

std::string Setting(const char* name, const char* fallback) {
  std::string path = Root() + "/standin.conf";
  FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return fallback;
  std::string value = fallback;
  size_t n = std::strlen(name);
  char line[1024];
  while (std::fgets(line, sizeof line, file)) {
    line[std::strcspn(line, "\r\n")] = 0;
    if (std::strncmp(line, name, n) == 0 && line[n] == '=') {
      value = line + n + 1;
      break;
    }
  }
  std::fclose(file);
  return value;
}

std::string NativePath(const char* path) {
  std::string native(path ? path : "");
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

/* C library errors and the Win32 codes they become; anything else is
** ERROR_GEN_FAILURE. */
struct ErrnoCode {
  int error;
  DWORD code;
};
const ErrnoCode kErrnoCodes[] = {
    {0, NO_ERROR},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EROFS, ERROR_WRITE_PROTECT},
    {EEXIST, ERROR_FILE_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EPIPE, ERROR_BROKEN_PIPE},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {EIO, ERROR_IO_DEVICE},
};

}  // namespace

DWORD ErrorFromErrno(int error) {
  for (const ErrnoCode& row : kErrnoCodes) {
    if (row.error == error) return row.code;
  }
  return ERROR_GEN_FAILURE;
}

}  // namespace standin
