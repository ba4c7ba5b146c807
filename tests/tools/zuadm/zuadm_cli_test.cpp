// zuadm driven as a user drives it: real processes in a temp directory,
// with the file tree and the registry (on Linux the stand-in's) both kept
// there; killed at random instants, run side by side, and run against a
// full disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/platform_env.h"
#include "support/process.h"
#include "support/standin_root.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Result {
  int exit = -1;  // -1: killed
  std::string out, err;
};

// The lines of a command's output, each ended by a line feed.
long Lines(const std::string& text) {
  return std::count(text.begin(), text.end(), '\n');
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class Zuadm : public ::testing::Test {
 protected:
  /* Starts zuadm on the file store below dir_/files (or the registry) with
  ** args; its input and output go through files named after call.
  ** fileSizeLimit > 0 limits the size of every file it writes, as a full
  ** disk would. */
  StartedProcess Start(const std::vector<std::string>& args, bool registry, int call,
                       const std::string& input = "", unsigned long fileSizeLimit = 0) {
    std::vector<std::string> all = {ZUADM_PATH};
    if (registry) {
      all.push_back("-R");
    } else {
      all.insert(all.end(), {"-w", "files"});
    }
    all.insert(all.end(), args.begin(), args.end());
    dir_.Write(Name("in", call), input);
    return StartProcess(all, dir_.path(), dir_ / Name("in", call), dir_ / Name("out", call),
                        dir_ / Name("err", call), fileSizeLimit);
  }
  Result Finish(StartedProcess& started, int call) {
    Result result;
    result.exit = WaitProcess(started);
    result.out = dir_.ReadText(Name("out", call));
    result.err = dir_.ReadText(Name("err", call));
    return result;
  }
  Result Run(const std::vector<std::string>& args, bool registry = false,
             const std::string& input = "", unsigned long fileSizeLimit = 0) {
    int call = ++calls_;
    StartedProcess started = Start(args, registry, call, input, fileSizeLimit);
    return Finish(started, call);
  }
  static std::string Name(const char* what, int call) {
    return std::string(what) + "-" + std::to_string(call) + ".txt";
  }

  TempDir dir_;
  SharedRegistry registry_{dir_ / "win32"};
  std::atomic<int> calls_{0};
};

/* FIELD=VALUE lines of a firewall with count rules named prefix0, ... */
std::string Rules(const std::string& prefix, int count) {
  std::string lines = "ENABLE_FW=" + std::string(count % 2 ? "true" : "false") + "\n";
  for (int i = 0; i < count; ++i) {
    std::string rule = "FW_RULES[" + std::to_string(i) + "].";
    lines += rule + "NAME=" + prefix + std::to_string(i) + "\n" + rule +
             "LOCAL_PORT=" + std::to_string(1000 + i) + "\n";
  }
  return lines;
}

// Every tag round-trips in process (record_store_test); records go through
// the binary here with nested lists, on both stores.
TEST_F(Zuadm, FieldAssignmentsAndTheirErrors) {
  Result tags = Run({"record", "tags"});
  EXPECT_EQ(Lines(tags.out), 92);
  Result made = Run({"record", "new", "DNS"});
  EXPECT_EQ(made.out.rfind("DNS\n", 0), 0u) << made.out;
  Result saved = Run({"record", "save", "NETWORK_PARAMS", "Gateway/Network", "enable_fw=false",
                      "FW_RULES[0].NAME=ssh in", "FW_RULES[0].LOCAL_PORT=22",
                      "FW_RULES[1].REMOTE_IP=192.168.10.0", "IF_LIST[0].LABEL=eth0",
                      "IF_LIST[0].MAC=00:1a:2B:3c:4d:5e", "IF_LIST[0].IPS[0].ADDRESS=10.0.0.1",
                      "IF_LIST[0].DUN_PASSWORD=s\xC3\xA9same"});
  ASSERT_EQ(saved.exit, 0) << saved.err;
  Result loaded = Run({"record", "load", "\\Gateway\\Network"});
  ASSERT_EQ(loaded.exit, 0) << loaded.err;
  for (const char* line :
       {"  ENABLE_FW = false", "    FIREWALL_RULE \"0000\"", "      NAME = \"ssh in\"",
        "      LOCAL_PORT = 22", "    FIREWALL_RULE \"0001\"", "      REMOTE_IP = 192.168.10.0",
        "    NETWORK_INTERFACE \"eth0\"", "      MAC = 00-1A-2B-3C-4D-5E",
        "          ADDRESS = 10.0.0.1"}) {
    EXPECT_TRUE(Has(loaded.out, std::string(line) + "\n")) << line;
  }
  EXPECT_FALSE(Has(loaded.out, "s\xC3\xA9same"));

  // A stored record is changed in place; its other fields stay.
  Result changed = Run({"record", "set", "Gateway\\Network", "FW_RULES[0].LOCAL_PORT=2222",
                        "FW_RULES[2].NAME=third"});
  ASSERT_EQ(changed.exit, 0) << changed.err;
  Result again = Run({"record", "load", "Gateway\\Network"});
  EXPECT_TRUE(Has(again.out, "LOCAL_PORT = 2222"));
  EXPECT_TRUE(Has(again.out, "NAME = \"third\""));
  EXPECT_TRUE(Has(again.out, "NAME = \"ssh in\""));

  struct Bad {
    std::vector<std::string> args;
    const char* message;
  };
  const Bad bad[] = {
      {{"NO_SUCH_FIELD=1"}, "no field \"NO_SUCH_FIELD\""},
      {{"ENABLE_CID=12x"}, "ENABLE_CID: \"12x\" is not an integer"},
      {{"ENABLE_CID=4294967296"}, "is not an integer"},
      {{"ENABLE_FW=maybe"}, "is not true or false"},
      {{"FW_RULES[0].REMOTE_IP=10.0.0"}, "is not an IPv4 address"},
      {{"IF_LIST[0].MAC=00:11:22"}, "is not a hardware address"},
      {{"FW_RULES=x"}, "is a list"},
      {{"FW_RULES[1].NAME=x"}, "the next one is [0]"},
      {{"FW_RULES.NAME=x"}, "use FW_RULES[INDEX].FIELD"},
      {{"FW_RULES[0]NAME=x"}, "bad element path"},
      {{"ENABLE_FW"}, "is not FIELD=VALUE"},
  };
  for (const Bad& b : bad) {
    std::vector<std::string> args = {"record", "save", "NETWORK_PARAMS", "Broken"};
    args.insert(args.end(), b.args.begin(), b.args.end());
    Result result = Run(args);
    EXPECT_EQ(result.exit, 2) << b.args[0];
    EXPECT_TRUE(Has(result.err, b.message)) << result.err;
  }
  EXPECT_FALSE(fs::exists(dir_ / "files/HKEY_CURRENT_USER/Broken"));
  EXPECT_EQ(Run({"record", "set", "Gateway\\Network", "FW_RULES[9].NAME=x"}).exit, 2);
  EXPECT_EQ(Run({"record", "save", "NO_SUCH_TAG", "Broken"}).exit, 2);
  Result missing = Run({"record", "load", "Nowhere"});
  EXPECT_EQ(missing.exit, 1);
  EXPECT_TRUE(Has(missing.err, "no key Nowhere"));
}

TEST_F(Zuadm, SettingsCommandsOnBothStores) {
  for (bool registry : {false, true}) {
    SCOPED_TRACE(registry ? "registry" : "files");
    EXPECT_EQ(Run({"settings", "set", "App\\Main", "Title", "Caf\xC3\xA9"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "set-int", "App\\Main", "Port", "8080"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "set", "App\\Main\\Sub", "x", "1"}, registry).exit, 0);

    Result title = Run({"settings", "get", "App/Main", "Title"}, registry);
    EXPECT_EQ(title.exit, 0);
    EXPECT_EQ(title.out, "Caf\xC3\xA9\n");
    EXPECT_EQ(Run({"settings", "get", "App\\Main", "Port"}, registry).out, "8080\n");

    Result list = Run({"settings", "list", "App\\Main"}, registry);
    EXPECT_EQ(list.exit, 0);
    EXPECT_TRUE(Has(list.out, "Title = \"Caf\xC3\xA9\"\n")) << list.out;
    EXPECT_TRUE(Has(list.out, "Port = 8080\n"));
    EXPECT_TRUE(Has(list.out, "Sub\\\n"));
    Result tree = Run({"settings", "tree", "App"}, registry);
    EXPECT_EQ(tree.out.rfind("Main\\\n", 0), 0u) << tree.out;
    EXPECT_TRUE(Has(tree.out, "\n  Title = \"Caf\xC3\xA9\"\n")) << tree.out;
    EXPECT_TRUE(Has(tree.out, "  Sub\\\n    x = \"1\"\n")) << tree.out;

    EXPECT_EQ(Run({"settings", "del", "App\\Main", "Port"}, registry).exit, 0);
    Result gone = Run({"settings", "get", "App\\Main", "Port"}, registry);
    EXPECT_EQ(gone.exit, 1);
    EXPECT_TRUE(Has(gone.err, "no value Port"));

    // A rename onto an existing key needs --force; into itself never.
    EXPECT_EQ(Run({"settings", "set", "App\\Other", "o", "1"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "rename", "App\\Main", "App\\Other"}, registry).exit, 1);
    EXPECT_EQ(Run({"settings", "rename", "App\\Main", "App\\Main\\In"}, registry).exit, 1);
    EXPECT_EQ(Run({"settings", "rename", "App\\Main", "App\\Other", "--force"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "get", "App\\Other", "Title"}, registry).out, "Caf\xC3\xA9\n");
    EXPECT_EQ(Run({"settings", "get", "App\\Other", "o"}, registry).exit, 1);
    EXPECT_EQ(Run({"settings", "rename", "App\\Other", "Moved\\Deep"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "get", "Moved\\Deep\\Sub", "x"}, registry).out, "1\n");

    EXPECT_EQ(Run({"settings", "rmkey", "Moved"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "list", "Moved"}, registry).exit, 1);
  }
  // The file store keeps Latin-1 bytes on disk.
  EXPECT_EQ(Run({"settings", "set", "Enc", "Word", "\xC3\xA9t\xC3\xA9"}).exit, 0);
  std::string file = dir_.Read("files/HKEY_CURRENT_USER/Enc/Values.xml");
  EXPECT_TRUE(Has(file, "<string name=\"Word\">\xE9t\xE9</string>\r\n")) << file;

  // -m keeps the machine's settings apart from the user's, in both stores,
  // also when it follows the command.
  for (bool registry : {false, true}) {
    EXPECT_EQ(Run({"-m", "settings", "set", "Machine", "Owner", "root"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "get", "Machine", "Owner", "-m"}, registry).out, "root\n");
    EXPECT_EQ(Run({"settings", "get", "Machine", "Owner"}, registry).exit, 1);
  }
  EXPECT_TRUE(fs::exists(dir_ / "files/HKEY_LOCAL_MACHINE/Machine/Values.xml"));
}

TEST_F(Zuadm, UsageHelpAndSysinfo) {
  Result option = Run({"-x", "record", "tags"});
  EXPECT_EQ(option.exit, 2);
  EXPECT_TRUE(Has(option.err, "get command line option: Invalid argument\n"));
  EXPECT_TRUE(Has(option.err, "usage: zuadm"));
  EXPECT_EQ(Run({}).exit, 2);
  EXPECT_EQ(Run({"bogus"}).exit, 2);
  EXPECT_EQ(Run({"settings", "get", "A"}).exit, 2);
  EXPECT_EQ(Run({"settings", "set-int", "A", "n", "twelve"}).exit, 2);
  EXPECT_EQ(Run({"record", "new", "firewall_rule"}).exit, 2);
  EXPECT_EQ(Run({"record", "load", "A", "--json", "--force"}).exit, 2);
  EXPECT_EQ(Run({"settings", "get", "A", "n", "-f", "x"}).exit, 2);
  Result help = Run({"-h"});
  EXPECT_EQ(help.exit, 0);
  for (const char* command : {"settings", "record", "export", "import", "sysinfo"}) {
    EXPECT_TRUE(Has(help.out, std::string("  ") + command + " ")) << command;
    Result own = Run({command, "--help"});
    EXPECT_EQ(own.exit, 0) << command;
    EXPECT_EQ(own.out.rfind(std::string("  ") + command + " ", 0), 0u) << own.out;
  }
  Result version = Run({"--version"});
  EXPECT_EQ(version.exit, 0);
  EXPECT_EQ(version.out.rfind("zuadm ", 0), 0u);
  // A text that starts with - follows --; a negative number needs nothing.
  EXPECT_EQ(Run({"settings", "set", "K", "n", "-x"}).exit, 2);
  EXPECT_EQ(Run({"settings", "set", "K", "n", "--", "-x"}).exit, 0);
  EXPECT_EQ(Run({"settings", "set-int", "K", "i", "-5"}).exit, 0);
  EXPECT_EQ(Run({"settings", "get", "K", "n"}).out, "-x\n");
  EXPECT_EQ(Run({"settings", "get", "K", "i"}).out, "4294967291\n");

  if (platform_env::kWindows) return;  // the machine below is the stand-in's
  dir_.MakeDir("win32");
  dir_.Write("win32/standin.conf", "windows.version=4.0\nwindows.processor=x86\n");
  Result nt4 = Run({"sysinfo", "svc"});
  EXPECT_EQ(nt4.out,
            "processor architecture: 1 (x86)\nwindows version code: 6\n"
            "instance mutex name: __ZU_svc__\n");
}

// What an administrator gives is checked before anything is written, and
// nothing outside the store is touched.
TEST_F(Zuadm, BadPathsTextsAndStrayFiles) {
  dir_.MakeDir("outside");
  dir_.Write("outside/keep.txt", "the user's");
  ASSERT_EQ(Run({"settings", "set", "Gw\\Inner", "v", "1"}).exit, 0);
  auto snapshot = [&] {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
      std::string file = entry.path().filename().string();
      if (file.rfind("out-", 0) && file.rfind("err-", 0) && file.rfind("in-", 0)) {
        names.insert(entry.path().string());
      }
    }
    return names;
  };
  std::set<std::string> before = snapshot();
  for (bool registry : {false, true}) {
    for (const char* path : {"../../outside", "..", "Gw/../..", "A/./B", "A//B", "A/", "Values.xml",
                             "Gw/values.XML", "Gw/Values.xml.a12345", "Gw/x.zuadm-new", "$zuadm"}) {
      Result set = Run({"settings", "set", path, "n", "v"}, registry);
      EXPECT_EQ(set.exit, 2) << path;
      EXPECT_EQ(Run({"settings", "rmkey", path}, registry).exit, 2) << path;
    }
    EXPECT_EQ(Run({"settings", "rmkey", ""}, registry).exit, 2);
    EXPECT_EQ(Run({"settings", "rmkey", "/"}, registry).exit, 2);
  }
  for (const char* path : {"a:b", "CON", "lpt1.txt", "dot.", "tab\tname", "q?"}) {
    EXPECT_EQ(Run({"settings", "set", path, "n", "v"}).exit, 2) << path;
  }
  Result euro = Run({"settings", "set", "Gw", "n", "5 \xE2\x82\xAC"});
  EXPECT_EQ(euro.exit, 2);
  EXPECT_TRUE(Has(euro.err, "U+20AC")) << euro.err;
  EXPECT_EQ(Run({"settings", "set", "Gw", "n", "\xE9t\xE9"}).exit, 2);  // Latin-1, not UTF-8
  EXPECT_EQ(snapshot(), before);
  EXPECT_EQ(Run({"settings", "set", "a:b", "n", "v"}, true).exit, 0);  // the registry holds it

  // Stray files in key directories are no keys to any command.
  ASSERT_EQ(Run({"record", "save", "NETWORK_PARAMS", "Gw\\Net", "FW_RULES[0].NAME=a"}).exit, 0);
  dir_.Write("files/HKEY_CURRENT_USER/Gw/notes.txt", "x");
  dir_.Write("files/HKEY_CURRENT_USER/Gw/Net/FW_RULES/stray", "x");
  // Nor are links, which could lead out of the store.
  if (!platform_env::kWindows) {  // links there need rights a test does not have
    fs::create_directory_symlink(dir_ / "outside", dir_ / "files/HKEY_CURRENT_USER/Gw/link");
  }
  Result tree = Run({"settings", "tree", "Gw"});
  EXPECT_EQ(tree.exit, 0) << tree.err;
  EXPECT_FALSE(Has(tree.out, "notes.txt"));
  EXPECT_FALSE(Has(tree.out, "link"));
  EXPECT_EQ(Run({"record", "set", "Gw\\Net", "FW_RULES[0].NAME=b"}).exit, 0);
  EXPECT_TRUE(Has(Run({"record", "load", "Gw\\Net"}).out, "NAME = \"b\""));
  EXPECT_EQ(Run({"record", "list", "Gw"}).out, "NETWORK_PARAMS Gw\\Net\n");

  // A save does not replace a key that holds more than a record.
  Result over = Run({"record", "save", "DNS", "Gw"});
  EXPECT_EQ(over.exit, 1);
  EXPECT_TRUE(Has(over.err, "--force")) << over.err;
  EXPECT_EQ(Run({"record", "list", "Gw"}).out, "NETWORK_PARAMS Gw\\Net\n");
  EXPECT_EQ(Run({"record", "save", "DNS", "Gw", "--force"}).exit, 0);
  EXPECT_EQ(Run({"record", "list"}).out, "DNS Gw\n");
  EXPECT_EQ(Run({"settings", "rmkey", "Gw"}).exit, 0);
  EXPECT_FALSE(fs::exists(dir_ / "files/HKEY_CURRENT_USER/Gw"));
  EXPECT_EQ(dir_.Read("outside/keep.txt"), "the user's");
}

TEST_F(Zuadm, ListsJsonExportImportAndFieldFiles) {
  for (bool registry : {false, true}) {
    SCOPED_TRACE(registry ? "registry" : "files");
    // Assignments past what one argument may hold, from a file and stdin.
    std::string big = Rules(std::string(1400, '-') + " rule with a long name, ", 100);
    ASSERT_GT(big.size(), 128u * 1024);
    dir_.Write("big.txt", big);
    Result saved = Run({"record", "save", "NETWORK_PARAMS", "Net\\Big", "-f", "big.txt"}, registry);
    ASSERT_EQ(saved.exit, 0) << saved.err;
    Result fromStdin =
        Run({"record", "set", "Net\\Big", "-f", "-"}, registry, "FW_RULES[99].NAME=last\n");
    ASSERT_EQ(fromStdin.exit, 0) << fromStdin.err;
    ASSERT_EQ(Run({"record", "save", "DNS", "Net\\Dns"}, registry).exit, 0);

    Result list = Run({"record", "list", "Net", "--json"}, registry);
    ASSERT_EQ(list.exit, 0);
    EXPECT_EQ(Run({"record", "list", "Net"}, registry).out,
              "NETWORK_PARAMS Net\\Big\nDNS Net\\Dns\n");
    Result load = Run({"record", "load", "Net\\Big", "--json"}, registry);
    Result keys = Run({"settings", "list", "Net\\Big\\FW_RULES", "--json"}, registry);
    // Python's own parser reads every JSON output (where there is one).
    for (const Result* json : {&list, &load, &keys}) {
      if (platform_env::kWindows) break;
      dir_.Write("check.json", json->out);
      std::string command = "python3 -c 'import json,sys; json.load(open(sys.argv[1]))' " +
                            (dir_ / "check.json") + " 2>/dev/null";
      EXPECT_EQ(std::system(command.c_str()), 0) << json->out.substr(0, 200);
    }
    EXPECT_TRUE(Has(load.out, "\"NAME\": \"last\"")) << load.out.substr(0, 300);

    // Position edits; then an export, imported elsewhere, exports alike.
    ASSERT_EQ(Run({"record", "insert", "Net\\Big", "FW_RULES[0]", "NAME=first"}, registry).exit, 0);
    ASSERT_EQ(Run({"record", "move", "Net\\Big", "FW_RULES[100]", "1"}, registry).exit, 0);
    ASSERT_EQ(Run({"record", "remove", "Net\\Big", "FW_RULES[2]"}, registry).exit, 0);
    Result order = Run({"record", "load", "Net\\Big"}, registry);
    size_t first = order.out.find("\"first\""), last = order.out.find("\"last\"");
    EXPECT_TRUE(first < last && last < order.out.find("long name, 1\""));
    EXPECT_FALSE(Has(order.out, "long name, 0\""));

    Result exported = Run({"export", "Net", "-o", "net.txt"}, registry);
    ASSERT_EQ(exported.exit, 0) << exported.err;
    EXPECT_EQ(Run({"import", "Net"}, registry, dir_.Read("net.txt")).exit, 1);  // exists
    Result imported = Run({"import", "Copy\\Net", "net.txt"}, registry);
    ASSERT_EQ(imported.exit, 0) << imported.err;
    EXPECT_EQ(Run({"export", "Copy\\Net"}, registry).out, dir_.Read("net.txt"));
    Result bad = Run({"import", "Bad", "-"}, registry, "zuadm-export 1\n[\"\"]\n\"a\"=dword:1\n");
    EXPECT_EQ(bad.exit, 2);
    EXPECT_TRUE(Has(bad.err, "line 3")) << bad.err;
    EXPECT_EQ(Run({"record", "rm", "Copy\\Net"}, registry).exit, 1);  // no record there
    EXPECT_EQ(Run({"record", "rm", "Copy\\Net\\Dns"}, registry).exit, 0);
    EXPECT_EQ(Run({"record", "list", "Copy"}, registry).out, "NETWORK_PARAMS Copy\\Net\\Big\n");

    // Output that cannot be written fails the command.
#ifndef _WIN32  // no /dev/full there
    std::string command = std::string(ZUADM_PATH) + (registry ? " -R" : " -w " + dir_ / "files") +
                          " record load 'Net\\Big' >/dev/full 2>/dev/null";
    int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
#endif
  }
}

// Saves and edits killed at random instants: the record is afterwards the
// old one or the new one, and the next command needs no cleanup.
TEST_F(Zuadm, KilledCommandsLeaveTheOldOrTheNewRecord) {
  // Wine starts a program several times slower than Linux.
  const int kKills = platform_env::kWindows ? 15 : 50;
  const auto kBudget = std::chrono::seconds(150);
  std::mt19937 random(20240501);
  for (bool registry : {false, true}) {
    SCOPED_TRACE(registry ? "registry" : "files");
    // The three states and the commands between them.
    dir_.Write("a.txt", Rules("a", 30));
    dir_.Write("b.txt", Rules("b", 31));
    dir_.Write("edit.txt", Rules("e", 33));  // changes every rule and adds two
    std::vector<std::string> a = {"record", "save", "NETWORK_PARAMS", "Gw\\Net", "-f", "a.txt"};
    std::vector<std::string> b = {"record", "save", "NETWORK_PARAMS", "Gw\\Net", "-f", "b.txt"};
    std::vector<std::string> edit = {"record", "set", "Gw\\Net", "-f", "edit.txt"};
    auto load = [&] { return Run({"record", "load", "Gw\\Net"}, registry); };
    std::vector<std::string> text(3);
    std::vector<double> seconds(3);
    const std::vector<std::string>* commands[] = {&a, &b, &edit};
    for (int state : {0, 1, 0, 2}) {  // a, b, a then the edit of a
      auto start = Clock::now();
      ASSERT_EQ(Run(*commands[state], registry).exit, 0);
      seconds[state] = std::chrono::duration<double>(Clock::now() - start).count();
      text[state] = load().out;
    }
    ASSERT_NE(text[2], text[0]);

    int current = 2, killed = 0;
    auto deadline = Clock::now() + kBudget;
    for (int round = 0; round < kKills && Clock::now() < deadline; ++round) {
      // The edit gives the same record from a or b.
      int next = current == 2 ? static_cast<int>(random() % 2) : (random() % 2 ? 2 : 1 - current);
      int call = ++calls_;
      StartedProcess started = Start(*commands[next], registry, call);
      std::uniform_real_distribution<double> instant(0, seconds[next]);
      std::this_thread::sleep_for(std::chrono::duration<double>(instant(random)));
      KillProcess(started);
      Result result = Finish(started, call);
      killed += result.exit == -1;
      Result after = load();
      ASSERT_EQ(after.exit, 0) << "round " << round << ": " << after.err;
      ASSERT_TRUE(after.out == text[current] || after.out == text[next]) << "round " << round;
      current = after.out == text[next] ? next : current;
      ASSERT_EQ(Run({"settings", "list", "Gw"}, registry).out, "Net\\\n") << "round " << round;
    }
    EXPECT_GE(killed, kKills / 5) << "too few commands were killed while they ran";
  }
}

// Two writers and a reader at once: every load gives a whole record, and
// values set side by side in one key are all kept.
TEST_F(Zuadm, ConcurrentWritersAndAReader) {
  const int kRounds = 8;
  for (bool registry : {false, true}) {
    SCOPED_TRACE(registry ? "registry" : "files");
    dir_.Write("a.txt", Rules("a", 20));
    dir_.Write("b.txt", Rules("b", 21));
    std::string texts[2];
    for (int i = 0; i < 2; ++i) {
      std::string file = i ? "b.txt" : "a.txt";
      ASSERT_EQ(Run({"record", "save", "NETWORK_PARAMS", "Net", "-f", file}, registry).exit, 0);
      texts[i] = Run({"record", "load", "Net"}, registry).out;
    }
    std::atomic<int> broken{0};
    std::vector<std::thread> threads;
    for (int writer = 0; writer < 2; ++writer) {
      threads.emplace_back([&, writer] {
        std::string file = writer ? "b.txt" : "a.txt";
        for (int i = 0; i < kRounds; ++i) {
          broken +=
              Run({"record", "save", "NETWORK_PARAMS", "Net", "-f", file}, registry).exit != 0;
          std::string name = std::to_string(writer * 1000 + i);
          broken += Run({"settings", "set", "Shared", name, "x"}, registry).exit != 0;
        }
      });
    }
    threads.emplace_back([&] {
      for (int i = 0; i < 2 * kRounds; ++i) {
        Result loaded = Run({"record", "load", "Net"}, registry);
        broken += loaded.exit != 0 || (loaded.out != texts[0] && loaded.out != texts[1]);
      }
    });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(broken, 0);
    Result shared = Run({"settings", "list", "Shared"}, registry);
    EXPECT_EQ(Lines(shared.out), 2 * kRounds) << shared.out;
  }
}

// A full disk (a file size limit): the command fails with a message and
// leaves the old record and value.
TEST_F(Zuadm, FullDiskFailsCleanly) {
  if (platform_env::kWindows) GTEST_SKIP() << "the full disk is a file size limit (setrlimit)";
  for (bool registry : {false, true}) {
    SCOPED_TRACE(registry ? "registry" : "files");
    // The last rule is too big for the disk.
    dir_.Write("big.txt", Rules("rule ", 200) + "FW_RULES[199].NAME=" + std::string(20000, 'x'));
    ASSERT_EQ(
        Run({"record", "save", "NETWORK_PARAMS", "Net", "FW_RULES[0].NAME=old"}, registry).exit, 0);
    ASSERT_EQ(Run({"settings", "set", "Key", "v", "old"}, registry).exit, 0);
    std::string before = Run({"export", "Net"}, registry).out;
    // Just above the largest file the store has: whatever grows fails.
    unsigned long largest = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
      if (entry.is_regular_file())
        largest = std::max<unsigned long>(largest, static_cast<unsigned long>(entry.file_size()));
    }
    unsigned long limit = registry ? largest + 1 : 4096;
    Result save =
        Run({"record", "save", "NETWORK_PARAMS", "Net", "-f", "big.txt"}, registry, "", limit);
    EXPECT_EQ(save.exit, 1);
    EXPECT_FALSE(save.err.empty());
    Result set = Run({"settings", "set", "Key", "v", std::string(20000, 'n')}, registry, "", limit);
    EXPECT_EQ(set.exit, 1);
    EXPECT_EQ(Run({"export", "Net"}, registry).out, before);
    EXPECT_EQ(Run({"settings", "get", "Key", "v"}, registry).out, "old\n");
    EXPECT_EQ(Run({"settings", "list"}, registry).out, "Key\\\nNet\\\n");
    if (!registry) {  // the failed saves left no temporary file
      auto key = fs::directory_iterator(dir_ / "files/HKEY_CURRENT_USER/Key");
      EXPECT_EQ(std::distance(key, fs::directory_iterator()), 1);
    }
  }
}

}  // namespace
