/*
** File-system and process utilities over the platform's directory search,
** file status and system queries, and the line scanners.
*/
#include "misc/fsutil.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "misc/zustring.h"

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n';
}

bool IsControl(char c) {
  return static_cast<unsigned char>(c) < 32;
}

/* Names compare as the C library's toupper gives them (only a-z change in
** the C locale), as the platform's directory search compares them. */
int Upper(char c) {
  return std::toupper(static_cast<unsigned char>(c));
}

uint32_t EntryType(DWORD attributes) {
  if (attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL)) return DIR_TYPE_FILE;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return DIR_TYPE_DIRECTORY;
  return DIR_TYPE_UNKNOWN;
}

}  // namespace

DirHandle* OpenDir(const char* directory) {
  if (!directory) return nullptr;
  char pattern[MAX_PATH];
  int n = std::snprintf(pattern, sizeof pattern, "%s%c*", directory, PATH_SEPARATOR);
  if (n < 0 || n >= static_cast<int>(sizeof pattern)) return nullptr;
  DirHandle* dir = new DirHandle;
  dir->Search = FindFirstFileA(pattern, &dir->FindData);
  if (dir->Search == INVALID_HANDLE_VALUE) {
    delete dir;
    return nullptr;
  }
  dir->FirstPending = true;
  return dir;
}

int ReadDirEntry(DirHandle* dir, DirEntry* entry, DirEntry** result) {
  *result = nullptr;
  if (!dir) return 0;
  if (dir->FirstPending) {
    dir->FirstPending = false;
  } else if (!FindNextFileA(dir->Search, &dir->FindData)) {
    return 0;
  }
  std::memcpy(entry->Name, dir->FindData.cFileName, sizeof entry->Name);
  entry->Name[sizeof entry->Name - 1] = 0;
  entry->Type = EntryType(dir->FindData.dwFileAttributes);
  *result = entry;
  return 0;
}

DirEntry* ReadDir(DirHandle* dir) {
  static DirEntry entry;
  DirEntry* result;
  ReadDirEntry(dir, &entry, &result);
  return result;
}

void CloseDir(DirHandle* dir) {
  if (!dir) return;
  FindClose(dir->Search);
  delete dir;
}

bool FileExists(const char* path) {
  struct _stat status;
  return path && _stat(path, &status) == 0;
}

bool IsDirectory(const char* path) {
  struct _stat status;
  return path && _stat(path, &status) == 0 && (status.st_mode & _S_IFDIR);
}

uint32_t PathSize(const char* path) {
  struct _stat status;
  if (!path || _stat(path, &status) != 0) return 0;
  if (!(status.st_mode & _S_IFDIR)) return static_cast<uint32_t>(status.st_size);
  DirHandle* dir = OpenDir(path);
  if (!dir) return 0;
  uint32_t total = 0;
  DirEntry entry;
  DirEntry* result;
  while (ReadDirEntry(dir, &entry, &result), result) {
    if (dir->FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    char child[2 * MAX_PATH + 2];
    int n = std::snprintf(child, sizeof child, "%s%c%s", path, PATH_SEPARATOR, entry.Name);
    if (n > 0 && n < static_cast<int>(sizeof child)) total += PathSize(child);
  }
  CloseDir(dir);
  return total;
}

int ChangeDirectory(const char* path) {
  return path && _chdir(path) == 0 ? 0 : -1;
}

char* TempFormat(const char* format, ...) {
  static char buffers[4][256];
  static int next = 0;
  char* buffer = buffers[next];
  next = (next + 1) % 4;
  va_list args;
  va_start(args, format);
  if (std::vsnprintf(buffer, sizeof buffers[0], format, args) < 0) buffer[0] = 0;
  va_end(args);
  return buffer;
}

/* The running wildcard search. */
namespace {
DirHandle* matchDir = nullptr;
zustring matchPattern;
zustring matchPrefix;

void EndMatch() {
  CloseDir(matchDir);
  matchDir = nullptr;
  matchPattern.Reset();
  matchPrefix.Reset();
}
}  // namespace

bool FindFirstMatch(const char* pattern) {
  EndMatch();
  if (!pattern) return false;
  zustring directory, file;
  const char* lastSeparator = nullptr;
  for (const char* p = pattern; *p; ++p) {
    if (IsSeparator(*p)) lastSeparator = p;
  }
  if (lastSeparator) {
    // A separator right after a drive letter stays with the directory: C:\.
    bool afterDrive = lastSeparator - pattern == 2 && pattern[1] == ':';
    unsigned length = static_cast<unsigned>(lastSeparator - pattern) + (afterDrive ? 1 : 0);
    if (length > 0) directory = zustring(pattern, length);
    file = lastSeparator + 1;
  } else if (const char* colon = std::strchr(pattern, ':')) {
    if (colon != pattern + 1) return false;
    directory = zustring(pattern, 2);
    file = colon + 1;
  } else {
    directory = ".";
    file = pattern;
  }
  matchDir = OpenDir(directory.c_str());
  if (!matchDir) return false;
  matchPrefix = directory;
  unsigned n = directory.Length();
  if (n == 0 || (!IsSeparator(directory.CharAt(n)) && directory.CharAt(n) != ':')) {
    char separator[2] = {PATH_SEPARATOR, 0};
    matchPrefix += separator;
  }
  matchPattern = file.IsEmpty() || file == "." ? zustring("*") : file;
  return true;
}

bool FindNextMatch(char* fullPath, char* name) {
  if (!matchDir) return false;
  while (DirEntry* entry = ReadDir(matchDir)) {
    if (std::strcmp(entry->Name, ".") == 0 || std::strcmp(entry->Name, "..") == 0) continue;
    if (!WildMatch(entry->Name, matchPattern.c_str(), false)) continue;
    if (fullPath) {
      std::snprintf(fullPath, MATCH_PATH_SIZE, "%s%s", matchPrefix.c_str(), entry->Name);
    }
    if (name) std::snprintf(name, MAX_PATH, "%s", entry->Name);
    return true;
  }
  EndMatch();
  return false;
}

/* What is left once the loop of either matcher has stopped. */
static bool MatchRest(const char* name, const char* pattern, bool prefixIsEnough) {
  while (*pattern == '*') ++pattern;
  if (*pattern) return false;
  return *name == 0 || prefixIsEnough;
}

/* A pattern character other than the star: ? takes any name character but
** '/', any other character must equal the name's. */
static bool MatchPlain(const char*& name, const char*& pattern) {
  if (*pattern == '?' ? *name == '/' : Upper(*pattern) != Upper(*name)) return false;
  ++name;
  ++pattern;
  return true;
}

bool WildMatch(const char* name, const char* pattern, bool prefixIsEnough) {
  while (*name && *pattern) {
    if (*pattern != '*') {
      if (!MatchPlain(name, pattern)) return false;
    } else {
      while (*pattern == '*' || *pattern == '?') ++pattern;
      char d = *pattern;
      if (d == 0 && prefixIsEnough) return true;
      // The star takes name characters up to the first one equal to d.
      for (;; ++name) {
        if (*name == 0) return d == 0;
        if (IsSeparator(*name)) {
          if (IsSeparator(d)) break;
          return false;
        }
        if (Upper(*name) == Upper(d)) break;
      }
      ++name;
      ++pattern;
      // A run of d in the name may absorb at most as many d in the pattern.
      unsigned inName = 0;
      while (*name && Upper(*name) == Upper(d)) ++name, ++inName;
      if (inName) {
        unsigned inPattern = 0;
        while (*pattern && Upper(*pattern) == Upper(d)) ++pattern, ++inPattern;
        if (inPattern > inName) return false;
      }
    }
  }
  return MatchRest(name, pattern, prefixIsEnough);
}

bool WildMatchSimple(const char* name, const char* pattern, bool prefixIsEnough) {
  while (*name && *pattern) {
    if (*pattern != '*') {
      if (!MatchPlain(name, pattern)) return false;
    } else {
      ++pattern;
      size_t run = std::strcspn(pattern, "*?");
      if (run == 0) continue;
      // Search forward for the run; it may start at a '/' but not pass one.
      for (;; ++name) {
        size_t i = 0;
        while (i < run && name[i] && Upper(name[i]) == Upper(pattern[i])) ++i;
        if (i == run) break;
        if (*name == 0 || *name == '/') return false;
      }
      name += run;
      pattern += run;
    }
  }
  return MatchRest(name, pattern, prefixIsEnough);
}

MachineArchitecture ProcessorArchitecture() {
  typedef void(WINAPI * SystemInfoFunction)(LPSYSTEM_INFO);
  SYSTEM_INFO info{};
  SystemInfoFunction native = nullptr;
  // Looked up at run time: Windows 2000 has no GetNativeSystemInfo.
  if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
    native = reinterpret_cast<SystemInfoFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetNativeSystemInfo")));
  }
  if (native) {
    native(&info);
  } else {
    GetSystemInfo(&info);
  }
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      return kArchitectureX64;
    case PROCESSOR_ARCHITECTURE_INTEL:
      return kArchitectureX86;
    default:
      return kArchitectureOther;
  }
}

WindowsVersion WindowsVersionCode() {
  OSVERSIONINFOEXA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&version))) return kWindowsUnknown;
  DWORD major = version.dwMajorVersion, minor = version.dwMinorVersion;
  bool workstation = version.wProductType == VER_NT_WORKSTATION;
  if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
    if (major != 4) return kWindowsUnknown;
    if (minor == 0) return kWindows95;
    // 98 Second Edition says so with " A" in its service-pack text.
    if (minor == 10) return version.szCSDVersion[1] == 'A' ? kWindows98SE : kWindows98;
    if (minor == 90) return kWindowsMe;
    return kWindowsUnknown;
  }
  switch (major) {
    case 4:
      return kWindowsNT4;
    case 5:
      return minor == 0 ? kWindows2000 : minor == 1 ? kWindowsXP : kWindowsOther5;
    case 6:
      if (minor == 0) return workstation ? kWindowsVista : kWindowsServer2008;
      if (minor == 1) return workstation ? kWindows7 : kWindowsServer2008;
      if (minor == 2 || minor == 3) return workstation ? kWindows8 : kWindowsServer2012;
      return kWindowsUnknown;
    case 10:
      if (minor != 0) return kWindowsUnknown;
      return workstation ? kWindows10 : kWindowsServer2016;
    default:
      return kWindowsUnknown;
  }
}

int InstanceMutexName(char* buffer, size_t size, const char* part) {
  // Machine-wide names ("Global\\") exist from Windows 2000 on.
  const char* format = WindowsVersionCode() < kWindows2000 ? "__ZU_%s__" : "Global\\__ZU_%s__";
  int n = std::snprintf(buffer, size, format, part);
  return n >= 0 && static_cast<size_t>(n) < size ? n : -1;
}

/* The scanners store into out only what fits; on failure the cursor stays. */

bool GetWord(const char** cursor, char* out, size_t size, char delimiter) {
  if (size == 0) return false;
  const char* p = *cursor;
  size_t n = 0;
  for (;; ++p) {
    if (*p == 0) return false;
    if (*p == delimiter || *p == ' ') break;
    if (IsControl(*p) || n + 1 >= size) return false;
    out[n++] = *p;
  }
  out[n] = 0;
  *cursor = p + 1;
  return true;
}

/* The common body of the GetField family: skip ends, then take until one.
** With lineEnds, CR and LF count as ends too. */
template <typename IsEnd>
static bool TakeField(const char** cursor, char* out, size_t size, IsEnd isEnd, bool lineEnds,
                      bool refuseControl) {
  auto ends = [&](char c) { return isEnd(c) || (lineEnds && IsLineEnd(c)); };
  const char* p = *cursor;
  while (*p && ends(*p)) ++p;
  size_t n = 0;
  for (; *p && !ends(*p); ++p) {
    if ((refuseControl && IsControl(*p)) || n + 1 >= size) return false;
    out[n++] = *p;
  }
  if (size == 0) return false;
  out[n] = 0;
  *cursor = p;
  return n > 0;
}

bool GetField(const char** cursor, char* out, size_t size, char delimiter) {
  return TakeField(
      cursor, out, size, [=](char c) { return c == delimiter; }, true, true);
}

bool GetFieldLoose(const char** cursor, char* out, size_t size, char delimiter) {
  return TakeField(
      cursor, out, size, [=](char c) { return c == delimiter; }, true, false);
}

bool GetFieldEither(const char** cursor, char* out, size_t size, char first, char second) {
  return TakeField(
      cursor, out, size, [=](char c) { return c == first || c == second; }, true, true);
}

bool GetFieldSet(const char** cursor, char* out, size_t size, const char* delimiters) {
  return TakeField(
      cursor, out, size, [=](char c) { return c != 0 && std::strchr(delimiters, c) != nullptr; },
      false, false);
}

char* SplitToken(char** cursor, char delimiter) {
  char* p = *cursor;
  while (*p && *p == delimiter) ++p;
  if (*p == 0 || IsLineEnd(*p)) return nullptr;
  char* token = p;
  while (*p && *p != delimiter && !IsLineEnd(*p)) ++p;
  if (*p) *p++ = 0;
  *cursor = p;
  return token;
}
