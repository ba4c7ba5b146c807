/*
** RegValueStore: key directories, the Values.xml reader and writer, the
** crash-safe save, enumeration, deletion and rename.
**
** Files are read and written as bytes, and the library itself does what a
** Windows text-mode stream does, so that the bytes on disk are the same on
** every platform: a LF written becomes CR LF, and CR LF read becomes LF.
*/
#include "settings/regvaluestore.h"

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

namespace {
const int kEntriesPerBlock = 64;
const int kGrowth = 10;  // slots added to a full table
}  // namespace

ValueEntry* ValueTable::NewEntry() {
  if (spare_.empty()) {
    blocks_.emplace_back(new ValueEntry[kEntriesPerBlock]);
    ValueEntry* block = blocks_.back().get();
    for (int i = kEntriesPerBlock; i-- > 0;) spare_.push_back(block + i);
  }
  ValueEntry* entry = spare_.back();
  spare_.pop_back();
  return entry;
}

/* Puts an entry back as a new one: empty name, integer 0. */
void ValueTable::FreeEntry(ValueEntry* entry) {
  entry->Name.Reset();
  entry->Kind = ValueInteger;
  entry->Text.Reset();
  entry->Integer = 0;
  spare_.push_back(entry);
}

ValueEntry* ValueTable::Find(const char* name) const {
  return Lookup(name, NameHash(name));
}

ValueEntry* ValueTable::Lookup(const char* name, uint32_t hash) const {
  if (!slots_) return nullptr;
  uint32_t mask = slotCount_ - 1;
  for (uint32_t i = hash & mask; slots_[i].entry; i = (i + 1) & mask) {
    if (slots_[i].hash == hash && std::strcmp(slots_[i].entry->Name.c_str(), name) == 0) {
      return slots_[i].entry;
    }
  }
  return nullptr;
}

ValueEntry* ValueTable::FindOrAdd(const char* name) {
  uint32_t hash = NameHash(name);
  if (ValueEntry* entry = Lookup(name, hash)) return entry;
  return Append(zustring(name), hash);
}

ValueEntry* ValueTable::FindOrAdd(zustring name) {
  // A name is a C string: one with a NUL inside counts up to the NUL.
  if (std::strlen(name.c_str()) != name.Length()) return FindOrAdd(name.c_str());
  uint32_t hash = NameHash(name.c_str());
  if (ValueEntry* entry = Lookup(name.c_str(), hash)) return entry;
  return Append(std::move(name), hash);
}

void ValueTable::Reserve(int count) {
  if (count <= capacity_) return;
  ValueEntry** entries = new ValueEntry*[count];
  if (count_) std::memcpy(entries, entries_, count_ * sizeof *entries);
  delete[] entries_;
  entries_ = entries;
  capacity_ = count;
  if (2 * static_cast<uint32_t>(count) > slotCount_) Reindex(count);
}

ValueEntry* ValueTable::Append(zustring name, uint32_t hash) {
  if (count_ == capacity_) Reserve(capacity_ + kGrowth);
  ValueEntry* entry = NewEntry();
  entry->Name = std::move(name);
  entries_[count_++] = entry;
  if (2 * static_cast<uint32_t>(count_) > slotCount_) {
    Reindex(count_);
  } else {
    Index(entry, hash);
  }
  return entry;
}

void ValueTable::Index(ValueEntry* entry, uint32_t hash) {
  uint32_t mask = slotCount_ - 1;
  uint32_t i = hash & mask;
  while (slots_[i].entry) i = (i + 1) & mask;
  slots_[i] = {entry, hash};
}

/* Builds the index anew, with room for twice room entries. */
void ValueTable::Reindex(int room) {
  uint32_t wanted = 16;
  while (wanted < 2 * static_cast<uint32_t>(room)) wanted *= 2;
  if (wanted != slotCount_) {
    delete[] slots_;
    slots_ = new Slot[wanted];
    slotCount_ = wanted;
  }
  std::memset(slots_, 0, slotCount_ * sizeof *slots_);
  for (int i = 0; i < count_; ++i) Index(entries_[i], NameHash(entries_[i]->Name.c_str()));
}

bool ValueTable::Remove(const char* name) {
  ValueEntry* entry = Find(name);
  if (!entry) return false;
  int i = 0;
  while (entries_[i] != entry) ++i;
  std::memmove(entries_ + i, entries_ + i + 1, (count_ - i - 1) * sizeof *entries_);
  --count_;
  FreeEntry(entry);
  Reindex(count_);
  return true;
}

void ValueTable::Clear() {
  for (int i = 0; i < count_; ++i) FreeEntry(entries_[i]);
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

/* The length of a literal without its terminator. */
template <size_t N>
constexpr int LiteralLength(const char (&)[N]) {
  return static_cast<int>(N - 1);
}

template <size_t N>
void AppendLiteral(zustring& out, const char (&literal)[N]) {
  out.Append(literal, LiteralLength(literal));
}

const char kValuesFile[] = "Values.xml";
/* A save's temporary is the values file's path with this suffix, the X
** filled by _mktemp with a letter and five digits. */
const char kTemporarySuffix[] = ".XXXXXX";
const int kTemporaryLetters = 1;
/* How often a save tries another temporary name when another process's
** clean-up holds the one it made. */
const int kTemporaryAttempts = 8;

/* Whether name is that of a save's temporary: "Values.xml." and a letter
** and five digits, as _mktemp makes them. */
bool IsTemporaryName(const char* name) {
  const int prefix = LiteralLength(kValuesFile) + 1;
  if (std::strncmp(name, kValuesFile, prefix - 1) != 0 || name[prefix - 1] != '.' ||
      std::strlen(name) != static_cast<size_t>(prefix + LiteralLength(kTemporarySuffix) - 1)) {
    return false;
  }
  const char* fill = name + prefix;
  for (int i = 0; fill[i]; ++i) {
    bool ok =
        i < kTemporaryLetters ? fill[i] >= 'a' && fill[i] <= 'z' : fill[i] >= '0' && fill[i] <= '9';
    if (!ok) return false;
  }
  return true;
}

/* A save holds its temporary open, sharing everything, from before its
** first byte until it has been renamed; so a temporary that can be opened
** without sharing reading or writing is one that no save is writing. */
HANDLE ClaimTemporary(const char* path, bool create) {
  if (create) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

/* Removes the temporaries in directory that no save holds: what saves that
** were killed half-way left behind. */
void RemoveStaleTemporaries(const zustring& directory) {
  // Only names of that shape are looked at, so that a key with many
  // subkeys costs a listing, not a query per subkey.
  zustring pattern = Join(directory, kValuesFile) + ".*";
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsTemporaryName(entry.cFileName)) {
      continue;
    }
    zustring path = Join(directory, entry.cFileName);
    HANDLE claim = ClaimTemporary(path.c_str(), false);
    if (claim == INVALID_HANDLE_VALUE) continue;
    std::remove(path.c_str());
    CloseHandle(claim);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
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

const char kRootElement[] = "regvaluestore";
/* About what a value takes in a file, to size the table for a file. */
const unsigned kBytesPerValue = 64;
const char kNameAttribute[] = "name";
const char kHeader[] = "<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\r\n<regvaluestore>\r\n";
const char kTrailer[] = "</regvaluestore>";
const char kIndent[] = "  ";
const char kLineEnd[] = "\r\n";
const char kNameEnd[] = "\">";  // ends the name attribute and the start tag

/* The value elements and the kind of value each holds. */
struct Element {
  const char* name;
  int32_t kind;
  // The element's start tag up to the name's value, and its end tag, as
  // the writer writes them.
  const char* plainStart;
  int plainStartLength;
  const char* end;
  int endLength;
};
#define ZU_ELEMENT(name, kind)                                                          \
  {                                                                                     \
    name, kind, "<" name " name=\"", LiteralLength("<" name " name=\""), "</" name ">", \
        LiteralLength("</" name ">")                                                    \
  }
const Element kElements[] = {ZU_ELEMENT("string", ValueText), ZU_ELEMENT("integer", ValueInteger)};
#undef ZU_ELEMENT

const Element& ElementOf(int32_t kind) {
  return kElements[kind == ValueText ? 0 : 1];
}

/* The C library's atoi over 32 bits: leading blanks, a sign, digits up to
** the first other character; out-of-range values stop at the limits. */
int32_t DecimalValue(const char* s) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
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

/* Whether literal (n bytes) stands in text at the 1-based position. */
bool Follows(const zustring& text, unsigned position, const char* literal, int n) {
  return position + n - 1 <= text.Length() &&
         std::memcmp(text.c_str() + position - 1, literal, n) == 0;
}

/* The start tag of the next value element, when it is written as the
** writer writes it: <string name="NAME"> with a NAME free of '"', '&' and
** CR.
** Most of every file is read here; ReadXmlTag reads such a tag the same
** way, and ReadTaggedStart reads every other. */
bool ReadPlainStart(const zustring& text, unsigned& position, int32_t& kind, zustring& name) {
  const char* s = text.c_str();
  unsigned length = text.Length();
  unsigned p = position;
  while (p <= length && IsXmlBlank(s[p - 1])) ++p;
  for (const Element& element : kElements) {
    if (!Follows(text, p, element.plainStart, element.plainStartLength)) continue;
    unsigned first = p + element.plainStartLength;
    unsigned last = first;
    // A CR ends the plain form too: such a name is read as a tag.
    while (last <= length && s[last - 1] != '"' && s[last - 1] != '&' && s[last - 1] != '\r') {
      ++last;
    }
    if (!Follows(text, last, kNameEnd, LiteralLength(kNameEnd))) return false;
    kind = element.kind;
    name = last > first ? zustring(s + first - 1, last - first) : zustring();
    position = last + LiteralLength(kNameEnd);
    return true;
  }
  return false;
}

/* The next tag, read with ReadXmlTag: the start of a value element (its
** kind and name), the end of the file, or anything else. */
enum class Start { Value, End, Bad };
Start ReadTaggedStart(const zustring& text, unsigned& position, XmlTag& tag, int32_t& kind,
                      zustring& name) {
  if (!ReadXmlTag(text, position, tag)) return Start::Bad;
  if (tag.Kind == TagEnd && tag.Name == kRootElement) return Start::End;
  if (tag.Kind != TagStart || tag.AttributeCount() != 1 || (*tag.Attributes)[0] != kNameAttribute) {
    return Start::Bad;
  }
  for (const Element& element : kElements) {
    if (tag.Name != element.name) continue;
    kind = element.kind;
    name = tag.AttributeValue(0);
    return Start::Value;
  }
  return Start::Bad;
}

/* The end tag of the element of kind, taken directly when it is written
** as the writer writes it. */
bool ReadEnd(const zustring& text, unsigned& position, XmlTag& tag, int32_t kind) {
  const Element& element = ElementOf(kind);
  if (Follows(text, position, element.end, element.endLength)) {
    position += element.endLength;
    return true;
  }
  return ReadXmlTag(text, position, tag) && tag.Kind == TagEnd && tag.Name == element.name;
}

/* Appends s as a text-mode write stores it: each LF as CR LF. */
void AppendTextMode(zustring& out, const char* p, const char* end) {
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
    const char* stop = lf ? lf : end;
    if (stop > p) out.Append(p, static_cast<int>(stop - p));
    if (!lf) break;
    AppendLiteral(out, kLineEnd);
    p = lf + 1;
  }
}

/* Appends text escaped, up to its first 0 byte. */
void AppendEscaped(zustring& out, const zustring& text) {
  zustring escaped(text.c_str(), static_cast<unsigned>(std::strlen(text.c_str())));
  XmlEscape(escaped);
  AppendTextMode(out, escaped.c_str(), escaped.c_str() + escaped.Length());
}

/* Turns CR LF into LF, as a text-mode read does. */
void DropCarriageReturns(zustring& text) {
  const char* s = text.c_str();
  unsigned length = text.Length();
  const char* cr = static_cast<const char*>(std::memchr(s, '\r', length));
  if (!cr) return;
  char* p = text.GetWritableBuffer();
  const char* end = p + length;
  char* out = p + (cr - s);
  const char* in = out;
  while (in < end) {
    // in is on a CR: it goes when a LF follows.
    if (in + 1 < end && in[1] == '\n') {
      ++in;
    } else {
      *out++ = *in++;
    }
    const char* next = static_cast<const char*>(std::memchr(in, '\r', end - in));
    const char* stop = next ? next : end;
    std::memmove(out, in, stop - in);
    out += stop - in;
    in = stop;
  }
  text.SetLength(static_cast<int>(out - p));
}

}  // namespace

bool RegValueStore::ParseValues(const zustring& text) {
  unsigned position = 1;
  XmlTag tag;
  if (!ReadXmlTag(text, position, tag)) return false;  // the declaration, whatever it says
  if (!ReadXmlTag(text, position, tag) || tag.Name != kRootElement) return false;
  // Room for the values of a text of this size as the writer writes them.
  Values.Reserve(Values.Count() + static_cast<int>(text.Length() / kBytesPerValue));
  // CR LF reads as LF. Outside names and texts both are blanks, so a text
  // read from the bytes as they are just loses the CR of each CR LF. Names
  // with a CR are read by ReadXmlTag, which may join the pieces of a name
  // across a CR LF; so before it reads a tag the rest of the text is
  // turned into LF.
  const zustring* source = &text;
  zustring rest;
  // A text goes into its entry; a number is read into a buffer of its own
  // that is used again.
  zustring name, data, number;
  for (;;) {
    int32_t kind;
    if (!ReadPlainStart(*source, position, kind, name)) {
      if (source == &text &&
          std::memchr(text.c_str() + position - 1, '\r', text.Length() + 1 - position)) {
        rest = text.Mid(position, text.Length());
        DropCarriageReturns(rest);
        source = &rest;
        position = 1;
      }
      switch (ReadTaggedStart(*source, position, tag, kind, name)) {
        case Start::End:
          return true;
        case Start::Bad:
          return false;
        case Start::Value:
          break;
      }
    }
    if (!ReadXmlText(*source, position, kind == ValueText ? data : number)) return false;
    ValueEntry* entry = Values.FindOrAdd(std::move(name));
    entry->Kind = kind;
    if (kind == ValueText) {
      if (source == &text) DropCarriageReturns(data);
      entry->Text = std::move(data);
    } else {
      entry->Text.Reset();
      entry->Integer = static_cast<uint32_t>(DecimalValue(number.c_str()));
    }
    if (!ReadEnd(*source, position, tag, kind)) return false;
  }
}

bool RegValueStore::LoadValues(const char* filePath) {
  if (!filePath || !*filePath) return false;
  FILE* file = std::fopen(filePath, "rb");
  if (!file) return false;
  zustring text;
  long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  if (size > 0 && std::fseek(file, 0, SEEK_SET) == 0) {
    // The whole file at once, and whatever it grew by since.
    text.SetLength(static_cast<int>(size));
    size_t n = std::fread(text.GetWritableBuffer(), 1, static_cast<size_t>(size), file);
    text.SetLength(static_cast<int>(n));
  } else {
    std::rewind(file);
  }
  char piece[16384];
  size_t n;
  while ((n = std::fread(piece, 1, sizeof piece, file)) > 0) {
    text.Append(piece, static_cast<int>(n));
  }
  std::fclose(file);
  return ParseValues(text);
}

bool RegValueStore::SaveValues(const char* filePath) const {
  return Save(filePath, true);
}

bool RegValueStore::Save(const char* filePath, bool waitForDisk) const {
  if (!filePath || !*filePath) return false;
  zustring bytes;
  bytes.Reserve(64 + 48 * Values.Count(), 10);
  AppendLiteral(bytes, kHeader);
  for (int i = 0; i < Values.Count(); ++i) {
    const ValueEntry& entry = Values[i];
    const Element& element = ElementOf(entry.Kind);
    AppendLiteral(bytes, kIndent);
    bytes.Append(element.plainStart, element.plainStartLength);
    AppendEscaped(bytes, entry.Name);
    AppendLiteral(bytes, kNameEnd);
    if (entry.Kind == ValueText) {
      AppendEscaped(bytes, entry.Text);
    } else {
      bytes.AppendFormat("%d", static_cast<int32_t>(entry.Integer));
    }
    bytes.Append(element.end, element.endLength);
    AppendLiteral(bytes, kLineEnd);
  }
  AppendLiteral(bytes, kTrailer);

  // A new file beside the old one, on the disk before it takes the name.
  // Temporaries left by killed saves go first, so that they do not pile up.
  zustring file(filePath);
  unsigned slash = file.ReverseFind("\\/");
  if (slash > 1) RemoveStaleTemporaries(file.Mid(1, slash - 1));
  zustring temporary;
  HANDLE claim = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < kTemporaryAttempts && claim == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = file + kTemporarySuffix;
    if (!_mktemp(temporary.GetWritableBuffer())) return false;
    claim = ClaimTemporary(temporary.c_str(), true);
    if (claim == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION) return false;
  }
  if (claim == INVALID_HANDLE_VALUE) return false;
  FILE* stream = std::fopen(temporary.c_str(), "wb");
  bool written = stream &&
                 std::fwrite(bytes.c_str(), 1, bytes.Length(), stream) == bytes.Length() &&
                 std::fflush(stream) == 0 && (!waitForDisk || _commit(_fileno(stream)) == 0);
  written = stream && std::fclose(stream) == 0 && written;
  DWORD flags = MOVEFILE_REPLACE_EXISTING | (waitForDisk ? MOVEFILE_WRITE_THROUGH : 0);
  bool moved = written && MoveFileExA(temporary.c_str(), filePath, flags);
  if (!moved) std::remove(temporary.c_str());
  CloseHandle(claim);
  return moved;
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

bool RegValueStore::Flush(bool waitForDisk) {
  if (!Dirty) return true;
  if (!Save(KeyFilePath().c_str(), waitForDisk)) return false;
  Dirty = false;
  return true;
}

zustring RegValueStore::GetString(const char* name) const {
  const ValueEntry* entry = Values.Find(name);
  return entry && entry->Kind == ValueText ? entry->Text : zustring();
}

uint32_t RegValueStore::GetInteger(const char* name) const {
  const ValueEntry* entry = Values.Find(name);
  return entry && entry->Kind == ValueInteger ? entry->Integer : 0;
}

ValueKind RegValueStore::GetKind(const char* name) const {
  const ValueEntry* entry = Values.Find(name);
  if (!entry) return ValueMissing;
  return entry->Kind == ValueText ? ValueText : ValueInteger;
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
  entry->Text.Reset();
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
  RemoveStaleTemporaries(subKey);
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
        std::strcmp(entry.Name, kValuesFile) == 0 ||
        (entry.Type == DIR_TYPE_FILE && IsTemporaryName(entry.Name))) {
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
  zustring aside = newDirectory + kTemporarySuffix;
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
