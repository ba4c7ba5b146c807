/*
** One interface over the two settings stores, so that zuadm's commands and
** its record reader and writer are written once. RegKey (the registry) and
** RegValueStore (Values.xml files) agree by operation names, not by a base
** class; StoreAdapter<S> maps those names onto this interface and evens out
** their differences with their public operations only: RegKey's Open takes
** an access flag and its setters return an error code; RegValueStore keeps
** a key's values in memory until Flush, and lists any file of a key's
** directory as a subkey, where zuadm wants directories only (a stray file,
** or a link that may lead out of the store, is no key).
**
** Paths are key paths below the store's root without a leading backslash;
** the empty path is the root.
*/
#pragma once

#include <cstdint>
#include <memory>

#include "misc/stringlist.h"
#include "misc/zustring.h"
#include "platform/win32.h"
#include "settings/valuekind.h"

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual bool IsFileStore() const = 0;
  /* Opens the key at path (creating it and the levels above it with
  ** create); true when the key is open. */
  virtual bool Open(const zustring& path, bool create, bool writable) = 0;
  virtual void Close() = 0;
  /* Stores what was set in the open key; false when that failed. Without
  ** waitForDisk the file store does not wait until its file is on the
  ** disk (it still replaces the old one whole). */
  virtual bool Flush(bool waitForDisk = true) = 0;
  virtual zustring GetString(const char* name) = 0;
  virtual uint32_t GetInteger(const char* name) = 0;
  virtual ValueKind GetKind(const char* name) = 0;
  virtual bool SetString(const char* name, const zustring& text) = 0;
  virtual bool SetInteger(const char* name, uint32_t value) = 0;
  virtual bool DeleteValue(const char* name) = 0;
  virtual bool DeleteSubKey(const char* name) = 0;
  virtual void EnumSubKeys(StringList& names) = 0;
  virtual void EnumValues(StringList& names) = 0;
  /* Gives the open key the path newPath, which must not exist, in one step;
  ** false (and nothing changed, or the key at both paths, each whole) when
  ** the store cannot do that here. */
  virtual bool Rename(const zustring& newPath) = 0;
  /* Deletes the key at path and everything below it (on the file store
  ** also files that are no keys, and links, which are not followed). True
  ** when it is gone, also when it never existed. */
  virtual bool DeleteTree(const zustring& path) = 0;
};

/* The registry (with registry set) or the file tree below the store base
** directory, at root. */
std::unique_ptr<SettingsStore> MakeStore(bool registry, HKEY root);

/* Serializes zuadm's commands on one store: a lock file in the file
** store's base directory, a named mutex for the registry. Held until the
** object goes, or the process ends. */
class StoreLock {
 public:
  StoreLock() = default;
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  ~StoreLock();

  /* Waits up to seconds for the lock; false with a message. Without
  ** create, a file store whose base directory does not exist is left
  ** alone (there is nothing to read) and counts as locked. */
  bool Acquire(bool registry, bool create, unsigned seconds, zustring& error);

 private:
  HANDLE handle_ = nullptr;
  bool mutex_ = false;
};
