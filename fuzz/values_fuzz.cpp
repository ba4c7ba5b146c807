// Feeds outside bytes to the Values.xml reader. It must read exactly what
// a plain tag-by-tag reading of the same rules reads (the reader takes a
// shortcut for the tags the writer produces), and whatever it accepts is
// saved and loaded again and must come back entry for entry (texts up to
// their first 0 byte, as they are written).
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "misc/xmlhelper.h"
#include "settings/regvaluestore.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameEntries(const ValueTable& a, const ValueTable& b) {
  if (a.Count() != b.Count()) return false;
  for (int i = 0; i < a.Count(); ++i) {
    const ValueEntry& x = a[i];
    const ValueEntry& y = b[i];
    if (x.Name != y.Name || x.Kind != y.Kind) return false;
    if (x.Kind == ValueText &&
        (x.Text.Length() != y.Text.Length() || std::string(x.Text.c_str(), x.Text.Length()) !=
                                                   std::string(y.Text.c_str(), y.Text.Length()))) {
      return false;
    }
    if (x.Kind == ValueInteger && x.Integer != y.Integer) return false;
  }
  return true;
}

/* The reading rules, tag by tag with the XML helpers and nothing else,
** over the bytes as a text-mode read gives them. */
bool ReferenceParse(const zustring& bytes, ValueTable& values) {
  std::string lf;
  for (unsigned i = 0; i < bytes.Length(); ++i) {
    char c = bytes.c_str()[i];
    if (c != '\r' || i + 1 == bytes.Length() || bytes.c_str()[i + 1] != '\n') lf += c;
  }
  zustring text = lf.empty() ? zustring() : zustring(lf.data(), static_cast<unsigned>(lf.size()));
  unsigned position = 1;
  XmlTag tag;
  if (!ReadXmlTag(text, position, tag)) return false;
  if (!ReadXmlTag(text, position, tag) || tag.Name != "regvaluestore") return false;
  for (;;) {
    if (!ReadXmlTag(text, position, tag)) return false;
    if (tag.Kind == TagEnd && tag.Name == "regvaluestore") return true;
    if (tag.Kind != TagStart || tag.AttributeCount() != 1 || (*tag.Attributes)[0] != "name") {
      return false;
    }
    zustring name = tag.AttributeValue(0);
    zustring element = tag.Name;
    zustring data;
    if (!ReadXmlText(text, position, data)) return false;
    if (element == "string") {
      ValueEntry* entry = values.FindOrAdd(name.c_str());
      entry->Kind = ValueText;
      entry->Text = data;
    } else if (element == "integer") {
      ValueEntry* entry = values.FindOrAdd(name.c_str());
      entry->Kind = ValueInteger;
      long long value = std::strtoll(data.c_str(), nullptr, 10);
      if (value > INT32_MAX) value = INT32_MAX;
      if (value < INT32_MIN) value = INT32_MIN;
      entry->Integer = static_cast<uint32_t>(static_cast<int32_t>(value));
    } else {
      return false;
    }
    if (!ReadXmlTag(text, position, tag) || tag.Kind != TagEnd || tag.Name != element) {
      return false;
    }
  }
}

std::string ScratchFile() {
  std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("zu-values-fuzz-" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  return (directory / "Values.xml").string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string file = ScratchFile();
  zustring text = size ? zustring(reinterpret_cast<const char*>(data), static_cast<unsigned>(size))
                       : zustring();
  RegValueStore store;
  bool complete = store.ParseValues(text);
  ValueTable reference;
  Check(ReferenceParse(text, reference) == complete);
  Check(SameEntries(store.Values, reference));
  for (int i = 0; i < store.Values.Count(); ++i) {
    Check(store.Values[i].Kind == ValueText || store.Values[i].Kind == ValueInteger);
  }
  if (complete) {
    Check(store.SaveValues(file.c_str()));
    RegValueStore again;
    Check(again.LoadValues(file.c_str()));
    // A text is written up to its first 0 byte.
    for (int i = 0; i < store.Values.Count(); ++i) {
      ValueEntry* entry = store.Values.Find(store.Values[i].Name.c_str());
      entry->Text = zustring(entry->Text.c_str());
    }
    Check(SameEntries(store.Values, again.Values));
  }
  return 0;
}
