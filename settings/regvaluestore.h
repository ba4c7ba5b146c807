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
** closed, opened on another key or destroyed, and only when Dirty; Flush
** writes them at once and says whether that worked. A save writes a new
** file beside the old one (Values.xml.XXXXXX, the X a letter and five
** digits), flushes it to the disk and renames it over the old one, so
** Values.xml is always either the old or the new content. The temporary of
** a save that was killed half-way is removed by the next save in that
** directory, or when the key is deleted, unless a save has it open.
**
** Value names compare with case. The getters cannot tell a missing value
** from an empty or zero one. Not for sharing between threads;
** SetStoreBaseDirectory belongs to start-up.
*/
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "misc/stringlist.h"
#include "misc/zustring.h"
#include "platform/win32.h"
#include "settings/valuekind.h"

struct ValueEntry {
  zustring Name;
  int32_t Kind = ValueInteger;  // ValueInteger or ValueText
  zustring Text;                // for ValueText
  uint32_t Integer = 0;         // for ValueInteger
};

/* The values of one key in the order their names were first added. The
** table owns its entries; they come from blocks that it keeps for reuse
** until it is destroyed. */
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
  ValueEntry* FindOrAdd(zustring name);  // keeps name's text
  /* Makes room for count entries in all. */
  void Reserve(int count);
  /* Removes the entry named name; false when there is none. */
  bool Remove(const char* name);
  void Clear();

 private:
  struct Slot {
    ValueEntry* entry;  // none for an empty slot
    uint32_t hash;      // of the entry's name
  };
  ValueEntry* Lookup(const char* name, uint32_t hash) const;
  ValueEntry* Append(zustring name, uint32_t hash);
  void Index(ValueEntry* entry, uint32_t hash);
  void Reindex(int room);
  ValueEntry* NewEntry();
  void FreeEntry(ValueEntry* entry);

  ValueEntry** entries_ = nullptr;
  int32_t capacity_ = 0;  // grows by 10
  int32_t count_ = 0;
  // Entries not in use, and the blocks all entries come from.
  std::vector<ValueEntry*> spare_;
  std::vector<std::unique_ptr<ValueEntry[]>> blocks_;
  // Finds entries by name: open addressing over a power-of-two number of
  // slots, at most half of them used.
  Slot* slots_ = nullptr;
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
  /* Saves the open key's values now when Dirty, and clears Dirty when that
  ** worked; false when they could not be written (they stay in memory,
  ** Dirty). Without waitForDisk the file replaces the old one as usual but
  ** the call does not wait until it is on the disk: a killed process
  ** leaves the old or the new file, a power failure may not. */
  bool Flush(bool waitForDisk = true);

  zustring GetString(const char* name) const;
  uint32_t GetInteger(const char* name) const;
  /* ValueText, ValueInteger or ValueMissing. */
  ValueKind GetKind(const char* name) const;
  void SetString(const char* name, const zustring& text);
  void SetInteger(const char* name, uint32_t value);
  /* True when the value existed; marks the store Dirty either way. */
  bool DeleteValue(const char* name);
  /* Deletes the subkey's Values.xml (and stale temporaries of saves) and
  ** removes its directory when that is then empty; true when the directory
  ** was removed. */
  bool DeleteSubKey(const char* name);
  /* The names in the key's directory but "Values.xml" and the temporaries
  ** of saves (other files included), in byte order. */
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
  /* The reading of LoadValues, from the file's bytes; CR LF reads as LF,
  ** as in a text-mode read. */
  bool ParseValues(const zustring& text);
  /* Writes Values to filePath as a whole new file; false (and the old file
  ** untouched) when it cannot be written completely. A text is written up
  ** to its first 0 byte, as the format's %s takes it. */
  bool SaveValues(const char* filePath) const;

  bool Dirty = false;
  ValueTable Values;
  HKEY Root = HKEY_CURRENT_USER;
  zustring Path;

 private:
  zustring DirectoryOf(const zustring& keyPath) const;
  zustring ResolvePath(const zustring& path) const;
  void CreateKeyDirectories() const;
  bool Save(const char* filePath, bool waitForDisk) const;
};
