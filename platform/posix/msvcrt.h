/*
** The Microsoft C runtime functions the library uses that this platform's C
** library lacks or defines differently (msvcrt.cpp). Through win32.h only.
*/
#pragma once

#include "platform/posix/types.h"

/* Compares as the lower-case forms of both texts (C locale). */
int _stricmp(const char* a, const char* b);

/* Formats at most size bytes including the terminator. Returns the number
** of characters written, or -1 when the text and its terminator do not fit;
** the buffer then holds a truncated text. */
int _vsnprintf(char* buffer, size_t size, const char* format, va_list args);

/* As _stricmp over at most n characters. */
int _strnicmp(const char* a, const char* b, size_t n);
