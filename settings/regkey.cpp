/*
** RegKey over the platform's registry calls: path resolution, access rights,
** value types, enumeration and the two ways of renaming a key.
*/
#include "settings/regkey.h"

#include <cstring>
#include <ctime>
#include <vector>

namespace {

typedef LONG (*RegRenameKeyFunction)(HKEY, LPCWSTR, LPCWSTR);

/* Process-wide: whether RegRenameKey was looked up, and what was found. */
bool renameLookedUp = false;
RegRenameKeyFunction renameFunction = nullptr;
bool tempCounterSeeded = false;

/* Wine's RegRenameKey (Wine 8) leaves the parent's sorted list of subkeys
** wrong when the new name sorts right after the old one: the next sibling
** is overwritten by the renamed key, which is then listed twice. Wine is
** known by the wine_get_version export of its ntdll; there keys are
** renamed by copy, as without RegRenameKey. */
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

/* Value names may be longer than the 256-character buffer of the
** enumerations (up to 16383 characters); such a name is read again into a
** buffer that takes any. */
const DWORD kNameBuffer = 256;
const DWORD kLongestName = 16384;

/* Appends name index of key to list (subkeys or values); false at the end
** or on any failure other than a name too long for the first buffer. */
bool AppendName(HKEY key, DWORD index, bool subKeys, StringList& list) {
  char name[kNameBuffer];
  DWORD size = kNameBuffer;
  FILETIME written;
  LONG rc = subKeys ? RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, &written)
                    : RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) {
    list.Add(zustring(name, size));
    return true;
  }
  if (rc != ERROR_MORE_DATA) return false;
  std::vector<char> longName(kLongestName);
  size = kLongestName;
  rc = subKeys
           ? RegEnumKeyExA(key, index, longName.data(), &size, nullptr, nullptr, nullptr, &written)
           : RegEnumValueA(key, index, longName.data(), &size, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) list.Add(zustring(longName.data(), size));
  return true;  // a name that fits nowhere is skipped
}

void EnumNames(HKEY key, bool subKeys, StringList& list) {
  list.Clear();
  for (DWORD index = 0; AppendName(key, index, subKeys, list); ++index) {
  }
}

/* Whether path is inside (or is) the key at ancestor, without regard to
** case. */
bool IsWithin(const zustring& path, const zustring& ancestor) {
  unsigned n = ancestor.Length();
  if (path.Length() < n || _strnicmp(path.c_str(), ancestor.c_str(), n) != 0) return false;
  return path.Length() == n || path.CharAt(n + 1) == '\\';
}

}  // namespace

uint32_t RegKey::TempKeyCounter = 0;

RegKey::~RegKey() {
  Close();
}

bool RegKey::Open(const zustring& path, bool create, bool writable) {
  HKEY base;
  zustring subKey;
  if (!path.IsEmpty() && path.CharAt(1) == '\\') {
    base = Root;
    subKey = path.Mid(2, path.Length());
    Path = subKey;
  } else if (Key) {
    base = Key;
    subKey = path;
    Path = Path + "\\" + path;
  } else {
    base = Root;
    subKey = path;
    Path = path;
  }
  HKEY opened = nullptr;
  LONG rc;
  if (create) {
    rc = RegCreateKeyExA(base, subKey.c_str(), 0, const_cast<LPSTR>(""), REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, &opened, nullptr);
  } else {
    rc = RegOpenKeyExA(base, subKey.c_str(), 0, writable ? KEY_ALL_ACCESS : KEY_READ, &opened);
  }
  if (Key) RegCloseKey(Key);
  Key = rc == ERROR_SUCCESS ? opened : nullptr;
  if (rc != ERROR_SUCCESS) {
    Path = zustring();
    return false;
  }
  return true;
}

void RegKey::Close() {
  if (Key) RegCloseKey(Key);
  Key = nullptr;
}

/* One query into a buffer on the stack serves most texts; a longer one is
** sized by that query and read again. */
zustring RegKey::GetString(const char* name) {
  char small[kNameBuffer];
  DWORD type = 0, size = sizeof small;
  LONG rc = RegQueryValueExA(Key, name, nullptr, &type, reinterpret_cast<LPBYTE>(small), &size);
  if ((rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) || (type != REG_SZ && type != REG_EXPAND_SZ) ||
      size == 0) {
    return zustring();
  }
  if (rc == ERROR_SUCCESS) {
    const void* nul = std::memchr(small, 0, size);
    return zustring(small,
                    nul ? static_cast<unsigned>(static_cast<const char*>(nul) - small) : size);
  }
  zustring text;
  text.SetLength(static_cast<int>(size));
  char* buffer = text.GetWritableBuffer();
  std::memset(buffer, 0, size);
  RegQueryValueExA(Key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size);
  if (const void* nul = std::memchr(buffer, 0, size)) {
    text.SetLength(static_cast<int>(static_cast<const char*>(nul) - buffer));
  }
  return text;
}

uint32_t RegKey::GetInteger(const char* name) {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExA(Key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return 0;
  }
  return value;
}

ValueKind RegKey::GetKind(const char* name) {
  DWORD type = 0;
  if (RegQueryValueExA(Key, name, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
    return ValueMissing;
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) return ValueText;
  return type == REG_DWORD ? ValueInteger : ValueOther;
}

LONG RegKey::SetString(const char* name, const zustring& text) {
  return RegSetValueExA(Key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        text.Length() + 1);
}

LONG RegKey::SetInteger(const char* name, uint32_t value) {
  DWORD data = value;
  return RegSetValueExA(Key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

bool RegKey::DeleteValue(const char* name) {
  return RegDeleteValueA(Key, name) == ERROR_SUCCESS;
}

bool RegKey::DeleteSubKey(const char* name) {
  return RegDeleteKeyA(Key, name) == ERROR_SUCCESS;
}

void RegKey::EnumSubKeys(StringList& list) {
  EnumNames(Key, true, list);
}

void RegKey::EnumValues(StringList& list) {
  EnumNames(Key, false, list);
}

bool RegKey::RenamesInOneStep() {
  if (!renameLookedUp) {
    renameLookedUp = true;
    HMODULE advapi = LoadLibraryA("Advapi32.dll");
    if (advapi && !UnderWine()) {
      renameFunction = reinterpret_cast<RegRenameKeyFunction>(
          reinterpret_cast<void (*)()>(GetProcAddress(advapi, "RegRenameKey")));
    }
  }
  return renameFunction != nullptr;
}

bool RegKey::Rename(const zustring& newPath) {
  if (!Key) return false;
  RenamesInOneStep();
  zustring newFullPath;
  if (!newPath.IsEmpty() && newPath.CharAt(1) == '\\') {
    newFullPath = newPath.Mid(2, newPath.Length());
  } else {
    newFullPath = Path.IsEmpty() ? newPath : Path + "\\" + newPath;
  }
  if (!(renameFunction ? RenameWithin(newFullPath) : RenameByCopy(newFullPath))) return false;
  Path = newFullPath;
  return true;
}

LONG RegKey::RenameKeyNative(HKEY base, const zustring& parent, const zustring& leaf,
                             const zustring& newLeaf) {
  HKEY key;
  LONG rc = RegOpenKeyA(base, (parent + leaf).c_str(), &key);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<WCHAR> wide(newLeaf.Length() + 1, 0);
  MultiByteToWideChar(CP_UTF8, 0, newLeaf.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  rc = renameFunction(key, nullptr, wide.data());
  RegCloseKey(key);
  return rc;
}

/* With RegRenameKey: the key keeps its parent and changes its leaf name; a
** key already under the new name is moved aside to a temporary name first
** and deleted afterwards (or put back when the rename fails). */
bool RegKey::RenameWithin(const zustring& newFullPath) {
  if (!tempCounterSeeded) {
    tempCounterSeeded = true;
    TempKeyCounter = static_cast<uint32_t>(std::time(nullptr));
  }
  zustring tempLeaf;
  tempLeaf.Format("{{temp.key.%u}}", TempKeyCounter++);

  unsigned oldSlash = Path.ReverseFind("\\");
  unsigned newSlash = newFullPath.ReverseFind("\\");
  if (oldSlash == 0 || newSlash == 0 || oldSlash != newSlash ||
      _strnicmp(Path.c_str(), newFullPath.c_str(), oldSlash) != 0) {
    return false;
  }
  zustring parent = Path.Mid(1, oldSlash);
  zustring oldLeaf = Path.Mid(oldSlash + 1, Path.Length());
  zustring newLeaf = newFullPath.Mid(newSlash + 1, newFullPath.Length());

  RenameKeyNative(Root, parent, newLeaf, tempLeaf);
  if (RenameKeyNative(Root, parent, oldLeaf, newLeaf) != ERROR_SUCCESS) {
    RenameKeyNative(Root, parent, tempLeaf, newLeaf);
    return false;
  }
  SHDeleteKeyA(Root, (parent + tempLeaf).c_str());
  RegCloseKey(Key);
  Key = nullptr;
  RegOpenKeyA(Root, newFullPath.c_str(), &Key);
  return true;
}

/* Without RegRenameKey: copy the tree to the new path, then delete the old
** one. A target at or inside the key itself is refused, as the copy would
** be deleted with the old tree, and so is one that contains the key, as
** clearing the target would delete the key before it is copied. */
bool RegKey::RenameByCopy(const zustring& newFullPath) {
  if (IsWithin(newFullPath, Path) || IsWithin(Path, newFullPath)) return false;
  SHDeleteKeyA(Root, newFullPath.c_str());
  HKEY newKey = nullptr;
  if (RegCreateKeyExA(Root, newFullPath.c_str(), 0, const_cast<LPSTR>(""), REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &newKey, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  if (SHCopyKeyA(Key, nullptr, newKey, 0) != ERROR_SUCCESS) {
    RegCloseKey(newKey);
    return false;
  }
  SHDeleteKeyA(Root, Path.c_str());
  RegCloseKey(Key);
  Key = newKey;
  return true;
}
