/*
** Stand-in for the kernel32 functions the library calls, over POSIX: last
** error, handle inheritance, directory search, files through handles,
** message texts, version and system information, modules and the UTF-8
** code page.
*/
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <utility>
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
    SetLastError(ERROR_INVALID_HANDLE);
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
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

/* Directory search: the names are taken when the search starts; the status
** of each is read when it is delivered, so that a name removed meanwhile is
** skipped. */
namespace {

struct FindSearch {
  int directory = -1;
  std::vector<std::string> names;
  size_t next = 0;
};

/* Fills data for name in the directory (its name and whether it is a
** directory or a file, through a symbolic link as well); false when the
** name is gone. */
bool DescribeEntry(int directory, const std::string& name, WIN32_FIND_DATAA* data) {
  struct stat link, target;
  if (fstatat(directory, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) return false;
  std::memset(data, 0, sizeof *data);
  const struct stat* st = &link;
  if (S_ISLNK(link.st_mode))
    st = fstatat(directory, name.c_str(), &target, 0) == 0 ? &target : nullptr;
  if (st && S_ISDIR(st->st_mode)) data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  if (st && S_ISREG(st->st_mode)) data->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
  if (S_ISLNK(link.st_mode)) data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  std::snprintf(data->cFileName, sizeof data->cFileName, "%s", name.c_str());
  return true;
}

/* Names compare as the C library's toupper gives them (only a-z change in
** the C locale). */
int Upper(char c) {
  return std::toupper(static_cast<unsigned char>(c));
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
    int x = Upper(a[i]), y = Upper(b[i]);
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
  std::string directory = standin::DirectoryOf(path);
  std::string namePattern = path.substr(path.rfind('/') + 1);
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

/* Files through handles. A handle is the file's descriptor. */
namespace {

/* The descriptor of a file handle, or -1 for no handle (0, -1 and values
** that are no descriptor, such as search handles). */
int DescriptorOf(HANDLE handle) {
  intptr_t value = reinterpret_cast<intptr_t>(handle);
  return value > 0 && value <= INT32_MAX ? static_cast<int>(value) : -1;
}

/* The error of a failed read or write: a valid descriptor without the
** access asked for gives ERROR_ACCESS_DENIED, as on Windows. */
DWORD TransferError(int fd, int error) {
  if (error == EBADF && fcntl(fd, F_GETFL) >= 0) return ERROR_ACCESS_DENIED;
  return standin::ErrorFromErrno(error);
}

/* Share modes. Each open handle marks, on a byte of its own inside one
** region per mark, what it does (reads, writes) and what it refuses to share
** (reading, writing). An open then looks for other handles' marks in the
** regions it conflicts with. Marks are open-file-description locks, so they
** go with the handle's last close, and they are set before the test, so
** that of two conflicting opens racing each other neither succeeds. */
enum ShareMark { kReader, kWriter, kDenyRead, kDenyWrite };
constexpr off_t kMarkBase = off_t{1} << 62;
constexpr off_t kMarkRegion = off_t{1} << 40;

flock MarkLock(short type, ShareMark mark, off_t offset, off_t length) {
  flock lock{};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kMarkBase + mark * kMarkRegion + offset;
  lock.l_len = length;
  return lock;
}

/* False when the file system keeps no such locks. */
bool SetMark(int fd, ShareMark mark, bool writable) {
  static std::atomic<uint64_t> next{static_cast<uint64_t>(getpid()) << 24};
  for (int attempt = 0; attempt < 8; ++attempt) {
    // Spread the handles' bytes so that two rarely meet; a write lock that
    // meets another's byte tries again elsewhere.
    uint64_t slot = next.fetch_add(1) * 0x9E3779B97F4A7C15ull >> 24;
    flock lock = MarkLock(writable ? F_WRLCK : F_RDLCK, mark,
                          static_cast<off_t>(slot % static_cast<uint64_t>(kMarkRegion)), 1);
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
    if (errno != EAGAIN && errno != EACCES) return false;
  }
  return false;
}

bool MarkedByOthers(int fd, ShareMark mark) {
  flock lock = MarkLock(F_WRLCK, mark, 0, kMarkRegion);
  return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

/* Marks fd's access and refusals; false on a conflict with another handle. */
bool ClaimShare(int fd, DWORD access, DWORD shareMode) {
  bool reads = access & GENERIC_READ, writes = access & GENERIC_WRITE;
  bool sharesRead = shareMode & FILE_SHARE_READ, sharesWrite = shareMode & FILE_SHARE_WRITE;
  if ((reads && !SetMark(fd, kReader, writes)) || (writes && !SetMark(fd, kWriter, writes)) ||
      (!sharesRead && !SetMark(fd, kDenyRead, writes)) ||
      (!sharesWrite && !SetMark(fd, kDenyWrite, writes))) {
    return true;  // no locks here: share modes stay advisory
  }
  return !((reads && MarkedByOthers(fd, kDenyRead)) || (writes && MarkedByOthers(fd, kDenyWrite)) ||
           (!sharesRead && MarkedByOthers(fd, kReader)) ||
           (!sharesWrite && MarkedByOthers(fd, kWriter)));
}

/* ERROR_PATH_NOT_FOUND when the directory part of path is missing. */
DWORD MissingFileError(const std::string& path) {
  struct stat st;
  return stat(standin::DirectoryOf(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)
             ? ERROR_FILE_NOT_FOUND
             : ERROR_PATH_NOT_FOUND;
}

HANDLE FailOpen(int fd, DWORD error) {
  if (fd >= 0) close(fd);
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flagsAndAttributes, HANDLE) {
  if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING ||
      (creation == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))) {
    return FailOpen(-1, ERROR_INVALID_PARAMETER);
  }
  if (!name || !*name) return FailOpen(-1, ERROR_PATH_NOT_FOUND);
  std::string path = standin::NativePath(name);
  bool reads = access & GENERIC_READ, writes = access & GENERIC_WRITE;
  int flags = reads && writes ? O_RDWR : writes ? O_WRONLY : reads ? O_RDONLY : O_PATH;
  if (!(security && security->bInheritHandle)) flags |= O_CLOEXEC;
  mode_t mode = flagsAndAttributes & FILE_ATTRIBUTE_READONLY ? 0444 : 0666;

  // Open an existing file, or create it where the disposition allows;
  // which of the two happened decides the last error of a success. A file
  // that appears or goes between the two attempts makes them start again.
  bool mayCreate = creation == CREATE_NEW || creation == CREATE_ALWAYS || creation == OPEN_ALWAYS;
  bool existed = false;
  int fd = -1;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (creation != CREATE_NEW) {
      fd = open(path.c_str(), flags);
      if (fd >= 0 || errno != ENOENT || !mayCreate) {
        existed = fd >= 0;
        break;
      }
    }
    // A query-only handle of a new file is a read-only descriptor.
    fd = open(path.c_str(), (flags & ~O_PATH) | O_CREAT | O_EXCL, mode);
    if (fd >= 0 || errno != EEXIST || creation == CREATE_NEW) break;
  }
  if (fd < 0) {
    if (errno == ENOENT) return FailOpen(-1, MissingFileError(path));
    return FailOpen(-1, standin::ErrorFromErrno(errno));
  }
  // Handle 0 would read as "no handle".
  if (fd == 0) {
    int moved = fcntl(fd, flags & O_CLOEXEC ? F_DUPFD_CLOEXEC : F_DUPFD, 3);
    close(fd);
    if (moved < 0) return FailOpen(-1, standin::ErrorFromErrno(errno));
    fd = moved;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) return FailOpen(fd, standin::ErrorFromErrno(errno));
  if (S_ISDIR(st.st_mode)) return FailOpen(fd, ERROR_ACCESS_DENIED);
  if (!(flags & O_PATH) && S_ISREG(st.st_mode) && !ClaimShare(fd, access, shareMode)) {
    return FailOpen(fd, ERROR_SHARING_VIOLATION);
  }
  if (existed && (creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING) &&
      S_ISREG(st.st_mode)) {
    if (!writes) return FailOpen(fd, ERROR_ACCESS_DENIED);
    if (ftruncate(fd, 0) != 0) return FailOpen(fd, standin::ErrorFromErrno(errno));
  }
  if (flagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  SetLastError(existed && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS)
                   ? ERROR_ALREADY_EXISTS
                   : NO_ERROR);
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

namespace {

/* The loop of ReadFile and WriteFile: op moves part of the bytes from an
** offset and answers as read or write do. A part larger than one call
** takes is split; a read stops at a short part (the end of the file). */
template <typename Op>
BOOL Transfer(HANDLE file, DWORD size, LPDWORD done, bool reading, Op op) {
  if (done) *done = 0;
  int fd = DescriptorOf(file);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  constexpr DWORD kMaxPart = 1u << 30;
  DWORD total = 0;
  while (total < size) {
    DWORD part = std::min(size - total, kMaxPart);
    ssize_t n = op(fd, total, part);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (done) *done = total;
      SetLastError(TransferError(fd, errno));
      return FALSE;
    }
    total += static_cast<DWORD>(n);
    if (n == 0 || (reading && static_cast<DWORD>(n) < part)) break;
  }
  if (done) *done = total;
  return TRUE;
}

}  // namespace

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED) {
  return Transfer(file, size, read, true, [buffer](int fd, DWORD offset, DWORD part) {
    return ::read(fd, static_cast<char*>(buffer) + offset, part);
  });
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED) {
  return Transfer(file, size, written, false, [buffer](int fd, DWORD offset, DWORD part) {
    return ::write(fd, static_cast<const char*>(buffer) + offset, part);
  });
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  int fd = DescriptorOf(file);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t move = distanceHigh ? static_cast<int64_t>(static_cast<uint64_t>(*distanceHigh) << 32 |
                                                     static_cast<DWORD>(distance))
                              : distance;
  off_t origin = 0;
  if (method == FILE_CURRENT) {
    origin = lseek(fd, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat st;
    origin = fstat(fd, &st) == 0 ? st.st_size : -1;
  } else if (method != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (origin < 0) {
    SetLastError(errno == ESPIPE ? ERROR_INVALID_FUNCTION : standin::ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  int64_t target = origin + move;
  if (target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (!distanceHigh && target > static_cast<int64_t>(UINT32_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(fd, target, SEEK_SET) < 0) {
    SetLastError(errno == ESPIPE ? ERROR_INVALID_FUNCTION : standin::ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(target >> 32);
  DWORD low = static_cast<DWORD>(target);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
  return low;
}

namespace {
void ForgetMutex(int fd);
}

BOOL CloseHandle(HANDLE handle) {
  int fd = DescriptorOf(handle);
  if (fd >= 0) ForgetMutex(fd);
  if (fd < 0 || (close(fd) != 0 && errno == EBADF)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

/* Message texts of the system's message table, for FormatMessageA. The
** other DLLs' error codes have their rows here too. */
namespace {

struct SystemMessage {
  DWORD code;
  const char* text;
};

const SystemMessage kSystemMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_NO_MORE_FILES, "There are no more files."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, "The pipe has been ended."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_NEGATIVE_SEEK,
     "An attempt was made to move the file pointer before the beginning of the file."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error."},
    {ERROR_RESOURCE_LANG_NOT_FOUND,
     "The specified resource language ID cannot be found in the image file."},
    {ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot be resolved by the system."},
};

}  // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list*) {
  if ((flags & ~(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS)) ||
      !(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD primary = PRIMARYLANGID(languageId);
  if (primary != LANG_NEUTRAL && primary != LANG_ENGLISH) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  for (const SystemMessage& message : kSystemMessages) {
    if (message.code != messageId) continue;
    size_t length = std::strlen(message.text) + 2;
    if (length + 1 > size) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::snprintf(buffer, size, "%s\r\n", message.text);
    return static_cast<DWORD>(length);
  }
  SetLastError(ERROR_MR_MID_NOT_FOUND);
  return 0;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text ? text : "");
  std::fflush(stderr);
  return IDOK;
}

/* Version and system information from the stand-in's configuration. */
namespace {

/* A setting that is a name from choices (their values) or a number; -1
** for anything else. */
long NamedSetting(const char* name, const char* fallback,
                  std::initializer_list<std::pair<const char*, long>> choices) {
  std::string value = standin::Setting(name, fallback);
  for (const auto& [choice, number] : choices) {
    if (value == choice) return number;
  }
  char* end = nullptr;
  long number = std::strtol(value.c_str(), &end, 10);
  return !value.empty() && *end == 0 && number >= 0 ? number : -1;
}

const char* BuildArchitecture() {
#if defined(__x86_64__)
  return "x64";
#elif defined(__i386__)
  return "x86";
#elif defined(__aarch64__)
  return "arm64";
#elif defined(__arm__)
  return "arm";
#else
  return "65535";
#endif
}

WORD Architecture(const char* setting, const char* fallback) {
  long number = NamedSetting(setting, fallback,
                             {{"x86", PROCESSOR_ARCHITECTURE_INTEL},
                              {"x64", PROCESSOR_ARCHITECTURE_AMD64},
                              {"amd64", PROCESSOR_ARCHITECTURE_AMD64},
                              {"arm", PROCESSOR_ARCHITECTURE_ARM},
                              {"arm64", PROCESSOR_ARCHITECTURE_ARM64},
                              {"ia64", PROCESSOR_ARCHITECTURE_IA64}});
  return number < 0 || number > 0xFFFF ? PROCESSOR_ARCHITECTURE_UNKNOWN : static_cast<WORD>(number);
}

/* The address space and allocation granularity Windows reports. */
constexpr uintptr_t kLowestAddress = 0x10000;
constexpr uint64_t kHighestAddress32 = 0x7FFEFFFFull;
constexpr uint64_t kHighestAddress64 = 0x7FFFFFFEFFFFull;
constexpr DWORD kAllocationGranularity = 65536;
constexpr long kDefaultPageSize = 4096;

void FillSystemInfo(LPSYSTEM_INFO info, WORD architecture) {
  std::memset(info, 0, sizeof *info);
  info->wProcessorArchitecture = architecture;
  long pageSize = sysconf(_SC_PAGESIZE);
  info->dwPageSize = static_cast<DWORD>(pageSize > 0 ? pageSize : kDefaultPageSize);
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(kLowestAddress);
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(
      architecture == PROCESSOR_ARCHITECTURE_INTEL ? kHighestAddress32 : kHighestAddress64);
  long processors = sysconf(_SC_NPROCESSORS_ONLN);
  info->dwNumberOfProcessors = processors > 0 ? static_cast<DWORD>(processors) : 1;
  info->dwActiveProcessorMask = info->dwNumberOfProcessors >= sizeof(DWORD_PTR) * 8
                                    ? ~DWORD_PTR{0}
                                    : (DWORD_PTR{1} << info->dwNumberOfProcessors) - 1;
  info->dwProcessorType = architecture == PROCESSOR_ARCHITECTURE_INTEL   ? PROCESSOR_INTEL_PENTIUM
                          : architecture == PROCESSOR_ARCHITECTURE_AMD64 ? PROCESSOR_AMD_X8664
                                                                         : 0;
  info->dwAllocationGranularity = kAllocationGranularity;
}

}  // namespace

static_assert(sizeof(OSVERSIONINFOA) == 148 && sizeof(OSVERSIONINFOEXA) == 156,
              "the version structures keep their Windows sizes");

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
                info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::string version = standin::Setting("windows.version", "10.0.19045");
  unsigned major = 0, minor = 0, build = 0;
  int consumed = 0;
  bool parsed = std::sscanf(version.c_str(), "%u.%u%n.%u%n", &major, &minor, &consumed, &build,
                            &consumed) >= 2 &&
                static_cast<size_t>(consumed) == version.size();
  long platform = NamedSetting("windows.platform", "nt",
                               {{"nt", VER_PLATFORM_WIN32_NT},
                                {"windows", VER_PLATFORM_WIN32_WINDOWS},
                                {"win32s", VER_PLATFORM_WIN32s}});
  long product = NamedSetting("windows.product_type", "workstation",
                              {{"", 0},
                               {"none", 0},
                               {"workstation", VER_NT_WORKSTATION},
                               {"domain_controller", VER_NT_DOMAIN_CONTROLLER},
                               {"server", VER_NT_SERVER}});
  if (!parsed || platform < 0 || product < 0 || product > 0xFF) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  std::string servicePack = standin::Setting("windows.service_pack", "");
  info->dwMajorVersion = major;
  info->dwMinorVersion = minor;
  info->dwBuildNumber = build;
  info->dwPlatformId = static_cast<DWORD>(platform);
  std::snprintf(info->szCSDVersion, sizeof info->szCSDVersion, "%s", servicePack.c_str());
  if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA)) {
    auto* extended = reinterpret_cast<LPOSVERSIONINFOEXA>(info);
    unsigned spMajor = 0, spMinor = 0;
    std::sscanf(servicePack.c_str(), "Service Pack %u.%u", &spMajor, &spMinor);
    extended->wServicePackMajor = static_cast<WORD>(spMajor);
    extended->wServicePackMinor = static_cast<WORD>(spMinor);
    extended->wSuiteMask = 0;
    extended->wProductType = static_cast<BYTE>(product);
    extended->wReserved = 0;
  }
  return TRUE;
}

void GetNativeSystemInfo(LPSYSTEM_INFO info) {
  FillSystemInfo(info, Architecture("windows.processor", BuildArchitecture()));
}

void GetSystemInfo(LPSYSTEM_INFO info) {
  std::string native = standin::Setting("windows.processor", BuildArchitecture());
  FillSystemInfo(info, Architecture("windows.process_processor", native.c_str()));
}

/* Modules: the entry points looked up at run time, one row each. A module
** handle points at the first row of its DLL. */
namespace {

/* The table holds a function that gives each address rather than the
** address itself, so that it is initialized before any code runs: the
** security interface is looked up by another file's static initializer. */
struct Export {
  const char* dll;
  const char* name;
  FARPROC (*address)();
};

template <auto Function>
FARPROC EntryPoint() {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(Function));
}

const Export kExports[] = {
    {"kernel32.dll", "GetNativeSystemInfo", EntryPoint<&GetNativeSystemInfo>},
    {"advapi32.dll", "RegRenameKey", EntryPoint<&RegRenameKey>},
    {"secur32.dll", "InitSecurityInterfaceA", EntryPoint<&InitSecurityInterfaceA>},
};

/* The module of a DLL name ("Kernel32", "C:\x\KERNEL32.DLL"), or none. */
const Export* FindModule(const char* name) {
  std::string base = standin::NativePath(name);
  base.erase(0, base.rfind('/') + 1);
  if (base.find('.') == std::string::npos) base += ".dll";
  for (const Export& row : kExports) {
    if (_stricmp(row.dll, base.c_str()) == 0) return &row;
  }
  return nullptr;
}

bool IsModule(HMODULE module) {
  auto* row = reinterpret_cast<const Export*>(module);
  for (const Export& candidate : kExports) {
    if (&candidate == row) return true;
  }
  return false;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR name) {
  const Export* module = name ? FindModule(name) : nullptr;
  if (!module) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(const_cast<Export*>(module));
}

HMODULE GetModuleHandleA(LPCSTR name) {
  return LoadLibraryA(name);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (!module || !IsModule(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const char* dll = reinterpret_cast<const Export*>(module)->dll;
  for (const Export& row : kExports) {
    if (std::strcmp(row.dll, dll) != 0 || std::strcmp(row.name, name) != 0) continue;
    std::string setting = std::string(dll, std::strcspn(dll, ".")) + "." + name;
    if (standin::Setting(setting.c_str(), "1") == "0") break;
    return row.address();
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  if (!module || !IsModule(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
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
    int fd = open(standin::DirectoryOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      fsync(fd);
      close(fd);
    }
  }
  return TRUE;
}

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kHighSurrogate = 0xD800;
constexpr char32_t kLowSurrogate = 0xDC00;
constexpr char32_t kLastSurrogate = 0xDFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;

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
    length = 4, value = c & 0x07, minimum = kFirstSupplementary;
  } else {
    return 0;
  }
  if (n < length) return 0;
  for (int i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (s[i] & 0x3F);
  }
  if (value < minimum || value > kLastCodePoint ||
      (value >= kHighSurrogate && value <= kLastSurrogate)) {
    return 0;
  }
  *code = value;
  return length;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if (CodePage != CP_UTF8 || !lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 ||
      cchWideChar < 0 || (cchWideChar > 0 && !lpWideCharStr)) {
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
    char32_t code;
    int length = DecodeUtf8(s + i, n - i, &code);
    if (length == 0) {
      if (dwFlags & MB_ERR_INVALID_CHARS) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      code = kReplacementCharacter;
      length = 1;
    }
    if (code >= kFirstSupplementary) {
      // A surrogate pair: the high ten bits, then the low ten.
      put(static_cast<char16_t>(kHighSurrogate + ((code - kFirstSupplementary) >> 10)));
      put(static_cast<char16_t>(kLowSurrogate + ((code - kFirstSupplementary) & 0x3FF)));
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

/* Named mutexes. The owner holds a lock on the file's first byte; the
** second byte is 1 while the mutex is owned, so an owner that ended without
** releasing leaves a 1 for the next one to find. */
namespace {

std::mutex mutexesLock;
std::map<int, int> mutexOwnership;  // descriptor -> times waited for, not released

constexpr off_t kOwnerLockByte = 0;
constexpr off_t kOwnedFlagByte = 1;

void ForgetMutex(int fd) {
  std::lock_guard<std::mutex> guard(mutexesLock);
  mutexOwnership.erase(fd);
}

bool LockOwnerByte(int fd, short type) {
  flock lock{};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kOwnerLockByte;
  lock.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name) {
  if (!name || !*name || initialOwner) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string directory = standin::Root() + "/mutex";
  mkdir(directory.c_str(), 0700);
  std::string file = name;
  std::replace(file.begin(), file.end(), '\\', '!');
  std::replace(file.begin(), file.end(), '/', '!');
  int flags = O_RDWR | O_CREAT | (attributes && attributes->bInheritHandle ? 0 : O_CLOEXEC);
  int fd = open((directory + "/" + file).c_str(), flags, 0600);
  if (fd == 0) {  // handle 0 would read as none
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    fd = moved;
  }
  if (fd < 0) {
    SetLastError(standin::ErrorFromErrno(errno));
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(mutexesLock);
  mutexOwnership[fd] = 0;
  SetLastError(NO_ERROR);
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  int fd = DescriptorOf(handle);
  {
    std::lock_guard<std::mutex> guard(mutexesLock);
    auto owned = mutexOwnership.find(fd);
    if (owned == mutexOwnership.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (owned->second > 0) {
      ++owned->second;
      return WAIT_OBJECT_0;
    }
  }
  constexpr useconds_t kLongestPause = 16000;
  useconds_t pause = 1000;
  uint64_t waited = 0;  // in microseconds
  while (!LockOwnerByte(fd, F_WRLCK)) {
    if (errno != EAGAIN && errno != EACCES) {
      SetLastError(standin::ErrorFromErrno(errno));
      return WAIT_FAILED;
    }
    if (milliseconds != INFINITE && waited >= uint64_t{milliseconds} * 1000) return WAIT_TIMEOUT;
    usleep(pause);
    waited += pause;
    pause = std::min(2 * pause, kLongestPause);
  }
  char flag = 0;
  bool abandoned = pread(fd, &flag, 1, kOwnedFlagByte) == 1 && flag == 1;
  flag = 1;
  if (pwrite(fd, &flag, 1, kOwnedFlagByte) != 1) {
    DWORD error = standin::ErrorFromErrno(errno);
    LockOwnerByte(fd, F_UNLCK);
    SetLastError(error);
    return WAIT_FAILED;
  }
  std::lock_guard<std::mutex> guard(mutexesLock);
  mutexOwnership[fd] = 1;
  return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

BOOL ReleaseMutex(HANDLE mutex) {
  int fd = DescriptorOf(mutex);
  std::lock_guard<std::mutex> guard(mutexesLock);
  auto owned = mutexOwnership.find(fd);
  if (owned == mutexOwnership.end() || owned->second == 0) {
    SetLastError(owned == mutexOwnership.end() ? ERROR_INVALID_HANDLE : ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--owned->second == 0) {
    char flag = 0;
    if (pwrite(fd, &flag, 1, kOwnedFlagByte) != 1) {
      ++owned->second;
      SetLastError(standin::ErrorFromErrno(errno));
      return FALSE;
    }
    LockOwnerByte(fd, F_UNLCK);
  }
  return TRUE;
}
