// The shared string: sharing, growth, editing, search, formatting and the
// converters, observed through the public interface and the block view.
#include "misc/zustring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

namespace {

const void* BlockOf(const zustring& s) {
  return s.InspectBlock().block;
}
std::string Bytes(const zustring& s) {
  return std::string(s.c_str(), s.Length());
}

TEST(ZuString, ConstructionSharingAndCopyOnWrite) {
  zustring abc("abc");
  EXPECT_EQ(abc.Length(), 3u);
  EXPECT_EQ(abc.InspectBlock().blockSize, 3u + 24u);
  EXPECT_EQ(abc.InspectBlock().refCount, 1);

  zustring none(nullptr), empty("");
  EXPECT_EQ(BlockOf(none), nullptr);
  EXPECT_EQ(BlockOf(empty), nullptr);
  EXPECT_STREQ(none.c_str(), "");
  EXPECT_TRUE(none.IsEmpty());

  zustring withZero("ab\0cd", 5);
  EXPECT_EQ(withZero.Length(), 5u);
  EXPECT_EQ(Bytes(withZero), std::string("ab\0cd", 5));
  EXPECT_EQ(zustring('\0').Length(), 1u);

  zustring a("a");
  zustring b(a);
  EXPECT_EQ(BlockOf(a), BlockOf(b));
  EXPECT_EQ(a.InspectBlock().refCount, 2);
  b += "x";
  EXPECT_NE(BlockOf(a), BlockOf(b));
  EXPECT_EQ(a, "a");
  EXPECT_EQ(b, "ax");
  EXPECT_EQ(a.InspectBlock().refCount, 1);

  // Assigning the same block changes nothing; another block drops the old one.
  zustring c(a);
  c = a;
  EXPECT_EQ(a.InspectBlock().refCount, 2);
  c = b;
  EXPECT_EQ(a.InspectBlock().refCount, 1);
  EXPECT_EQ(b.InspectBlock().refCount, 2);
  c.Reset();
  EXPECT_EQ(BlockOf(c), nullptr);

  // Appending to a null string shares the other's block.
  zustring target;
  target.Append(b);
  EXPECT_EQ(BlockOf(target), BlockOf(b));

  // A writable buffer is private; CharAt reads without copying.
  zustring shared(b);
  EXPECT_EQ(shared.CharAt(2), 'x');
  EXPECT_EQ(BlockOf(shared), BlockOf(b));
  shared.GetWritableBuffer()[0] = 'Z';
  EXPECT_EQ(b, "ax");
  EXPECT_EQ(shared, "Zx");
  EXPECT_EQ(zustring().GetWritableBuffer(), nullptr);

  // Appending a string to itself, also when that forces growth.
  zustring self("0123456789");
  for (int i = 0; i < 4; ++i) self.Append(self);
  EXPECT_EQ(self.Length(), 160u);
  EXPECT_EQ(Bytes(self).substr(150), "0123456789");
}

TEST(ZuString, ClearAssignAndReserveKeepOrDropTheBlock) {
  zustring plain("text");
  plain.Clear();
  EXPECT_EQ(BlockOf(plain), nullptr);

  zustring hinted;
  hinted.Reserve(76, 10);
  EXPECT_EQ(hinted.InspectBlock().blockSize, 100u);
  EXPECT_EQ(hinted.InspectBlock().growthHint, 10u);
  hinted.Assign("hello");
  const void* block = BlockOf(hinted);
  hinted.Clear();
  EXPECT_EQ(BlockOf(hinted), block);
  EXPECT_EQ(hinted.Length(), 0u);
  EXPECT_STREQ(hinted.c_str(), "");

  // Appending into the kept empty block copies the text instead of sharing.
  zustring other("other");
  hinted.Append(other);
  EXPECT_EQ(BlockOf(hinted), block);
  EXPECT_EQ(hinted, "other");

  hinted.Assign("");
  EXPECT_EQ(BlockOf(hinted), block);
  EXPECT_TRUE(hinted.IsEmpty());
  zustring dropped("abc");
  dropped.Assign(nullptr);
  EXPECT_EQ(BlockOf(dropped), nullptr);

  // The hint is stored in a shared block for all of its holders.
  zustring first("shared");
  zustring second(first);
  second.Reserve(0, 5);
  EXPECT_EQ(first.InspectBlock().growthHint, 5u);
  EXPECT_EQ(BlockOf(first), BlockOf(second));
}

TEST(ZuString, GrowthArithmetic) {
  zustring s;
  s.Reserve(76, 10);  // a 100-byte block
  s.SetLength(120);
  EXPECT_EQ(s.InspectBlock().blockSize, 200u);

  zustring t;
  t.Reserve(76, 10);
  t.SetLength(190);  // the doubled block would leave 10 bytes: exact fit instead
  EXPECT_EQ(t.InspectBlock().blockSize, 214u);

  zustring half;
  half.Reserve(76, 5);
  half.Append(std::string(90, 'h').c_str(), 90);
  EXPECT_EQ(half.InspectBlock().blockSize, 150u);

  // Without a hint every growth is an exact fit; in-place up to blockSize - 20.
  zustring exact("abcd");  // 28 bytes, capacity 8
  const void* block = BlockOf(exact);
  exact.Append("efgh", 4);
  EXPECT_EQ(BlockOf(exact), block);
  EXPECT_EQ(exact.InspectBlock().blockSize, 28u);
  exact.Append("i", 1);
  EXPECT_EQ(exact.InspectBlock().blockSize, 9u + 24u);
  EXPECT_EQ(exact, "abcdefghi");

  // A copied block keeps its size and hint.
  zustring hinted;
  hinted.Reserve(10, 10);
  hinted.Assign("x");
  zustring copy(hinted);
  copy.MakeUnique();
  EXPECT_NE(BlockOf(copy), BlockOf(hinted));
  EXPECT_EQ(copy.InspectBlock().blockSize, hinted.InspectBlock().blockSize);
  EXPECT_EQ(copy.InspectBlock().growthHint, 10u);
}

TEST(ZuString, ThreadsCopyingAndDroppingOneString) {
  zustring shared("a text shared between threads");
  auto work = [&shared] {
    for (int i = 0; i < 200000; ++i) {
      zustring copy(shared);
      zustring second;
      second = copy;
      if (i % 64 == 0) {
        second.Append("!", 1);  // a private copy made while the other thread shares
        if (second != "a text shared between threads!") std::abort();
      }
    }
  };
  std::thread one(work), two(work);
  one.join();
  two.join();
  EXPECT_EQ(shared.InspectBlock().refCount, 1);
  EXPECT_EQ(shared, "a text shared between threads");
}

TEST(ZuString, MidInsertTrimBoundaries) {
  zustring s("abcdef");
  EXPECT_EQ(s.Mid(2, 3), "bcd");
  EXPECT_EQ(s.Mid(5, 10), "ef");
  EXPECT_EQ(s.Mid(3, 0), "cdef");
  EXPECT_EQ(s.Mid(6, 1), "f");
  EXPECT_TRUE(s.Mid(7, 1).IsEmpty());
  EXPECT_EQ(s.Mid(2, 0xFFFFFFFFu), "bcdef");  // pos - 1 + count passes 2^32
  EXPECT_EQ(s.Mid(6, 0xFFFFFFFBu), "f");
  EXPECT_TRUE(zustring().Mid(1, 1).IsEmpty());

  zustring abc("abc");
  zustring keep(abc);
  abc.Insert("XY", 2, 2);
  EXPECT_EQ(abc, "aXYbc");
  EXPECT_EQ(keep, "abc");
  zustring end("abc");
  end.Insert("XY", 2, 10);
  EXPECT_EQ(end, "abcXY");
  zustring front("abc");
  front.Insert("XY", 2, 0);
  EXPECT_EQ(front, "XYabc");
  zustring fromNull;
  fromNull.Insert("XYZ", 2, 5);
  EXPECT_EQ(fromNull, "XY");

  zustring padded("  abc \r\n");
  EXPECT_EQ(padded.Trim(), "abc");
  zustring clean("abc");
  EXPECT_EQ(BlockOf(clean.Trim()), BlockOf(clean));
  EXPECT_EQ(BlockOf(zustring(" \t ").Trim()), nullptr);
  EXPECT_EQ(zustring("caf\xE9").Trim(), "caf");
  EXPECT_EQ(zustring("\x01x\x7F").Trim(), "x\x7F");

  zustring text("x");
  text.SetLength(-4);
  EXPECT_TRUE(text.IsEmpty());
  zustring sized;
  sized.SetLength(3);
  EXPECT_EQ(sized.Length(), 3u);
  EXPECT_EQ(sized.c_str()[3], '\0');
}

TEST(ZuString, FindReverseFindAndComparison) {
  zustring s("abcdef");
  EXPECT_EQ(s.Find("cd"), 3u);
  EXPECT_EQ(s.Find(""), 1u);
  EXPECT_EQ(s.Find("cdx"), 0u);
  EXPECT_EQ(zustring().Find(""), 0u);
  EXPECT_EQ(zustring("a/b/c").ReverseFind("/"), 4u);
  EXPECT_EQ(zustring("a\\b/c").ReverseFind("/\\"), 4u);
  EXPECT_EQ(zustring("abc").ReverseFind("/\\"), 0u);
  EXPECT_EQ(zustring().ReverseFind("/"), 0u);

  EXPECT_TRUE(zustring() == "");
  EXPECT_TRUE(zustring() == static_cast<const char*>(nullptr));
  EXPECT_FALSE(zustring("a") == "");
  EXPECT_TRUE(zustring("abc") != "abd");
  EXPECT_FALSE(zustring("abc") == "ABC");
  zustring hinted;
  hinted.Reserve(8, 1);
  EXPECT_TRUE(hinted == "");
  EXPECT_TRUE(hinted == zustring());

  EXPECT_EQ(zustring("42abc").ToInt(), 42);
  EXPECT_EQ(zustring("-17").ToInt(), -17);
  EXPECT_EQ(zustring().ToInt(), 0);
  // Out of 32-bit range the value saturates, as strtol does on the 32-bit system.
  EXPECT_EQ(zustring("2147483647").ToInt(), INT32_MAX);
  EXPECT_EQ(zustring("3000000000").ToInt(), INT32_MAX);
  EXPECT_EQ(zustring("-2147483648").ToInt(), INT32_MIN);
  EXPECT_EQ(zustring("-3000000000x").ToInt(), INT32_MIN);
  EXPECT_EQ(zustring("MiXeD \xC9").ToLower(), "mixed \xC9");
  EXPECT_EQ(zustring("MiXeD \xE9").ToUpper(), "MIXED \xE9");
  EXPECT_EQ(zustring("a") + "b" + zustring("c"), "abc");
}

TEST(ZuString, FormatIntoNullFullAndLargeBlocks) {
  zustring s;
  EXPECT_EQ(s.Format("%d", 42), 2);
  EXPECT_EQ(s, "42");
  EXPECT_EQ(s.InspectBlock().blockSize, 26u);

  // A text that fits the capacity stays in the block.
  zustring roomy;
  roomy.Reserve(64, 0);
  const void* block = BlockOf(roomy);
  EXPECT_EQ(roomy.Format("%s-%d", "name", 7), 6);
  EXPECT_EQ(BlockOf(roomy), block);
  EXPECT_EQ(roomy, "name-7");

  // A full block (text as long as the capacity) is replaced by an exact one.
  zustring full;
  full.Reserve(8, 0);
  EXPECT_EQ(full.Format("%s", "12345678"), 8);
  EXPECT_EQ(full.InspectBlock().blockSize, 32u);
  EXPECT_EQ(full, "12345678");

  // A shared block is not written.
  zustring original("original text");
  zustring copy(original);
  copy.Format("%d", 1);
  EXPECT_EQ(original, "original text");
  EXPECT_EQ(copy, "1");

  // Texts past the 4 KiB scratch buffer are measured in temporaries.
  std::string big(10000, 'q');
  zustring large;
  EXPECT_EQ(large.Format("<%s>", big.c_str()), 10002);
  EXPECT_EQ(large.Length(), 10002u);
  EXPECT_EQ(Bytes(large), "<" + big + ">");

  zustring appended("head:");
  EXPECT_EQ(appended.AppendFormat("%s", big.c_str()), 10000);
  EXPECT_EQ(appended.AppendFormat("%c%d", '#', 5), 2);
  EXPECT_EQ(Bytes(appended), "head:" + big + "#5");
  zustring fromNull;
  EXPECT_EQ(fromNull.AppendFormat("%05d", 12), 5);
  EXPECT_EQ(fromNull, "00012");

  // More than fits the last 4 MiB measuring buffer cannot be formatted: -1,
  // the text stays valid.
  std::string huge(4194305, 'h');
  zustring kept("kept");
  EXPECT_EQ(kept.AppendFormat("%s", huge.c_str()), -1);
  EXPECT_EQ(kept, "kept");
  zustring replaced("old");
  EXPECT_EQ(replaced.Format("%s", huge.c_str()), -1);
  EXPECT_TRUE(replaced.IsEmpty());
  std::string almost(4194302, 'a');
  zustring fits;
  EXPECT_EQ(fits.Format("%s", almost.c_str()), 4194302);
}

int Measure(char* buffer, unsigned size, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int r = zustring::FormattedLength(buffer, size, fmt, args);
  va_end(args);
  return r;
}

TEST(ZuString, FormattedLengthMeasuresWithEveryBuffer) {
  char small[4];
  EXPECT_EQ(Measure(small, sizeof small, "%d", 123), 3);
  EXPECT_STREQ(small, "123");
  EXPECT_EQ(Measure(small, sizeof small, "%d", 1234), 4);
  EXPECT_EQ(std::string(small, 4), "1234");  // a text that just fits has no terminator
  EXPECT_EQ(Measure(nullptr, 0, "%s%s", "ab", "cd"), 4);
  std::string text(5000, 'm');
  EXPECT_EQ(Measure(nullptr, 0, "%s|%s", text.c_str(), text.c_str()), 10001);
}

TEST(ZuString, ConvertersAtTheEdgeBytes) {
  EXPECT_EQ(BlockOf(zustring::Latin1ToUtf8("")), nullptr);
  EXPECT_EQ(Bytes(zustring::Utf8ToLatin1("\xE2\x82\xAC", '?')), "?");
  EXPECT_EQ(Bytes(zustring::Utf8ToLatin1("a\xC3"
                                         "Ab",
                                         '?')),
            "a?b");  // C3 takes A with it
  EXPECT_EQ(Bytes(zustring::Utf8ToLatin1("a\xC2", '?')), "a?");
  EXPECT_EQ(Bytes(zustring::Utf8ToLatin1("\x80\x80x", '_')), "_x");
  EXPECT_EQ(Bytes(zustring::Utf8ToLatin1("\xF0\x9F\x98\x80!", '?')), "?!");
  // A length shorter than the text: nothing past it is read or written.
  std::string accents(1000, '\xE9');
  EXPECT_EQ(Bytes(zustring::Latin1ToUtf8(accents.c_str(), 2)), "\xC3\xA9\xC3\xA9");
  std::string utf8Accents;
  for (int i = 0; i < 1000; ++i) utf8Accents += "\xC3\xA9";
  EXPECT_EQ(Bytes(zustring::Utf8ToLatin1(utf8Accents.c_str(), '?', 4)), "\xE9\xE9");
  EXPECT_EQ(Bytes(zustring::Utf8ToLatin1(utf8Accents.c_str(), '?', 3)), "\xE9?");  // cut sequence
  EXPECT_EQ(Bytes(zustring::Utf8ToLatin1("\xE2\x82\xAC!", '?', 2)), "?");
  EXPECT_EQ(zustring::Utf8ToLatin1("abc", '?', 2), "ab");

  // Every Latin-1 byte survives the round trip, and its UTF-8 form is the
  // general two-byte encoding of its code point (110xxxxx 10xxxxxx).
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  zustring utf8 = zustring::Latin1ToUtf8(all.c_str());
  std::string reference;
  for (unsigned char c : all) {
    if (c < 0x80) {
      reference += static_cast<char>(c);
    } else {
      reference += static_cast<char>(0xC0 | (c >> 6));
      reference += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  EXPECT_EQ(Bytes(utf8), reference);
  EXPECT_EQ(Bytes(zustring::Utf8ToLatin1(utf8.c_str(), '?')), all);
}

}  // namespace
