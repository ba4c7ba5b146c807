/*
** Stand-in for the few Microsoft C runtime functions the library uses whose
** behaviour differs from (or is missing in) the C library of this platform.
*/
#include <cctype>
#include <cstdio>

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
  int n = std::vsnprintf(buffer, size, format, args);
  if (n < 0 || static_cast<size_t>(n) >= size) return -1;
  return n;
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
