/*
** The buffered file stream over CreateFileA, ReadFile, WriteFile,
** SetFilePointer and CloseHandle, and its formatted output.
**
** The buffer is allocated one byte longer than IoSize, so that formatting
** a text that fills the free space exactly still has room for the
** terminator vsnprintf writes.
*/
#include "misc/mystdio.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

/* The Microsoft C runtime's value of _IONBF, which hosts written for it
** pass whatever this platform's value is. */
constexpr int kMicrosoftUnbuffered = 4;
/* Buffered formatting flushes first when less than this is free. */
constexpr uint32_t kPrintfRoom = 256;

/* Moves the file pointer by distance; false when the platform refuses. */
bool MoveFilePointer(HANDLE file, LONG distance, DWORD method) {
  SetLastError(NO_ERROR);
  return SetFilePointer(file, distance, nullptr, method) != INVALID_SET_FILE_POINTER ||
         GetLastError() == NO_ERROR;
}

/* Reads into the buffer behind its first kept bytes; the bytes now there. */
uint32_t Refill(WinFile* stream, uint32_t kept) {
  DWORD got = 0;
  if (!ReadFile(stream->FileHandle, stream->IoBuffer + kept, stream->IoSize - kept, &got,
                nullptr)) {
    got = 0;
  }
  stream->IoPos = 0;
  stream->IoFilled = kept + got;
  return got;
}

/* A buffered stream about to read: pending writes go out first. */
bool EnterReading(WinFile* stream) {
  return !stream->WritePending || winFflush(stream) == 0;
}

/* A buffered stream about to write: read-ahead is given back first. */
bool EnterWriting(WinFile* stream) {
  return stream->IoFilled == 0 || winFflush(stream) == 0;
}

/* size * count, or -1 when it exceeds what a result can count. */
long long TotalBytes(size_t size, size_t count) {
  if (size != 0 && count > static_cast<size_t>(INT_MAX) / size) return -1;
  return static_cast<long long>(size * count);
}

}  // namespace

WinFile* winFdopen(HANDLE handle) {
  WinFile* stream = new (std::nothrow) WinFile();
  if (!stream) return nullptr;
  stream->FileHandle = handle;
  stream->GuardWord = WIN_GUARD_WORD;
  return stream;
}

WinFile* winFopen(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  DWORD access = 0;
  bool truncate = false, append = false, shareWrite = false, sequential = false;
  for (const char* p = mode; *p; ++p) {
    switch (*p) {
      case 'r':
        access |= GENERIC_READ;
        break;
      case 'w':
        access |= GENERIC_WRITE;
        truncate = true;
        break;
      case 'a':
        access |= GENERIC_WRITE;
        append = true;
        break;
      case '+':
        access |= GENERIC_READ | GENERIC_WRITE;
        break;
      case 's':
        shareWrite = true;
        break;
      case 'l':
        sequential = true;
        break;
      default:
        break;
    }
  }
  DWORD share = FILE_SHARE_READ | (shareWrite ? FILE_SHARE_WRITE : 0);
  DWORD creation = truncate ? CREATE_ALWAYS : append ? OPEN_ALWAYS : OPEN_EXISTING;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE | (sequential ? FILE_FLAG_SEQUENTIAL_SCAN : 0);
  HANDLE file = CreateFileA(name, access, share, nullptr, creation, attributes, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  WinFile* stream = winFdopen(file);
  if (!stream) {
    CloseHandle(file);
    return nullptr;
  }
  if (append) {
    LONG high = 0;
    SetFilePointer(file, 0, &high, FILE_END);
  }
  return stream;
}

void winFclose(WinFile* stream) {
  if (!stream) return;
  if (stream->WritePending) winFflush(stream);
  CloseHandle(stream->FileHandle);
  delete[] stream->IoBuffer;
  delete stream;
}

int winFflush(WinFile* stream) {
  if (!stream) return -1;
  if (stream->WritePending) {
    DWORD written = 0;
    bool ok = WriteFile(stream->FileHandle, stream->IoBuffer, stream->IoPos, &written, nullptr) &&
              written == stream->IoPos;
    if (!ok) {
      // Keep only what did not reach the file, so a retry writes no byte twice.
      std::memmove(stream->IoBuffer, stream->IoBuffer + written, stream->IoPos - written);
      stream->IoPos -= written;
      return -1;
    }
    stream->IoPos = 0;
    stream->WritePending = false;
    return 0;
  }
  if (stream->IoBuffer && stream->IoFilled != 0) {
    LONG unread = static_cast<LONG>(stream->IoFilled - stream->IoPos);
    if (unread != 0) MoveFilePointer(stream->FileHandle, -unread, FILE_CURRENT);
    stream->IoPos = 0;
    stream->IoFilled = 0;
  }
  return 0;
}

int winSetvbuf(WinFile* stream, char* buffer, int mode, size_t size) {
  if (!stream || buffer || stream->IoPos != 0) return -1;
  // Read-ahead of which nothing was taken yet goes back to the file.
  if (stream->IoFilled != 0) winFflush(stream);
  delete[] stream->IoBuffer;
  stream->IoBuffer = nullptr;
  stream->IoSize = 0;
  stream->IoPos = 0;
  stream->IoFilled = 0;
  size_t rounded = size & ~static_cast<size_t>(15);
  if (mode == kMicrosoftUnbuffered || mode == _IONBF || rounded == 0) return 0;
  if (rounded > UINT32_MAX - 16) return -1;
  stream->IoBuffer = new (std::nothrow) unsigned char[rounded + 1];
  if (!stream->IoBuffer) return -1;
  stream->IoSize = static_cast<uint32_t>(rounded);
  return 0;
}

int winFputs(const char* text, WinFile* stream) {
  if (!stream || !text) return -1;
  size_t length = std::strlen(text);
  if (length > INT_MAX) return -1;
  if (!stream->IoBuffer) {
    DWORD written = 0;
    if (!WriteFile(stream->FileHandle, text, static_cast<DWORD>(length), &written, nullptr)) {
      return -1;
    }
    return static_cast<int>(written);
  }
  if (!EnterWriting(stream)) return -1;
  for (size_t done = 0; done < length;) {
    uint32_t piece =
        static_cast<uint32_t>(std::min<size_t>(length - done, stream->IoSize - stream->IoPos));
    std::memcpy(stream->IoBuffer + stream->IoPos, text + done, piece);
    stream->IoPos += piece;
    stream->WritePending = true;
    done += piece;
    if (stream->IoPos == stream->IoSize && winFflush(stream) != 0) return -1;
  }
  return static_cast<int>(length);
}

int winFwrite(const void* data, size_t size, size_t count, WinFile* stream) {
  if (!stream) return -1;
  long long total = TotalBytes(size, count);
  if (total < 0) return -1;
  if (total == 0) return 0;
  DWORD n = static_cast<DWORD>(total);
  if (stream->IoBuffer) {
    if (!EnterWriting(stream)) return -1;
    if (n > stream->IoSize - stream->IoPos && winFflush(stream) != 0) return -1;
    if (n <= stream->IoSize) {
      std::memcpy(stream->IoBuffer + stream->IoPos, data, n);
      stream->IoPos += n;
      stream->WritePending = true;
      return static_cast<int>(count);
    }
  }
  DWORD written = 0;
  if (!WriteFile(stream->FileHandle, data, n, &written, nullptr)) return -1;
  return static_cast<int>(written / size);
}

int winFread(void* destination, size_t size, size_t count, WinFile* stream) {
  if (!stream) return -1;
  long long total = TotalBytes(size, count);
  if (total < 0) return -1;
  if (total == 0) return 0;
  if (!stream->IoBuffer) {
    DWORD got = 0;
    if (!ReadFile(stream->FileHandle, destination, static_cast<DWORD>(total), &got, nullptr)) {
      return -1;
    }
    return static_cast<int>(got / size);
  }
  if (!EnterReading(stream)) return -1;
  unsigned char* out = static_cast<unsigned char*>(destination);
  size_t items = 0;
  while (items < count) {
    uint32_t available = stream->IoFilled - stream->IoPos;
    if (available < size) {
      // Too little for one item: keep the rest at the start, read behind it.
      std::memmove(stream->IoBuffer, stream->IoBuffer + stream->IoPos, available);
      if (Refill(stream, available) == 0) break;
      available = stream->IoFilled;
      if (available < size) break;
    }
    size_t take = std::min(count - items, available / size);
    std::memcpy(out, stream->IoBuffer + stream->IoPos, take * size);
    stream->IoPos += static_cast<uint32_t>(take * size);
    out += take * size;
    items += take;
  }
  return static_cast<int>(items);
}

char* winFgets(char* destination, int capacity, WinFile* stream) {
  if (!stream || !destination || capacity < 2) return nullptr;
  uint32_t limit = static_cast<uint32_t>(capacity - 1);
  if (!stream->IoBuffer) {
    DWORD got = 0;
    if (!ReadFile(stream->FileHandle, destination, limit, &got, nullptr) || got == 0) {
      return nullptr;
    }
    destination[got] = 0;
    if (char* lineFeed = static_cast<char*>(std::memchr(destination, '\n', got))) {
      DWORD kept = static_cast<DWORD>(lineFeed - destination) + 1;
      destination[kept] = 0;
      if (got > kept)
        MoveFilePointer(stream->FileHandle, -static_cast<LONG>(got - kept), FILE_CURRENT);
    }
    return destination;
  }
  if (!EnterReading(stream)) return nullptr;
  uint32_t taken = 0;
  while (taken < limit) {
    if (stream->IoPos >= stream->IoFilled && Refill(stream, 0) == 0) break;
    uint32_t piece = std::min(stream->IoFilled - stream->IoPos, limit - taken);
    const unsigned char* from = stream->IoBuffer + stream->IoPos;
    const void* lineFeed = std::memchr(from, '\n', piece);
    if (lineFeed)
      piece = static_cast<uint32_t>(static_cast<const unsigned char*>(lineFeed) - from) + 1;
    std::memcpy(destination + taken, from, piece);
    stream->IoPos += piece;
    taken += piece;
    if (lineFeed) break;
  }
  if (taken == 0) return nullptr;
  destination[taken] = 0;
  return destination;
}

int winFgetc(WinFile* stream) {
  if (!stream) return -1;
  if (!stream->IoBuffer) {
    unsigned char byte;
    DWORD got = 0;
    if (!ReadFile(stream->FileHandle, &byte, 1, &got, nullptr) || got != 1) return -1;
    return byte;
  }
  if (!EnterReading(stream)) return -1;
  if (stream->IoPos >= stream->IoFilled && Refill(stream, 0) == 0) return -1;
  return stream->IoBuffer[stream->IoPos++];
}

int winUngetc(int byte, WinFile* stream) {
  if (!stream || byte == -1) return -1;
  if (!stream->IoBuffer) {
    return MoveFilePointer(stream->FileHandle, -1, FILE_CURRENT) ? byte & 0xFF : -1;
  }
  if (stream->WritePending && winFflush(stream) != 0) return -1;
  if (stream->IoPos > 0) {
    stream->IoBuffer[--stream->IoPos] = static_cast<unsigned char>(byte);
  } else {
    winFflush(stream);
    stream->IoBuffer[0] = static_cast<unsigned char>(byte);
    stream->IoPos = 0;
    stream->IoFilled = 1;
  }
  return byte & 0xFF;
}

long winFtell(WinFile* stream) {
  if (!stream) return -1;
  SetLastError(NO_ERROR);
  DWORD position = SetFilePointer(stream->FileHandle, 0, nullptr, FILE_CURRENT);
  if (position == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  long logical = static_cast<long>(position);
  if (stream->WritePending) {
    logical += stream->IoPos;
  } else if (stream->IoBuffer && logical >= 1) {
    logical -= stream->IoFilled - stream->IoPos;
  }
  return logical;
}

int winFseek(WinFile* stream, int32_t offset, int origin) {
  if (!stream || origin < 0 || origin > 2) return -1;
  if (winFflush(stream) != 0) return -1;
  static const DWORD kMethods[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
  return MoveFilePointer(stream->FileHandle, offset, kMethods[origin]) ? 0 : -1;
}

int winPrintf(WinFile* stream, const char* format, ...) {
  if (!stream || !format) return -1;
  va_list args;
  va_start(args, format);
  int result = -1;
  if (!stream->IoBuffer) {
    int n = std::vsnprintf(stream->FormatBuffer, sizeof stream->FormatBuffer, format, args);
    if (n >= static_cast<int>(sizeof stream->FormatBuffer)) {
      MessageBoxA(nullptr, "mystdio:winPrintf() - string maior que 4096 bytes", "Buffer Overflow",
                  MB_OK | MB_ICONERROR);
      std::exit(1);
    }
    DWORD written = 0;
    if (n >= 0 && WriteFile(stream->FileHandle, stream->FormatBuffer, static_cast<DWORD>(n),
                            &written, nullptr)) {
      result = static_cast<int>(written);
    }
  } else if (EnterWriting(stream)) {
    if (stream->IoSize - stream->IoPos < kPrintfRoom) winFflush(stream);
    // Format where the pending bytes end; when the text does not fit, write
    // them out and format once more into the space then free.
    for (int attempt = 0; attempt < 2; ++attempt) {
      uint32_t space = stream->IoSize - stream->IoPos;
      va_list copy;
      va_copy(copy, args);
      int n = std::vsnprintf(reinterpret_cast<char*>(stream->IoBuffer) + stream->IoPos, space + 1,
                             format, copy);
      va_end(copy);
      if (n >= 0 && static_cast<uint32_t>(n) <= space) {
        stream->IoPos += static_cast<uint32_t>(n);
        if (n > 0) stream->WritePending = true;
        result = n;
        break;
      }
      if (n < 0 || attempt == 1) break;
      winFflush(stream);
    }
  }
  va_end(args);
  return result;
}

int winLastErrorText(char* destination, int capacity) {
  if (!destination || capacity <= 0) return 0;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           GetLastError(), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), destination,
                           static_cast<DWORD>(capacity), nullptr);
  if (n == 0) destination[0] = 0;
  return static_cast<int>(n);
}
