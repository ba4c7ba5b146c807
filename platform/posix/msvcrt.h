/*
** The Microsoft C runtime functions the library uses that this platform's C
** library lacks or defines differently (msvcrt.cpp). Through win32.h only.
*/
#pragma once

#include <cstdio>

#include "platform/posix/types.h"

/* Compares as the lower-case forms of both texts (C locale). */
int _stricmp(const char* a, const char* b);

/* Formats into at most size bytes. A text shorter than size is written
** with its terminator, one of exactly size characters without it; both
** return the number of characters. A longer text fills the size bytes, cut
** and unterminated, and returns -1. */
int _vsnprintf(char* buffer, size_t size, const char* format, va_list args);

/* File status. Both separators are accepted in paths. The mode holds one of
** the type bits and the permission bits of the owner, repeated for group
** and others, as the Microsoft runtime reports them. The size is 32 bits:
** for a file of 2 GiB or more the call fails with EOVERFLOW, as there. The
** times are not kept. */
#define _S_IFMT 0xF000
#define _S_IFDIR 0x4000
#define _S_IFCHR 0x2000
#define _S_IFIFO 0x1000
#define _S_IFREG 0x8000
#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080
#define _S_IEXEC 0x0040

struct _stat {
  uint32_t st_dev;
  uint16_t st_ino;
  uint16_t st_mode;
  int16_t st_nlink;
  int16_t st_uid;
  int16_t st_gid;
  uint32_t st_rdev;
  int32_t st_size;
};
int _stat(const char* path, struct _stat* status);

/* Changes the working directory; 0 or -1 with errno set. */
int _chdir(const char* path);

/* As _stricmp over at most n characters. */
int _strnicmp(const char* a, const char* b, size_t n);

/* Directories (both separators accepted): 0, or -1 with errno set. */
int _mkdir(const char* path);
int _rmdir(const char* path);
/* Fills the six trailing X of templ with a letter and five digits of the
** process id, taking the first letter from a to z whose name does not
** exist yet; templ, or none when it has no XXXXXX end or all 26 exist. */
char* _mktemp(char* templ);
int _fileno(FILE* stream);
/* Flushes the file's data to the disk: 0, or -1 with errno set. */
int _commit(int fd);
/* Whether the descriptor is a character device, such as a terminal. */
int _isatty(int fd);
