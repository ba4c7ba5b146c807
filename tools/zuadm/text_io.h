/*
** Texts between zuadm and the outside: the terminal and files speak UTF-8,
** the stores hold Latin-1. A text that Latin-1 cannot hold is refused with
** a message naming the first character that does not fit, and so is one
** that is not UTF-8. Also the quoting of JSON strings.
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

/* A Latin-1 text as a JSON string, quotes included, in UTF-8. */
zustring JsonString(const zustring& latin1);
