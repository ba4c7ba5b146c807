/*
** Stand-in for the kernel32 functions the library calls, over POSIX, and the
** stand-in's own state: its root directory and configuration file.
*/
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/standin.h"
#include "platform/win32.h"

namespace {
thread_local DWORD lastError = 0;
}

DWORD GetLastError() {
  return lastError;
}

void SetLastError(DWORD error) {
  lastError = error;
}

BOOL SetHandleInformation(HANDLE handle, DWORD mask, DWORD flags) {
  int fd = static_cast<int>(reinterpret_cast<intptr_t>(handle));
  int fdFlags = fcntl(fd, F_GETFD);
  if (fdFlags < 0) {
    SetLastError(6);  // ERROR_INVALID_HANDLE
    return FALSE;
  }
  if (mask & HANDLE_FLAG_INHERIT) {
    if (flags & HANDLE_FLAG_INHERIT) {
      fdFlags &= ~FD_CLOEXEC;
    } else {
      fdFlags |= FD_CLOEXEC;
    }
  }
  if (fcntl(fd, F_SETFD, fdFlags) < 0) {
    SetLastError(6);
    return FALSE;
  }
  return TRUE;
}

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

}  // namespace standin
