/*
** The two stores behind zuadm's interface, and the lock of a store.
*/
#include "tools/zuadm/settings_store.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "misc/fsutil.h"
#include "settings/regkey.h"
#include "settings/regvaluestore.h"
#include "tools/zuadm/key_path.h"

namespace {

zustring Absolute(const zustring& path) {
  return zustring("\\") + path;
}

/* Whether a directory entry is a directory of its own, not a link. */
bool IsPlainDirectory(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

/* Calls visit(entry) for each entry of directory but . and ..; false when
** the directory cannot be listed (a missing one lists nothing). */
template <typename Visit>
bool ForEachEntry(const zustring& directory, Visit visit) {
  zustring pattern = directory;
  pattern += PATH_SEPARATOR == '/' ? "/*" : "\\*";
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  bool ok = true;
  do {
    if (!IsDotEntry(entry.cFileName) && !visit(entry)) ok = false;
  } while (ok && FindNextFileA(search, &entry));
  FindClose(search);
  return ok;
}

/* Removes directory and everything in it; links are removed, not
** followed. */
bool RemoveDirectoryTree(const zustring& directory) {
  bool ok = ForEachEntry(directory, [&](const WIN32_FIND_DATAA& entry) {
    zustring path = directory;
    char separator = PATH_SEPARATOR;
    path.Append(&separator, 1);
    path += entry.cFileName;
    if (IsPlainDirectory(entry)) return RemoveDirectoryTree(path);
    // A link to a directory is removed as a link.
    return std::remove(path.c_str()) == 0 || _rmdir(path.c_str()) == 0;
  });
  return ok && (_rmdir(directory.c_str()) == 0 || !FileExists(directory.c_str()));
}

class FileStore : public SettingsStore {
 public:
  explicit FileStore(HKEY root) { store_.Root = root; }

  bool IsFileStore() const override { return true; }
  bool Open(const zustring& path, bool create, bool) override {
    return store_.Open(Absolute(path), create);
  }
  void Close() override { store_.Close(); }
  bool Flush(bool waitForDisk) override { return store_.Flush(waitForDisk); }
  zustring GetString(const char* name) override { return store_.GetString(name); }
  uint32_t GetInteger(const char* name) override { return store_.GetInteger(name); }
  ValueKind GetKind(const char* name) override { return store_.GetKind(name); }
  bool SetString(const char* name, const zustring& text) override {
    store_.SetString(name, text);
    return true;
  }
  bool SetInteger(const char* name, uint32_t value) override {
    store_.SetInteger(name, value);
    return true;
  }
  bool DeleteValue(const char* name) override { return store_.DeleteValue(name); }
  bool DeleteSubKey(const char* name) override { return store_.DeleteSubKey(name); }
  void EnumSubKeys(StringList& names) override {
    names.Clear();
    ForEachEntry(store_.KeyDirectory(), [&](const WIN32_FIND_DATAA& entry) {
      if (IsPlainDirectory(entry)) names.Add(entry.cFileName);
      return true;
    });
    names.Sort();
  }
  void EnumValues(StringList& names) override { store_.EnumValues(names); }
  bool Rename(const zustring& newPath) override { return store_.Rename(Absolute(newPath)); }
  bool DeleteTree(const zustring& path) override {
    if (path.IsEmpty()) return false;
    RegValueStore where;
    where.Root = store_.Root;
    where.Path = path;
    return RemoveDirectoryTree(where.KeyDirectory());
  }

 private:
  RegValueStore store_;
};

class RegistryStore : public SettingsStore {
 public:
  explicit RegistryStore(HKEY root) { key_.Root = root; }

  bool IsFileStore() const override { return false; }
  bool Open(const zustring& path, bool create, bool writable) override {
    return key_.Open(Absolute(path), create, writable);
  }
  void Close() override { key_.Close(); }
  bool Flush(bool) override { return true; }  // every write is stored at once
  zustring GetString(const char* name) override { return key_.GetString(name); }
  uint32_t GetInteger(const char* name) override { return key_.GetInteger(name); }
  ValueKind GetKind(const char* name) override { return key_.GetKind(name); }
  bool SetString(const char* name, const zustring& text) override {
    return key_.SetString(name, text) == ERROR_SUCCESS;
  }
  bool SetInteger(const char* name, uint32_t value) override {
    return key_.SetInteger(name, value) == ERROR_SUCCESS;
  }
  bool DeleteValue(const char* name) override { return key_.DeleteValue(name); }
  bool DeleteSubKey(const char* name) override { return key_.DeleteSubKey(name); }
  void EnumSubKeys(StringList& names) override { key_.EnumSubKeys(names); }
  void EnumValues(StringList& names) override { key_.EnumValues(names); }
  /* Only RegRenameKey renames in one step; without it RegKey copies, which
  ** is left to the caller. RegRenameKey takes the new name as UTF-8, where
  ** zuadm's names are Latin-1: a name with other than ASCII letters would
  ** come out changed, so such a rename is left to the caller too. */
  bool Rename(const zustring& newPath) override {
    if (!RegKey::RenamesInOneStep()) return false;
    for (unsigned i = 1; i <= newPath.Length(); ++i) {
      if (static_cast<unsigned char>(newPath.CharAt(i)) >= 0x80) return false;
    }
    return key_.Rename(Absolute(newPath));
  }
  bool DeleteTree(const zustring& path) override {
    if (path.IsEmpty()) return false;
    RegKey key;
    key.Root = key_.Root;
    if (!key.Open(Absolute(path), false, true)) return true;
    StringList subKeys;
    key.EnumSubKeys(subKeys);
    key.Close();
    for (int i = 0; i < subKeys.Count(); ++i) {
      if (!DeleteTree(ChildPath(path, subKeys[i]))) return false;
    }
    zustring parent, leaf;
    SplitKeyPath(path, parent, leaf);
    return key.Open(Absolute(parent), false, true) && key.DeleteSubKey(leaf.c_str());
  }

 private:
  RegKey key_;
};

const char kLockFile[] = "zuadm.lock";
const char kRegistryLockPart[] = "zuadm-registry";

}  // namespace

std::unique_ptr<SettingsStore> MakeStore(bool registry, HKEY root) {
  if (registry) return std::make_unique<RegistryStore>(root);
  return std::make_unique<FileStore>(root);
}

StoreLock::~StoreLock() {
  if (!handle_) return;
  if (mutex_) ReleaseMutex(handle_);
  CloseHandle(handle_);
}

bool StoreLock::Acquire(bool registry, bool create, unsigned seconds, zustring& error) {
  if (registry) {
    char name[MAX_PATH];
    if (InstanceMutexName(name, sizeof name, kRegistryLockPart) < 0) return false;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (!mutex) {
      error.Format("cannot make the registry's lock %s (error %lu)", name,
                   static_cast<unsigned long>(GetLastError()));
      return false;
    }
    DWORD waited = WaitForSingleObject(mutex, seconds * 1000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      CloseHandle(mutex);
      error.Format("the registry is busy: another zuadm held its lock for %u seconds", seconds);
      return false;
    }
    handle_ = mutex;
    mutex_ = true;
    return true;
  }
  zustring base = StoreBaseDirectory();
  if (!IsDirectory(base.c_str())) {
    if (!create) return true;
    if (_mkdir(base.c_str()) != 0 && !IsDirectory(base.c_str())) {
      error = zustring("cannot make the store's directory ") + base;
      return false;
    }
  }
  zustring path = base;
  path += PATH_SEPARATOR == '/' ? "/" : "\\";
  path += kLockFile;
  // Opened without sharing, the file is the lock; waits are short and
  // spread so that two waiting processes do not meet again and again.
  std::minstd_rand spread(
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = file;
      return true;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION) {
      // A store that cannot be written is read without the lock: no zuadm
      // can be changing it.
      if (!create) return true;
      error.Format("cannot open the lock file %s (error %lu)", path.c_str(),
                   static_cast<unsigned long>(GetLastError()));
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      error.Format("the store is busy: another zuadm held %s for %u seconds", path.c_str(),
                   seconds);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2 + spread() % 20));
  }
}
