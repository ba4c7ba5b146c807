/*
** RegValueStore: registry-style keys kept on disk, with the operations and
** path rules of RegKey.
**
** Every key is a directory, BASE/ROOTNAME/level/level..., below the
** process-wide store base directory ("." until SetStoreBaseDirectory), and
** its named text and integer values live in the file Values.xml inside it:
**
**     <?xml version="1.0" encoding="ISO8859-1" ?>
**     <regvaluestore>
**       <integer name="x">5</integer>
**       <string name="y">a&lt;b</string>
**     </regvaluestore>
**
** with CR LF line ends (no line end after the last line), integers as
** signed decimals and names and texts escaped by XmlEscape. The values of
** the open key are held in memory and written back whole when the store is
** closed, opened on another key or destroyed, and only when Dirty. A save
** writes a new file beside the old one, flushes it to the disk and renames
** it over the old one, so Values.xml is always either the old or the new
** content.
**
** Value names compare with case. The getters cannot tell a missing value
** from an empty or zero one. Not for sharing between threads;
** SetStoreBaseDirectory belongs to start-up.
*/
#pragma once

#include <cstdint>

#include "misc/stringlist.h"
#include "misc/zustring.h"
#include "platform/win32.h"

enum : int32_t { ValueInteger = 0, ValueText = 1 };

struct ValueEntry {
  zustring Name;
  int32_t Kind = ValueInteger;
  zustring Text;         // for ValueText
  uint32_t Integer = 0;  // for ValueInteger
};

/* The values of one key in the order their names were first added. */
class ValueTable {
 public:
  ValueTable() = default;
  ValueTable(const ValueTable&) = delete;
  ValueTable& operator=(const ValueTable&) = delete;
  ~ValueTable();

  int Count() const { return count_; }
  const ValueEntry& operator[](int index) const { return *entries_[index]; }
  /* The entry named name (compared as strcmp does), or none. */
  ValueEntry* Find(const char* name) const;
  /* The entry named name, appended as a new integer 0 when missing. */
  ValueEntry* FindOrAdd(const char* name);
  ValueEntry* FindOrAdd(const zustring& name);  // shares the text of name
  /* Removes the entry named name; false when there is none. */
  bool Remove(const char* name);
  void Clear();

 private:
  ValueEntry* Append(const zustring& name);
  void Index(ValueEntry* entry);
  void Reindex();

  ValueEntry** entries_ = nullptr;
  int32_t capacity_ = 0;  // grows by 10
  int32_t count_ = 0;
  // Finds entries by name: open addressing over a power-of-two number of
  // slots, at most half of them used; an empty slot holds none.
  ValueEntry** slots_ = nullptr;
  uint32_t slotCount_ = 0;
};

/* Where the trees of all stores live; "." at start. Both separators are
** accepted. */
void SetStoreBaseDirectory(const zustring& directory);
zustring StoreBaseDirectory();

class RegValueStore {
 public:
  RegValueStore() = default;
  RegValueStore(const RegValueStore&) = delete;
  RegValueStore& operator=(const RegValueStore&) = delete;
  ~RegValueStore();

  /* Saves the open key's values when Dirty, then opens the key at path (a
  ** leading backslash starts at the root, anything else descends below the
  ** key that was open) and loads its values. With create, missing
  ** directories are made. True when the key's directory exists. */
  bool Open(const zustring& path, bool create);
  /* Saves when Dirty; then no key is open, so a relative Open starts at the
  ** root. */
  void Close();

  zustring GetString(const char* name) const;
  uint32_t GetInteger(const char* name) const;
  void SetString(const char* name, const zustring& text);
  void SetInteger(const char* name, uint32_t value);
  /* True when the value existed; marks the store Dirty either way. */
  bool DeleteValue(const char* name);
  /* Deletes the subkey's Values.xml and removes its directory when that is
  ** then empty; true when the directory was removed. */
  bool DeleteSubKey(const char* name);
  /* The names in the key's directory but "Values.xml" (files included), in
  ** byte order. */
  void EnumSubKeys(StringList& list);
  /* The value names in table order. */
  void EnumValues(StringList& list) const;
  /* Moves the open key's directory to newPath (resolved as by Open). A key
  ** already there is moved aside to NEWDIR.xxxxxx, removed when empty and
  ** otherwise left there. The values in memory stay as they are. */
  bool Rename(const zustring& newPath);

  /* The open key's directory and values file, with native separators. */
  zustring KeyDirectory() const { return DirectoryOf(Path); }
  zustring KeyFilePath() const;
  /* Reads a values file into Values (added to what is there); false when
  ** it cannot be read or is malformed, with the values before the fault
  ** kept. */
  bool LoadValues(const char* filePath);
  /* The reading of LoadValues, from the file's text with its line ends
  ** already turned into LF. */
  bool ParseValues(const zustring& text);
  /* Writes Values to filePath as a whole new file; false (and the old file
  ** untouched) when it cannot be written completely. */
  bool SaveValues(const char* filePath) const;

  bool Dirty = false;
  ValueTable Values;
  HKEY Root = HKEY_CURRENT_USER;
  zustring Path;

 private:
  zustring DirectoryOf(const zustring& keyPath) const;
  zustring ResolvePath(const zustring& path) const;
  void CreateKeyDirectories() const;
};
