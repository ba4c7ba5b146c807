/*
** Base64 encoding and decoding (standard alphabet, "=" padding).
*/
#include "net/base64.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int8_t kNotSymbol = -1;

/* The value of each byte as a symbol, or kNotSymbol. */
struct SymbolTable {
  int8_t value[256];
  constexpr SymbolTable() : value() {
    for (int i = 0; i < 256; ++i) value[i] = kNotSymbol;
    for (int i = 0; i < 64; ++i)
      value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  }
};
constexpr SymbolTable kSymbols;

int SymbolValue(char c) {
  return kSymbols.value[static_cast<unsigned char>(c)];
}

/* Writes the bytes of a group of count (2 to 4) symbol values. */
size_t EmitGroup(const unsigned char* v, int count, unsigned char* out) {
  out[0] = static_cast<unsigned char>(v[0] << 2 | v[1] >> 4);
  if (count < 3) return 1;
  out[1] = static_cast<unsigned char>(v[1] << 4 | v[2] >> 2);
  if (count < 4) return 2;
  out[2] = static_cast<unsigned char>(v[2] << 6 | v[3]);
  return 3;
}

}  // namespace

size_t Base64Encode(const void* data, size_t length, char* out) {
  const unsigned char* in = static_cast<const unsigned char*>(data);
  char* p = out;
  for (; length >= 3; length -= 3, in += 3) {
    uint32_t bits = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
    *p++ = kAlphabet[bits >> 18];
    *p++ = kAlphabet[bits >> 12 & 63];
    *p++ = kAlphabet[bits >> 6 & 63];
    *p++ = kAlphabet[bits & 63];
  }
  if (length > 0) {
    uint32_t bits = uint32_t{in[0]} << 16 | (length == 2 ? uint32_t{in[1]} << 8 : 0);
    *p++ = kAlphabet[bits >> 18];
    *p++ = kAlphabet[bits >> 12 & 63];
    *p++ = length == 2 ? kAlphabet[bits >> 6 & 63] : '=';
    *p++ = '=';
  }
  *p++ = '\r';
  *p++ = '\n';
  *p = 0;
  return static_cast<size_t>(p - out);
}

int Base64DecodedLength(const char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  if (n % 4 != 0 || n / 4 * 3 > 0x7FFFFFFF) return -1;
  int padding = 0;
  while (padding < static_cast<int>(n) && text[n - 1 - padding] == '=') ++padding;
  if (padding > 2) return -1;
  return static_cast<int>(n / 4 * 3) - padding;
}

size_t Base64Decode(const char* text, void* out, size_t capacity) {
  unsigned char* to = static_cast<unsigned char*>(out);
  size_t written = 0;
  for (;;) {
    char first = text[0];
    if (first == 0 || first == '\r' || first == '\n') return written;
    unsigned char v[4];
    int symbols = 0;
    for (; symbols < 4; ++symbols) {
      int value = SymbolValue(text[symbols]);
      if (value == kNotSymbol) break;
      v[symbols] = static_cast<unsigned char>(value);
    }
    // Padding may fill the last one or two places of a group, nothing else.
    bool padded =
        symbols >= 2 && symbols < 4 && text[symbols] == '=' && (symbols == 3 || text[3] == '=');
    if (symbols < 4 && !padded) return 0;
    size_t n = (symbols == 4 ? 3 : symbols - 1);
    if (capacity - written < n) return 0;
    written += EmitGroup(v, symbols, to + written);
    if (padded) return written;
    text += 4;
  }
}

long Base64Decoder::Decode(const char* text, size_t length, void* out, size_t capacity) {
  if (capacity < MaxOutput(length)) return -1;
  unsigned char* to = static_cast<unsigned char*>(out);
  long written = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '=') {
      if (held_ >= 2) written += static_cast<long>(EmitGroup(group_, held_, to + written));
      held_ = 0;
      continue;
    }
    int value = SymbolValue(text[i]);
    if (value == kNotSymbol) continue;
    group_[held_++] = static_cast<unsigned char>(value);
    if (held_ == 4) {
      written += static_cast<long>(EmitGroup(group_, 4, to + written));
      held_ = 0;
    }
  }
  return written;
}
