/*
** The XML text helpers: the tag reader's state machine, the character-data
** reader, escaping, and the decoder of character and entity references.
*/
#include "misc/xmlhelper.h"

#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

XmlTag::~XmlTag() {
  delete Attributes;
}

void XmlTag::Reset() {
  Name.SetLength(0);  // keeps the block for the next name when no one shares it
  Kind = TagStart;
  if (Attributes) {
    values_.clear();
    Attributes->Clear();
  }
}

void XmlTag::AddAttribute(const zustring& name, const zustring& value) {
  if (!Attributes) Attributes = new StringList;
  uint32_t tag = 0;
  if (!value.IsEmpty()) {
    values_.push_back(value);
    tag = static_cast<uint32_t>(values_.size());
  }
  Attributes->AddWithTag(name, tag);
}

zustring XmlTag::AttributeValue(int index) const {
  uint32_t tag = Attributes->Tag(index);
  return tag ? values_[tag - 1] : zustring();
}

namespace {

bool NeedsEscape(char c) {
  return c == '"' || c == '&' || c == '<' || c == '>';
}

struct Reference {
  const char* text;  // from the ampersand on
  unsigned length;
  char decoded;
};
const Reference kReaderReferences[] = {
    {"&quot;", 6, '"'},
    {"&amp;", 5, '&'},
    {"&lt;", 4, '<'},
    {"&gt;", 4, '>'},
};

/* The reference at ampersand (one of kReaderReferences, without regard to
** case), or none. The text is NUL-terminated, so no comparison runs past
** its end. */
const Reference* MatchReference(const char* ampersand) {
  // The first letter tells the one reference that can match.
  const Reference* reference = nullptr;
  for (const Reference& candidate : kReaderReferences) {
    if ((ampersand[1] | 0x20) == candidate.text[1]) reference = &candidate;
  }
  if (!reference || std::memcmp(ampersand, reference->text, reference->length) == 0) {
    return reference;
  }
  for (unsigned i = 2; i < reference->length; ++i) {
    char wanted = reference->text[i];
    char c = ampersand[i];
    // The letters of the references compare in either case, ';' as is.
    if (c != wanted && !(wanted >= 'a' && wanted <= 'z' && (c | 0x20) == wanted)) return nullptr;
  }
  return reference;
}

/* The end (1-based position after it) of the run of characters from
** position on that keep belonging to the same name or value. */
template <typename Belongs>
unsigned RunEnd(const char* s, unsigned length, unsigned position, Belongs belongs) {
  while (position <= length && belongs(s[position - 1])) ++position;
  return position;
}

enum class ReadState { Open, Name, Between, AfterName, Value, Close };

/* Growth step, in tenths, of a name or value read in several pieces. */
constexpr unsigned kPieceGrowthHint = 10;

}  // namespace

bool ReadXmlTag(const zustring& text, unsigned& position, XmlTag& tag) {
  tag.Reset();
  const char* s = text.c_str();
  unsigned length = text.Length();
  ReadState state = ReadState::Open;
  bool skipBlanks = true;
  bool quoted = false;
  zustring name, value;
  auto moveTo = [&](ReadState next) {
    state = next;
    skipBlanks = true;
  };
  auto addAttribute = [&] {
    tag.AddAttribute(name, value);
    name = zustring();
    value = zustring();
    skipBlanks = true;
  };
  // A value written in many pieces (text between references) grows by
  // doubling from its second piece on, not by exact fit for every piece.
  auto append = [](zustring& target, const char* bytes, unsigned n) {
    if (!target.IsEmpty()) target.Reserve(0, kPieceGrowthHint);
    target.Append(bytes, static_cast<int>(n));
  };
  // Appends the character just taken and those after it that belong with it.
  auto appendRun = [&](zustring& target, auto belongs) {
    unsigned end = RunEnd(s, length, position, belongs);
    append(target, s + position - 2, end - position + 1);
    position = end;
  };
  if (position == 0) position = 1;
  while (position <= length) {
    char c = s[position - 1];
    ++position;
    bool blank = !quoted && IsXmlBlank(c);
    if (skipBlanks && blank) continue;
    skipBlanks = false;
    if (state == ReadState::Open) {
      if (c != '<') return false;
      moveTo(ReadState::Name);
    } else if (state == ReadState::Name) {
      if (blank) {
        moveTo(ReadState::Between);
      } else if (c == '/' && tag.Name.IsEmpty()) {
        tag.Kind = TagEnd;
        skipBlanks = true;
      } else if (c == '/') {
        tag.Kind = TagEmpty;
        moveTo(ReadState::Close);
      } else if (c == '>') {
        return true;
      } else {
        appendRun(tag.Name, [](char d) { return !IsXmlBlank(d) && d != '/' && d != '>'; });
      }
    } else if (state == ReadState::Value && quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c != '&') {
        appendRun(value, [](char d) { return d != '"' && d != '&'; });
      } else if (const Reference* reference = MatchReference(s + position - 2)) {
        append(value, &reference->decoded, 1);
        position += reference->length - 1;
      } else {
        append(value, &c, 1);
      }
    } else if (state == ReadState::Close) {
      return c == '>';
    } else if (c == '/') {  // ends an attribute in Between, AfterName and Value
      addAttribute();
      tag.Kind = TagEmpty;
      moveTo(ReadState::Close);
    } else if (c == '>') {
      addAttribute();
      return true;
    } else if (state == ReadState::Value) {
      if (blank) {
        addAttribute();
        moveTo(ReadState::Between);
      } else if (c == '"') {
        quoted = true;
      } else {
        appendRun(value, [](char d) { return !IsXmlBlank(d) && d != '/' && d != '>' && d != '"'; });
      }
    } else if (blank) {  // only in Between: AfterName skips blanks
      moveTo(ReadState::AfterName);
    } else if (c == '=') {
      moveTo(ReadState::Value);
    } else if (state == ReadState::Between) {
      appendRun(name, [](char d) { return !IsXmlBlank(d) && d != '/' && d != '>' && d != '='; });
    } else {
      // After an attribute without a value, c starts the next name, which
      // (like any name) a blank ends.
      addAttribute();
      name.Append(&c, 1);
      state = ReadState::Between;
      skipBlanks = false;
    }
  }
  return false;
}

bool ReadXmlText(const zustring& text, unsigned& position, zustring& out) {
  out.SetLength(0);  // keeps out's block when it holds one of its own
  const char* s = text.c_str();
  unsigned length = text.Length();
  if (position == 0) position = 1;
  if (position > length) return false;
  const void* next = std::memchr(s + position - 1, '<', length - position + 1);
  unsigned end = next ? static_cast<unsigned>(static_cast<const char*>(next) - s) + 1 : length + 1;
  // Decoding only shortens the text, so it goes into a buffer of the
  // source's length; a text without references in one copy. No reference
  // contains a '<', so none runs past the end.
  const char* from = s + position - 1;
  const char* stop = s + end - 1;
  position = end;
  if (from == stop) return next != nullptr;
  out.SetLength(static_cast<int>(stop - from));
  char* start = out.GetWritableBuffer();
  char* to = start;
  if (!std::memchr(from, '&', stop - from)) {
    std::memcpy(to, from, stop - from);
    to += stop - from;
    from = stop;
  }
  while (from < stop) {
    if (*from != '&') {
      *to++ = *from++;
      continue;
    }
    const Reference* reference = MatchReference(from);
    *to++ = reference ? reference->decoded : '&';
    from += reference ? reference->length : 1;
  }
  out.SetLength(static_cast<int>(to - start));
  return next != nullptr;
}

void XmlEscape(zustring& text) {
  const char* s = text.c_str();
  unsigned length = text.Length();
  unsigned run = 0;
  while (run < length && !NeedsEscape(s[run])) ++run;
  if (run == length) return;
  zustring escaped;
  escaped.Reserve(length + length / 4, 5);
  // Runs of plain characters are copied at once (a count of 0 would mean
  // "to the NUL" to Append, so empty runs are skipped).
  for (unsigned start = 0;;) {
    if (run > start) escaped.Append(s + start, static_cast<int>(run - start));
    if (run == length) break;
    switch (s[run]) {
      case '"':
        escaped.Append("&quot;", 6);
        break;
      case '&':
        escaped.Append("&amp;", 5);
        break;
      case '<':
        escaped.Append("&lt;", 4);
        break;
      default:
        escaped.Append("&gt;", 4);
    }
    start = ++run;
    while (run < length && !NeedsEscape(s[run])) ++run;
  }
  text = escaped;
}

char* XmlUnescape(const char* text) {
  size_t length = std::strlen(text);
  char* result = static_cast<char*>(std::malloc(length + 1));
  if (!result) return nullptr;
  char* out = result;
  for (const char* p = text; *p;) {
    if (*p != '&') {
      *out++ = *p++;
      continue;
    }
    unsigned char byte;
    int consumed = XmlDecodeReference(p, &byte);
    if (consumed < 1) {
      std::free(result);
      return nullptr;
    }
    *out++ = static_cast<char>(byte);
    p += consumed;
  }
  *out = 0;
  return result;
}

int XmlDecodeReference(const char* ampersand, unsigned char* byte) {
  static const Reference kNamed[] = {
      {"&amp;", 5, '&'}, {"&apos;", 6, '\''}, {"&gt;", 4, '>'},
      {"&lt;", 4, '<'},  {"&quot;", 6, '"'},
  };
  for (const Reference& named : kNamed) {
    if (std::strncmp(ampersand, named.text, named.length) == 0) {
      *byte = static_cast<unsigned char>(named.decoded);
      return static_cast<int>(named.length);
    }
  }
  if (ampersand[1] != '#') return kXmlUnknownReference;
  bool hex = ampersand[2] == 'x';
  const char* p = ampersand + (hex ? 3 : 2);
  unsigned value = 0;
  for (; *p && *p != ';'; ++p) {
    char c = *p;
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return hex ? kXmlNotHexDigit : kXmlNotDecimalDigit;
    }
    value = value * (hex ? 16 : 10) + digit;
    if (value > 255) return hex ? kXmlHexAbove255 : kXmlDecimalAbove255;
  }
  *byte = static_cast<unsigned char>(value);
  return static_cast<int>(p - ampersand) + (*p == ';' ? 1 : 0);
}
