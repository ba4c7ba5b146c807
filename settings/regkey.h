/*
** RegKey: the library's handle on one key of the registry.
**
** A key is named by a backslash-separated path below Root: a path that
** starts with a backslash is absolute (below Root), any other is relative
** to the open key, or to Root when none is open. Path always holds the open
** key's path below Root, without a leading backslash. Values are text
** (REG_SZ, REG_EXPAND_SZ read as stored) or 32-bit integers (REG_DWORD); the
** getters cannot tell a missing value from an empty or zero one.
**
** Rename uses the platform's RegRenameKey when it has one (looked up once
** per process), which renames only within one parent key; without it, and
** under Wine, whose RegRenameKey damages the parent key, the key is copied
** to the new path and the old tree deleted. RegValueStore
** offers the same operations over files.
**
** Not for sharing between threads; renames run from one thread at a time.
*/
#pragma once

#include <cstdint>

#include "misc/stringlist.h"
#include "misc/zustring.h"
#include "platform/win32.h"
#include "settings/valuekind.h"

class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey();

  /* Opens (with create: creates when missing) the key at path. Without
  ** create, writable asks for full access, else read access only. On
  ** failure the object is closed and Path is empty. */
  bool Open(const zustring& path, bool create, bool writable);
  /* Closes the key; Path stays, but a relative Open then starts at Root. */
  void Close();

  zustring GetString(const char* name);
  uint32_t GetInteger(const char* name);
  /* ValueText (REG_SZ, REG_EXPAND_SZ), ValueInteger (REG_DWORD), ValueOther
  ** (any other type) or ValueMissing. */
  ValueKind GetKind(const char* name);
  /* Both return the platform's error code, 0 on success. */
  LONG SetString(const char* name, const zustring& text);
  LONG SetInteger(const char* name, uint32_t value);
  bool DeleteValue(const char* name);
  /* Deletes a subkey of the open key; one with subkeys of its own stays. */
  bool DeleteSubKey(const char* name);
  /* Subkey names in the platform's order. */
  void EnumSubKeys(StringList& list);
  /* Value names in the platform's order. */
  void EnumValues(StringList& list);
  /* Moves the open key to newPath (absolute; a relative one is taken below
  ** Path) and keeps it open there. An existing key at newPath is replaced. */
  bool Rename(const zustring& newPath);
  /* Whether Rename uses RegRenameKey, so that a rename within one parent
  ** is one step that a kill cannot leave half done. */
  static bool RenamesInOneStep();

  HKEY Key = nullptr;
  HKEY Root = HKEY_CURRENT_USER;
  zustring Path;

  /* Numbers the temporary keys of Rename; seeded with the time on first
  ** use. Process-wide. */
  static uint32_t TempKeyCounter;

 private:
  LONG RenameKeyNative(HKEY base, const zustring& parent, const zustring& leaf,
                       const zustring& newLeaf);
  bool RenameWithin(const zustring& newFullPath);
  bool RenameByCopy(const zustring& newFullPath);
};
