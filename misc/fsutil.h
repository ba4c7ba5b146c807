/*
** File-system and process utilities: a directory listing in the manner of
** opendir/readdir over the platform's directory search, status queries on
** paths, a one-directory wildcard search, small scanners that cut fields out
** of a line, the processor architecture, a Windows version code and the
** name of a single-instance mutex.
**
** Paths the caller gives may use either separator; paths built here use
** the platform's own (PATH_SEPARATOR).
**
** ReadDir, TempFormat and the wildcard search keep process-wide state: one
** thread at a time.
*/
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

#ifdef _WIN32
#define PATH_SEPARATOR '\\'
#else
#define PATH_SEPARATOR '/'
#endif

/* Entry types, the POSIX values of readdir's d_type. */
enum : uint32_t { DIR_TYPE_UNKNOWN = 0, DIR_TYPE_DIRECTORY = 4, DIR_TYPE_FILE = 8 };

struct DirEntry {
  char Name[MAX_PATH];
  /* DIR_TYPE_FILE for an entry with the archive or the normal attribute,
  ** else DIR_TYPE_DIRECTORY for a directory, else DIR_TYPE_UNKNOWN. */
  uint32_t Type;
};

struct DirHandle {
  WIN32_FIND_DATAA FindData; /* the current entry */
  HANDLE Search;
  bool FirstPending; /* FindData holds the first entry, not yet delivered */
};

/* Starts listing directory (at most MAX_PATH - 3 characters); none when it
** cannot be listed. "." and ".." are listed like other entries. */
DirHandle* OpenDir(const char* directory);
/* Stores the next entry in entry and sets *result to entry, or to none at
** the end. Always returns 0. */
int ReadDirEntry(DirHandle* dir, DirEntry* entry, DirEntry** result);
/* The next entry in a process-wide DirEntry, or none at the end. */
DirEntry* ReadDir(DirHandle* dir);
void CloseDir(DirHandle* dir);

/* True when a status query on path succeeds. */
bool FileExists(const char* path);
bool IsDirectory(const char* path);
/* A file's size; for a directory the total size of the files directly in
** it (subdirectories are not entered); 0 when path does not exist. */
uint32_t PathSize(const char* path);
/* 0, or -1 when the working directory cannot be changed to path. */
int ChangeDirectory(const char* path);

/* Formats into the next of four rotating 256-byte buffers and returns it: a
** text stays valid for four calls. Longer texts are cut at 255 bytes. */
char* TempFormat(const char* format, ...);

/* The full-path buffer of FindNextMatch holds at least this many bytes, the
** name buffer MAX_PATH. */
#define MATCH_PATH_SIZE (2 * MAX_PATH)

/* Starts a search for the names in one directory that match the file part
** of pattern (dir\*.log, X:*.txt, *.log). One search at a time. */
bool FindFirstMatch(const char* pattern);
/* The next match as directory prefix + name in fullPath and as name in
** name (each when given); false at the end, which ends the search. "." and
** ".." are never delivered. */
bool FindNextMatch(char* fullPath, char* name);

/* Matches name against pattern without regard to case; * and ? never
** consume a '/', and * never crosses a '/' or '\' unless the pattern names
** one. With prefixIsEnough, a name longer than the pattern's match still
** matches. Never backtracks: *.txt does not match a.b.txt. */
bool WildMatch(const char* name, const char* pattern, bool prefixIsEnough);
/* The same, except that * searches the name for the literal run of pattern
** characters that follows it, not scanning past a '/'. */
bool WildMatchSimple(const char* name, const char* pattern, bool prefixIsEnough);

/* The processor architectures ProcessorArchitecture tells apart. */
enum MachineArchitecture : int {
  kArchitectureOther = 0,
  kArchitectureX86 = 1,
  kArchitectureX64 = 2,
};
/* The processor architecture of the machine (not of the process). */
MachineArchitecture ProcessorArchitecture();

/* The Windows versions WindowsVersionCode tells apart; the numbers are the
** codes hosts keep and compare (everything before 2000 is below it). */
enum WindowsVersion : int {
  kWindowsUnknown = 0,  // any other version, or the version cannot be read
  kWindows95 = 2,
  kWindows98 = 3,
  kWindows98SE = 4,
  kWindowsMe = 5,
  kWindowsNT4 = 6,
  kWindows2000 = 7,
  kWindowsXP = 8,
  kWindowsOther5 = 9,  // other 5.x: XP x64, Server 2003
  kWindowsVista = 10,
  kWindowsServer2008 = 11,  // and 2008 R2
  kWindows7 = 12,
  kWindows8 = 13,           // and 8.1
  kWindowsServer2012 = 14,  // and 2012 R2
  kWindows10 = 15,          // and later workstations
  kWindowsServer2016 = 16,  // and later servers
};
/* The code of the running Windows version. */
WindowsVersion WindowsVersionCode();

/* The name of a program part's single-instance mutex: "__ZU_part__", with
** "Global\" in front from Windows 2000 on (machine-wide). The formatted
** length, or -1 when the name and its terminator do not fit in size. */
int InstanceMutexName(char* buffer, size_t size, const char* part);

/* Text scanners. Each copies one field of the line at *cursor into out (at
** most size - 1 bytes and a NUL). When the field does not fit, or holds a
** refused control character (a byte below 32), they return false and leave
** *cursor unchanged and out unterminated. A line end is CR or LF. */

/* A field ending at delimiter or a space; the cursor moves past that
** character. The end of the text fails. True for any field, also empty. */
bool GetWord(const char** cursor, char* out, size_t size, char delimiter);
/* After skipping delimiters and line ends, a field ending at the end of the
** text, a delimiter or a line end; the cursor stays on that character.
** True when the field is not empty. */
bool GetField(const char** cursor, char* out, size_t size, char delimiter);
/* As GetField, but control characters are taken into the field. */
bool GetFieldLoose(const char** cursor, char* out, size_t size, char delimiter);
/* As GetField, with either of two delimiters. */
bool GetFieldEither(const char** cursor, char* out, size_t size, char first, char second);
/* After skipping characters of delimiters, a field ending at the end of the
** text or at a character of delimiters; control characters are taken. */
bool GetFieldSet(const char** cursor, char* out, size_t size, const char* delimiters);

/* Cuts the next token out of the line in place: skips delimiters, then the
** token runs to the end, a delimiter or a line end, which is overwritten
** with a NUL and stepped over. None (cursor unchanged) when only a line end
** or the end of the text is left. */
char* SplitToken(char** cursor, char delimiter);
