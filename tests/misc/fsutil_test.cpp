// File-system and process utilities: directory listing, path queries and
// the wildcard search on real directories; the matchers and the line
// scanners on their own.
#include "misc/fsutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/platform_env.h"
#include "support/standin_root.h"
#include "support/temp_dir.h"

namespace {

using Listing = std::vector<std::pair<std::string, uint32_t>>;

Listing List(const std::string& directory) {
  Listing listing;
  DirHandle* dir = OpenDir(directory.c_str());
  if (!dir) return listing;
  DirEntry entry;
  DirEntry* result;
  for (int i = 0; i < 1000 && (ReadDirEntry(dir, &entry, &result), result); ++i) {
    EXPECT_EQ(result, &entry);
    listing.emplace_back(entry.Name, entry.Type);
  }
  CloseDir(dir);
  return listing;
}

TEST(FsUtil, DirectoryListing) {
  TempDir temp;
  EXPECT_EQ(List(temp.path()), (Listing{{".", 4}, {"..", 4}}));

  temp.Write("b.txt", "bb");
  temp.Write("A.txt", "a");
  temp.MakeDir("c");
  Listing expected = {{".", 4}, {"..", 4}, {"A.txt", 8}, {"b.txt", 8}, {"c", 4}};
  // A link to nothing has no type. Making links on Windows needs a privilege.
  if (!platform_env::kWindows) {
    std::filesystem::create_symlink(temp / "missing", temp / "dangling");
    expected.push_back({"dangling", 0});
  }
  EXPECT_EQ(List(temp.path()), expected);

  // Backslashes are accepted in the caller's path.
  temp.Write("c/inner", "");
  std::string backslashed = temp.path() + "\\c";
  EXPECT_EQ(List(backslashed), (Listing{{".", 4}, {"..", 4}, {"inner", 8}}));

  // ReadDir delivers into one process-wide entry.
  DirHandle* dir = OpenDir((temp / "c").c_str());
  ASSERT_NE(dir, nullptr);
  DirEntry* first = ReadDir(dir);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->Name, ".");
  EXPECT_EQ(ReadDir(dir), first);
  EXPECT_STREQ(first->Name, "..");
  EXPECT_STREQ(ReadDir(dir)->Name, "inner");
  EXPECT_EQ(ReadDir(dir), nullptr);
  EXPECT_EQ(ReadDir(dir), nullptr);
  CloseDir(dir);
  CloseDir(nullptr);

  EXPECT_EQ(OpenDir((temp / "missing").c_str()), nullptr);
  EXPECT_EQ(OpenDir((temp / "A.txt").c_str()), nullptr);
  DirEntry entry;
  DirEntry* result = &entry;
  EXPECT_EQ(ReadDirEntry(nullptr, &entry, &result), 0);
  EXPECT_EQ(result, nullptr);
}

TEST(FsUtil, DirectoryPathLimit) {
  // The directory text may have 257 characters: with the separator, the
  // star and the terminator the search pattern fills 260 bytes.
  TempDir temp;
  std::string path = temp.path();
  if (path.size() > 150) GTEST_SKIP() << "temporary directory path too long";
  while (path.size() + 101 < 257) path.append("/").append(100, 'd');
  path.append("/");
  path.append(257 - path.size(), 'e');
  ASSERT_EQ(path.size(), 257u);
  std::filesystem::create_directories(path);
  std::string longer = path.substr(0, path.size() - 1) + "ff";
  std::filesystem::create_directories(longer);
  EXPECT_EQ(List(path).size(), 2u);
  EXPECT_EQ(OpenDir(longer.c_str()), nullptr);
}

TEST(FsUtil, PathQueries) {
  TempDir temp;
  std::string missing = temp / "missing";
  EXPECT_FALSE(FileExists(nullptr));
  EXPECT_EQ(PathSize(nullptr), 0u);
  EXPECT_EQ(OpenDir(nullptr), nullptr);
  EXPECT_FALSE(FileExists(missing.c_str()));
  EXPECT_FALSE(IsDirectory(missing.c_str()));
  EXPECT_EQ(PathSize(missing.c_str()), 0u);

  temp.Write("ten", "0123456789");
  temp.Write("five", "01234");
  temp.MakeDir("sub");
  temp.Write("sub/more", std::string(1000, 'x'));
  EXPECT_TRUE(FileExists((temp / "ten").c_str()));
  EXPECT_FALSE(IsDirectory((temp / "ten").c_str()));
  EXPECT_TRUE(FileExists((temp / "sub").c_str()));
  EXPECT_TRUE(IsDirectory((temp.path() + "\\sub").c_str()));
  EXPECT_EQ(PathSize((temp / "ten").c_str()), 10u);
  EXPECT_EQ(PathSize(temp.path().c_str()), 15u);
  EXPECT_EQ(PathSize((temp / "sub").c_str()), 1000u);

  std::filesystem::path before = std::filesystem::current_path();
  EXPECT_EQ(ChangeDirectory((temp.path() + "\\sub").c_str()), 0);
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(temp / "sub"));
  EXPECT_EQ(PathSize("more"), 1000u);
  EXPECT_EQ(ChangeDirectory(missing.c_str()), -1);
  std::filesystem::current_path(before);
}

std::vector<std::string> Matches(const char* pattern) {
  std::vector<std::string> found;
  if (!FindFirstMatch(pattern)) return {"(failed)"};
  char fullPath[MATCH_PATH_SIZE];
  char name[MAX_PATH];
  for (int i = 0; i < 100 && FindNextMatch(fullPath, name); ++i) {
    EXPECT_EQ(std::string(fullPath).substr(std::strlen(fullPath) - std::strlen(name)), name);
    found.emplace_back(fullPath);
  }
  return found;
}

TEST(FsUtil, WildcardSearch) {
  using platform_env::Native;
  TempDir temp;
  temp.MakeDir("data");
  temp.Write("data/x.log", "");
  temp.Write("data/Y.LOG", "");
  temp.Write("data/a.b.log", "");
  temp.Write("data/notes.txt", "");

  std::string prefix = temp.path() + "\\data";
  EXPECT_EQ(Matches((prefix + "\\*.log").c_str()),
            (std::vector<std::string>{prefix + Native("/x.log"), prefix + Native("/Y.LOG")}));
  EXPECT_EQ(Matches((temp.path() + "/data/*").c_str()).size(), 4u);
  EXPECT_EQ(Matches((temp.path() + "/data/").c_str()).size(), 4u);
  EXPECT_EQ(Matches((temp.path() + "/data/.").c_str()).size(), 4u);
  EXPECT_EQ(Matches((temp.path() + "/data/*.none").c_str()), std::vector<std::string>{});
  EXPECT_EQ(Matches((temp.path() + "/nodir/*").c_str()), std::vector<std::string>{"(failed)"});
  EXPECT_FALSE(FindNextMatch(nullptr, nullptr));

  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(temp.path());
  EXPECT_EQ(Matches("data\\*.txt"), std::vector<std::string>{Native("data/notes.txt")});
  EXPECT_EQ(Matches("*"), std::vector<std::string>{Native("./data")});
  // A colon other than a drive letter's fails.
  EXPECT_EQ(Matches("data:txt"), std::vector<std::string>{"(failed)"});
  std::filesystem::current_path(before);

  // Only the buffers given are written; a new search ends the one running.
  ASSERT_TRUE(FindFirstMatch((prefix + "/x.*").c_str()));
  char name[MAX_PATH] = "";
  EXPECT_TRUE(FindNextMatch(nullptr, name));
  EXPECT_STREQ(name, "x.log");
  ASSERT_TRUE(FindFirstMatch((prefix + "/*.txt").c_str()));
  EXPECT_TRUE(FindNextMatch(nullptr, nullptr));
  EXPECT_FALSE(FindNextMatch(nullptr, nullptr));
}

// Drive letters, played by directories named "C:" and "X:" in a temp dir.
TEST(FsUtil, WildcardSearchDriveLetters) {
  if (platform_env::kWindows) {
    GTEST_SKIP() << "Windows has real drives; a directory cannot be named C:";
  }
  TempDir temp;
  temp.MakeDir("C:/data");
  temp.Write("C:/data/x.log", "");
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(temp.path());
  // A drive letter keeps its colon in the directory.
  EXPECT_EQ(Matches("C:\\data\\*.log"), std::vector<std::string>{"C:\\data/x.log"});
  EXPECT_TRUE(FileExists("C:\\data/x.log"));
  temp.MakeDir("data/X:");
  temp.Write("data/X:/x1", "");
  std::filesystem::current_path(temp / "data");
  EXPECT_EQ(Matches("X:x*"), std::vector<std::string>{"X:x1"});
  std::filesystem::current_path(before);
}

TEST(FsUtil, WildMatch) {
  struct Case {
    const char* name;
    const char* pattern;
    bool prefix;
    bool match;
    bool simple;  // WildMatchSimple's answer
  } cases[] = {
      {"ABC.LOG", "*.log", false, true, true},
      {"a/b", "*", false, false, false},
      {"a/b", "*", true, true, true},
      {"abc", "ab", true, true, true},
      {"abc", "ab", false, false, false},
      {"a.b.txt", "*.txt", false, false, true},
      {"abc", "a?c", false, true, true},
      {"a/c", "a?c", false, false, false},
      {"ab", "ab?", false, false, false},
      {"abc", "a*?c", false, true, true},
      {"dir/file", "*/f*", false, true, false},
      {"dir\\file", "*/file", false, true, false},
      {"dir/file", "*\\file", false, true, false},
      {"x/y", "x*y", false, false, false},
      {"aaab", "*aab", false, true, true},
      {"ab", "*aab", false, false, false},
      {"abc", "abc***", false, true, true},
      {"abc", "", false, false, false},
      {"abc", "", true, true, true},
      {"", "*", false, true, true},
      {"", "", false, true, true},
      {"abcde", "a*", false, true, false},
      {"abcde", "a*", true, true, true},
      {"xa/yb", "x*b", false, false, false},
      {"Readme.TXT", "read*.t?t", false, true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildMatch(c.name, c.pattern, c.prefix), c.match)
        << c.name << " ~ " << c.pattern << " prefix " << c.prefix;
    EXPECT_EQ(WildMatchSimple(c.name, c.pattern, c.prefix), c.simple)
        << c.name << " ~ " << c.pattern << " prefix " << c.prefix << " (simple)";
  }
}

TEST(FsUtil, TempFormat) {
  char* first = TempFormat("%d-%s", 1, "one");
  EXPECT_STREQ(first, "1-one");
  char* others[3] = {TempFormat("b"), TempFormat("c"), TempFormat("d")};
  EXPECT_STREQ(first, "1-one");
  for (char* other : others) EXPECT_NE(other, first);
  EXPECT_EQ(TempFormat("%s", std::string(300, 'z').c_str()), first);
  EXPECT_EQ(std::string(first), std::string(255, 'z'));
}

TEST(FsUtil, SplitToken) {
  char line[] = "  HTTP/1.1 200  OK\r\nignored";
  char* cursor = line;
  EXPECT_STREQ(SplitToken(&cursor, ' '), "HTTP/1.1");
  EXPECT_STREQ(SplitToken(&cursor, ' '), "200");
  EXPECT_STREQ(SplitToken(&cursor, ' '), "OK");
  EXPECT_STREQ(cursor, "\nignored");
  EXPECT_EQ(SplitToken(&cursor, ' '), nullptr);
  EXPECT_STREQ(cursor, "\nignored");
  char last[] = "a,,b";
  cursor = last;
  EXPECT_STREQ(SplitToken(&cursor, ','), "a");
  EXPECT_STREQ(SplitToken(&cursor, ','), "b");
  EXPECT_EQ(cursor, last + 4);
  EXPECT_EQ(SplitToken(&cursor, ','), nullptr);
}

/* Runs a scanner over line until it fails: the fields it stored, then "|"
** and what the cursor was left on. */
template <typename Scan>
std::vector<std::string> Fields(const char* line, size_t size, Scan scan) {
  std::vector<std::string> fields;
  std::vector<char> out(size + 1);
  const char* cursor = line;
  for (int i = 0; i < 20 && scan(&cursor, out.data(), size); ++i) fields.emplace_back(out.data());
  fields.push_back(std::string("|").append(cursor));
  return fields;
}

TEST(FsUtil, LineScanners) {
  using Result = std::vector<std::string>;
  auto field = [](char delimiter) {
    return [=](const char** c, char* out, size_t n) { return GetField(c, out, n, delimiter); };
  };
  auto loose = [](const char** c, char* out, size_t n) { return GetFieldLoose(c, out, n, ';'); };
  auto either = [](const char** c, char* out, size_t n) {
    return GetFieldEither(c, out, n, ',', ';');
  };
  auto set = [](const char** c, char* out, size_t n) { return GetFieldSet(c, out, n, " \t"); };
  auto word = [](const char** c, char* out, size_t n) { return GetWord(c, out, n, '='); };

  EXPECT_EQ(Fields(",,ab,c", 4, field(',')), (Result{"ab", "c", "|"}));
  // Three characters fit four bytes, four do not; a failure leaves the cursor.
  EXPECT_EQ(Fields("\r\nabc\r\nabcd", 4, field(',')), (Result{"abc", "|\r\nabcd"}));
  EXPECT_EQ(Fields("abc", 0, field(',')), (Result{"|abc"}));
  // Control characters: refused by GetField, taken by GetFieldLoose.
  EXPECT_EQ(Fields("a\tb;c", 4, field(';')), (Result{"|a\tb;c"}));
  EXPECT_EQ(Fields("a\tb;c", 4, loose), (Result{"a\tb", "c", "|"}));
  EXPECT_EQ(Fields("a\tb;c", 4, field('\t')), (Result{"a", "b;c", "|"}));
  EXPECT_EQ(Fields(";x,y\nz", 4, either), (Result{"x", "y", "z", "|"}));
  // GetFieldSet ends only at its own characters, not at line ends.
  EXPECT_EQ(Fields(" \t a\rb\t c", 4, set), (Result{"a\rb", "c", "|"}));
  // GetWord ends at its delimiter or a space; the end of the text fails.
  EXPECT_EQ(Fields("key=val ue", 8, word), (Result{"key", "val", "|ue"}));
  EXPECT_EQ(Fields("key=val ue", 3, word), (Result{"|key=val ue"}));
  EXPECT_EQ(Fields("=rest", 4, word), (Result{"", "|rest"}));
  EXPECT_EQ(Fields("abc=", 4, word), (Result{"abc", "|"}));
  EXPECT_EQ(Fields("a\tb=", 8, word), (Result{"|a\tb="}));
  EXPECT_EQ(Fields("=", 0, word), (Result{"|="}));
}

// Wine reads the Windows version it reports when a program starts, from its
// setting for that program: a child of the test reports what the library
// makes of each version. (Wine 8 reports Windows 7 as a server and Server
// 2008 R2 as a workstation, so neither is asked.)
TEST(FsUtil, WindowsVersionsUnderWine) {
  if (!platform_env::UnderWine()) {
    GTEST_SKIP() << "the reported version is set per program only under Wine; the stand-in "
                    "has its own table test";
  }
  if (const char* result = ChildProcess::Argument()) {
    char name[32];
    InstanceMutexName(name, sizeof name, "svc");
    std::ofstream(result) << WindowsVersionCode() << " " << ProcessorArchitecture() << " " << name;
    return;
  }
  platform_env::WineVersion wine("fsutil_test.exe");  // this program
  // Windows 8.1 and 10 report 6.2 to a program whose manifest does not name
  // them, as this one's does not.
  const std::pair<const char*, const char*> rows[] = {
      {"nt40", "6 2 __ZU_svc__"},           {"win2k", "7 2 Global\\__ZU_svc__"},
      {"winxp", "8 2 Global\\__ZU_svc__"},  {"win2003", "9 2 Global\\__ZU_svc__"},
      {"vista", "10 2 Global\\__ZU_svc__"}, {"win2008", "11 2 Global\\__ZU_svc__"},
      {"win8", "13 2 Global\\__ZU_svc__"},  {"win10", "13 2 Global\\__ZU_svc__"}};
  TempDir temp;
  for (const auto& [version, expected] : rows) {
    ASSERT_TRUE(wine.Set(version));
    std::string result = temp / version;
    ChildProcess child(result, nullptr);
    EXPECT_TRUE(child.Finished()) << version;
    EXPECT_EQ(temp.Read(version), expected) << version;
  }
}

using MachineQueries = StandinRootTest;

// The edges of the version table and the codes Wine is not asked for (the
// plain NT rows are checked against Wine in WindowsVersionsUnderWine).
TEST_F(MachineQueries, VersionCodes) {
  struct Row {
    const char* platform;
    const char* version;
    const char* product;
    const char* servicePack;
    int code;
  } rows[] = {
      {"windows", "4.10.2222", "", " A ", 4},
      {"windows", "4.10.2222", "", "A", 3},
      {"windows", "4.90.3000", "", "", 5},
      {"windows", "5.0", "", "", 0},
      {"win32s", "4.0", "", "", 2},
      {"nt", "4.0.1381", "server", "Service Pack 6", 6},
      {"nt", "4.1", "workstation", "", 6},
      {"nt", "5.0.2195", "workstation", "", 7},
      {"nt", "6.0.6002", "server", "", 11},
      {"nt", "6.1.7601", "domain_controller", "", 11},
      {"nt", "6.1.7601", "workstation", "Service Pack 1", 12},
      {"nt", "6.3.9600", "workstation", "", 13},
      {"nt", "6.3.9600", "3", "", 14},
      {"nt", "10.0.20348", "server", "", 16},
      {"nt", "3.51", "workstation", "", 0},
      {"nt", "6.4", "workstation", "", 0},
      {"nt", "not a version", "workstation", "", 0},
      {"os/2", "10.0", "workstation", "", 0},
  };
  char name[32];
  for (const Row& row : rows) {
    Configure(std::string("windows.platform=") + row.platform + "\nwindows.version=" + row.version +
              "\nwindows.product_type=" + row.product +
              "\nwindows.service_pack=" + row.servicePack + "\n");
    SCOPED_TRACE(std::string(row.platform) + " " + row.version + " " + row.product);
    EXPECT_EQ(WindowsVersionCode(), row.code);
    // NT 5.0 and later name the mutex in the machine-wide namespace.
    const char* expected = row.code >= 7 ? "Global\\__ZU_svc__" : "__ZU_svc__";
    EXPECT_EQ(InstanceMutexName(name, sizeof name, "svc"), static_cast<int>(std::strlen(expected)));
    EXPECT_STREQ(name, expected);
  }

  // The default machine is Windows 10; a name must fit with its terminator.
  Configure("");
  EXPECT_EQ(WindowsVersionCode(), 15);
  EXPECT_EQ(InstanceMutexName(name, 18, "svc"), 17);
  EXPECT_EQ(InstanceMutexName(name, 17, "svc"), -1);
  EXPECT_EQ(InstanceMutexName(name, 0, "svc"), -1);
}

TEST_F(MachineQueries, ProcessorArchitecture) {
  Configure("windows.processor=arm64\n");
  EXPECT_EQ(ProcessorArchitecture(), 0);
  // A 32-bit process on 64-bit Windows: the native answer wins, and without
  // GetNativeSystemInfo the process's own is all there is.
  Configure("windows.processor=x64\nwindows.process_processor=x86\n");
  EXPECT_EQ(ProcessorArchitecture(), 2);
  Configure(
      "windows.processor=x64\nwindows.process_processor=x86\n"
      "kernel32.GetNativeSystemInfo=0\n");
  EXPECT_EQ(ProcessorArchitecture(), 1);
}

}  // namespace
