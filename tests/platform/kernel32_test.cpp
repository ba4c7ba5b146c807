// The kernel32 and C runtime stand-in calls on real files in a temp dir:
// directory search, file status.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> Search(const std::string& pattern, DWORD* error = nullptr) {
  std::vector<std::string> names;
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

TEST(Kernel32, DirectorySearch) {
  TempDir temp;
  temp.Write("readme", "12345");
  temp.Write("Notes.TXT", "");
  temp.Write("b.txt", "");
  using Names = std::vector<std::string>;
  EXPECT_EQ(Search(temp / "*"), (Names{".", "..", "b.txt", "Notes.TXT", "readme"}));
  EXPECT_EQ(Search(temp / "*.*"), (Names{".", "..", "b.txt", "Notes.TXT", "readme"}));
  EXPECT_EQ(Search(temp.path() + "\\*.txt"), (Names{"b.txt", "Notes.TXT"}));
  EXPECT_EQ(Search(temp / "?.TXT"), (Names{"b.txt"}));
  EXPECT_EQ(Search(temp / "README"), (Names{"readme"}));

  DWORD error = 0;
  EXPECT_EQ(Search(temp / "*.none", &error), Names{});
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Search(temp / "nodir/*", &error), Names{});
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Search(temp / "readme/*", &error), Names{});
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(FindNextFileA(INVALID_HANDLE_VALUE, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Kernel32, FindDataAttributes) {
  TempDir temp;
  temp.Write("file", std::string(300, 'x'));
  temp.Write("locked", "");
  std::filesystem::permissions(temp / "locked", std::filesystem::perms::owner_read);
  temp.MakeDir("dir");
  std::filesystem::create_symlink(temp / "file", temp / "link");
  std::filesystem::create_symlink(temp / "gone", temp / "dangling");

  auto find = [&](const char* name) {
    WIN32_FIND_DATAA data{};
    HANDLE search = FindFirstFileA((temp / name).c_str(), &data);
    EXPECT_NE(search, INVALID_HANDLE_VALUE) << name;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return data;
  };
  WIN32_FIND_DATAA file = find("file");
  EXPECT_EQ(file.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(file.nFileSizeLow, 300u);
  EXPECT_EQ(file.nFileSizeHigh, 0u);
  EXPECT_NE(file.ftLastWriteTime.dwHighDateTime, 0u);
  EXPECT_EQ(find("locked").dwFileAttributes,
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(find("dir").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  WIN32_FIND_DATAA link = find("link");
  EXPECT_EQ(link.dwFileAttributes,
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(link.dwReserved0, static_cast<DWORD>(IO_REPARSE_TAG_SYMLINK));
  EXPECT_EQ(link.nFileSizeLow, 300u);
  EXPECT_EQ(find("dangling").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
}

TEST(Msvcrt, StatAndChdir) {
  TempDir temp;
  temp.Write("file", "abc");
  temp.MakeDir("dir");
  struct _stat status;
  ASSERT_EQ(_stat((temp.path() + "\\file").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & _S_IFMT, _S_IFREG);
  EXPECT_EQ(status.st_size, 3);
  ASSERT_EQ(_stat((temp / "dir").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & _S_IFMT, _S_IFDIR);
  EXPECT_EQ(status.st_mode & 0700, _S_IREAD | _S_IWRITE | _S_IEXEC);
  errno = 0;
  EXPECT_EQ(_stat((temp / "missing").c_str(), &status), -1);
  EXPECT_EQ(errno, ENOENT);

  // Sizes beyond 32 bits fail as with the Microsoft runtime's _stat.
  std::filesystem::resize_file(temp / "file", 0x7FFFFFFF);
  ASSERT_EQ(_stat((temp / "file").c_str(), &status), 0);
  EXPECT_EQ(status.st_size, 0x7FFFFFFF);
  std::filesystem::resize_file(temp / "file", 0x80000000ull);
  EXPECT_EQ(_stat((temp / "file").c_str(), &status), -1);
  EXPECT_EQ(errno, EOVERFLOW);

  std::filesystem::path before = std::filesystem::current_path();
  EXPECT_EQ(_chdir((temp.path() + "\\dir").c_str()), 0);
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(temp / "dir"));
  EXPECT_EQ(_chdir((temp / "missing").c_str()), -1);
  std::filesystem::current_path(before);
}

}  // namespace
