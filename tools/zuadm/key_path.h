/*
** Key paths and key names as zuadm accepts them. A path is a list of
** levels below the store's root, written with \ or / between them and
** kept with \; one leading separator is allowed, as the root is where every
** path starts. Refused, before anything is written:
**   - empty levels, "." and "..", names longer than 255 bytes, names with
**     control characters (0 to 31 and 127 to 159, which Windows' code
**     pages do not all convert);
**   - the names the value store and zuadm keep for themselves: Values.xml
**     and its temporaries (Values.xml.a12345), names ending in .zuadm-new
**     or .zuadm-old (a key being replaced) and $zuadm (the key of the
**     journal), all without regard to case;
**   - on the file store, names that a Windows file system cannot hold:
**     < > : " | ? *, a trailing dot or blank (which
**     Windows drops), and the device names CON, PRN, AUX, NUL, COM0-9 and
**     LPT0-9 (also with the digits written ¹ ² ³, and with an extension).
*/
#pragma once

#include <vector>

#include "misc/zustring.h"

const unsigned kLongestKeyName = 255;
/* Suffixes of the keys that stand beside a key being replaced. */
extern const char kNewSuffix[];
extern const char kOldSuffix[];
/* The top-level key of the journal of unfinished changes. */
extern const char kJournalKey[];

/* Whether name may be a key's name; false with a message when not.
** forFiles adds the file store's rules. */
bool CheckKeyName(const zustring& name, bool forFiles, zustring& error);

/* Whether c is a control character of Latin-1 (see above). */
bool IsControl(unsigned char c);
/* Whether Windows takes name for a device (see above). */
bool IsDeviceName(const zustring& name);

/* The levels of a path (Latin-1) joined by \; false with a message when a
** level is refused. An empty text, or a lone separator, is the root. */
bool ParseKeyPath(const zustring& text, bool forFiles, zustring& path, zustring& error);

/* path's parent and last level ("A\B\C": "A\B", "C"; "A": "", "A"). */
void SplitKeyPath(const zustring& path, zustring& parent, zustring& leaf);
/* parent\name, or name below the root. */
zustring ChildPath(const zustring& parent, const zustring& name);
/* Whether path is inside, or is, ancestor (compared without case). */
bool IsWithinPath(const zustring& path, const zustring& ancestor);
/* Names compared as the registry and a Windows file system compare them. */
bool SameName(const zustring& a, const zustring& b);
