/*
** The Win32 subset the library is written against. On Windows this is the
** system's own headers; elsewhere it declares the same names, types,
** constants and error codes, implemented by the other files of this folder
** (one per DLL they stand in for). Library code includes this header and
** nothing platform-specific besides.
*/
#pragma once

#ifdef _WIN32

#include <windows.h>
#include <winsock2.h>

#else

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

/* Fixed-width Win32 types: LONG and DWORD stay 32 bits on 64-bit builds. */
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef unsigned int UINT;
typedef char CHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef void* LPVOID;
typedef void* HANDLE;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

/* Interlocked counters: full-barrier read-modify-write, like their Windows
** originals. They return the new value. */
inline LONG InterlockedIncrement(volatile LONG* target) {
  return std::atomic_ref<LONG>(*const_cast<LONG*>(target)).fetch_add(1) + 1;
}
inline LONG InterlockedDecrement(volatile LONG* target) {
  return std::atomic_ref<LONG>(*const_cast<LONG*>(target)).fetch_sub(1) - 1;
}
inline LONG ReadAcquire(const volatile LONG* source) {
  return std::atomic_ref<LONG>(*const_cast<LONG*>(source)).load(std::memory_order_acquire);
}

/* C runtime names of the Microsoft library (msvcrt.cpp). */

/* Compares as the lower-case forms of both texts (C locale). */
int _stricmp(const char* a, const char* b);

/* Formats at most size bytes including the terminator. Returns the number
** of characters written, or -1 when the text and its terminator do not fit;
** the buffer then holds a truncated text. */
int _vsnprintf(char* buffer, size_t size, const char* format, va_list args);

#endif
