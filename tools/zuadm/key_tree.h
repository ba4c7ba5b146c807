/*
** A key with its values and everything below it, held in memory: read from
** a store, written to one, and as the text of zuadm's export files.
**
** The export format (UTF-8 text, lines ending in LF, CR LF read alike):
**
**     zuadm-export 1
**     [""]
**     "$TYPE"="NETWORK_PARAMS"
**     "ENABLE_FW"=dword:00000001
**     ["FW_RULES"]
**     "$ELEMENTS"="0000\n0001"
**     ["FW_RULES\\0000"]
**     ...
**
** The first line names the format. A line [STRING] starts a key: STRING is
** its path below the exported key, levels separated by a backslash ("" is
** the exported key itself); each key has a line, and comes right after its
** parent or after a sibling's whole subtree.
** The lines after it are its values, in order: STRING=STRING for a text,
** STRING=dword:XXXXXXXX for a 32-bit integer in eight hex digits. Empty
** lines and lines that start with ';' are skipped. A STRING stands in
** double quotes; \\ \" \n \r \t and \xHH stand for a backslash, a quote,
** LF, CR, tab and the byte HH, and the bytes 0x80 to 0xFF are written as
** the UTF-8 of their Latin-1 characters. So every byte of every name and
** text comes back as it was, whatever the terminal or editor makes of the
** file.
*/
#pragma once

#include <cstdint>
#include <vector>

#include "misc/zustring.h"
#include "settings/valuekind.h"
#include "tools/zuadm/settings_store.h"

struct StoredValue {
  zustring name;
  ValueKind kind = ValueText;  // ValueText or ValueInteger
  zustring text;
  uint32_t integer = 0;
};

struct KeyImage {
  zustring name;  // the last level of its path
  std::vector<StoredValue> values;
  std::vector<KeyImage> subkeys;

  /* The number of keys, this one included. */
  size_t KeyCount() const;
};

/* The key at path with its values and subkeys; false with a message. */
bool ReadTree(SettingsStore& store, const zustring& path, KeyImage& image, zustring& error);
/* The values of the open key, in the store's order; false with a message
** for a value of a kind zuadm does not handle. */
bool ReadValues(SettingsStore& store, std::vector<StoredValue>& values, zustring& error);

/* Sets values in the key at path, creating it when missing, and stores
** them. */
bool WriteKey(SettingsStore& store, const zustring& path, const std::vector<StoredValue>& values,
              bool waitForDisk, zustring& error);
/* Writes image as a new key at path, each key once, parents first. */
bool WriteTree(SettingsStore& store, const zustring& path, const KeyImage& image, bool waitForDisk,
               zustring& error);

/* The export text of image. */
zustring ExportText(const KeyImage& image);
/* Reads an export text; false with a message naming the line. Names are
** checked as key names of the given store kind (forFiles). */
bool ParseExport(const char* bytes, size_t n, bool forFiles, KeyImage& image, zustring& error);

/* A string of the export format, quotes included, and back: the string at
** *cursor (moved past it); false at a malformed one. */
zustring QuoteString(const zustring& latin1);
bool UnquoteString(const char*& cursor, const char* end, zustring& latin1, zustring& error);
