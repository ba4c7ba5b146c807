/*
** Key trees: reading, writing, and the export text.
*/
#include "tools/zuadm/key_tree.h"

#include <cstring>
#include <string>
#include <unordered_set>

#include "tools/zuadm/key_path.h"
#include "tools/zuadm/text_io.h"

size_t KeyImage::KeyCount() const {
  size_t count = 1;
  for (const KeyImage& subkey : subkeys) count += subkey.KeyCount();
  return count;
}

/* ---- Stores ---- */

bool ReadValues(SettingsStore& store, std::vector<StoredValue>& values, zustring& error) {
  StringList names;
  store.EnumValues(names);
  values.clear();
  values.reserve(names.Count());
  for (int i = 0; i < names.Count(); ++i) {
    StoredValue value;
    value.name = names[i];
    value.kind = store.GetKind(value.name.c_str());
    if (value.kind == ValueText) {
      value.text = store.GetString(value.name.c_str());
    } else if (value.kind == ValueInteger) {
      value.integer = store.GetInteger(value.name.c_str());
    } else {
      error.Format("the value \"%s\" is of a type that zuadm does not handle", value.name.c_str());
      return false;
    }
    values.push_back(std::move(value));
  }
  return true;
}

bool ReadTree(SettingsStore& store, const zustring& path, KeyImage& image, zustring& error) {
  if (!store.Open(path, false, false)) {
    error.Format("cannot open key %s", path.c_str());
    return false;
  }
  if (!ReadValues(store, image.values, error)) {
    error = zustring("key ") + path + ": " + error;
    return false;
  }
  StringList names;
  store.EnumSubKeys(names);
  image.subkeys.resize(names.Count());
  for (int i = 0; i < names.Count(); ++i) {
    image.subkeys[i].name = names[i];
    if (!ReadTree(store, ChildPath(path, names[i]), image.subkeys[i], error)) return false;
  }
  return true;
}

bool WriteKey(SettingsStore& store, const zustring& path, const std::vector<StoredValue>& values,
              bool waitForDisk, zustring& error) {
  if (!store.Open(path, true, true)) {
    error.Format("cannot make key %s", path.c_str());
    return false;
  }
  for (const StoredValue& value : values) {
    bool ok = value.kind == ValueText ? store.SetString(value.name.c_str(), value.text)
                                      : store.SetInteger(value.name.c_str(), value.integer);
    if (!ok) {
      error.Format("cannot write value %s in key %s", value.name.c_str(), path.c_str());
      return false;
    }
  }
  if (!store.Flush(waitForDisk)) {
    error.Format("cannot write the values of key %s (is the disk full?)", path.c_str());
    return false;
  }
  return true;
}

bool WriteTree(SettingsStore& store, const zustring& path, const KeyImage& image, bool waitForDisk,
               zustring& error) {
  // Parents first, so that each new key is one new level.
  if (!WriteKey(store, path, image.values, waitForDisk, error)) return false;
  for (const KeyImage& subkey : image.subkeys) {
    if (!WriteTree(store, ChildPath(path, subkey.name), subkey, waitForDisk, error)) return false;
  }
  return true;
}

/* ---- The export text ---- */

namespace {

const char kExportHeader[] = "zuadm-export 1";
const char kIntegerPrefix[] = "dword:";
const unsigned kIntegerDigits = 8;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void ExportKey(const KeyImage& image, const zustring& path, zustring& out) {
  out += "[";
  out += QuoteString(path);
  out += "]\n";
  for (const StoredValue& value : image.values) {
    out += QuoteString(value.name);
    if (value.kind == ValueText) {
      out += "=";
      out += QuoteString(value.text);
    } else {
      out.AppendFormat("=%s%08x", kIntegerPrefix, value.integer);
    }
    out += "\n";
  }
  for (const KeyImage& subkey : image.subkeys) {
    ExportKey(subkey, ChildPath(path, subkey.name), out);
  }
}

/* A name as the store at hand compares it: the registry without case. */
std::string NameKey(const zustring& name, bool forFiles) {
  return std::string((forFiles ? name : name.ToLower()).c_str(), name.Length());
}

}  // namespace

zustring QuoteString(const zustring& latin1) {
  return QuotedUtf8(latin1, "\\x%02X");
}

bool UnquoteString(const char*& cursor, const char* end, zustring& latin1, zustring& error) {
  const char* p = cursor;
  if (p == end || *p != '"') {
    error = "a string must start with \"";
    return false;
  }
  ++p;
  std::string bytes;
  for (;;) {
    // Runs of plain characters, which are UTF-8.
    const char* run = p;
    while (p < end && *p != '"' && *p != '\\') ++p;
    if (p > run) {
      zustring plain;
      if (!Utf8ToLatin1Strict(run, static_cast<unsigned>(p - run), plain, error)) return false;
      bytes.append(plain.c_str(), plain.Length());
    }
    if (p == end) {
      error = "a string has no closing \"";
      return false;
    }
    if (*p == '"') break;
    if (++p == end) {
      error = "a string ends in a lone backslash";
      return false;
    }
    char escaped = *p++;
    switch (escaped) {
      case '\\':
      case '"':
        bytes += escaped;
        break;
      case 'n':
        bytes += '\n';
        break;
      case 'r':
        bytes += '\r';
        break;
      case 't':
        bytes += '\t';
        break;
      case 'x': {
        int high = p < end ? HexDigit(p[0]) : -1;
        int low = p + 1 < end ? HexDigit(p[1]) : -1;
        if (high < 0 || low < 0) {
          error = "\\x must be followed by two hex digits";
          return false;
        }
        bytes += static_cast<char>(high * 16 + low);
        p += 2;
        break;
      }
      default:
        error.Format("unknown escape \\%c", escaped);
        return false;
    }
  }
  cursor = p + 1;
  latin1 = bytes.empty() ? zustring() : zustring(bytes.data(), static_cast<unsigned>(bytes.size()));
  return true;
}

zustring ExportText(const KeyImage& image) {
  zustring out(kExportHeader);
  out += "\n";
  ExportKey(image, zustring(), out);
  return out;
}

bool ParseExport(const char* bytes, size_t n, bool forFiles, KeyImage& image, zustring& error) {
  image = KeyImage();
  const char* p = bytes;
  const char* end = bytes + n;
  unsigned line = 0;
  // The keys from the exported one down to the one being filled; a new key
  // hangs below one of them, or is found from the top when written out of
  // that order.
  std::vector<KeyImage*> stack;
  std::vector<zustring> stackPaths;
  std::unordered_set<std::string> keys, valueNames;
  KeyImage* current = nullptr;
  auto fail = [&](const zustring& message) {
    error.Format("line %u: %s", line, message.c_str());
    return false;
  };
  while (p < end) {
    ++line;
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', end - p));
    const char* next = eol ? eol + 1 : end;
    const char* stop = eol ? eol : end;
    if (stop > p && stop[-1] == '\r') --stop;
    const char* cursor = p;
    p = next;
    if (line == 1) {
      if (static_cast<size_t>(stop - cursor) != std::strlen(kExportHeader) ||
          std::memcmp(cursor, kExportHeader, stop - cursor) != 0) {
        return fail(zustring("this is no zuadm export: the first line must be ") + kExportHeader);
      }
      continue;
    }
    if (cursor == stop || *cursor == ';') continue;
    zustring message;
    if (*cursor == '[') {
      ++cursor;
      zustring path;
      if (!UnquoteString(cursor, stop, path, message)) return fail(message);
      if (cursor + 1 != stop || *cursor != ']') return fail("a key line is [\"PATH\"]");
      zustring checked;
      if (!path.IsEmpty() && !ParseKeyPath(path, forFiles, checked, message)) return fail(message);
      if (checked != path) return fail("a key path has levels separated by one backslash");
      if (!keys.insert(NameKey(path, forFiles)).second) {
        return fail(zustring("the key \"") + path + "\" appears twice");
      }
      valueNames.clear();
      if (path.IsEmpty()) {
        stack.assign(1, &image);
        stackPaths.assign(1, zustring());
        current = &image;
        continue;
      }
      if (stack.empty()) return fail("the exported key [\"\"] must come first");
      zustring parent, leaf;
      SplitKeyPath(path, parent, leaf);
      while (stack.size() > 1 && stackPaths.back() != parent) {
        stack.pop_back();
        stackPaths.pop_back();
      }
      if (stackPaths.back() != parent) {
        return fail(
            zustring("the key \"") + path +
            "\" is not in its parent's subtree (a key's subtree comes whole, right after it)");
      }
      stack.back()->subkeys.emplace_back();
      current = &stack.back()->subkeys.back();
      current->name = leaf;
      stack.push_back(current);
      stackPaths.push_back(path);
      continue;
    }
    if (!current) return fail("a value before the first key");
    StoredValue value;
    if (!UnquoteString(cursor, stop, value.name, message)) return fail(message);
    if (std::memchr(value.name.c_str(), 0, value.name.Length())) {
      return fail("a value name holds a 0 byte");
    }
    if (!valueNames.insert(NameKey(value.name, forFiles)).second) {
      return fail(zustring("the value \"") + value.name + "\" appears twice in its key");
    }
    if (cursor == stop || *cursor++ != '=') return fail("a value line is \"NAME\"=VALUE");
    size_t prefix = std::strlen(kIntegerPrefix);
    if (cursor < stop && *cursor == '"') {
      if (!UnquoteString(cursor, stop, value.text, message)) return fail(message);
      if (cursor != stop) return fail("something follows a value's closing quote");
      if (std::memchr(value.text.c_str(), 0, value.text.Length())) {
        return fail("a text holds a 0 byte, which no store keeps");
      }
      value.kind = ValueText;
    } else if (static_cast<size_t>(stop - cursor) == prefix + kIntegerDigits &&
               std::memcmp(cursor, kIntegerPrefix, prefix) == 0) {
      value.kind = ValueInteger;
      for (const char* digit = cursor + prefix; digit < stop; ++digit) {
        int d = HexDigit(*digit);
        if (d < 0) return fail("an integer is dword: and eight hex digits");
        value.integer = value.integer << 4 | static_cast<uint32_t>(d);
      }
    } else {
      return fail("a value is \"TEXT\" or dword: and eight hex digits");
    }
    current->values.push_back(std::move(value));
  }
  if (line == 0) return fail("the file is empty");
  if (stack.empty()) return fail("the exported key [\"\"] is missing");
  return true;
}
