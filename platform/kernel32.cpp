/*
** Stand-in for the kernel32 functions the library calls, over POSIX, and the
** stand-in's own state: its root directory and configuration file.
*/
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

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

std::string NativePath(const char* path) {
  std::string native(path ? path : "");
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return NO_ERROR;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EPIPE:
      return ERROR_BROKEN_PIPE;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    case EIO:
      return ERROR_IO_DEVICE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace standin

/* Directory search: the names are taken when the search starts; the status
** of each is read when it is delivered, so that a name removed meanwhile is
** skipped. */
namespace {

struct FindSearch {
  int directory = -1;
  std::vector<std::string> names;
  size_t next = 0;
};

FILETIME FileTimeOf(const timespec& t) {
  // 100-ns intervals between 1601-01-01 and 1970-01-01.
  uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
                   static_cast<uint64_t>(t.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

/* Fills data for name in the directory; false when the name is gone. */
bool DescribeEntry(int directory, const std::string& name, WIN32_FIND_DATAA* data) {
  struct stat link, target;
  if (fstatat(directory, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) return false;
  bool isLink = S_ISLNK(link.st_mode);
  bool resolved = !isLink || fstatat(directory, name.c_str(), &target, 0) == 0;
  const struct stat& st = isLink && resolved ? target : link;
  std::memset(data, 0, sizeof *data);
  DWORD attributes = 0;
  if (resolved) {
    if (S_ISDIR(st.st_mode)) {
      attributes = FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISREG(st.st_mode)) {
      attributes = FILE_ATTRIBUTE_ARCHIVE;
      if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
      data->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
      data->nFileSizeLow = static_cast<DWORD>(st.st_size);
    } else {
      attributes = FILE_ATTRIBUTE_SYSTEM;
    }
  }
  if (isLink) {
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    data->dwReserved0 = IO_REPARSE_TAG_SYMLINK;
  }
  data->dwFileAttributes = attributes;
  data->ftCreationTime = FileTimeOf(st.st_ctim);
  data->ftLastAccessTime = FileTimeOf(st.st_atim);
  data->ftLastWriteTime = FileTimeOf(st.st_mtim);
  std::snprintf(data->cFileName, sizeof data->cFileName, "%s", name.c_str());
  return true;
}

unsigned char Upper(unsigned char c) {
  return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

/* The wildcards * and ? of a search pattern, without regard to case. */
bool PatternMatches(const char* pattern, const char* name) {
  const char* starPattern = nullptr;
  const char* starName = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern == '?' || (*pattern && Upper(*pattern) == Upper(*name))) {
      ++pattern;
      ++name;
    } else if (starPattern) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

/* "." and ".." first, then by upper-case name, then by bytes. */
bool ListedBefore(const std::string& a, const std::string& b) {
  auto rank = [](const std::string& s) { return s == "." ? 0 : s == ".." ? 1 : 2; };
  if (rank(a) != rank(b)) return rank(a) < rank(b);
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = Upper(a[i]), y = Upper(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool DeliverNext(FindSearch* search, WIN32_FIND_DATAA* data) {
  while (search->next < search->names.size()) {
    if (DescribeEntry(search->directory, search->names[search->next++], data)) return true;
  }
  return false;
}

void EndSearch(FindSearch* search) {
  if (search->directory >= 0) close(search->directory);
  delete search;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  std::string path = standin::NativePath(pattern);
  size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  std::string namePattern = slash == std::string::npos ? path : path.substr(slash + 1);
  if (namePattern == "*.*") namePattern = "*";
  if (namePattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                     : standin::ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  DIR* listing = fdopendir(dup(fd));
  if (!listing) {
    SetLastError(standin::ErrorFromErrno(errno));
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  FindSearch* search = new FindSearch;
  search->directory = fd;
  while (dirent* entry = readdir(listing)) {
    if (PatternMatches(namePattern.c_str(), entry->d_name)) search->names.push_back(entry->d_name);
  }
  closedir(listing);
  std::sort(search->names.begin(), search->names.end(), ListedBefore);
  if (!DeliverNext(search, data)) {
    EndSearch(search);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return reinterpret_cast<HANDLE>(search);
}

BOOL FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
  if (!search || search == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!DeliverNext(static_cast<FindSearch*>(search), data)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL FindClose(HANDLE search) {
  if (!search || search == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  EndSearch(static_cast<FindSearch*>(search));
  return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (!lpExistingFileName || !lpNewFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string from = standin::NativePath(lpExistingFileName);
  std::string to = standin::NativePath(lpNewFileName);
  int rc = (dwFlags & MOVEFILE_REPLACE_EXISTING)
               ? rename(from.c_str(), to.c_str())
               : renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (rc != 0) {
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : standin::ErrorFromErrno(errno));
    return FALSE;
  }
  if (dwFlags & MOVEFILE_WRITE_THROUGH) {
    // The rename is done; making its directory entry durable is best effort.
    size_t slash = to.rfind('/');
    std::string directory = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : to.substr(0, slash);
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      fsync(fd);
      close(fd);
    }
  }
  return TRUE;
}

namespace {

/* The DLL entry points that the library looks up at run time. */
struct KnownEntry {
  const char* module;
  const char* name;
  FARPROC address;
};
const char* const knownModules[] = {"advapi32", "kernel32"};
/* Through void (*)(), the type that any function pointer may pass as. */
template <typename Function>
FARPROC AsFarProc(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}
const KnownEntry knownEntries[] = {
    {"advapi32", "RegRenameKey", AsFarProc(&RegRenameKey)},
};

/* The index of a known module in knownModules, or -1; the name may carry a
** directory and the extension ".dll". */
int FindModule(const char* name) {
  if (!name) return -1;
  if (const char* slash = std::strrchr(name, '\\')) name = slash + 1;
  if (const char* slash = std::strrchr(name, '/')) name = slash + 1;
  std::string base(name);
  if (base.size() > 4 && _stricmp(base.c_str() + base.size() - 4, ".dll") == 0) {
    base.resize(base.size() - 4);
  }
  for (int i = 0; i < static_cast<int>(std::size(knownModules)); ++i) {
    if (_stricmp(base.c_str(), knownModules[i]) == 0) return i;
  }
  return -1;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  int index = FindModule(lpLibFileName);
  if (index < 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(static_cast<intptr_t>(0x10000 * (index + 1)));
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  intptr_t index = reinterpret_cast<intptr_t>(hModule) / 0x10000 - 1;
  if (reinterpret_cast<intptr_t>(hModule) % 0x10000 != 0 || index < 0 ||
      index >= static_cast<intptr_t>(std::size(knownModules))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const char* module = knownModules[index];
  for (const KnownEntry& entry : knownEntries) {
    if (std::strcmp(entry.module, module) != 0 || std::strcmp(entry.name, lpProcName) != 0) {
      continue;
    }
    std::string setting = std::string(module) + "." + entry.name;
    if (standin::Setting(setting.c_str(), "1") == "0") break;
    return entry.address;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  return hLibModule ? TRUE : FALSE;
}

namespace {

/* Decodes one UTF-8 sequence at s (n bytes left); returns its length, or 0
** for an invalid, overlong or truncated sequence (then *code is unset). */
int DecodeUtf8(const unsigned char* s, int n, char32_t* code) {
  unsigned char c = s[0];
  if (c < 0x80) {
    *code = c;
    return 1;
  }
  int length;
  char32_t value, minimum;
  if ((c & 0xE0) == 0xC0) {
    length = 2, value = c & 0x1F, minimum = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3, value = c & 0x0F, minimum = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4, value = c & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (n < length) return 0;
  for (int i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (s[i] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  bool utf8 = CodePage == CP_UTF8;
  if ((!utf8 && CodePage != CP_ACP && CodePage != 1252 && CodePage != 28591) || !lpMultiByteStr ||
      cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && !lpWideCharStr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const unsigned char* s = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  int n = cbMultiByte == -1 ? static_cast<int>(std::strlen(lpMultiByteStr)) + 1 : cbMultiByte;
  int out = 0;
  auto put = [&](char16_t unit) {
    if (cchWideChar > 0 && out < cchWideChar) lpWideCharStr[out] = unit;
    ++out;
  };
  for (int i = 0; i < n;) {
    char32_t code = s[i];
    int length = 1;
    if (utf8) {
      length = DecodeUtf8(s + i, n - i, &code);
      if (length == 0) {
        if (dwFlags & MB_ERR_INVALID_CHARS) {
          SetLastError(ERROR_NO_UNICODE_TRANSLATION);
          return 0;
        }
        code = 0xFFFD;
        length = 1;
      }
    }
    if (code >= 0x10000) {
      put(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      put(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      put(static_cast<char16_t>(code));
    }
    i += length;
  }
  if (cchWideChar > 0 && out > cchWideChar) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return out;
}
