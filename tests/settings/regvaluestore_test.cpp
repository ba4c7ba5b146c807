// The XML value store on real directories in a temp dir: the file's bytes,
// reading back what it wrote, the reader's acceptance rules, enumeration,
// deletion, rename, and saves that a crash interrupts (a full disk is
// zuadm's test on its file store, which is this store).
#include "settings/regvaluestore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/platform_env.h"
#include "support/temp_dir.h"

namespace {

using Strings = std::vector<std::string>;

Strings Items(const StringList& list) {
  Strings items;
  for (int i = 0; i < list.Count(); ++i) items.emplace_back(list[i].c_str(), list[i].Length());
  return items;
}

/* prefix followed by the number i. */
std::string Numbered(const char* prefix, int i) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%d", prefix, i);
  return name;
}

std::string Bytes(const zustring& text) {
  return std::string(text.c_str(), text.Length());
}

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\r\n<regvaluestore>\r\n";
const char kTrailer[] = "</regvaluestore>";

class ValueStore : public ::testing::Test {
 protected:
  void SetUp() override { SetStoreBaseDirectory(dir_.path().c_str()); }
  void TearDown() override { SetStoreBaseDirectory("."); }

  bool Exists(const std::string& name) { return std::filesystem::exists(dir_ / name); }
  /* Writes a Values.xml for key (below HKEY_CURRENT_USER) and loads it. */
  bool Load(const std::string& bytes, RegValueStore& store) {
    dir_.MakeDir("HKEY_CURRENT_USER/K");
    dir_.Write("HKEY_CURRENT_USER/K/Values.xml", bytes);
    store.Values.Clear();
    store.Path = "K";
    return store.LoadValues(store.KeyFilePath().c_str());
  }

  TempDir dir_;
};

// The base is process-wide, so its first value is seen in a fresh process.
TEST(ValueStoreBase, StartsAsTheCurrentDirectory) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(StoreBaseDirectory() == "." ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST_F(ValueStore, WritesTheFileByteForByteAndReadsItBack) {
  // With the base ".", keys lie below the working directory.
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  SetStoreBaseDirectory(".");
  RegValueStore store;
  ASSERT_TRUE(store.Open("\\A\\B", true));
  EXPECT_EQ(store.KeyFilePath(),
            platform_env::Native("./HKEY_CURRENT_USER/A/B/Values.xml").c_str());
  std::filesystem::current_path(before);
  SetStoreBaseDirectory(dir_.path().c_str());
  store.Close();
  EXPECT_TRUE(Exists("HKEY_CURRENT_USER/A/B"));
  EXPECT_FALSE(Exists("HKEY_CURRENT_USER/A/B/Values.xml"));  // nothing set, nothing written

  ASSERT_TRUE(store.Open("\\A\\B", false));
  store.SetInteger("x", 5);
  store.SetString("y", "a<b");
  store.Close();
  EXPECT_FALSE(store.Dirty);
  EXPECT_TRUE(store.Path.IsEmpty());
  EXPECT_EQ(dir_.Read("HKEY_CURRENT_USER/A/B/Values.xml"),
            std::string(kHeader) + "  <integer name=\"x\">5</integer>\r\n" +
                "  <string name=\"y\">a&lt;b</string>\r\n" + kTrailer);

  // Escaping of names and texts, line breaks as CR LF, signed integers,
  // other bytes as they are; another root is another directory.
  const std::pair<const char*, std::string> texts[] = {
      {"q\"&<>'", "l1\nl2\r\nend\r"}, {"latin", "\xE1\xFF\x01"}, {"", ""}, {" ", "  x\t "}};
  store.Root = HKEY_LOCAL_MACHINE;
  ASSERT_TRUE(store.Open("\\S", true));
  for (const auto& [name, text] : texts) store.SetString(name, text.c_str());
  store.SetInteger("max", 0xFFFFFFFFu);
  store.SetInteger("min", 0x80000000u);
  store.SetString("latin", "changed");
  store.SetInteger(" ", 0);  // another kind keeps the place
  store.Close();
  EXPECT_EQ(dir_.Read("HKEY_LOCAL_MACHINE/S/Values.xml"),
            std::string(kHeader) +
                "  <string name=\"q&quot;&amp;&lt;&gt;'\">l1\r\nl2\r\r\nend\r</string>\r\n"
                "  <string name=\"latin\">changed</string>\r\n"
                "  <string name=\"\"></string>\r\n"
                "  <integer name=\" \">0</integer>\r\n"
                "  <integer name=\"max\">-1</integer>\r\n"
                "  <integer name=\"min\">-2147483648</integer>\r\n" +
                kTrailer);
  EXPECT_FALSE(Exists("HKEY_CURRENT_USER/S"));

  ASSERT_TRUE(store.Open("\\S", false));
  EXPECT_EQ(Bytes(store.GetString("q\"&<>'")), "l1\nl2\r\nend\r");
  EXPECT_EQ(store.GetInteger("max"), 0xFFFFFFFFu);
  EXPECT_EQ(store.GetInteger("min"), 0x80000000u);
  // Missing values and values of the other kind look empty; names keep
  // case. The kind tells them apart.
  EXPECT_EQ(store.GetString("max"), "");
  EXPECT_EQ(store.GetInteger("latin"), 0u);
  EXPECT_EQ(store.GetString("LATIN"), "");
  EXPECT_EQ(store.GetKind("max"), ValueInteger);
  EXPECT_EQ(store.GetKind("latin"), ValueText);
  EXPECT_EQ(store.GetKind("LATIN"), ValueMissing);
  // Every other byte reads back as written (record_store_test's texts hold
  // them all). A text is written up to its first 0 byte, as the format's %s takes it.
  store.SetString("nul", zustring("ab\0cd", 5));
  store.Close();
  EXPECT_NE(
      dir_.Read("HKEY_LOCAL_MACHINE/S/Values.xml").find("<string name=\"nul\">ab</string>\r\n"),
      std::string::npos);
  ASSERT_TRUE(store.Open("\\S", false));
  EXPECT_EQ(Bytes(store.GetString("nul")), "ab");

  // A root without a directory name opens and writes nothing.
  store.Root = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000004));
  EXPECT_FALSE(store.Open("\\S", true));
  store.SetString("nowhere", "x");
  EXPECT_TRUE(store.KeyFilePath().IsEmpty());
  EXPECT_FALSE(store.SaveValues(store.KeyFilePath().c_str()));
  EXPECT_FALSE(store.DeleteSubKey("S"));
}

TEST_F(ValueStore, PathsDirtyAndDeletion) {
  RegValueStore store;
  EXPECT_FALSE(store.Open("\\Missing", false));
  EXPECT_TRUE(store.Path.IsEmpty());
  ASSERT_TRUE(store.Open("\\P", true));
  store.SetString("v", "1");
  // Relative paths descend; the parent's values are saved first.
  ASSERT_TRUE(store.Open("C\\D", true));
  EXPECT_EQ(store.Path, "P\\C\\D");
  EXPECT_TRUE(Exists("HKEY_CURRENT_USER/P/Values.xml"));
  EXPECT_EQ(store.Values.Count(), 0);
  // Flush writes at once; a failed open leaves no key, after saving the
  // one that was open.
  store.SetInteger("f", 1);
  EXPECT_TRUE(store.Flush());
  EXPECT_FALSE(store.Dirty);
  EXPECT_TRUE(Exists("HKEY_CURRENT_USER/P/C/D/Values.xml"));
  store.SetInteger("d", 4);
  EXPECT_FALSE(store.Open("Nothing", false));
  EXPECT_TRUE(store.Path.IsEmpty());
  EXPECT_TRUE(Exists("HKEY_CURRENT_USER/P/C/D/Values.xml"));
  // After Close a relative path starts at the root.
  ASSERT_TRUE(store.Open("\\P", false));
  store.Close();
  ASSERT_TRUE(store.Open("C", true));
  EXPECT_EQ(store.Path, "C");
  EXPECT_TRUE(Exists("HKEY_CURRENT_USER/C"));

  // Deleting a missing value still rewrites the file.
  dir_.Write("HKEY_CURRENT_USER/C/Values.xml",
             "<?xml?>\n<regvaluestore>\n<string name=\"a\">1</string>\n"
             "<string name=\"b\">2</string></regvaluestore>");
  ASSERT_TRUE(store.Open("\\C", false));
  EXPECT_FALSE(store.DeleteValue("missing"));
  EXPECT_TRUE(store.Dirty);
  EXPECT_TRUE(store.DeleteValue("a"));
  EXPECT_EQ(store.GetString("a"), "");
  store.Close();
  EXPECT_EQ(dir_.Read("HKEY_CURRENT_USER/C/Values.xml"),
            std::string(kHeader) + "  <string name=\"b\">2</string>\r\n" + kTrailer);

  // DeleteSubKey: a leaf goes; a key with subkeys or other files loses its
  // values file and stays.
  ASSERT_TRUE(store.Open("\\P", false));
  EXPECT_FALSE(store.DeleteSubKey("C"));
  EXPECT_TRUE(Exists("HKEY_CURRENT_USER/P/C/D"));
  EXPECT_TRUE(store.DeleteSubKey("C\\D"));
  EXPECT_FALSE(Exists("HKEY_CURRENT_USER/P/C/D"));
  dir_.Write("HKEY_CURRENT_USER/P/C/notes.txt", "x");
  EXPECT_FALSE(store.DeleteSubKey("C"));
  std::filesystem::remove(dir_ / "HKEY_CURRENT_USER/P/C/notes.txt");
  EXPECT_TRUE(store.DeleteSubKey("C"));
  EXPECT_FALSE(store.DeleteSubKey("C"));
}

TEST_F(ValueStore, ReaderAcceptanceRules) {
  RegValueStore store;
  const std::string head = "<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\n<regvaluestore>\n";
  const std::string tail = "</regvaluestore>";
  struct Case {
    std::string bytes;
    bool ok;
    Strings names;  // the values read, in order
  };
  const Case cases[] = {
      {head + "<string name=\"a\">1</string>" + tail, true, {"a"}},
      {"<anything at all>  <regvaluestore/> <string name=a>1</string>" + tail, true, {"a"}},
      {head + "<string\n name = \"a\">1</string\n>\n\n" + tail, true, {"a"}},
      {head + "<string name=\"a\">1</string><integer name=\"b\" >2</integer>" + tail, false, {"a"}},
      {head + "<string>1</string>" + tail, false, {}},
      {head + "<string id=\"a\">1</string>" + tail, false, {}},
      {head + "<string name=\"a\" name=\"b\">1</string>" + tail, false, {}},
      {head + "<string name=\"a\"/>" + tail, false, {}},
      {head + "<float name=\"a\">1</float>" + tail, false, {}},
      {head + "<string name=\"a\">1</integer>" + tail, false, {"a"}},
      {head + "</string>" + tail, false, {}},
      {head + "<string name=\"a\">1</string>", false, {"a"}},
      {head + "<string name=\"a\">never closed", false, {}},
      {"<?xml?><other>" + tail, false, {}},
      {"", false, {}},
      {head + "<string name=\"a\">1</string>" + "</REGVALUESTORE>", false, {"a"}},
      {head + "<string name=\"\">e</string>" + tail, true, {""}},
      {head + "<string name>e</string>" + tail, true, {""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Load(c.bytes, store), c.ok) << c.bytes;
    StringList names;
    store.EnumValues(names);
    EXPECT_EQ(Items(names), c.names) << c.bytes;
  }

  // Integers as atoi reads them; a name twice keeps its first place and
  // its last value; references decoded as the reader does; CR LF as LF.
  ASSERT_TRUE(Load(head +
                       "<integer name=\"a\"> \t42abc</integer>\r\n"
                       "<integer name=\"neg\">-7</integer>\r\n"
                       "<integer name=\"none\">abc</integer>\r\n"
                       "<integer name=\"big\">99999999999</integer>\r\n"
                       "<integer name=\"small\">-99999999999</integer>\r\n"
                       "<string name=\"b\">first</string>\r\n"
                       "<string name=\"c\">&QUOT;&apos;&#65;&lt;\r\nx\r\r\n</string>\r\n"
                       "<string name=\"b\">second</string>\r\n" +
                       tail,
                   store));
  StringList names;
  store.EnumValues(names);
  EXPECT_EQ(Items(names), (Strings{"a", "neg", "none", "big", "small", "b", "c"}));
  EXPECT_EQ(store.GetInteger("a"), 42u);
  EXPECT_EQ(store.GetInteger("neg"), static_cast<uint32_t>(-7));
  EXPECT_EQ(store.GetInteger("none"), 0u);
  EXPECT_EQ(store.GetInteger("big"), 0x7FFFFFFFu);
  EXPECT_EQ(store.GetInteger("small"), 0x80000000u);
  EXPECT_EQ(store.GetString("b"), "second");
  EXPECT_EQ(Bytes(store.GetString("c")), "\"&apos;&#65;<\nx\r\n");

  // A key whose directory has no values file opens with no values; one
  // whose file is malformed keeps what was read before the fault.
  dir_.MakeDir("HKEY_CURRENT_USER/Empty");
  ASSERT_TRUE(store.Open("\\Empty", false));
  EXPECT_EQ(store.Values.Count(), 0);
  dir_.Write("HKEY_CURRENT_USER/Empty/Values.xml",
             head + "<string name=\"kept\">1</string><string name=\"bad\" >2</string>" + tail);
  ASSERT_TRUE(store.Open("\\Empty", false));
  EXPECT_EQ(store.GetString("kept"), "1");
  EXPECT_EQ(store.Values.Count(), 1);
}

TEST_F(ValueStore, EnumeratesDirectoryEntries) {
  for (const char* key : {"beta", "Alpha", "alpha", "Zed\\Inner"}) {
    RegValueStore store;
    ASSERT_TRUE(store.Open(std::string("\\Top\\").append(key).c_str(), true));
    store.SetInteger("v", 1);
  }
  dir_.Write("HKEY_CURRENT_USER/Top/stray.txt", "not a key");
  dir_.Write("HKEY_CURRENT_USER/Top/Values.xml.a01234", "left by a crash");
  RegValueStore store;
  ASSERT_TRUE(store.Open("\\Top", false));
  StringList list;
  list.Add("stale");
  store.EnumSubKeys(list);
  // Windows' file names ignore case: there "alpha" is the key "Alpha".
  EXPECT_EQ(Items(list), platform_env::kWindows
                             ? (Strings{"Alpha", "Zed", "beta", "stray.txt"})
                             : (Strings{"Alpha", "Zed", "alpha", "beta", "stray.txt"}));
  ASSERT_TRUE(store.Open("beta", false));
  store.EnumSubKeys(list);
  EXPECT_EQ(list.Count(), 0);
  store.EnumValues(list);
  EXPECT_EQ(Items(list), Strings{"v"});
  // A directory that cannot be listed gives an empty list.
  store.Root = HKEY_LOCAL_MACHINE;
  store.Path = "Nowhere";
  list.Add("stale");
  store.EnumSubKeys(list);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(ValueStore, RenameMovesTheDirectory) {
  RegValueStore store;
  EXPECT_FALSE(store.Rename("\\A\\New"));  // nothing open
  ASSERT_TRUE(store.Open("\\A\\New", true));
  store.SetString("old target", "t");
  ASSERT_TRUE(store.Open("\\A\\Old", true));
  store.SetString("v", "moved");
  ASSERT_TRUE(store.Open("\\A\\Old", false));
  store.SetString("unsaved", "u");

  ASSERT_TRUE(store.Rename("\\A\\New"));
  EXPECT_EQ(store.Path, "A\\New");
  EXPECT_TRUE(store.Dirty);
  EXPECT_EQ(store.GetString("unsaved"), "u");
  EXPECT_FALSE(Exists("HKEY_CURRENT_USER/A/Old"));
  // The moved-aside target keeps its file, so its directory stays.
  StringList list;
  ASSERT_TRUE(store.Open("\\A", false));
  store.EnumSubKeys(list);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0], "New");
  EXPECT_EQ(std::string(list[1].c_str()).substr(0, 4), "New.");
  EXPECT_EQ(list[1].Length(), 10u);
  ASSERT_TRUE(store.Open("\\A\\New", false));
  EXPECT_EQ(store.GetString("v"), "moved");
  EXPECT_EQ(store.GetString("unsaved"), "u");
  EXPECT_EQ(store.GetString("old target"), "");

  // An empty target is moved aside and removed; relative paths descend,
  // so a key cannot move into itself; a missing parent fails.
  ASSERT_TRUE(store.Open("\\A\\Empty", true));
  ASSERT_TRUE(store.Open("\\A\\New", false));
  ASSERT_TRUE(store.Rename("\\A\\Empty"));
  EXPECT_EQ(store.Path, "A\\Empty");
  EXPECT_FALSE(store.Rename("Inner"));
  EXPECT_FALSE(store.Rename("\\No\\Such\\Parent"));
  EXPECT_EQ(store.Path, "A\\Empty");
  store.Close();
  ASSERT_TRUE(store.Open("\\A", false));
  store.EnumSubKeys(list);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0], "Empty");
}

/* The names in directory that start as a save's temporary does. */
Strings Temporaries(const std::string& directory) {
  Strings names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("Values.xml.", 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A writer saves the key again and again and is killed at a random moment
// after its first save; the file always loads whole, with all values of
// one save, and the saves go on from one writer to the next. What a killed
// save leaves is removed by the next one.
TEST_F(ValueStore, KilledWriterLeavesAWholeFile) {
  const int kValues = 300;
  // The writer's argument: its first generation and the store's base, where
  // the file "saved" tells that the first save is done. It gives up after a
  // minute.
  auto writer = [&](const char* argument) {
    char* base = nullptr;
    unsigned first = static_cast<unsigned>(std::strtoul(argument, &base, 10));
    SetStoreBaseDirectory(base + 1);
    auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (unsigned generation = first; std::chrono::steady_clock::now() < end; ++generation) {
      {
        RegValueStore writer;
        if (!writer.Open("\\Crash", true)) return;
        for (int i = 0; i < kValues; ++i) {
          writer.SetInteger(Numbered("v", i).c_str(), generation);
        }
      }
      if (generation == first) std::ofstream(std::string(base + 1) + "/saved");
    }
  };
  if (const char* argument = ChildProcess::Argument()) {
    writer(argument);
    return;
  }
  std::mt19937 random(12345);
  uint32_t lastGeneration = 0;
  for (int round = 0; round < 12; ++round) {
    ChildProcess child(std::to_string(lastGeneration + 1) + " " + dir_.path(), writer);
    bool saved = false;
    for (int i = 0; i < 60000 && !(saved = Exists("saved")); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(saved);  // the first save is done
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 10000));
    ASSERT_TRUE(child.Kill());  // while it was saving
    std::filesystem::remove(dir_ / "saved");

    RegValueStore reader;
    reader.Path = "Crash";
    ASSERT_TRUE(reader.LoadValues(reader.KeyFilePath().c_str()));
    ASSERT_EQ(reader.Values.Count(), kValues);
    uint32_t generation = reader.GetInteger("v0");
    EXPECT_GT(generation, lastGeneration);
    for (int i = 0; i < kValues; ++i) {
      ASSERT_EQ(reader.GetInteger(Numbered("v", i).c_str()), generation);
    }
    lastGeneration = generation;
    EXPECT_LE(Temporaries(dir_ / "HKEY_CURRENT_USER/Crash").size(), 1u);
  }

  // Temporaries that no save holds go with the next save and with the key;
  // files of other names, and directories, stay and are listed.
  dir_.Write("HKEY_CURRENT_USER/Crash/Values.xml.q54321", "stale");
  dir_.Write("HKEY_CURRENT_USER/Crash/Values.xml.backup", "the user's");
  dir_.MakeDir("HKEY_CURRENT_USER/Crash/Values.xml.z00000");
  RegValueStore store;
  ASSERT_TRUE(store.Open("\\Crash", false));
  store.SetInteger("v0", 0);
  store.Close();
  EXPECT_EQ(Temporaries(dir_ / "HKEY_CURRENT_USER/Crash"),
            (Strings{"Values.xml.backup", "Values.xml.z00000"}));
  ASSERT_TRUE(store.Open("\\Crash", false));
  StringList list;
  store.EnumSubKeys(list);
  EXPECT_EQ(Items(list), (Strings{"Values.xml.backup", "Values.xml.z00000"}));
  std::filesystem::remove(dir_ / "HKEY_CURRENT_USER/Crash/Values.xml.backup");
  std::filesystem::remove(dir_ / "HKEY_CURRENT_USER/Crash/Values.xml.z00000");
  dir_.Write("HKEY_CURRENT_USER/Crash/Values.xml.r12345", "stale");
  ASSERT_TRUE(store.Open("\\", false));
  EXPECT_TRUE(store.DeleteSubKey("Crash"));
}

}  // namespace
