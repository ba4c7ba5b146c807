/*
** Texts between zuadm and the outside: the terminal and files speak UTF-8,
** the stores hold Latin-1. A text that Latin-1 cannot hold is refused with
** a message naming the first character that does not fit, and so is one
** that is not UTF-8. Also quoted texts, for JSON and for export files.
*/
#pragma once

#include "misc/zustring.h"

/* utf8 (n bytes) as Latin-1; false with a message when it is not UTF-8 or
** holds a character above U+00FF. */
bool Utf8ToLatin1Strict(const char* utf8, unsigned n, zustring& latin1, zustring& error);
inline bool Utf8ToLatin1Strict(const char* utf8, zustring& latin1, zustring& error) {
  unsigned n = 0;
  while (utf8[n]) ++n;
  return Utf8ToLatin1Strict(utf8, n, latin1, error);
}

/* A Latin-1 text in double quotes, in UTF-8: quotes, backslashes, LF, CR
** and tab escaped by a backslash, other control bytes (and DEL) written
** with controlFormat (printf, given the byte). */
zustring QuotedUtf8(const zustring& latin1, const char* controlFormat);
/* A Latin-1 text as a JSON string, quotes included, in UTF-8. */
inline zustring JsonString(const zustring& latin1) {
  return QuotedUtf8(latin1, "\\u%04x");
}
