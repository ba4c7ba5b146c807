/*
** The rules for key names and paths.
*/
#include "tools/zuadm/key_path.h"

#include <cstring>

#include "platform/win32.h"

const char kNewSuffix[] = ".zuadm-new";
const char kOldSuffix[] = ".zuadm-old";
const char kJournalKey[] = "$zuadm";

namespace {

const char kValuesFile[] = "values.xml";
const unsigned kTemporaryDigits = 5;  // after the letter of Values.xml.a12345

bool EndsWith(const zustring& name, const char* suffix) {
  unsigned n = static_cast<unsigned>(std::strlen(suffix));
  return name.Length() >= n && _stricmp(name.c_str() + name.Length() - n, suffix) == 0;
}

/* Values.xml, or one of the value store's temporaries of it. */
bool IsValueStoreName(const zustring& name) {
  unsigned base = static_cast<unsigned>(std::strlen(kValuesFile));
  if (name.Length() < base || _strnicmp(name.c_str(), kValuesFile, base) != 0) return false;
  if (name.Length() == base) return true;
  if (name.Length() != base + 2 + kTemporaryDigits || name.CharAt(base + 1) != '.') return false;
  char letter = name.CharAt(base + 2);
  if (letter < 'a' || letter > 'z') return false;
  for (unsigned i = base + 3; i <= name.Length(); ++i) {
    if (name.CharAt(i) < '0' || name.CharAt(i) > '9') return false;
  }
  return true;
}

}  // namespace

bool IsControl(unsigned char c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool IsDeviceName(const zustring& name) {
  const char* s = name.c_str();
  size_t stem = std::strcspn(s, ".");
  static const char* const kPlain[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : kPlain) {
    if (stem == 3 && _strnicmp(s, device, 3) == 0) return true;
  }
  return stem == 4 && (_strnicmp(s, "COM", 3) == 0 || _strnicmp(s, "LPT", 3) == 0) &&
         std::strchr("0123456789\xB9\xB2\xB3", s[3]) && s[3];
}

bool CheckKeyName(const zustring& name, bool forFiles, zustring& error) {
  if (name.IsEmpty()) {
    error = "a key path has an empty level";
    return false;
  }
  if (name == "." || name == "..") {
    error.Format("\"%s\" is no key name", name.c_str());
    return false;
  }
  if (name.Length() > kLongestKeyName) {
    error.Format("the key name \"%.40s...\" is longer than %u bytes", name.c_str(),
                 kLongestKeyName);
    return false;
  }
  if (std::memchr(name.c_str(), 0, name.Length()) || std::strpbrk(name.c_str(), "\\/")) {
    error.Format("the key name \"%s\" holds a separator or a 0 byte", name.c_str());
    return false;
  }
  for (unsigned i = 1; i <= name.Length(); ++i) {
    if (IsControl(static_cast<unsigned char>(name.CharAt(i)))) {
      error.Format("the key name \"%s\" holds a control character", name.c_str());
      return false;
    }
  }
  if (IsValueStoreName(name) || EndsWith(name, kNewSuffix) || EndsWith(name, kOldSuffix) ||
      _stricmp(name.c_str(), kJournalKey) == 0) {
    error.Format("\"%s\" is a name that the stores keep for themselves", name.c_str());
    return false;
  }
  if (!forFiles) return true;
  for (unsigned i = 1; i <= name.Length(); ++i) {
    if (std::strchr("<>:\"|?*", name.CharAt(i))) {
      error.Format("the key name \"%s\" holds a character that a file name cannot hold",
                   name.c_str());
      return false;
    }
  }
  char last = name.CharAt(name.Length());
  if (last == '.' || last == ' ' || IsDeviceName(name)) {
    error.Format("\"%s\" cannot be a file name", name.c_str());
    return false;
  }
  return true;
}

bool ParseKeyPath(const zustring& text, bool forFiles, zustring& path, zustring& error) {
  const char* p = text.c_str();
  const char* end = p + text.Length();
  if (p < end && (*p == '\\' || *p == '/')) ++p;
  zustring joined;
  while (p < end) {
    const char* level = p;
    while (p < end && *p != '\\' && *p != '/') ++p;
    zustring name = p > level ? zustring(level, static_cast<unsigned>(p - level)) : zustring();
    if (!CheckKeyName(name, forFiles, error)) return false;
    joined = ChildPath(joined, name);
    if (p < end) {
      ++p;
      if (p == end) {
        error = "a key path has an empty level";
        return false;
      }
    }
  }
  path = joined;
  return true;
}

void SplitKeyPath(const zustring& path, zustring& parent, zustring& leaf) {
  unsigned slash = path.ReverseFind("\\");
  parent = slash ? path.Mid(1, slash - 1) : zustring();
  leaf = slash ? path.Mid(slash + 1, path.Length()) : path;
}

zustring ChildPath(const zustring& parent, const zustring& name) {
  if (parent.IsEmpty()) return name;
  return parent + "\\" + name;
}

bool IsWithinPath(const zustring& path, const zustring& ancestor) {
  if (ancestor.IsEmpty()) return true;
  unsigned n = ancestor.Length();
  if (path.Length() < n || _strnicmp(path.c_str(), ancestor.c_str(), n) != 0) return false;
  return path.Length() == n || path.CharAt(n + 1) == '\\';
}

bool SameName(const zustring& a, const zustring& b) {
  return a.Length() == b.Length() && _stricmp(a.c_str(), b.c_str()) == 0;
}
