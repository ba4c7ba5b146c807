/*
** Fixed-width Win32 types and the interlocked counters, for builds without
** the Windows headers. Included through platform/win32.h only.
*/
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

/* LONG and DWORD stay 32 bits on 64-bit builds, as on Windows. */
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

typedef uintptr_t ULONG_PTR;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
/* UTF-16 code units, as on Windows (wchar_t is 32 bits here). */
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
