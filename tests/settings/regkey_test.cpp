// RegKey over the registry stand-in, on a real SQLite file in a temp dir:
// path resolution, access rights, value types, enumeration and both ways of
// renaming.
#include "settings/regkey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/standin_root.h"

namespace {

using Strings = std::vector<std::string>;

Strings Items(const StringList& list) {
  Strings items;
  for (int i = 0; i < list.Count(); ++i) items.emplace_back(list[i].c_str());
  return items;
}

bool Exists(const char* path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != 0) return false;
  RegCloseKey(key);
  return true;
}

/* Makes the key at path with one text value (when name is given). */
void Make(const char* path, const char* name = nullptr, const char* text = "") {
  RegKey key;
  ASSERT_TRUE(key.Open(zustring("\\") + path, true, true)) << path;
  if (name) {
    ASSERT_EQ(key.SetString(name, text), 0);
  }
}

Strings SubKeysOf(const char* path) {
  RegKey key;
  StringList list;
  if (key.Open(zustring("\\") + path, false, false)) key.EnumSubKeys(list);
  return Items(list);
}

class RegKeyTest : public ::testing::Test {
 protected:
  TempDir root_;
  PrivateRegistry registry_{root_.path()};
};

TEST_F(RegKeyTest, PathResolution) {
  RegKey key;
  EXPECT_EQ(key.Key, nullptr);
  EXPECT_EQ(key.Root, HKEY_CURRENT_USER);
  EXPECT_TRUE(key.Path.IsEmpty());

  // Absolute, then relative to the open key, whose handle is closed.
  ASSERT_TRUE(key.Open("\\Software\\A", true, true));
  EXPECT_EQ(key.Path, "Software\\A");
  HKEY parent = key.Key;
  ASSERT_TRUE(key.Open("B", true, true));
  EXPECT_EQ(key.Path, "Software\\A\\B");
  EXPECT_TRUE(Exists("Software\\A\\B"));
  EXPECT_EQ(RegCloseKey(parent), ERROR_INVALID_HANDLE);

  // After Close, Path stays but a relative path starts at the root.
  key.Close();
  EXPECT_EQ(key.Key, nullptr);
  EXPECT_EQ(key.Path, "Software\\A\\B");
  ASSERT_TRUE(key.Open("C", true, false));
  EXPECT_EQ(key.Path, "C");
  EXPECT_TRUE(Exists("C"));

  // A failed open closes the key that was open and empties Path.
  HKEY before = key.Key;
  EXPECT_FALSE(key.Open("missing", false, true));
  EXPECT_EQ(key.Key, nullptr);
  EXPECT_TRUE(key.Path.IsEmpty());
  EXPECT_EQ(RegCloseKey(before), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(key.Open("\\Software\\Nothing", false, false));

  // Read access refuses writes; write access and create allow them.
  ASSERT_TRUE(key.Open("\\Software\\A", false, false));
  EXPECT_EQ(key.SetString("v", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(key.SetInteger("n", 1), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(key.DeleteValue("v"));
  ASSERT_TRUE(key.Open("\\Software\\A", false, true));
  EXPECT_EQ(key.SetString("v", "x"), 0);
  // (Another root is another tree: zuadm's -m on the registry store.)
}

TEST_F(RegKeyTest, ValueTypesAndMissingLooksEmpty) {
  RegKey key;
  ASSERT_TRUE(key.Open("\\Values", true, true));
  EXPECT_EQ(key.SetString("text", "Ol\xE1 \xFF"), 0);
  EXPECT_EQ(key.SetInteger("number", 0xFFFFFFFFu), 0);
  EXPECT_EQ(key.GetString("TEXT"), "Ol\xE1 \xFF");
  EXPECT_EQ(key.GetInteger("Number"), 0xFFFFFFFFu);
  DWORD type = 0, size = 0;  // the text is stored with its NUL
  ASSERT_EQ(RegQueryValueExA(key.Key, "text", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 6u);

  // Missing values and values of another type look empty. REG_EXPAND_SZ
  // reads as stored; text stops at its first NUL and is read whole without
  // one.
  auto setRaw = [&](const char* name, DWORD rawType, const char* bytes, DWORD count) {
    ASSERT_EQ(
        RegSetValueExA(key.Key, name, 0, rawType, reinterpret_cast<const BYTE*>(bytes), count), 0);
  };
  setRaw("expand", REG_EXPAND_SZ, "%PATH%;x", 9);
  setRaw("embedded", REG_SZ, "ab\0cd", 6);
  setRaw("unterminated", REG_SZ, "abc", 3);
  setRaw("binary", REG_BINARY, "\1\2\3\4", 4);
  setRaw("long", REG_DWORD, "\1\2\3\4\5\6\7\10", 8);
  const std::pair<const char*, const char*> texts[] = {{"number", ""},     {"missing", ""},
                                                       {"binary", ""},     {"expand", "%PATH%;x"},
                                                       {"embedded", "ab"}, {"unterminated", "abc"}};
  for (const auto& [name, text] : texts) EXPECT_EQ(key.GetString(name), text) << name;
  // The kind tells what the getters cannot.
  const std::pair<const char*, ValueKind> kinds[] = {{"missing", ValueMissing},
                                                     {"number", ValueInteger},
                                                     {"expand", ValueText},
                                                     {"Text", ValueText},
                                                     {"binary", ValueOther}};
  for (const auto& [name, kind] : kinds) EXPECT_EQ(key.GetKind(name), kind) << name;
  for (const char* name : {"text", "missing", "binary", "long"}) {
    EXPECT_EQ(key.GetInteger(name), 0u) << name;
  }
  EXPECT_TRUE(key.DeleteValue("Text"));
  EXPECT_FALSE(key.DeleteValue("text"));

  // DeleteSubKey removes a leaf key only.
  ASSERT_TRUE(key.Open("Parent\\Child", true, true));
  ASSERT_TRUE(key.Open("\\Values", false, true));
  EXPECT_FALSE(key.DeleteSubKey("Parent"));
  EXPECT_TRUE(key.DeleteSubKey("Parent\\Child"));
  EXPECT_TRUE(key.DeleteSubKey("parent"));
  EXPECT_FALSE(key.DeleteSubKey("parent"));
}

TEST_F(RegKeyTest, Enumeration) {
  RegKey key;
  ASSERT_TRUE(key.Open("\\List", true, true));
  for (const char* name : {"beta", "Alpha", "gamma"}) {
    ASSERT_TRUE(key.Open(name, true, true));
    ASSERT_TRUE(key.Open("\\List", false, true));
  }
  std::string longName(300, 'n');
  for (const char* name : {"z", "a", longName.c_str(), "M"}) ASSERT_EQ(key.SetInteger(name, 1), 0);
  ASSERT_EQ(key.SetInteger("z", 2), 0);

  // The registry keeps no order of names: compare them sorted.
  auto sorted = [](Strings names) {
    std::sort(names.begin(), names.end());
    return names;
  };
  StringList list;
  list.Add("stale");
  key.EnumSubKeys(list);
  EXPECT_EQ(sorted(Items(list)), (Strings{"Alpha", "beta", "gamma"}));
  key.EnumValues(list);
  EXPECT_EQ(sorted(Items(list)), (Strings{"M", "a", longName, "z"}));

  // A key without subkeys or values, and no key at all, give empty lists.
  ASSERT_TRUE(key.Open("Alpha", false, false));
  key.EnumSubKeys(list);
  EXPECT_EQ(list.Count(), 0);
  list.Add("stale");
  key.Close();
  key.EnumValues(list);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(RegKeyTest, RenameWithinParentReplacesTarget) {
  if (platform_env::WineDeparts("RegRenameKey damages the parent key; renames copy there")) {
    GTEST_SKIP();
  }
  Make("Software\\A\\Old", "v", "old");
  Make("Software\\A\\Old\\Sub", "s", "sub");
  Make("Software\\A\\New", "w", "replaced");
  Make("Software\\A\\New\\Gone");

  RegKey key;
  EXPECT_FALSE(key.Rename("\\Software\\A\\New"));  // nothing open
  ASSERT_TRUE(key.Open("\\Software\\A\\Old", false, true));
  ASSERT_TRUE(key.Rename("\\Software\\A\\New"));
  uint32_t counter = RegKey::TempKeyCounter;
  EXPECT_EQ(key.Path, "Software\\A\\New");
  ASSERT_NE(key.Key, nullptr);
  EXPECT_EQ(key.GetString("v"), "old");
  EXPECT_EQ(key.GetString("w"), "");
  EXPECT_EQ(SubKeysOf("Software\\A"), Strings{"New"});
  EXPECT_EQ(SubKeysOf("Software\\A\\New"), Strings{"Sub"});
  EXPECT_EQ(key.SetString("after", "1"), 0);

  // Only within one parent: below the root or into another parent fails
  // and changes nothing. The parent compares without case.
  EXPECT_FALSE(key.Rename("\\Software\\B\\New"));
  EXPECT_EQ(key.Path, "Software\\A\\New");
  EXPECT_EQ(key.GetString("after"), "1");
  ASSERT_TRUE(key.Rename("\\SOFTWARE\\a\\Newer"));
  EXPECT_EQ(key.Path, "SOFTWARE\\a\\Newer");
  EXPECT_EQ(key.GetString("v"), "old");
  EXPECT_EQ(SubKeysOf("Software\\A"), Strings{"Newer"});
  EXPECT_FALSE(Exists("Software\\B"));
  RegKey top;
  ASSERT_TRUE(top.Open("\\Top", true, true));
  EXPECT_FALSE(top.Rename("\\Top2"));
  EXPECT_TRUE(Exists("Top"));
  EXPECT_FALSE(Exists("Top2"));
  // Each rename takes the next temporary number.
  EXPECT_EQ(RegKey::TempKeyCounter, counter + 3);

  // When the key itself has gone, the target moved aside comes back.
  Make("Software\\A\\Target", "t", "kept");
  ASSERT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\A\\Newer"), 0);
  EXPECT_FALSE(key.Rename("\\Software\\A\\Target"));
  EXPECT_EQ(SubKeysOf("Software\\A"), Strings{"Target"});
  RegKey target;
  ASSERT_TRUE(target.Open("\\Software\\A\\Target", false, false));
  EXPECT_EQ(target.GetString("t"), "kept");
}

// The lookup of RegRenameKey happens once per process, so the copy-and-
// delete rename runs in a fresh process that starts with it switched off
// (Wine renames by copy anyway).
TEST_F(RegKeyTest, RenameByCopyWithoutRegRenameKey) {
  if (platform_env::kWindows && !platform_env::UnderWine()) {
    GTEST_SKIP() << "Windows has RegRenameKey; only the stand-in and Wine rename by copy";
  }
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  root_.Write("standin.conf", "advapi32.RegRenameKey=0\n");
  auto run = [] {
    int failures = 0;
    auto check = [&](bool ok, const char* what) {
      if (!ok) std::fprintf(stderr, "failed: %s\n", what), ++failures;
    };
    Make("Software\\A\\Old", "v", "old");
    Make("Software\\A\\Old\\Sub\\Deep", "d", "deep");
    Make("Software\\B\\Target", "w", "replaced");
    RegKey key;
    check(key.Open("\\Software\\A\\Old", false, true), "open");
    check(key.Rename("\\Software\\B\\Target"), "rename into another parent");
    check(key.Path == "Software\\B\\Target", "path");
    check(key.GetString("v") == "old" && key.GetString("w") == "", "values moved, target gone");
    check(SubKeysOf("Software\\A").empty(), "old key deleted");
    check(SubKeysOf("Software\\B\\Target\\Sub") == Strings{"Deep"}, "subkeys copied");
    check(key.SetString("after", "1") == 0, "key open for writing");
    check(key.Rename("\\Top"), "rename to below the root");
    check(key.GetString("after") == "1" && !Exists("Software\\B\\Target"), "moved to the root");
    check(!key.Rename("\\Top\\Inner") && !key.Rename("Inner") && !key.Rename("\\TOP"),
          "no rename into itself");
    check(key.Path == "Top" && key.GetString("v") == "old", "unchanged after refusals");
    // Nor onto a key that contains it: that would delete the key first.
    Make("Outer\\Middle\\Inner", "i", "inner");
    RegKey inner;
    check(inner.Open("\\Outer\\Middle\\Inner", false, true), "open inner");
    check(!inner.Rename("\\Outer") && !inner.Rename("\\OUTER\\middle"),
          "no rename onto an ancestor");
    check(inner.GetString("i") == "inner" && SubKeysOf("Outer\\Middle") == Strings{"Inner"},
          "inner key kept");
    std::exit(failures);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
