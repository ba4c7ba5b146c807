// The registry stand-in (advapi32, shlwapi) over a real SQLite file in a
// temp dir: value types and sizes, names without case, access rights,
// changes seen between calls, processes starting on one file, and UTF-8
// names for RegRenameKey. Processes writing one file at once are zuadm's
// concurrent tests on the registry store; what renames and deleted keys do
// to open handles is RegKey's tests' to check (RegKey opens its key again
// after a rename).
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

using Strings = std::vector<std::string>;

HKEY Create(HKEY base, const char* path, REGSAM access = KEY_ALL_ACCESS) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(base, path, 0, nullptr, 0, access, nullptr, &key, nullptr), 0) << path;
  return key;
}

LONG Set(HKEY key, const char* name, const std::string& data, DWORD type = REG_SZ) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()));
}

/* The value's type and bytes as "type:bytes", or "error N". */
std::string Query(HKEY key, const char* name) {
  DWORD type = 0, size = 0;
  LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (rc != 0) return "error " + std::to_string(rc);
  std::string data(size, '?');
  rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  return rc ? "error " + std::to_string(rc) : std::to_string(type) + ":" + data;
}

Strings Names(HKEY key, bool subKeys) {
  Strings names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    LONG rc = subKeys ? RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr)
                      : RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc != 0) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      return names;
    }
    names.emplace_back(name, size);
  }
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ZU_WIN32_ROOT", root_.path().c_str(), 1); }
  TempDir root_;
};

// Types, sizes and errors as RegKey reads them; names compare without case,
// Latin-1 letters too (RegKey's own tests compare ASCII names).
TEST_F(Registry, ValuesAndKeys) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Zu");
  ASSERT_EQ(Set(key, "Text", std::string("hello", 6)), 0);
  ASSERT_EQ(Set(key, "Number", std::string("\x78\x56\x34\x12", 4), REG_DWORD), 0);
  ASSERT_EQ(Set(key, "Raw", std::string("\0\1\xFF", 3), REG_BINARY), 0);
  ASSERT_EQ(Set(key, nullptr, "default"), 0);
  EXPECT_EQ(Query(key, "TEXT"), std::string("1:hello\0", 8));
  EXPECT_EQ(Query(key, "number"), "4:\x78\x56\x34\x12");
  EXPECT_EQ(Query(key, "RAW"), std::string("3:\0\1\xFF", 5));
  EXPECT_EQ(Query(key, ""), "1:default");
  EXPECT_EQ(Query(key, "missing"), "error 2");
  // A buffer too small gives ERROR_MORE_DATA and the size needed.
  char text[4];
  DWORD size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  DWORD nameSize = 4;
  EXPECT_EQ(RegEnumValueA(key, 0, text, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);  // "Text" and its NUL need 5
  ASSERT_EQ(Set(key, "\xE9t\xE9", "summer"), 0);
  ASSERT_EQ(Set(key, "\xC9T\xC9", "winter"), 0);
  EXPECT_EQ(Query(key, "\xC9t\xE9"), "1:winter");
  EXPECT_EQ(Names(key, false), (Strings{"Text", "Number", "Raw", "", "\xE9t\xE9"}));

  for (const char* name : {"beta", "\xC9t\xE9", "New\\Deeper\\"}) RegCloseKey(Create(key, name));
  HKEY opened = nullptr;
  ASSERT_EQ(RegOpenKeyExA(key, "\xE9T\xC9", 0, KEY_READ, &opened), 0);
  RegCloseKey(opened);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\Software", 0, KEY_READ, &opened),
            ERROR_BAD_PATHNAME);
  ASSERT_EQ(RegOpenKeyA(key, "", &opened), 0);
  EXPECT_EQ(opened, key);  // RegOpenKeyA of an empty path gives the handle back
  // A key with subkeys is refused; roots are never deleted.
  EXPECT_EQ(RegDeleteKeyA(key, "new"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
  // A read-only handle opens existing subkeys but creates none.
  HKEY reader = nullptr, child = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Zu", 0, KEY_READ, &reader), 0);
  EXPECT_EQ(
      RegCreateKeyExA(reader, "fresh", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
      ERROR_ACCESS_DENIED);
  ASSERT_EQ(
      RegCreateKeyExA(reader, "beta", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), 0);
  RegCloseKey(child);
  RegCloseKey(reader);
  EXPECT_EQ(RegCloseKey(reader), ERROR_INVALID_HANDLE);
  RegCloseKey(key);
}

/* Name index of key's subkeys or values, or "error N". */
std::string NameAt(HKEY key, DWORD index, bool subKeys) {
  char name[256];
  DWORD size = sizeof name;
  LONG rc = subKeys ? RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr)
                    : RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  return rc ? "error " + std::to_string(rc) : std::string(name, size);
}

// Reads and enumerations by index see changes made between their calls, by
// this process or another; an enumeration as if each call counted from the
// first name.
TEST_F(Registry, ReadsSeeChangesBetweenCalls) {
  HKEY key = Create(HKEY_CURRENT_USER, "Enum");
  for (const char* name : {"k0", "k1", "k2", "k3", "k4"}) {
    RegCloseKey(Create(key, name));
    ASSERT_EQ(Set(key, name, name), 0);
  }
  HKEY other = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Enum", 0, KEY_READ, &other), 0);
  EXPECT_EQ(NameAt(key, 0, false), "k0");
  EXPECT_EQ(NameAt(key, 1, false), "k1");
  EXPECT_EQ(NameAt(other, 0, false), "k0");  // another handle, another place
  EXPECT_EQ(NameAt(key, 2, false), "k2");
  ASSERT_EQ(RegDeleteValueA(key, "k1"), 0);
  EXPECT_EQ(NameAt(key, 3, false), "k4");
  EXPECT_EQ(NameAt(key, 4, false), "error 259");

  // The other process starts first and writes when told, while this one
  // keeps its connection.
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(gate[1]);
    char byte;
    while (read(gate[0], &byte, 1) > 0) {
    }
    HKEY first = nullptr;
    bool ok = RegCreateKeyExA(HKEY_CURRENT_USER, "Enum\\a", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &first, nullptr) == 0 &&
              Set(key, "k2", "new") == 0;
    _exit(ok ? 0 : 1);
  }
  close(gate[0]);
  EXPECT_EQ(NameAt(key, 0, true), "k0");
  EXPECT_EQ(NameAt(key, 1, true), "k1");
  EXPECT_EQ(Query(key, "k2"), "1:k2");
  EXPECT_EQ(Query(key, "k2"), "1:k2");
  close(gate[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Query(key, "k2"), "1:new");
  EXPECT_EQ(NameAt(key, 2, true), "k1");
  EXPECT_EQ(NameAt(key, 3, true), "k2");
  EXPECT_EQ(Names(key, true), (Strings{"a", "k0", "k1", "k2", "k3", "k4"}));
  RegCloseKey(other);
  RegCloseKey(key);
}

// Processes that open a fresh root at the same moment each set it up or
// wait for the one that does; none fails.
TEST_F(Registry, ProcessesStartingOnAFreshRootTogether) {
  const int kRounds = 30;
  const int kProcesses = 4;
  int failures = 0;
  for (int round = 0; round < kRounds; ++round) {
    TempDir fresh;
    setenv("ZU_WIN32_ROOT", fresh.path().c_str(), 1);
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t children[kProcesses];
    for (pid_t& child : children) {
      child = fork();
      ASSERT_GE(child, 0);
      if (child != 0) continue;
      close(gate[1]);
      char byte;
      while (read(gate[0], &byte, 1) > 0) {
      }
      HKEY key = nullptr;
      LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, "Race", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr);
      _exit(rc == 0 ? 0 : 1);
    }
    close(gate[0]);
    close(gate[1]);  // all of them start now
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      failures += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST(MultiByteToWideChar, Utf8ToUtf16) {
  WCHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3\xA9", -1, wide, 8), 3);
  EXPECT_EQ(std::u16string(wide), u"a\u00E9");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, nullptr, 0), 2);
  // A Latin-1 byte is no UTF-8: it becomes U+FFFD, or fails on request.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE9x", -1, wide, 8), 3);
  EXPECT_EQ(std::u16string(wide), u"\uFFFDx");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xE9x", -1, wide, 8), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcdef", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
