// The XML text helpers: the tag reader's states, character data and its
// references, escaping round trips and the reference decoder's results.
#include "misc/xmlhelper.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Tag {
  bool ok;
  std::string name;
  int kind;
  // name=value, or just the name when the attribute has no value
  std::vector<std::string> attributes;
  unsigned position;
};

Tag Read(const std::string& text, unsigned position = 1) {
  XmlTag tag;
  zustring source(text.c_str(), static_cast<unsigned>(text.size()));
  Tag result;
  result.ok = ReadXmlTag(source, position, tag);
  result.name = tag.Name.c_str();
  result.kind = tag.Kind;
  for (int i = 0; i < tag.AttributeCount(); ++i) {
    std::string attribute = (*tag.Attributes)[i].c_str();
    if (tag.HasValue(i)) attribute += "=" + std::string(tag.AttributeValue(i).c_str());
    result.attributes.push_back(attribute);
  }
  result.position = position;
  return result;
}

using Strings = std::vector<std::string>;

TEST(ReadXmlTag, KindsNamesAndAttributes) {
  struct Case {
    const char* text;
    const char* name;
    int kind;
    Strings attributes;
  };
  const Case cases[] = {
      {"<a>", "a", TagStart, {}},
      {"</a>", "a", TagEnd, {}},
      {"<a/>", "a", TagEmpty, {}},
      {"<a />", "a", TagEmpty, {""}},  // a blank before the end adds a nameless attribute
      {"  < / a>", "a", TagEnd, {}},
      {"<string name=\"k\">", "string", TagStart, {"name=k"}},
      {"<x a = \"1\" b>", "x", TagStart, {"a=1", "b"}},
      {"<a b c d>", "a", TagStart, {"b", "c", "d"}},
      {"<a x=\"\" y=>", "a", TagStart, {"x", "y"}},
      {"<a x=\"1\"\"2\" y=\"p\"q z=\"a b\tc\">", "a", TagStart, {"x=12", "y=pq", "z=a b\tc"}},
      {"<a x=\"&QUOT;&amp;&lt;&gT;&apos;&zz\"/>", "a", TagEmpty, {"x=\"&<>&apos;&zz"}},
      {"<a x=un&amp;quoted/>", "a", TagEmpty, {"x=un&amp;quoted"}},
      {"<a d=1 d=2>", "a", TagStart, {"d=1", "d=2"}},
      {"<a\r\n\tx=\"line\r\nbreak\"\n>", "a", TagStart, {"x=line\r\nbreak", ""}},
      {"<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>",
       "?xml",
       TagStart,
       {"version=1.0", "encoding=ISO8859-1", "?"}},
  };
  for (const Case& c : cases) {
    Tag tag = Read(c.text);
    EXPECT_TRUE(tag.ok) << c.text;
    EXPECT_EQ(tag.name, c.name) << c.text;
    EXPECT_EQ(tag.kind, c.kind) << c.text;
    EXPECT_EQ(tag.attributes, c.attributes) << c.text;
    EXPECT_EQ(tag.position, std::string(c.text).size() + 1) << c.text;
  }
}

TEST(ReadXmlTag, IncompleteTagsFail) {
  for (const char* text :
       {"", "   ", "x<a>", "<a", "<a x=\"1\"", "<a x=\"open>", "<a/x>", "<a / b>"}) {
    Tag tag = Read(text);
    EXPECT_FALSE(tag.ok) << text;
    EXPECT_LE(tag.position, std::string(text).size() + 1) << text;
  }
  // What was read before the failure stays in the tag.
  Tag partial = Read("<name a=\"1\" b=\"2");
  EXPECT_EQ(partial.name, "name");
  EXPECT_EQ(partial.attributes, Strings{"a=1"});
  // A position past the end reads nothing.
  EXPECT_FALSE(Read("<a>", 4).ok);
}

TEST(ReadXmlTag, LongValueInManyPiecesGrowsGeometrically) {
  // A reference every 13 bytes: the value is appended to in 150,000 pieces.
  std::string source = "<v x=\"", expected;
  for (int i = 0; i < 75000; ++i) {
    source += "twelve bytes&amp;";
    expected += "twelve bytes&";
  }
  source += "\"/>";
  XmlTag tag;
  unsigned position = 1;
  ASSERT_TRUE(ReadXmlTag(zustring(source.c_str()), position, tag));
  zustring value = tag.AttributeValue(0);
  EXPECT_EQ(value, expected.c_str());
  // Grown by exact fit for every piece, the block would end up the text
  // plus 24 bytes; grown geometrically, it has spare room short of doubling.
  zustring::BlockView block = value.InspectBlock();
  EXPECT_GT(block.blockSize, block.length + 24);
  EXPECT_LT(block.blockSize, 2 * block.length + 24);
}

TEST(ReadXmlText, ReferencesBlanksAndTheEnd) {
  zustring text("a&lt;b</x>");
  unsigned position = 1;
  zustring out("old");
  ASSERT_TRUE(ReadXmlText(text, position, out));
  EXPECT_EQ(out, "a<b");
  EXPECT_EQ(position, 7u);
  EXPECT_EQ(text.CharAt(position), '<');
  // At a '<' the text is empty.
  ASSERT_TRUE(ReadXmlText(text, position, out));
  EXPECT_TRUE(out.IsEmpty());

  zustring mixed("&AMP;&Quot;&GT;&apos;&x& \r\n\t <");
  position = 1;
  ASSERT_TRUE(ReadXmlText(mixed, position, out));
  EXPECT_EQ(out, "&\">&apos;&x& \r\n\t ");

  zustring open("no tag follows &amp;");
  position = 1;
  EXPECT_FALSE(ReadXmlText(open, position, out));
  EXPECT_EQ(out, "no tag follows &");
  position = 1;
  EXPECT_FALSE(ReadXmlText(zustring(), position, out));
}

TEST(XmlEscape, EscapesFourCharactersAndRoundTrips) {
  zustring text("a\"b&c<d>e'f");
  XmlEscape(text);
  EXPECT_EQ(text, "a&quot;b&amp;c&lt;d&gt;e'f");
  zustring leading("<&>\"x\"");
  XmlEscape(leading);
  EXPECT_EQ(leading, "&lt;&amp;&gt;&quot;x&quot;");
  zustring plain("\x01\x7F\xFF text");
  XmlEscape(plain);
  EXPECT_EQ(plain, "\x01\x7F\xFF text");

  // Every byte but NUL reads back as it was.
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  zustring escaped(all.c_str());
  XmlEscape(escaped);
  zustring document = escaped + "<";
  unsigned position = 1;
  zustring back;
  ASSERT_TRUE(ReadXmlText(document, position, back));
  EXPECT_EQ(std::string(back.c_str(), back.Length()), all);
  char* unescaped = XmlUnescape(escaped.c_str());
  ASSERT_NE(unescaped, nullptr);
  EXPECT_EQ(std::string(unescaped), all);
  std::free(unescaped);
}

TEST(XmlDecodeReference, ResultsAndErrors) {
  struct Case {
    const char* text;
    int result;
    int byte;
  };
  const Case cases[] = {
      {"&#65;", 5, 65},
      {"&#x41;", 6, 65},
      {"&#xfF;", 6, 255},
      {"&amp;", 5, '&'},
      {"&apos;x", 6, '\''},
      {"&quot;", 6, '"'},
      {"&#65", 4, 65},
      {"&#;", 3, 0},
      {"&#x;", 4, 0},
      {"&#0000000000065;", 16, 65},
      {"&#256;", -5, -1},
      {"&#x100;", -3, -1},
      {"&#6a;", -4, -1},
      {"&#xg;", -2, -1},
      {"&#X41;", -4, -1},
      {"&AMP;", -6, -1},
      {"&", -6, -1},
      {"&#99999999999999999999999;", -5, -1},
      {"&#xFFFFFFFFFFFFFFFFFFFF;", -3, -1},
  };
  for (const Case& c : cases) {
    unsigned char byte = 0xAA;
    EXPECT_EQ(XmlDecodeReference(c.text, &byte), c.result) << c.text;
    if (c.result > 0) {
      EXPECT_EQ(byte, c.byte) << c.text;
    }
  }
}

TEST(XmlUnescape, DecodesOrRefuses) {
  char* text = XmlUnescape("a&amp;b&#x41;&#66;&apos;");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "a&bAB'");
  std::free(text);
  text = XmlUnescape("cut&#0;here");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "cut");
  std::free(text);
  EXPECT_EQ(XmlUnescape("bad &nbsp; reference"), nullptr);
  EXPECT_EQ(XmlUnescape("&#300;"), nullptr);
}

}  // namespace
