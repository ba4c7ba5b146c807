// The registry stand-in (advapi32, shlwapi) over a real SQLite file in a
// temp dir: value types and sizes, names without case, enumeration order,
// access rights, handles across rename and delete, tree copy and delete,
// two processes on one file, and the run-time lookup of RegRenameKey.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ZU_WIN32_ROOT", root_.path().c_str(), 1); }

  HKEY Create(HKEY base, const char* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(base, path, 0, nullptr, 0, access, nullptr, &key, nullptr), 0)
        << path;
    return key;
  }
  LONG SetText(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
  }
  std::vector<std::string> SubKeys(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      LONG rc = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (rc != 0) {
        EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
        return names;
      }
      EXPECT_EQ(size, std::string(name).size());
      names.push_back(name);
    }
  }
  std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      LONG rc = RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (rc != 0) {
        EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
        return names;
      }
      names.push_back(name);
    }
  }

  TempDir root_;
};

using Strings = std::vector<std::string>;

TEST_F(Registry, ValuesKeepTypeBytesAndSpelling) {
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Zu");
  DWORD number = 0x12345678;
  const BYTE raw[] = {0, 1, 0xFF, 0};
  ASSERT_EQ(SetText(key, "Text", "hello"), 0);
  ASSERT_EQ(SetText(key, "Path", "%TEMP%\\x", REG_EXPAND_SZ), 0);
  ASSERT_EQ(RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4), 0);
  ASSERT_EQ(RegSetValueExA(key, "Raw", 0, REG_BINARY, raw, sizeof raw), 0);
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("d"), 2), 0);

  // Size query without a buffer, then a read; names without regard to case.
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "TEXT", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 6u);
  char text[16] = {};
  ASSERT_EQ(RegQueryValueExA(key, "text", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), 0);
  EXPECT_STREQ(text, "hello");
  size = 3;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  size = sizeof text;
  ASSERT_EQ(RegQueryValueExA(key, "path", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), 0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_STREQ(text, "%TEMP%\\x");
  DWORD read = 0;
  size = 4;
  ASSERT_EQ(RegQueryValueExA(key, "number", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size),
            0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(read, number);
  BYTE bytes[8] = {};
  size = sizeof bytes;
  ASSERT_EQ(RegQueryValueExA(key, "RAW", nullptr, &type, bytes, &size), 0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), size), std::string("\0\1\xFF\0", 4));
  size = sizeof text;
  ASSERT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), 0);
  EXPECT_STREQ(text, "d");
  EXPECT_EQ(RegQueryValueExA(key, "missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

  // Latin-1 letters compare without case too; setting again keeps the
  // first spelling and the place.
  ASSERT_EQ(SetText(key, "\xE9t\xE9", "summer"), 0);
  ASSERT_EQ(SetText(key, "\xC9T\xC9", "winter"), 0);
  ASSERT_EQ(SetText(key, "TEXT", "again"), 0);
  EXPECT_EQ(ValueNames(key), (Strings{"Text", "Path", "Number", "Raw", "", "\xE9t\xE9"}));
  size = sizeof text;
  ASSERT_EQ(
      RegQueryValueExA(key, "\xC9t\xE9", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
      0);
  EXPECT_STREQ(text, "winter");

  // Deleting closes the gap; a second delete finds nothing.
  EXPECT_EQ(RegDeleteValueA(key, "path"), 0);
  EXPECT_EQ(RegDeleteValueA(key, "path"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ValueNames(key), (Strings{"Text", "Number", "Raw", "", "\xE9t\xE9"}));

  // Enumeration with data: a short data buffer gives ERROR_MORE_DATA and
  // the size; a short name buffer gives ERROR_MORE_DATA.
  char name[8];
  DWORD nameSize = sizeof name;
  size = 2;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, bytes, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  nameSize = 4;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  nameSize = 5;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(nameSize, 4u);
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(Registry, KeysCaseOrderAndErrors) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Zu");
  for (const char* name : {"beta", "Alpha", "gamma", "ALPHA2", "\xC9t\xE9"}) {
    RegCloseKey(Create(key, name));
  }
  // Subkeys list without regard to case, in their first spelling.
  EXPECT_EQ(SubKeys(key), (Strings{"Alpha", "ALPHA2", "beta", "gamma", "\xC9t\xE9"}));
  DWORD disposition = 0;
  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExA(key, "BETA", 0, nullptr, 0, KEY_READ, nullptr, &again, &disposition),
            0);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(again);
  HKEY deep = Create(HKEY_LOCAL_MACHINE, "software\\ZU\\new\\deeper\\");
  RegCloseKey(deep);
  EXPECT_EQ(SubKeys(key).size(), 6u);

  // Opening: missing keys, a leading backslash, overlong names, bad handles.
  HKEY opened = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(key, "nothing", 0, KEY_READ, &opened), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(opened, nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\Software", 0, KEY_READ, &opened),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegOpenKeyExA(key, std::string(256, 'x').c_str(), 0, KEY_READ, &opened),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(Create(key, std::string(255, 'x').c_str()));
  EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x4444), "x", 0, KEY_READ, &opened),
            ERROR_INVALID_HANDLE);
  // The same key under another root is another key.
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Zu", 0, KEY_READ, &opened),
            ERROR_FILE_NOT_FOUND);
  // RegOpenKeyA of an empty path gives the same handle back.
  ASSERT_EQ(RegOpenKeyA(key, "", &opened), 0);
  EXPECT_EQ(opened, key);

  // A key with subkeys is refused; then its children go, then itself.
  EXPECT_EQ(RegDeleteKeyA(key, "new"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(key, "new\\DEEPER"), 0);
  EXPECT_EQ(RegDeleteKeyA(key, "new"), 0);
  EXPECT_EQ(RegDeleteKeyA(key, "new"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);

  // Enumeration past the end, and a read-only handle that refuses writes.
  char name[256];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key, 99, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  HKEY reader = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Zu", 0, KEY_READ, &reader), 0);
  EXPECT_EQ(SetText(reader, "v", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(reader, "v"), ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  EXPECT_EQ(
      RegCreateKeyExA(reader, "fresh", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
      ERROR_ACCESS_DENIED);
  EXPECT_EQ(
      RegCreateKeyExA(reader, "beta", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), 0);
  RegCloseKey(child);
  EXPECT_EQ(SubKeys(reader).size(), 6u);
  RegCloseKey(reader);
  EXPECT_EQ(RegCloseKey(reader), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), 0);
  RegCloseKey(key);
}

TEST_F(Registry, HandlesFollowRenameAndSeeDeletion) {
  HKEY parent = Create(HKEY_CURRENT_USER, "A");
  HKEY old = Create(parent, "Old");
  HKEY child = Create(old, "Child");
  ASSERT_EQ(SetText(old, "v", "1"), 0);
  RegCloseKey(Create(parent, "Taken"));

  EXPECT_EQ(RegRenameKey(parent, u"Old", u"taken"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(RegRenameKey(parent, u"Old", u"x\\y"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegRenameKey(HKEY_CURRENT_USER, nullptr, u"Other"), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegRenameKey(parent, u"Old", u"New"), 0);
  // Both handles still reach their keys, now below the new name.
  EXPECT_EQ(SetText(old, "w", "2"), 0);
  EXPECT_EQ(SetText(child, "c", "3"), 0);
  HKEY reopened = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "A\\New\\Child", 0, KEY_READ, &reopened), 0);
  EXPECT_EQ(ValueNames(reopened), Strings{"c"});
  RegCloseKey(reopened);
  EXPECT_EQ(SubKeys(parent), (Strings{"New", "Taken"}));
  // Renaming a key onto its own name in another spelling is allowed.
  ASSERT_EQ(RegRenameKey(old, nullptr, u"NEW"), 0);
  EXPECT_EQ(SubKeys(parent), (Strings{"NEW", "Taken"}));

  // Deleting the tree leaves both handles pointing at nothing.
  ASSERT_EQ(SHDeleteKeyA(parent, "new"), 0);
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(SetText(old, "v", "x"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExA(child, "c", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumValueA(old, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  HKEY below = nullptr;
  EXPECT_EQ(RegCreateKeyExA(old, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &below, nullptr),
            ERROR_KEY_DELETED);
  // A new key of the same name is another key.
  RegCloseKey(Create(parent, "New"));
  EXPECT_EQ(SetText(old, "v", "x"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(old), 0);
  EXPECT_EQ(RegCloseKey(child), 0);
  RegCloseKey(parent);
}

TEST_F(Registry, CopyMergesTreesAndStopsInsideItself) {
  HKEY source = Create(HKEY_CURRENT_USER, "Src");
  ASSERT_EQ(SetText(source, "a", "1"), 0);
  HKEY sub = Create(source, "Sub\\Deep");
  ASSERT_EQ(SetText(sub, "d", "deep"), 0);
  HKEY target = Create(HKEY_CURRENT_USER, "Dst");
  ASSERT_EQ(SetText(target, "keep", "k"), 0);
  ASSERT_EQ(SetText(target, "A", "old"), 0);

  ASSERT_EQ(SHCopyKeyA(HKEY_CURRENT_USER, "Src", target, 0), 0);
  EXPECT_EQ(ValueNames(target), (Strings{"keep", "A"}));
  char text[16];
  DWORD size = sizeof text;
  ASSERT_EQ(RegQueryValueExA(target, "a", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            0);
  EXPECT_STREQ(text, "1");
  HKEY copied = nullptr;
  ASSERT_EQ(RegOpenKeyExA(target, "Sub\\Deep", 0, KEY_READ, &copied), 0);
  EXPECT_EQ(ValueNames(copied), Strings{"d"});
  RegCloseKey(copied);

  // Into a key inside the source: the tree as it was is copied once.
  HKEY inside = Create(source, "Inside");
  ASSERT_EQ(SHCopyKeyA(source, nullptr, inside, 0), 0);
  EXPECT_EQ(SubKeys(inside), (Strings{"Inside", "Sub"}));
  ASSERT_EQ(RegOpenKeyExA(inside, "Inside", 0, KEY_READ, &copied), 0);
  EXPECT_TRUE(SubKeys(copied).empty());
  RegCloseKey(copied);

  EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Src"), 0);
  EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Src"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SubKeys(HKEY_CURRENT_USER), Strings{"Dst"});
  for (HKEY key : {source, sub, target, inside}) RegCloseKey(key);
}

// Two processes add values to one key and subkeys to one parent at the
// same time; every write of both arrives.
TEST_F(Registry, TwoProcessesShareOneFile) {
  const int kWrites = 150;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      int failures = 0;
      for (int i = 0; i < kWrites; ++i) {
        HKEY key = nullptr;
        char name[32], path[48];
        std::snprintf(name, sizeof name, "p%d-%d", c, i);
        std::snprintf(path, sizeof path, "Shared\\%s", name);
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != 0) {
          ++failures;
          continue;
        }
        HKEY shared = nullptr;
        failures += RegOpenKeyExA(HKEY_CURRENT_USER, "Shared", 0, KEY_SET_VALUE, &shared) != 0;
        failures += SetText(shared, name, name) != 0;
        RegCloseKey(shared);
        RegCloseKey(key);
      }
      _exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  HKEY shared = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Shared", 0, KEY_READ, &shared), 0);
  EXPECT_EQ(ValueNames(shared).size(), 2u * kWrites);
  EXPECT_EQ(SubKeys(shared).size(), 2u * kWrites);
  RegCloseKey(shared);
}

TEST_F(Registry, RenameKeyIsFoundByNameUnlessSwitchedOff) {
  HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
  ASSERT_NE(advapi, nullptr);
  EXPECT_EQ(LoadLibraryA("C:\\Windows\\System32\\advapi32.dll"), advapi);
  EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(advapi, "RegRenameKey"),
            reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&RegRenameKey)));
  EXPECT_EQ(GetProcAddress(advapi, "RegRenameKeyW"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  root_.Write("standin.conf", "advapi32.RegRenameKey=0\n");
  EXPECT_EQ(GetProcAddress(advapi, "RegRenameKey"), nullptr);
  EXPECT_TRUE(FreeLibrary(advapi));
}

TEST(MultiByteToWideChar, Utf8AndLatin1) {
  WCHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3\xA9", -1, wide, 8), 3);
  EXPECT_EQ(std::u16string(wide), u"a\u00E9");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, nullptr, 0), 2);
  // A Latin-1 byte is no UTF-8: it becomes U+FFFD, or fails on request.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE9x", -1, wide, 8), 3);
  EXPECT_EQ(std::u16string(wide), u"\uFFFDx");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xE9x", -1, wide, 8), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE9x", -1, wide, 8), 3);
  EXPECT_EQ(std::u16string(wide), u"\u00E9x");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcdef", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
