/*
** XML text helpers: a small, forgiving reader that takes one tag or one run
** of character data at a time from a text in memory, and the escaping rules
** of the library's XML output.
**
** The reader is no XML parser: it keeps no structure and checks no names or
** nesting; its caller does. Positions are 1-based indexes into the text and
** are kept by the caller; a position past the end means the end. The value
** store's Values.xml files are written and read with these rules.
*/
#pragma once

#include <cstdint>
#include <vector>

#include "misc/stringlist.h"
#include "misc/zustring.h"

enum XmlTagKind : int32_t {
  TagStart = 0,  // <name ...>
  TagEnd = 1,    // </name>
  TagEmpty = 2,  // <name .../>
};

/* One tag as ReadXmlTag found it. Attributes keep their order, duplicates
** included; each item of Attributes is an attribute name whose tag word
** numbers its value (1-based, in the tag's own value store) or is 0 when
** the attribute has no value or an empty one. */
class XmlTag {
 public:
  XmlTag() = default;
  XmlTag(const XmlTag&) = delete;
  XmlTag& operator=(const XmlTag&) = delete;
  ~XmlTag();

  /* Empties the tag for the next one; the attribute list is kept for reuse. */
  void Reset();
  void AddAttribute(const zustring& name, const zustring& value);
  int AttributeCount() const { return Attributes ? Attributes->Count() : 0; }
  /* The value of attribute index; empty when it has none. */
  zustring AttributeValue(int index) const;
  bool HasValue(int index) const { return Attributes->Tag(index) != 0; }

  zustring Name;  // "?xml" for the XML declaration
  int32_t Kind = TagStart;
  StringList* Attributes = nullptr;  // made by the first attribute

 private:
  std::vector<zustring> values_;
};

/* The blanks of the reader: space, tab, CR and LF. */
inline bool IsXmlBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/* Reads one tag at position. Blanks after '<', around '=' and between '/'
** and '>' are skipped; values may be quoted (the references &quot; &amp;
** &lt; &gt; decoded without regard to case) or not. False when no complete
** tag was read (end of text, no '<' where the tag must start, no '>' after
** '/'); the tag then holds what was read. */
bool ReadXmlTag(const zustring& text, unsigned& position, XmlTag& tag);
/* Reads character data up to the next '<' (left at position), decoding
** &quot; &amp; &lt; &gt; without regard to case and keeping everything
** else, blanks and line breaks included. False at the end of the text. */
bool ReadXmlText(const zustring& text, unsigned& position, zustring& out);
/* Replaces " & < > by &quot; &amp; &lt; &gt;; nothing else changes. */
void XmlEscape(zustring& text);
/* A copy of text with every reference decoded (see XmlDecodeReference), to
** be freed with free(); none when a reference is bad or memory is short. */
char* XmlUnescape(const char* text);
/* Why XmlDecodeReference refused a reference. */
enum XmlReferenceError : int {
  kXmlNotHexDigit = -2,
  kXmlHexAbove255 = -3,
  kXmlNotDecimalDigit = -4,
  kXmlDecimalAbove255 = -5,
  kXmlUnknownReference = -6,  // an unknown or misspelt name, or no name at all
};
/* Decodes the reference at ampersand into *byte: &amp; &apos; &gt; &lt;
** &quot; (with case), &#ddd; and &#xhh; up to 255. Returns the number of
** characters it takes, or an XmlReferenceError (below 0). */
int XmlDecodeReference(const char* ampersand, unsigned char* byte);
