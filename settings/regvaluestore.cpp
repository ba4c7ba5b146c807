/*
** RegValueStore: key directories, the Values.xml reader and writer, the
** crash-safe save, enumeration, deletion and rename.
**
** Files are read and written as bytes, and the library itself does what a
** Windows text-mode stream does, so that the bytes on disk are the same on
** every platform: a LF written becomes CR LF, and CR LF read becomes LF.
*/
#include "settings/regvaluestore.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "misc/fsutil.h"
#include "misc/xmlhelper.h"

/* ---- ValueTable ---- */

ValueTable::~ValueTable() {
  Clear();
  delete[] entries_;
}

ValueEntry* ValueTable::Find(const char* name) const {
  auto found = index_.find(std::string_view(name));
  return found == index_.end() ? nullptr : found->second;
}

ValueEntry* ValueTable::FindOrAdd(const char* name) {
  if (ValueEntry* entry = Find(name)) return entry;
  if (count_ == capacity_) {
    ValueEntry** entries = new ValueEntry*[capacity_ + 10];
    if (count_) std::memcpy(entries, entries_, count_ * sizeof *entries);
    delete[] entries_;
    entries_ = entries;
    capacity_ += 10;
  }
  ValueEntry* entry = new ValueEntry;
  entry->Name = name;
  entries_[count_++] = entry;
  index_.emplace(std::string_view(entry->Name.c_str()), entry);
  return entry;
}

bool ValueTable::Remove(const char* name) {
  ValueEntry* entry = Find(name);
  if (!entry) return false;
  index_.erase(std::string_view(entry->Name.c_str()));
  int i = 0;
  while (entries_[i] != entry) ++i;
  std::memmove(entries_ + i, entries_ + i + 1, (count_ - i - 1) * sizeof *entries_);
  --count_;
  delete entry;
  return true;
}

void ValueTable::Clear() {
  index_.clear();
  for (int i = 0; i < count_; ++i) delete entries_[i];
  count_ = 0;
}

/* ---- The base directory and paths ---- */

namespace {

zustring& BaseDirectory() {
  static zustring base(".");
  return base;
}

const char* RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return "HKEY_USERS";
  if (root == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
  return nullptr;
}

/* text with backslashes (key levels, or a caller's separators) turned into
** the platform's separator. */
zustring Native(const zustring& text) {
  if (PATH_SEPARATOR == '\\' || !std::strchr(text.c_str(), '\\')) return text;
  zustring native(text);
  char* p = native.GetWritableBuffer();
  for (unsigned i = 0; i < native.Length(); ++i) {
    if (p[i] == '\\') p[i] = PATH_SEPARATOR;
  }
  return native;
}

zustring Join(const zustring& directory, const char* name) {
  zustring path(directory);
  char separator = PATH_SEPARATOR;
  path.Append(&separator, 1);
  path.Append(Native(name));
  return path;
}

const char kValuesFile[] = "Values.xml";

/* Whether a directory entry is the temporary file of a save (Values.xml
** and six more characters), which a crash may leave behind. */
bool IsSaveTemporary(const DirEntry& entry) {
  return entry.Type == DIR_TYPE_FILE && std::strncmp(entry.Name, "Values.xml.", 11) == 0 &&
         std::strlen(entry.Name) == 17;
}

}  // namespace

void SetStoreBaseDirectory(const zustring& directory) {
  BaseDirectory() = directory;
}

zustring StoreBaseDirectory() {
  return BaseDirectory();
}

zustring RegValueStore::DirectoryOf(const zustring& keyPath) const {
  const char* rootName = RootName(Root);
  if (!rootName) return zustring();
  zustring directory = Join(Native(BaseDirectory()), rootName);
  if (!keyPath.IsEmpty()) directory = Join(directory, keyPath.c_str());
  return directory;
}

zustring RegValueStore::KeyFilePath() const {
  return Join(KeyDirectory(), kValuesFile);
}

zustring RegValueStore::ResolvePath(const zustring& path) const {
  if (!path.IsEmpty() && path.CharAt(1) == '\\') return path.Mid(2, path.Length());
  if (Path.IsEmpty()) return path;
  return Path + "\\" + path;
}

/* ---- Reading and writing Values.xml ---- */

namespace {

/* The C library's atoi over 32 bits: leading blanks, a sign, digits up to
** the first other character; out-of-range values stop at the limits. */
int32_t DecimalValue(const char* s) {
  while (std::isspace(static_cast<unsigned char>(*s))) ++s;
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  int64_t value = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    value = value * 10 + (*s - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

/* Appends s as a text-mode write stores it: each LF as CR LF. */
void AppendTextMode(zustring& out, const zustring& s) {
  const char* p = s.c_str();
  const char* end = p + s.Length();
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
    const char* stop = lf ? lf : end;
    if (stop > p) out.Append(p, static_cast<int>(stop - p));
    if (!lf) break;
    out.Append("\r\n", 2);
    p = lf + 1;
  }
}

void AppendEscaped(zustring& out, const zustring& s) {
  zustring escaped(s);
  XmlEscape(escaped);
  AppendTextMode(out, escaped);
}

}  // namespace

bool RegValueStore::ParseValues(const zustring& text) {
  unsigned position = 1;
  XmlTag tag;
  if (!ReadXmlTag(text, position, tag)) return false;  // the declaration, whatever it says
  if (!ReadXmlTag(text, position, tag) || tag.Name != "regvaluestore") return false;
  zustring data;
  for (;;) {
    if (!ReadXmlTag(text, position, tag)) return false;
    if (tag.Kind == TagEnd && tag.Name == "regvaluestore") return true;
    if (tag.Kind != TagStart || tag.AttributeCount() != 1 || (*tag.Attributes)[0] != "name") {
      return false;
    }
    zustring name = tag.AttributeValue(0);
    zustring element = tag.Name;
    if (!ReadXmlText(text, position, data)) return false;
    if (element == "string") {
      ValueEntry* entry = Values.FindOrAdd(name.c_str());
      entry->Kind = ValueText;
      entry->Text = data;
    } else if (element == "integer") {
      ValueEntry* entry = Values.FindOrAdd(name.c_str());
      entry->Kind = ValueInteger;
      entry->Integer = static_cast<uint32_t>(DecimalValue(data.c_str()));
    } else {
      return false;
    }
    if (!ReadXmlTag(text, position, tag) || tag.Kind != TagEnd || tag.Name != element) {
      return false;
    }
  }
}

bool RegValueStore::LoadValues(const char* filePath) {
  FILE* file = std::fopen(filePath, "rb");
  if (!file) return false;
  zustring text;
  text.Reserve(4096, 10);
  char piece[1023];
  size_t n;
  while ((n = std::fread(piece, 1, sizeof piece, file)) > 0) {
    text.Append(piece, static_cast<int>(n));
  }
  std::fclose(file);
  // CR LF to LF, as a text-mode read gives it.
  if (char* p = text.GetWritableBuffer()) {
    unsigned length = text.Length(), kept = 0;
    for (unsigned i = 0; i < length; ++i) {
      if (p[i] == '\r' && i + 1 < length && p[i + 1] == '\n') continue;
      p[kept++] = p[i];
    }
    text.SetLength(static_cast<int>(kept));
  }
  return ParseValues(text);
}

bool RegValueStore::SaveValues(const char* filePath) const {
  zustring bytes;
  bytes.Reserve(64 + 48 * Values.Count(), 10);
  bytes.Append("<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\r\n<regvaluestore>\r\n", 0);
  for (int i = 0; i < Values.Count(); ++i) {
    const ValueEntry& entry = Values[i];
    const char* element = entry.Kind == ValueText ? "string" : "integer";
    bytes.Append("  <", 3);
    bytes.Append(element, 0);
    bytes.Append(" name=\"", 7);
    AppendEscaped(bytes, entry.Name);
    bytes.Append("\">", 2);
    if (entry.Kind == ValueText) {
      AppendEscaped(bytes, entry.Text);
    } else {
      bytes.AppendFormat("%d", static_cast<int32_t>(entry.Integer));
    }
    bytes.Append("</", 2);
    bytes.Append(element, 0);
    bytes.Append(">\r\n", 3);
  }
  bytes.Append("</regvaluestore>", 0);

  // A new file beside the old one, on the disk before it takes the name.
  zustring temporary = zustring(filePath) + ".XXXXXX";
  if (!_mktemp(temporary.GetWritableBuffer())) return false;
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  bool written = std::fwrite(bytes.c_str(), 1, bytes.Length(), file) == bytes.Length() &&
                 std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
  written = std::fclose(file) == 0 && written;
  if (!written || !MoveFileExA(temporary.c_str(), filePath,
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

/* ---- Keys ---- */

RegValueStore::~RegValueStore() {
  Close();
}

void RegValueStore::CreateKeyDirectories() const {
  zustring directory = KeyDirectory();
  if (_mkdir(directory.c_str()) == 0) return;
  // Make every level; the ones that exist (and a drive letter) fail harmlessly.
  char* p = directory.GetWritableBuffer();
  for (unsigned i = 1; i < directory.Length(); ++i) {
    if (p[i] != PATH_SEPARATOR) continue;
    p[i] = 0;
    _mkdir(p);
    p[i] = PATH_SEPARATOR;
  }
  _mkdir(p);
}

bool RegValueStore::Open(const zustring& path, bool create) {
  if (Dirty) SaveValues(KeyFilePath().c_str());
  Dirty = false;
  Values.Clear();
  Path = ResolvePath(path);
  zustring directory = KeyDirectory();
  bool exists = !directory.IsEmpty() && IsDirectory(directory.c_str());
  if (exists) {
    LoadValues(KeyFilePath().c_str());
  } else if (create && !directory.IsEmpty()) {
    CreateKeyDirectories();
    exists = IsDirectory(directory.c_str());
  }
  if (!exists) Path = zustring();
  return exists;
}

void RegValueStore::Close() {
  if (Dirty) SaveValues(KeyFilePath().c_str());
  Dirty = false;
  Path = zustring();
  Values.Clear();
}

zustring RegValueStore::GetString(const char* name) const {
  const ValueEntry* entry = Values.Find(name);
  return entry && entry->Kind == ValueText ? entry->Text : zustring();
}

uint32_t RegValueStore::GetInteger(const char* name) const {
  const ValueEntry* entry = Values.Find(name);
  return entry && entry->Kind == ValueInteger ? entry->Integer : 0;
}

void RegValueStore::SetString(const char* name, const zustring& text) {
  Dirty = true;
  ValueEntry* entry = Values.FindOrAdd(name);
  entry->Kind = ValueText;
  entry->Text = text;
}

void RegValueStore::SetInteger(const char* name, uint32_t value) {
  Dirty = true;
  ValueEntry* entry = Values.FindOrAdd(name);
  entry->Kind = ValueInteger;
  entry->Integer = value;
}

bool RegValueStore::DeleteValue(const char* name) {
  Dirty = true;
  return Values.Remove(name);
}

bool RegValueStore::DeleteSubKey(const char* name) {
  zustring subKey = Join(KeyDirectory(), name);
  std::remove(Join(subKey, kValuesFile).c_str());
  return _rmdir(subKey.c_str()) == 0;
}

void RegValueStore::EnumSubKeys(StringList& list) {
  list.Clear();
  DirHandle* dir = OpenDir(KeyDirectory().c_str());
  if (!dir) return;
  DirEntry entry;
  DirEntry* next;
  while (ReadDirEntry(dir, &entry, &next) == 0 && next) {
    if (std::strcmp(entry.Name, ".") == 0 || std::strcmp(entry.Name, "..") == 0 ||
        std::strcmp(entry.Name, kValuesFile) == 0 || IsSaveTemporary(entry)) {
      continue;
    }
    list.Add(entry.Name);
  }
  CloseDir(dir);
  list.Sort();
}

void RegValueStore::EnumValues(StringList& list) const {
  list.Clear();
  for (int i = 0; i < Values.Count(); ++i) list.Add(Values[i].Name);
}

bool RegValueStore::Rename(const zustring& newPath) {
  if (Path.IsEmpty()) return false;
  zustring resolved = ResolvePath(newPath);
  zustring newDirectory = DirectoryOf(resolved);
  zustring oldDirectory = KeyDirectory();
  if (newDirectory.IsEmpty()) return false;
  zustring aside = newDirectory + ".XXXXXX";
  bool haveAside = _mktemp(aside.GetWritableBuffer()) != nullptr;
  if (FileExists(newDirectory.c_str())) {
    if (!haveAside || std::rename(newDirectory.c_str(), aside.c_str()) != 0) return false;
  }
  if (std::rename(oldDirectory.c_str(), newDirectory.c_str()) != 0) {
    if (haveAside) std::rename(aside.c_str(), newDirectory.c_str());
    return false;
  }
  Path = resolved;
  if (haveAside) _rmdir(aside.c_str());
  return true;
}
