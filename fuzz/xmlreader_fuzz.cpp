// Feeds outside bytes to the XML text helpers: the tag and text readers as a
// caller alternates them, the reference decoder and the unescaper. Checks
// that every read moves forward within the text, that tags are well formed,
// and that escaped text reads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "misc/xmlhelper.h"

namespace {

zustring FromBytes(const char* data, size_t size) {
  return size ? zustring(data, static_cast<unsigned>(size)) : zustring();
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  zustring text = FromBytes(bytes, size);

  unsigned position = 1;
  XmlTag tag;
  zustring out;
  while (position <= text.Length()) {
    unsigned before = position;
    bool complete = ReadXmlTag(text, position, tag);
    Check(position > before && position <= text.Length() + 1);
    Check(tag.Kind == TagStart || tag.Kind == TagEnd || tag.Kind == TagEmpty);
    for (int i = 0; i < tag.AttributeCount(); ++i) {
      Check(tag.HasValue(i) == !tag.AttributeValue(i).IsEmpty());
    }
    if (!complete) break;
    before = position;
    if (ReadXmlText(text, position, out)) Check(text.CharAt(position) == '<');
    Check(position >= before && position <= text.Length() + 1);
  }

  // Text without NUL: escaping then reading back gives it unchanged.
  std::string plain(bytes, strnlen(bytes, size));
  zustring escaped(plain.c_str());
  XmlEscape(escaped);
  zustring document = escaped + "<";
  unsigned start = 1;
  zustring back;
  Check(ReadXmlText(document, start, back));
  Check(std::string(back.c_str(), back.Length()) == plain);
  char* unescaped = XmlUnescape(escaped.c_str());
  Check(unescaped && plain == unescaped);
  std::free(unescaped);

  // The decoders on the raw text: results within the text or errors.
  if (char* decoded = XmlUnescape(plain.c_str())) {
    Check(std::strlen(decoded) <= plain.size());
    std::free(decoded);
  }
  for (size_t i = 0; i < plain.size(); ++i) {
    if (plain[i] != '&') continue;
    unsigned char byte;
    int consumed = XmlDecodeReference(plain.c_str() + i, &byte);
    Check(consumed == -2 || consumed == -3 || consumed == -4 || consumed == -5 || consumed == -6 ||
          (consumed >= 2 && static_cast<size_t>(consumed) <= plain.size() - i));
  }
  return 0;
}
