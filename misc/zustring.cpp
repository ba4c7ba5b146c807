/*
** The shared string: block management, copy-on-write, growth, formatting
** and the Latin-1/UTF-8 converters. See zustring.h for the block layout.
*/
#include "misc/zustring.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>

static_assert(sizeof(LONG) == 4 && sizeof(uint32_t) == 4, "the block header is four 32-bit words");

zustring::Block* zustring::AllocBlock(unsigned size) {
  Block* block = static_cast<Block*>(std::malloc(size));
  if (!block) throw std::bad_alloc();
  block->blockSize = size;
  block->length = 0;
  block->refCount = 1;
  block->growthHint = 0;
  block->Text()[0] = 0;
  return block;
}

/* A block for n characters, filled from s unless s is null. */
zustring::Block* zustring::NewBlock(const char* s, unsigned n) {
  Block* block = AllocBlock(n + kSlack);
  block->length = n;
  if (s) std::memcpy(block->Text(), s, n);
  block->Text()[n] = 0;
  return block;
}

/* A sole holder frees without the interlocked decrement: no other string
** can take a new reference to a block that only this one holds. */
void zustring::Release(Block* block) {
  if (!block) return;
  if (ReadAcquire(&block->refCount) == 1 || InterlockedDecrement(&block->refCount) == 0) {
    std::free(block);
  }
}

zustring::zustring(const char* s, unsigned n) {
  if (n == 0 && s) n = static_cast<unsigned>(std::strlen(s));
  if (n) block_ = NewBlock(s, n);
}

zustring::zustring(char c) : zustring(&c, 1) {}

zustring::zustring(const zustring& other) : block_(other.block_) {
  if (block_) InterlockedIncrement(&block_->refCount);
}

zustring::~zustring() {
  Release(block_);
}

zustring& zustring::operator=(const zustring& other) {
  if (block_ == other.block_) return *this;
  Reset();
  block_ = other.block_;
  if (block_) InterlockedIncrement(&block_->refCount);
  return *this;
}

zustring& zustring::operator=(zustring&& other) noexcept {
  if (this != &other) {
    Release(block_);
    block_ = other.block_;
    other.block_ = nullptr;
  }
  return *this;
}

void zustring::Reset() {
  Release(block_);
  block_ = nullptr;
}

void zustring::Clear() {
  if (!block_) return;
  if (block_->growthHint == 0) {
    Reset();
    return;
  }
  MakeUnique();
  block_->length = 0;
  block_->Text()[0] = 0;
}

void zustring::Assign(const char* s) {
  Clear();
  if (!s || !*s) return;
  unsigned n = static_cast<unsigned>(std::strlen(s));
  if (!block_) {
    block_ = NewBlock(s, n);
    return;
  }
  if (n > Capacity()) Grow(n);
  std::memcpy(block_->Text(), s, n + 1);
  block_->length = n;
}

void zustring::Reserve(unsigned capacity, unsigned growthHint) {
  if (!block_) block_ = AllocBlock(capacity + kSlack);
  block_->growthHint = growthHint;
}

char* zustring::GetWritableBuffer() {
  if (!block_) return nullptr;
  MakeUnique();
  return block_->Text();
}

void zustring::MakeUnique() {
  if (!block_ || ReadAcquire(&block_->refCount) == 1) return;
  /* The whole block is copied but for the count, which other holders may be
  ** changing at this moment; the copy has one holder. */
  Block* copy = AllocBlock(block_->blockSize);
  copy->length = block_->length;
  copy->growthHint = block_->growthHint;
  std::memcpy(copy->Text(), block_->Text(), block_->blockSize - kHeader);
  Release(block_);
  block_ = copy;
}

/* strtol with a 32-bit long saturates; a 64-bit long is cut down likewise. */
int zustring::ToInt() const {
  if (IsEmpty()) return 0;
  long value = std::strtol(block_->Text(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int>(value);
}

/* Called with a unique block when newLength exceeds the capacity. */
void zustring::Grow(unsigned newLength) {
  unsigned size = newLength + kSlack;
  if (block_->growthHint != 0) {
    unsigned candidate = ((block_->blockSize + 9) / 10) * (block_->growthHint + 10);
    if (static_cast<int>(candidate - newLength) >= static_cast<int>(kSlack)) size = candidate;
  }
  Block* grown = static_cast<Block*>(std::realloc(block_, size));
  if (!grown) throw std::bad_alloc();
  grown->blockSize = size;
  block_ = grown;
}

/* Appends n bytes to a held block; s may point into the block itself. */
void zustring::AppendBytes(const char* s, unsigned n) {
  MakeUnique();
  unsigned length = block_->length;
  if (length + n > Capacity()) {
    /* The source may be this very text (appending a string to itself). */
    uintptr_t text = reinterpret_cast<uintptr_t>(block_->Text());
    uintptr_t source = reinterpret_cast<uintptr_t>(s);
    bool inside = source >= text && source < text + block_->blockSize - kHeader;
    Grow(length + n);
    if (inside) s = block_->Text() + (source - text);
  }
  std::memmove(block_->Text() + length, s, n);
  block_->length = length + n;
  block_->Text()[length + n] = 0;
}

zustring& zustring::Append(const zustring& other) {
  if (!block_) return *this = other;
  if (!other.block_) return *this;
  AppendBytes(other.block_->Text(), other.block_->length);
  return *this;
}

/* Append when the bytes do not simply fit: no block, a shared one, growth,
** or a count to measure. */
zustring& zustring::AppendOther(const char* s, int n) {
  if (n <= 0) n = s ? static_cast<int>(std::strlen(s)) : 0;
  if (block_) {
    AppendBytes(s, static_cast<unsigned>(n));
  } else if (n > 0) {
    block_ = NewBlock(s, static_cast<unsigned>(n));
  }
  return *this;
}

zustring zustring::operator+(const char* s) const {
  zustring result(*this);
  result.Append(s, 0);
  return result;
}

zustring zustring::operator+(const zustring& other) const {
  zustring result(*this);
  result.Append(other);
  return result;
}

void zustring::Insert(const char* s, unsigned n, unsigned pos) {
  if (pos == 0) pos = 1;
  if (!block_) {
    *this = zustring(s, n);
    return;
  }
  unsigned at = pos - 1;
  if (at >= block_->length) {
    Append(s, 0);
    return;
  }
  MakeUnique();
  unsigned length = block_->length;
  if (length + n > Capacity()) Grow(length + n);
  char* text = block_->Text();
  std::memmove(text + at + n, text + at, length - at + 1);
  std::memcpy(text + at, s, n);
  block_->length = length + n;
}

void zustring::SetLength(int n) {
  if (n < 0) n = 0;
  unsigned length = static_cast<unsigned>(n);
  if (!block_) {
    if (length == 0) return;
    block_ = NewBlock(nullptr, length);
    return;
  }
  MakeUnique();
  if (length > Capacity()) Grow(length);
  block_->Text()[length] = 0;
  block_->length = length;
}

/* Scratch space of the measuring pass; its content is never read. One per
** thread, so that threads may format at the same time. */
static thread_local char formatScratch[4096];

/* Texts this long or longer are not measured: FormattedLength gives -1. */
static constexpr unsigned kMaxFormatted = 4u << 20;

int zustring::FormattedLength(char* buffer, unsigned size, const char* fmt, va_list args) {
  va_list pass;
  int r;
  if (buffer) {
    va_copy(pass, args);
    r = _vsnprintf(buffer, size, fmt, pass);
    va_end(pass);
    if (r >= 0) return r;
  }
  va_copy(pass, args);
  r = _vsnprintf(formatScratch, sizeof formatScratch, fmt, pass);
  va_end(pass);
  if (r >= 0) return r;
  for (unsigned tempSize = sizeof formatScratch; r < 0 && tempSize < kMaxFormatted;) {
    tempSize *= 2;
    char* temp = static_cast<char*>(std::malloc(tempSize));
    if (!temp) throw std::bad_alloc();
    va_copy(pass, args);
    r = _vsnprintf(temp, tempSize, fmt, pass);
    va_end(pass);
    std::free(temp);
  }
  return r;
}

int zustring::Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int r;
  if (block_) {
    MakeUnique();
    r = FormattedLength(block_->Text(), Capacity(), fmt, args);
    if (r >= 0 && static_cast<unsigned>(r) < Capacity()) {
      block_->length = static_cast<unsigned>(r);
      va_end(args);
      return r;
    }
    Reset();
  } else {
    r = FormattedLength(nullptr, 0, fmt, args);
  }
  if (r >= 0) {
    block_ = NewBlock(nullptr, static_cast<unsigned>(r));
    va_list pass;
    va_copy(pass, args);
    r = _vsnprintf(block_->Text(), block_->blockSize - kHeader, fmt, pass);
    va_end(pass);
    block_->length = static_cast<unsigned>(r);
  }
  va_end(args);
  return r;
}

int zustring::AppendFormat(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int r = AppendFormatV(fmt, args);
  va_end(args);
  return r;
}

int zustring::AppendFormatV(const char* fmt, va_list args) {
  int r;
  if (block_) {
    MakeUnique();
    unsigned length = block_->length;
    unsigned room = block_->blockSize - (length + kOverhead);
    r = FormattedLength(block_->Text() + length, room, fmt, args);
    if (r >= 0 && static_cast<unsigned>(r) < room) {
      block_->length = length + static_cast<unsigned>(r);
      return r;
    }
    if (r < 0) {
      /* 4 MiB or more: the text stays as it was. */
      block_->Text()[length] = 0;
      return r;
    }
    if (length + r > Capacity()) Grow(length + static_cast<unsigned>(r));
  } else {
    r = FormattedLength(nullptr, 0, fmt, args);
    if (r < 0) return r;
    block_ = NewBlock(nullptr, static_cast<unsigned>(r));
    block_->length = 0;
  }
  unsigned length = block_->length;
  va_list pass;
  va_copy(pass, args);
  r = _vsnprintf(block_->Text() + length, block_->blockSize - kHeader - length, fmt, pass);
  va_end(pass);
  block_->length = length + static_cast<unsigned>(r);
  return r;
}

zustring zustring::Mid(unsigned pos, unsigned count) const {
  if (pos == 0) pos = 1;
  if (IsEmpty() || pos > block_->length) return zustring();
  unsigned start = pos - 1;
  if (count > block_->length - start) count = block_->length - start;
  return zustring(block_->Text() + start, count);
}

zustring zustring::ToLower() const {
  zustring result(c_str(), Length());
  for (unsigned i = 0; i < result.Length(); ++i) {
    char& c = result.block_->Text()[i];
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

zustring zustring::ToUpper() const {
  zustring result(c_str(), Length());
  for (unsigned i = 0; i < result.Length(); ++i) {
    char& c = result.block_->Text()[i];
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return result;
}

/* What Trim removes: control characters, space and every byte from 0x80 up
** (the bytes that are at most 32 when read as signed). */
static bool IsControlSpaceOrHigh(char c) {
  return static_cast<signed char>(c) <= 32;
}

zustring zustring::Trim() const {
  if (IsEmpty()) return zustring();
  const char* text = block_->Text();
  unsigned length = block_->length;
  if (!IsControlSpaceOrHigh(text[0]) && !IsControlSpaceOrHigh(text[length - 1])) return *this;
  unsigned first = 0;
  while (first < length && IsControlSpaceOrHigh(text[first])) ++first;
  unsigned end = length;
  while (end > first && IsControlSpaceOrHigh(text[end - 1])) --end;
  if (end == first) return zustring();
  return zustring(text + first, end - first);
}

unsigned zustring::Find(const char* sub) const {
  if (IsEmpty()) return 0;
  const char* text = block_->Text();
  const char* hit = std::strstr(text, sub);
  return hit ? static_cast<unsigned>(hit - text) + 1 : 0;
}

unsigned zustring::ReverseFind(const char* chars) const {
  if (IsEmpty() || !chars[0]) return 0;
  const char* text = block_->Text();
  if (!chars[1]) {
    const char* hit = std::strrchr(text, chars[0]);
    return hit ? static_cast<unsigned>(hit - text) + 1 : 0;
  }
  for (unsigned i = block_->length; i > 0; --i) {
    if (text[i - 1] && std::strchr(chars, text[i - 1])) return i;
  }
  return 0;
}

bool zustring::operator==(const char* s) const {
  if (!s || !*s) return IsEmpty();
  return block_ && std::strcmp(block_->Text(), s) == 0;
}

bool zustring::operator==(const zustring& other) const {
  if (other.IsEmpty()) return IsEmpty();
  return block_ && std::strcmp(block_->Text(), other.block_->Text()) == 0;
}

zustring zustring::Latin1ToUtf8(const char* s, unsigned n) {
  zustring result;
  if (!s || !*s) return result;
  if (n == 0) n = static_cast<unsigned>(std::strlen(s));
  result.SetLength(static_cast<int>(2 * n));
  char* out = result.GetWritableBuffer();
  unsigned k = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  for (const unsigned char* end = p + n; p < end && *p; ++p) {
    unsigned char c = *p;
    if (c < 0x80) {
      out[k++] = static_cast<char>(c);
    } else if (c < 0xC0) {
      out[k++] = static_cast<char>(0xC2);
      out[k++] = static_cast<char>(c);
    } else {
      out[k++] = static_cast<char>(0xC3);
      out[k++] = static_cast<char>(c - 0x40);
    }
  }
  result.SetLength(static_cast<int>(k));
  return result;
}

zustring zustring::Utf8ToLatin1(const char* s, char replacement, unsigned n) {
  zustring result;
  if (!s || !*s) return result;
  if (n == 0) n = static_cast<unsigned>(std::strlen(s));
  result.SetLength(static_cast<int>(n));
  char* out = result.GetWritableBuffer();
  unsigned k = 0;
  /* The text ends at its terminator or after n bytes, whichever comes first;
  ** a sequence cut by the end gives the replacement. */
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  const unsigned char* end = p + n;
  while (p < end && *p) {
    unsigned char c = *p++;
    if (c < 0x80) {
      out[k++] = static_cast<char>(c);
    } else if (c == 0xC2 || c == 0xC3) {
      unsigned char next = p < end ? *p : 0;
      if (next >= 0x80 && next <= 0xBF) {
        out[k++] = static_cast<char>(c == 0xC2 ? next : next + 0x40);
      } else {
        out[k++] = replacement;
      }
      if (next) ++p;
    } else {
      out[k++] = replacement;
      while (p < end && (*p & 0xC0) == 0x80) ++p;
    }
  }
  result.SetLength(static_cast<int>(k));
  return result;
}

zustring::BlockView zustring::InspectBlock() const {
  if (!block_) return BlockView{nullptr, 0, 0, 0, 0};
  return BlockView{block_, block_->blockSize, block_->length, ReadAcquire(&block_->refCount),
                   block_->growthHint};
}
