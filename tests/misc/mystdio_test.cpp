// The buffered file stream on real files: open modes, buffered and
// unbuffered reads and writes, switching between them, lines, items,
// push-back, positions, formatted output and its limits.
#include "misc/mystdio.h"

#include <gtest/gtest.h>

#include <string>

#include "support/platform_env.h"
#include "support/temp_dir.h"

namespace {

class MyStdio : public testing::Test {
 protected:
  TempDir temp;
  std::string Path(const char* name) const { return temp / name; }
  WinFile* Open(const char* name, const char* mode, size_t buffer = 0) {
    WinFile* stream = winFopen(Path(name).c_str(), mode);
    if (stream && buffer) {
      EXPECT_EQ(winSetvbuf(stream, nullptr, 0, buffer), 0);
    }
    return stream;
  }
  std::string ReadAll(WinFile* stream) {
    std::string text;
    for (int c, i = 0; i < 100000 && (c = winFgetc(stream)) != -1; ++i) text += char(c);
    return text;
  }
};

TEST_F(MyStdio, OpenModes) {
  EXPECT_EQ(Open("missing", "r"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  char text[128];
  EXPECT_GT(winLastErrorText(text, sizeof text), 0);
  if (!platform_env::WineDeparts("Wine words error 2 \"File not found.\"")) {
    EXPECT_STREQ(text, "The system cannot find the file specified.\r\n");
  }

  WinFile* out = Open("f", "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(winFputs("hello", out), 5);
  winFclose(out);
  out = Open("f", "a");
  EXPECT_EQ(winFtell(out), 5);
  EXPECT_EQ(winFputs(" world", out), 6);
  winFclose(out);
  EXPECT_EQ(temp.Read("f"), "hello world");

  // r+ writes in place; w truncates.
  WinFile* both = Open("f", "r+");
  EXPECT_EQ(winFgetc(both), 'h');
  EXPECT_EQ(winFputs("E", both), 1);
  winFclose(both);
  EXPECT_EQ(temp.Read("f"), "hEllo world");

  // Without 's' only reading is shared: a writer is refused while a reader
  // is open, and the refused "w" truncates nothing.
  WinFile* reader = Open("f", "r");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(Open("f", "w"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(temp.Read("f"), "hEllo world");
  WinFile* second = Open("f", "rl");
  EXPECT_NE(second, nullptr);
  winFclose(second);
  winFclose(reader);
  WinFile* shared = Open("f", "rs");
  WinFile* writer = Open("f", "ws");
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(Open("f", "r"), nullptr);  // would refuse the open writer
  winFclose(writer);
  winFclose(shared);
  EXPECT_EQ(temp.Read("f"), "");
}

TEST_F(MyStdio, SetvbufSizes) {
  temp.Write("f", "0123456789");
  WinFile* stream = Open("f", "r+");
  EXPECT_EQ(winSetvbuf(stream, nullptr, 0, 100), 0);
  EXPECT_EQ(stream->IoSize, 96u);
  EXPECT_EQ(winSetvbuf(stream, nullptr, 0x40, 30), 0);
  EXPECT_EQ(stream->IoSize, 16u);
  EXPECT_EQ(winSetvbuf(stream, nullptr, 4, 4096), 0);
  EXPECT_EQ(stream->IoBuffer, nullptr);
  EXPECT_EQ(winSetvbuf(stream, nullptr, 0, 15), 0);
  EXPECT_EQ(stream->IoBuffer, nullptr);
  char own[64];
  EXPECT_EQ(winSetvbuf(stream, own, 0, sizeof own), -1);

  // Refused while bytes are buffered; read-ahead nothing was taken from
  // goes back to the file.
  EXPECT_EQ(winSetvbuf(stream, nullptr, 0, 64), 0);
  EXPECT_EQ(winFgetc(stream), '0');
  EXPECT_EQ(winSetvbuf(stream, nullptr, 0, 32), -1);
  EXPECT_EQ(winUngetc('0', stream), '0');
  EXPECT_EQ(winSetvbuf(stream, nullptr, 0, 32), 0);
  EXPECT_EQ(ReadAll(stream), "0123456789");
  EXPECT_EQ(winFputs("ab", stream), 2);
  EXPECT_EQ(winSetvbuf(stream, nullptr, 0, 32), -1);
  winFclose(stream);
  EXPECT_EQ(temp.Read("f"), "0123456789ab");
}

TEST_F(MyStdio, BufferedWrites) {
  WinFile* stream = Open("f", "w", 16);
  EXPECT_EQ(winFwrite("abc", 1, 3, stream), 3);
  EXPECT_EQ(temp.Read("f"), "");
  EXPECT_EQ(winFtell(stream), 3);
  EXPECT_EQ(winFflush(stream), 0);
  EXPECT_EQ(temp.Read("f"), "abc");
  EXPECT_EQ(winFtell(stream), 3);

  // winFputs writes each full buffer; a large winFwrite goes straight out.
  std::string forty(40, 'p');
  EXPECT_EQ(winFputs(forty.c_str(), stream), 40);
  EXPECT_EQ(temp.Read("f").size(), 3u + 32u);
  EXPECT_EQ(winFwrite(std::string(20, 'w').c_str(), 4, 5, stream), 5);
  EXPECT_EQ(temp.Read("f"), "abc" + forty + std::string(20, 'w'));
  EXPECT_EQ(winFwrite("xy", 2, 1, stream), 1);
  EXPECT_EQ(winFtell(stream), 65);
  EXPECT_EQ(winFwrite("z", 0, 5, stream), 0);
  winFclose(stream);
  EXPECT_EQ(temp.Read("f").size(), 65u);

  // Writing to a read-only stream fails and reports the platform's reason.
  temp.Write("ro", "x");
  WinFile* readOnly = Open("ro", "r");
  EXPECT_EQ(winFputs("no", readOnly), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(winSetvbuf(readOnly, nullptr, 0, 16), 0);
  EXPECT_EQ(winFputs("no", readOnly), 2);
  EXPECT_EQ(winFflush(readOnly), -1);
  winFclose(readOnly);
  EXPECT_EQ(temp.Read("ro"), "x");
}

TEST_F(MyStdio, SwitchingBetweenReadingAndWriting) {
  for (size_t buffer : {size_t{0}, size_t{16}, size_t{64}}) {
    SCOPED_TRACE(buffer);
    temp.Write("f", "abcdefghij");
    WinFile* stream = Open("f", "r+", buffer);
    EXPECT_EQ(winFgetc(stream), 'a');
    EXPECT_EQ(winFgetc(stream), 'b');
    EXPECT_EQ(winFtell(stream), 2);
    EXPECT_EQ(winFseek(stream, 0, 1), 0);
    EXPECT_EQ(winFputs("XY", stream), 2);
    EXPECT_EQ(winFtell(stream), 4);
    EXPECT_EQ(winFgetc(stream), 'e');  // the pending XY reach the file first
    EXPECT_EQ(winFputs("Z", stream), 1);
    EXPECT_EQ(winFseek(stream, -3, 2), 0);
    EXPECT_EQ(ReadAll(stream), "hij");
    EXPECT_EQ(winFseek(stream, 0, 0), 0);
    EXPECT_EQ(ReadAll(stream), "abXYeZghij");
    EXPECT_EQ(winFseek(stream, -1, 0), -1);
    EXPECT_EQ(winFseek(stream, 0, 3), -1);
    EXPECT_EQ(winFtell(stream), 10);
    winFclose(stream);
    EXPECT_EQ(temp.Read("f"), "abXYeZghij");
  }
}

TEST_F(MyStdio, Lines) {
  // Lines longer than the buffer, lines cut at the capacity, a last line
  // without its end.
  std::string longLine(40, 'l');
  temp.Write("g", longLine + "\nabcd\n\nend");
  for (size_t buffer : {size_t{0}, size_t{16}}) {
    SCOPED_TRACE(buffer);
    WinFile* stream = Open("g", "r", buffer);
    char line[64];
    EXPECT_EQ(winFgets(line, sizeof line, stream), line);
    EXPECT_EQ(line, longLine + "\n");
    EXPECT_STREQ(winFgets(line, 5, stream), "abcd");
    EXPECT_STREQ(winFgets(line, 5, stream), "\n");
    EXPECT_STREQ(winFgets(line, 5, stream), "\n");
    EXPECT_EQ(winFtell(stream), 47);
    EXPECT_STREQ(winFgets(line, 2, stream), "e");
    EXPECT_EQ(winFgets(line, 1, stream), nullptr);
    EXPECT_STREQ(winFgets(line, sizeof line, stream), "nd");
    EXPECT_EQ(winFgets(line, sizeof line, stream), nullptr);
    winFclose(stream);
  }
}

TEST_F(MyStdio, ItemsAndPushBack) {
  temp.Write("f", "0123456789");
  char items[12] = {};
  WinFile* stream = Open("f", "r", 16);
  EXPECT_EQ(winFread(items, 4, 3, stream), 2);
  EXPECT_EQ(std::string(items, 8), "01234567");
  EXPECT_EQ(winFtell(stream), 8);
  EXPECT_EQ(stream->IoFilled - stream->IoPos, 2u);
  EXPECT_EQ(winFread(items, 1, 10, stream), 2);
  EXPECT_EQ(std::string(items, 2), "89");
  EXPECT_EQ(winFread(items, 1, 1, stream), 0);
  winFclose(stream);

  // Reads across refills of a small buffer.
  std::string data;
  for (int i = 0; i < 100; ++i) data += char('A' + i % 26);
  temp.Write("g", data);
  stream = Open("g", "r", 16);
  char big[100];
  EXPECT_EQ(winFread(big, 6, 16, stream), 16);
  EXPECT_EQ(std::string(big, 96), data.substr(0, 96));
  EXPECT_EQ(winFread(big, 3, 2, stream), 1);
  EXPECT_EQ(winFtell(stream), 99);
  winFclose(stream);

  // Unbuffered, one read: a partial item is consumed but not counted.
  stream = Open("f", "r");
  EXPECT_EQ(winFread(items, 4, 3, stream), 2);
  EXPECT_EQ(winFtell(stream), 10);
  EXPECT_EQ(winUngetc('x', stream), 'x');
  EXPECT_EQ(winFgetc(stream), '9');  // the file's byte is read again
  winFclose(stream);
  stream = Open("f", "r");
  EXPECT_EQ(winUngetc('x', stream), -1);  // nothing before the start
  winFclose(stream);

  // Buffered: the pushed-back byte is read next, also at the buffer start.
  stream = Open("f", "r", 16);
  EXPECT_EQ(winFgetc(stream), '0');
  EXPECT_EQ(winUngetc('z', stream), 'z');
  EXPECT_EQ(winFtell(stream), 0);
  EXPECT_EQ(winFgetc(stream), 'z');
  EXPECT_EQ(winFgetc(stream), '1');
  EXPECT_EQ(winFseek(stream, 5, 0), 0);
  EXPECT_EQ(winUngetc(0x1FF, stream), 0xFF);
  EXPECT_EQ(winFtell(stream), 4);
  EXPECT_EQ(winFgetc(stream), 0xFF);
  EXPECT_EQ(winFgetc(stream), '5');
  EXPECT_EQ(winUngetc(-1, stream), -1);
  winFclose(stream);
}

TEST_F(MyStdio, BufferedPrintf) {
  WinFile* stream = Open("f", "w", 512);
  std::string expected;
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(winPrintf(stream, "line %d %s\n", i, "text"), i < 10 ? 12 : 13);
    expected += "line " + std::to_string(i) + " text\n";
  }
  // Whenever fewer than 256 bytes were free, the buffer was written before
  // formatting: at 263 and at 260 bytes pending.
  EXPECT_EQ(temp.Read("f").size(), 263u + 260u);
  EXPECT_EQ(winPrintf(stream, "%s", std::string(512, 'x').c_str()), 512);
  expected += std::string(512, 'x');
  EXPECT_LT(winPrintf(stream, "%s", std::string(513, 'y').c_str()), 0);
  EXPECT_EQ(winPrintf(stream, "%s", ""), 0);
  winFclose(stream);
  EXPECT_EQ(temp.Read("f"), expected);

  // Unbuffered, a text just short of the format buffer's size is written.
  stream = Open("g", "w");
  std::string text(WIN_FORMAT_BUFFER_SIZE - 1, 'u');
  EXPECT_EQ(winPrintf(stream, "%s", text.c_str()), 4095);
  EXPECT_EQ(stream->GuardWord, WIN_GUARD_WORD);
  winFclose(stream);
  EXPECT_EQ(temp.Read("g"), text);
}

// The process ends with the message in a message box: the stand-in's
// writes it to stderr, Windows' shows it on the desktop.
TEST(MyStdioDeathTest, UnbufferedPrintfOverflowEndsProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static WinFile* stream = nullptr;
  std::string text(WIN_FORMAT_BUFFER_SIZE - 1, 'u');
  EXPECT_EXIT(
      {
        stream = winFopen(platform_env::kWindows ? "NUL" : "/dev/null", "w");
        winPrintf(stream, "%s%s", text.c_str(), "!");
      },
      testing::ExitedWithCode(1),
      platform_env::kWindows
          ? ""
          : "Buffer Overflow: mystdio:winPrintf\\(\\) - string maior que 4096 bytes");
}

TEST_F(MyStdio, NullStreamAndBadArguments) {
  char buffer[8];
  WinFile* noFile = winFdopen(INVALID_HANDLE_VALUE);
  EXPECT_EQ(noFile->GuardWord, WIN_GUARD_WORD);
  EXPECT_EQ(winFgetc(noFile), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  winFclose(noFile);
  EXPECT_EQ(winFopen(nullptr, "r"), nullptr);
  EXPECT_EQ(winFgets(buffer, sizeof buffer, nullptr), nullptr);
  for (int result :
       {winFputs("x", nullptr), winFwrite("x", 1, 1, nullptr), winFread(buffer, 1, 1, nullptr),
        winFgetc(nullptr), winUngetc('x', nullptr), static_cast<int>(winFtell(nullptr)),
        winFseek(nullptr, 0, 0), winFflush(nullptr), winSetvbuf(nullptr, nullptr, 0, 16),
        winPrintf(nullptr, "x")}) {
    EXPECT_EQ(result, -1);
  }
  winFclose(nullptr);

  // The message text does not fit: nothing is stored.
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(winLastErrorText(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
