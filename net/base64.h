/*
** Base64 with the standard alphabet and "=" padding: the encoder the HTTP
** client uses for Basic authorization values, and the reverse operations
** for hosts that read such texts.
**
** The encoder writes no line breaks but always ends its text with CR LF,
** so that the result can be written straight into a header line.
*/
#pragma once

#include <cstddef>

/* Bytes the encoding of length bytes takes: the symbols, CR LF and a NUL. */
constexpr size_t Base64EncodedSize(size_t length) {
  return (length + 2) / 3 * 4 + 3;
}

/* Encodes length bytes into out, which holds Base64EncodedSize(length)
** bytes, and returns the text's length (CR LF included, NUL excluded). */
size_t Base64Encode(const void* data, size_t length, char* out);

/* The number of bytes text decodes to: CR, LF and spaces at its end are not
** counted, each "=" at the end (at most two) takes one byte off, and -1
** when the rest is not a whole number of four-symbol groups. */
int Base64DecodedLength(const char* text);

/* Strict decoding of a NUL-terminated text into out (capacity bytes). The
** text ends at a group that starts with CR, LF or NUL, or after a group
** with padding. Returns the number of bytes decoded, or 0 when the text
** holds any other symbol outside the alphabet, a group cut short, or more
** than capacity bytes. */
size_t Base64Decode(const char* text, void* out, size_t capacity);

/* Tolerant decoding of a text that arrives in pieces: symbols outside the
** alphabet are skipped, and an incomplete group of up to three symbols is
** kept for the next piece. An "=" ends the group held (two or three
** symbols give one or two bytes); elsewhere it is skipped like other
** foreign symbols. */
class Base64Decoder {
 public:
  /* The most bytes Decode can produce from a piece of length symbols. */
  static constexpr size_t MaxOutput(size_t length) { return (length + 3) / 4 * 3 + 3; }

  /* Decodes length symbols of text into out; the number of bytes written,
  ** or -1 (nothing consumed) when capacity is below MaxOutput(length). */
  long Decode(const char* text, size_t length, void* out, size_t capacity);
  /* Symbols held from earlier pieces (0 to 3). */
  int Pending() const { return held_; }
  /* Drops the symbols held. */
  void Reset() { held_ = 0; }

 private:
  unsigned char group_[4] = {};
  int held_ = 0;
};
