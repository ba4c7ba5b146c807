// The kernel32 and C runtime stand-in on real files in a temp dir: what the
// library's own tests do not reach through mystdio and fsutil (search
// patterns, dispositions and their errors, handle numbers, 64-bit file
// pointers). Share modes and message texts are checked through mystdio,
// modules through the registry rename, the version structures through the
// version code and named mutexes through zuadm's store lock.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

using Names = std::vector<std::string>;

/* The names a search delivers, or the error that stopped it at once. */
Names Search(const std::string& pattern, DWORD* error = nullptr) {
  Names names;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    if (error) *error = GetLastError();
    return names;
  }
  do names.emplace_back(data.cFileName);
  while (names.size() < 100 && FindNextFileA(search, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(search));
  return names;
}

HANDLE Create(const std::string& path, DWORD access, DWORD creation) {
  return CreateFileA(path.c_str(), access, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

/* GetLastError as a plain number, so that expectations compare alike. */
long Error() {
  return static_cast<long>(GetLastError());
}

TEST(Kernel32, DirectorySearch) {
  TempDir temp;
  temp.Write("readme", "12345");
  temp.Write("Notes.TXT", "");
  temp.Write("b.txt", "");
  EXPECT_EQ(Search(temp / "*.*"), (Names{".", "..", "b.txt", "Notes.TXT", "readme"}));
  EXPECT_EQ(Search(temp.path() + "\\*.txt"), (Names{"b.txt", "Notes.TXT"}));
  EXPECT_EQ(Search(temp / "?.TXT"), (Names{"b.txt"}));
  DWORD error = 0;
  EXPECT_EQ(Search(temp / "*.none", &error), Names{});
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Search(temp / "readme/*", &error), Names{});
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(Kernel32, StatSizeLimit) {
  // Sizes from 2 GiB on fail, as with the Microsoft runtime's _stat.
  TempDir temp;
  temp.Write("file", "");
  struct _stat status;
  std::filesystem::resize_file(temp / "file", 0x7FFFFFFF);
  ASSERT_EQ(_stat((temp.path() + "\\file").c_str(), &status), 0);
  EXPECT_EQ(status.st_size, 0x7FFFFFFF);
  EXPECT_EQ(status.st_mode & _S_IFMT, _S_IFREG);
  std::filesystem::resize_file(temp / "file", 0x80000000ull);
  EXPECT_EQ(_stat((temp / "file").c_str(), &status), -1);
  EXPECT_EQ(errno, EOVERFLOW);
}

// The dispositions as the buffered stream and the stores use them, and the
// errors the stores tell apart.
TEST(Kernel32, CreateFileDispositions) {
  TempDir temp;
  std::string path = temp / "f";
  HANDLE file = Create(path, GENERIC_WRITE, CREATE_NEW);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(file, "hello", 5, &n, nullptr));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(Error(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Create(path, GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
  CloseHandle(Create(path, GENERIC_READ, OPEN_ALWAYS));
  EXPECT_EQ(temp.Read("f"), "hello");
  CloseHandle(Create(path, GENERIC_WRITE, CREATE_ALWAYS));
  EXPECT_EQ(temp.Read("f"), "");

  const std::pair<std::string, long> failures[] = {
      {temp / "missing", ERROR_FILE_NOT_FOUND},
      {temp / "nodir/f", ERROR_PATH_NOT_FOUND},
      {"", ERROR_PATH_NOT_FOUND},
      {temp.path(), ERROR_ACCESS_DENIED},
  };
  for (const auto& [failing, error] : failures) {
    EXPECT_EQ(Create(failing, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Error(), error) << failing;
  }
}

TEST(Kernel32, HandlesAreNeverZero) {
  // With standard input closed the lowest free descriptor is 0.
  TempDir temp;
  temp.Write("f", "");
  int savedInput = dup(0);
  close(0);
  HANDLE file = Create(temp / "f", GENERIC_READ, OPEN_EXISTING);
  dup2(savedInput, 0);
  close(savedInput);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_NE(file, nullptr);
  CloseHandle(file);
}

TEST(Kernel32, FilePointer) {
  TempDir temp;
  HANDLE file = Create(temp / "f", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(file, "hello", 5, &n, nullptr));
  // Positions past 4 GiB need the high part; 0xFFFFFFFF is a valid low part.
  // (Seeks before the start and unknown methods fail through mystdio's.)
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(file, 16, &high, FILE_BEGIN), 16u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(Error(), ERROR_INVALID_PARAMETER);
  high = 0;
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(Error(), NO_ERROR);
  char buffer[8];
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &n, nullptr));
  EXPECT_EQ(n, 0u);
  CloseHandle(file);
}

}  // namespace
