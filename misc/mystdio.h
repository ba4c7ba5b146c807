/*
** mystdio: a small stdio over platform file handles. A WinFile is opened
** from a name and a mode text, read and written in items, lines, bytes or
** formatted text, optionally through one buffer of its own, and positioned
** and closed like a C stream. Every operation takes a null stream and then
** returns -1 (or none, or does nothing).
**
** Streams start unbuffered: each operation is one platform call until
** winSetvbuf gives the stream a buffer. A buffered stream is either reading
** (read-ahead in the buffer) or writing (bytes pending); reads after writes
** write the pending bytes first, and writes after reads give back the
** read-ahead first (as a flush or seek between them would).
**
** A stream is used by one thread at a time.
*/
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

/* The size of the unbuffered winPrintf's text, terminator included. */
#define WIN_FORMAT_BUFFER_SIZE 4096
#define WIN_GUARD_WORD 0x00FF00FFu

struct WinFile {
  HANDLE FileHandle;       /* owned; closed by winFclose */
  unsigned char* IoBuffer; /* none while unbuffered */
  uint32_t IoPos;          /* read position, or number of bytes pending */
  uint32_t IoSize;
  uint32_t IoFilled; /* bytes the last read put in the buffer */
  char FormatBuffer[WIN_FORMAT_BUFFER_SIZE];
  uint32_t GuardWord; /* WIN_GUARD_WORD: the end formatted text never passes */
  bool WritePending;
};

/* A new unbuffered stream over handle; none when memory runs out. */
WinFile* winFdopen(HANDLE handle);
/* Opens name; mode letters: r read; w write, create or truncate; a write,
** open or create, start at the end; + read and write; s share writing with
** others too (reading is always shared); l sequential scanning. Others are
** ignored. None when the file cannot be opened. */
WinFile* winFopen(const char* name, const char* mode);
/* Writes what is pending (errors are not reported), closes, frees. */
void winFclose(WinFile* stream);

/* The text's length, or -1. */
int winFputs(const char* text, WinFile* stream);
/* Items written, or -1. */
int winFwrite(const void* data, size_t size, size_t count, WinFile* stream);
/* Whole items read (a partial item stays buffered), or -1. */
int winFread(void* destination, size_t size, size_t count, WinFile* stream);
/* Reads a line of at most capacity - 1 bytes, keeping its line feed, and
** terminates it; none at the end of the file or for a capacity below 2. */
char* winFgets(char* destination, int capacity, WinFile* stream);
/* The next byte (0 to 255), or -1. */
int winFgetc(WinFile* stream);
/* Pushes back one byte; on an unbuffered stream the file pointer moves back
** one byte instead, so the file's byte is read again. The byte, or -1. */
int winUngetc(int byte, WinFile* stream);
/* The logical position, or -1. */
long winFtell(WinFile* stream);
/* origin 0 start, 1 current, 2 end. 0, or -1. */
int winFseek(WinFile* stream, int32_t offset, int origin);
/* Writes pending bytes, or gives back unconsumed read-ahead. 0, or -1. */
int winFflush(WinFile* stream);
/* Gives the stream a buffer of size rounded down to a multiple of 16 (only
** the stream's own: buffer must be none), or none for mode _IONBF (4), a
** size of 0 or a size that rounds to 0. Fails while data is buffered. 0,
** or -1. */
int winSetvbuf(WinFile* stream, char* buffer, int mode, size_t size);
/* Formats into the stream. Buffered: the text's length, or a negative value
** when it does not fit the buffer (the text is dropped). Unbuffered: the
** bytes written, or -1; a text of WIN_FORMAT_BUFFER_SIZE characters or more
** shows a message box and ends the process with exit code 1. */
int winPrintf(WinFile* stream, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* The system's text for the thread's last platform error; its length (0 on
** failure). */
int winLastErrorText(char* destination, int capacity);
