/*
** zustring: the library's byte string.
**
** A zustring is one pointer to a heap block, or null for the empty string.
** The block is a header of four 32-bit words followed by the text:
**
**     blockSize | length | refCount | growthHint | text... 0
**
** Copies share the block and count their holders with interlocked
** operations; the first write to a shared block copies it (copy-on-write).
** A block for n characters is n + 24 bytes and can take texts of up to
** blockSize - 20 characters in place; the growth hint, in tenths, makes a
** block that is appended to often grow geometrically instead of by fit.
**
** Positions are 1-based and 0 means "not found". Texts are bytes (Latin-1 in
** practice) and may contain 0 bytes when built with an explicit length.
*/
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "platform/win32.h"

class zustring {
 public:
  zustring() = default;
  zustring(const char* s, unsigned n = 0);
  explicit zustring(char c);
  zustring(const zustring& other);
  zustring(zustring&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  ~zustring();

  zustring& operator=(const zustring& other);
  zustring& operator=(zustring&& other) noexcept;
  zustring& operator=(const char* s) {
    Assign(s);
    return *this;
  }
  void Assign(const char* s);
  void Reset();
  void Clear();
  void Reserve(unsigned capacity, unsigned growthHint);

  const char* c_str() const { return block_ ? block_->Text() : ""; }
  unsigned Length() const { return block_ ? block_->length : 0; }
  bool IsEmpty() const { return !block_ || block_->length == 0; }
  const char& CharAt(unsigned i) const { return block_->Text()[i - 1]; }
  char* GetWritableBuffer();
  void MakeUnique();
  int ToInt() const;

  zustring& Append(const zustring& other);
  zustring& Append(const char* s, int n) {
    // The common case inline: bytes that fit a block of one's own.
    if (block_ && n > 0 && static_cast<unsigned>(n) <= Capacity() - block_->length &&
        ReadAcquire(&block_->refCount) == 1) {
      char* end = block_->Text() + block_->length;
      std::memmove(end, s, static_cast<unsigned>(n));
      end[n] = 0;
      block_->length += static_cast<unsigned>(n);
      return *this;
    }
    return AppendOther(s, n);
  }
  zustring& operator+=(const zustring& other) { return Append(other); }
  zustring& operator+=(const char* s) { return Append(s, 0); }
  zustring operator+(const char* s) const;
  zustring operator+(const zustring& other) const;
  void Insert(const char* s, unsigned n, unsigned pos);
  void SetLength(int n);

  int Format(const char* fmt, ...);
  int AppendFormat(const char* fmt, ...);
  int AppendFormatV(const char* fmt, va_list args);

  zustring Mid(unsigned pos, unsigned count) const;
  zustring ToLower() const;
  zustring ToUpper() const;
  zustring Trim() const;

  unsigned Find(const char* sub) const;
  unsigned ReverseFind(const char* chars) const;

  bool operator==(const char* s) const;
  bool operator!=(const char* s) const { return !(*this == s); }
  bool operator==(const zustring& other) const;
  bool operator!=(const zustring& other) const { return !(*this == other); }

  /* Latin-1 to UTF-8 and back (other characters become replacement). n is
  ** the length of s, or 0 to measure it; no byte past n or past the
  ** terminator is read. */
  static zustring Latin1ToUtf8(const char* s, unsigned n = 0);
  static zustring Utf8ToLatin1(const char* s, char replacement, unsigned n = 0);

  /* Length of the text fmt produces with args: formats into buffer when one
  ** is given, else into a scratch buffer, then into doubling temporaries up
  ** to 4 MiB. -1 when even 4 MiB is too small. args is left unconsumed. */
  static int FormattedLength(char* buffer, unsigned size, const char* fmt, va_list args);

  /* A view of the storage for diagnostics and tests; not for ordinary use. */
  struct BlockView {
    const void* block;
    unsigned blockSize;
    unsigned length;
    LONG refCount;
    unsigned growthHint;
  };
  BlockView InspectBlock() const;

 private:
  struct Block {
    uint32_t blockSize;
    uint32_t length;
    LONG refCount;
    uint32_t growthHint;
    char* Text() { return reinterpret_cast<char*>(this + 1); }
  };
  static constexpr unsigned kHeader = sizeof(Block);
  static constexpr unsigned kSlack = 24;  // header, terminator and spare bytes of a new block
  /* What a block holds besides its text at most: the header and four bytes
  ** (the terminator among them), so the text may reach blockSize - 20. */
  static constexpr unsigned kOverhead = kHeader + 4;

  static Block* AllocBlock(unsigned size);
  static Block* NewBlock(const char* s, unsigned n);
  static void Release(Block* block);
  unsigned Capacity() const { return block_->blockSize - kOverhead; }
  void Grow(unsigned newLength);
  void AppendBytes(const char* s, unsigned n);
  zustring& AppendOther(const char* s, int n);

  Block* block_ = nullptr;
};
