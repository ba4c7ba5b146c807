/*
** UTF-8 in, Latin-1 inside; JSON strings out.
*/
#include "tools/zuadm/text_io.h"

namespace {

const uint32_t kLatin1Last = 0xFF;

/* The code point of the UTF-8 sequence at s (up to n bytes) and its length,
** or 0 when the bytes are not a well-formed sequence. */
unsigned DecodeUtf8(const unsigned char* s, unsigned n, uint32_t& code) {
  unsigned length;
  uint32_t least;
  if (s[0] < 0x80) {
    code = s[0];
    return 1;
  } else if ((s[0] & 0xE0) == 0xC0) {
    length = 2, code = s[0] & 0x1F, least = 0x80;
  } else if ((s[0] & 0xF0) == 0xE0) {
    length = 3, code = s[0] & 0x0F, least = 0x800;
  } else if ((s[0] & 0xF8) == 0xF0) {
    length = 4, code = s[0] & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (n < length) return 0;
  for (unsigned i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    code = code << 6 | (s[i] & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool Utf8ToLatin1Strict(const char* utf8, unsigned n, zustring& latin1, zustring& error) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8);
  zustring out;
  out.Reserve(n, 0);
  for (unsigned i = 0; i < n;) {
    uint32_t code = 0;
    unsigned length = DecodeUtf8(s + i, n - i, code);
    if (length == 0) {
      error.Format("the text is not UTF-8 (byte 0x%02X at %u)", s[i], i + 1);
      return false;
    }
    if (code > kLatin1Last) {
      error.Format("the text holds the character U+%04X, which Latin-1 cannot hold", code);
      return false;
    }
    char byte = static_cast<char>(code);
    out.Append(&byte, 1);
    i += length;
  }
  latin1 = out;
  return true;
}

zustring QuotedUtf8(const zustring& latin1, const char* controlFormat) {
  zustring quoted("\"");
  for (unsigned i = 1; i <= latin1.Length(); ++i) {
    unsigned char c = static_cast<unsigned char>(latin1.CharAt(i));
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          quoted.AppendFormat(controlFormat, c);
        } else if (c >= 0x80) {
          char pair[2] = {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
          quoted.Append(pair, 2);
        } else {
          quoted.Append(reinterpret_cast<const char*>(&c), 1);
        }
    }
  }
  quoted += "\"";
  return quoted;
}
