/*
** Stand-in for the few Microsoft C runtime functions the library uses whose
** behaviour differs from (or is missing in) the C library of this platform.
*/
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/standin.h"
#include "platform/win32.h"

int _stricmp(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  for (;; ++p, ++q) {
    int c = std::tolower(*p);
    int d = std::tolower(*q);
    if (c != d || c == 0) return c - d;
  }
}

int _vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(buffer, size, format, args);
  if (n >= 0 && size > 0 && static_cast<size_t>(n) >= size) {
    // The C library gave the last byte to its terminator; Microsoft's
    // stores size characters there and no terminator.
    std::string whole(static_cast<size_t>(n), '\0');
    std::vsnprintf(whole.data(), whole.size() + 1, format, again);
    std::memcpy(buffer, whole.data(), size);
  }
  va_end(again);
  if (n < 0 || static_cast<size_t>(n) > size) return -1;
  return n;
}

int _stat(const char* path, struct _stat* status) {
  struct stat st;
  if (stat(standin::NativePath(path).c_str(), &st) != 0) return -1;
  if (st.st_size > INT32_MAX) {
    errno = EOVERFLOW;
    return -1;
  }
  unsigned mode = S_ISDIR(st.st_mode)    ? _S_IFDIR
                  : S_ISREG(st.st_mode)  ? _S_IFREG
                  : S_ISCHR(st.st_mode)  ? _S_IFCHR
                  : S_ISFIFO(st.st_mode) ? _S_IFIFO
                                         : 0;
  unsigned owner = 0;
  if (st.st_mode & S_IRUSR) owner |= _S_IREAD;
  if (st.st_mode & S_IWUSR) owner |= _S_IWRITE;
  if (st.st_mode & S_IXUSR) owner |= _S_IEXEC;
  status->st_dev = static_cast<uint32_t>(st.st_dev);
  status->st_ino = static_cast<uint16_t>(st.st_ino);
  status->st_mode = static_cast<uint16_t>(mode | owner | owner >> 3 | owner >> 6);
  status->st_nlink = static_cast<int16_t>(st.st_nlink);
  status->st_uid = 0;
  status->st_gid = 0;
  status->st_rdev = static_cast<uint32_t>(st.st_dev);
  status->st_size = static_cast<int32_t>(st.st_size);
  return 0;
}

int _chdir(const char* path) {
  return chdir(standin::NativePath(path).c_str());
}

int _strnicmp(const char* a, const char* b, size_t n) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  for (; n > 0; --n, ++p, ++q) {
    int c = std::tolower(*p);
    int d = std::tolower(*q);
    if (c != d || c == 0) return c - d;
  }
  return 0;
}

int _mkdir(const char* path) {
  return mkdir(standin::NativePath(path).c_str(), 0777);
}

int _rmdir(const char* path) {
  return rmdir(standin::NativePath(path).c_str());
}

char* _mktemp(char* templ) {
  size_t n = templ ? std::strlen(templ) : 0;
  if (n < 6 || std::strcmp(templ + n - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  char digits[16];
  std::snprintf(digits, sizeof digits, "%05u", static_cast<unsigned>(getpid()) % 100000u);
  std::memcpy(templ + n - 5, digits, 5);
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    templ[n - 6] = letter;
    struct stat st;
    if (lstat(standin::NativePath(templ).c_str(), &st) != 0) return templ;
  }
  std::memcpy(templ + n - 6, "XXXXXX", 6);
  errno = EEXIST;
  return nullptr;
}

int _fileno(FILE* stream) {
  return fileno(stream);
}

int _commit(int fd) {
  return fsync(fd);
}

int _isatty(int fd) {
  return isatty(fd);
}
