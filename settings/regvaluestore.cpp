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
#include <utility>

#include "misc/fsutil.h"
#include "misc/xmlhelper.h"

/* ---- ValueTable ---- */

namespace {

/* FNV-1a over the name's bytes. */
uint32_t NameHash(const char* name) {
  uint32_t hash = 2166136261u;
  for (; *name; ++name) hash = (hash ^ static_cast<unsigned char>(*name)) * 16777619u;
  return hash;
}

}  // namespace

ValueTable::~ValueTable() {
  Clear();
  delete[] entries_;
  delete[] slots_;
}

ValueEntry* ValueTable::Find(const char* name) const {
  if (!slots_) return nullptr;
  uint32_t mask = slotCount_ - 1;
  for (uint32_t i = NameHash(name) & mask; slots_[i]; i = (i + 1) & mask) {
    if (std::strcmp(slots_[i]->Name.c_str(), name) == 0) return slots_[i];
  }
  return nullptr;
}

ValueEntry* ValueTable::FindOrAdd(const char* name) {
  if (ValueEntry* entry = Find(name)) return entry;
  return Append(zustring(name));
}

ValueEntry* ValueTable::FindOrAdd(const zustring& name) {
  // A name is a C string: one with a NUL inside counts up to the NUL.
  if (std::strlen(name.c_str()) != name.Length()) return FindOrAdd(name.c_str());
  if (ValueEntry* entry = Find(name.c_str())) return entry;
  return Append(name);
}

ValueEntry* ValueTable::Append(const zustring& name) {
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
  if (2 * static_cast<uint32_t>(count_) > slotCount_) {
    Reindex();
  } else {
    Index(entry);
  }
  return entry;
}

void ValueTable::Index(ValueEntry* entry) {
  uint32_t mask = slotCount_ - 1;
  uint32_t i = NameHash(entry->Name.c_str()) & mask;
  while (slots_[i]) i = (i + 1) & mask;
  slots_[i] = entry;
}

/* Builds the index anew, with room for twice the entries. */
void ValueTable::Reindex() {
  uint32_t wanted = 16;
  while (wanted < 2 * static_cast<uint32_t>(count_)) wanted *= 2;
  if (wanted != slotCount_) {
    delete[] slots_;
    slots_ = new ValueEntry*[wanted];
    slotCount_ = wanted;
  }
  std::memset(slots_, 0, slotCount_ * sizeof *slots_);
  for (int i = 0; i < count_; ++i) Index(entries_[i]);
}

bool ValueTable::Remove(const char* name) {
  ValueEntry* entry = Find(name);
  if (!entry) return false;
  int i = 0;
  while (entries_[i] != entry) ++i;
  std::memmove(entries_ + i, entries_ + i + 1, (count_ - i - 1) * sizeof *entries_);
  --count_;
  delete entry;
  Reindex();
  return true;
}

void ValueTable::Clear() {
  for (int i = 0; i < count_; ++i) delete entries_[i];
  count_ = 0;
  if (slots_) std::memset(slots_, 0, slotCount_ * sizeof *slots_);
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
  zustring directory = KeyDirectory();
  return directory.IsEmpty() ? directory : Join(directory, kValuesFile);
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

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/* Reads one value element written the way SaveValues writes it: blanks,
** then <string name="NAME">TEXT</string> or the same with integer, NAME
** without '"' or '&'. Anything else gives false and leaves position; the
** caller then reads the element tag by tag, which gives the same result on
** what this accepts, only slower. */
bool ReadPlainElement(const zustring& text, unsigned& position, bool& isString, zustring& name,
                      zustring& data) {
  const char* s = text.c_str();
  unsigned length = text.Length();
  unsigned p = position;
  while (p <= length && IsBlank(s[p - 1])) ++p;
  auto follows = [&](const char* literal, unsigned n) {
    return p + n - 1 <= length && std::memcmp(s + p - 1, literal, n) == 0;
  };
  if (follows("<string name=\"", 14)) {
    isString = true;
    p += 14;
  } else if (follows("<integer name=\"", 15)) {
    isString = false;
    p += 15;
  } else {
    return false;
  }
  unsigned nameStart = p;
  while (p <= length && s[p - 1] != '"' && s[p - 1] != '&') ++p;
  if (!follows("\">", 2)) return false;
  name = p > nameStart ? zustring(s + nameStart - 1, p - nameStart) : zustring();
  p += 2;
  if (!ReadXmlText(text, p, data)) return false;
  if (isString ? !follows("</string>", 9) : !follows("</integer>", 10)) return false;
  position = p + (isString ? 9 : 10);
  return true;
}

}  // namespace

bool RegValueStore::ParseValues(const zustring& text) {
  unsigned position = 1;
  XmlTag tag;
  if (!ReadXmlTag(text, position, tag)) return false;  // the declaration, whatever it says
  if (!ReadXmlTag(text, position, tag) || tag.Name != "regvaluestore") return false;
  zustring name, data;
  for (;;) {
    bool isString;
    if (ReadPlainElement(text, position, isString, name, data)) {
      ValueEntry* entry = Values.FindOrAdd(name);
      entry->Kind = isString ? ValueText : ValueInteger;
      if (isString) {
        entry->Text = std::move(data);
      } else {
        entry->Integer = static_cast<uint32_t>(DecimalValue(data.c_str()));
      }
      continue;
    }
    if (!ReadXmlTag(text, position, tag)) return false;
    if (tag.Kind == TagEnd && tag.Name == "regvaluestore") return true;
    if (tag.Kind != TagStart || tag.AttributeCount() != 1 || (*tag.Attributes)[0] != "name") {
      return false;
    }
    name = tag.AttributeValue(0);
    const char* element = tag.Name == "string"    ? "string"
                          : tag.Name == "integer" ? "integer"
                                                  : nullptr;
    if (!ReadXmlText(text, position, data) || !element) return false;
    ValueEntry* entry = Values.FindOrAdd(name);
    if (*element == 's') {
      entry->Kind = ValueText;
      entry->Text = std::move(data);
    } else {
      entry->Kind = ValueInteger;
      entry->Integer = static_cast<uint32_t>(DecimalValue(data.c_str()));
    }
    // The end tag has the start tag's name, which is element's.
    if (!ReadXmlTag(text, position, tag) || tag.Kind != TagEnd || tag.Name != element) {
      return false;
    }
  }
}

bool RegValueStore::LoadValues(const char* filePath) {
  if (!filePath || !*filePath) return false;
  FILE* file = std::fopen(filePath, "rb");
  if (!file) return false;
  zustring text;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    long size = std::ftell(file);
    if (size > 0) text.Reserve(static_cast<unsigned>(size), 10);
    std::rewind(file);
  }
  char piece[16384];
  size_t n;
  while ((n = std::fread(piece, 1, sizeof piece, file)) > 0) {
    text.Append(piece, static_cast<int>(n));
  }
  std::fclose(file);
  // CR LF to LF, as a text-mode read gives it.
  if (const char* first =
          static_cast<const char*>(std::memchr(text.c_str(), '\r', text.Length()))) {
    char* p = text.GetWritableBuffer();
    unsigned length = text.Length();
    unsigned kept = static_cast<unsigned>(first - text.c_str());
    for (unsigned i = kept; i < length; ++i) {
      if (p[i] == '\r' && i + 1 < length && p[i + 1] == '\n') continue;
      p[kept++] = p[i];
    }
    text.SetLength(static_cast<int>(kept));
  }
  return ParseValues(text);
}

bool RegValueStore::SaveValues(const char* filePath) const {
  if (!filePath || !*filePath) return false;
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
  zustring directory = KeyDirectory();
  if (directory.IsEmpty()) return false;  // a root without a directory
  zustring subKey = Join(directory, name);
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
