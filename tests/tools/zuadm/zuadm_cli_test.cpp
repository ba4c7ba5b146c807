// zuadm driven as a user drives it: a real process in a temp directory,
// with the file tree and the registry stand-in both kept there.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int exit = -1;
  std::string out, err;
};

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class Zuadm : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ZU_WIN32_ROOT", (dir_ / "win32").c_str(), 1); }
  void TearDown() override { unsetenv("ZU_WIN32_ROOT"); }

  /* Runs zuadm with the file store below dir_/files (or the registry with
  ** registry set) and the given arguments. */
  Result Run(std::vector<std::string> args, bool registry = false) {
    std::string command = "cd " + Quote(dir_.path()) + " && " + Quote(ZUADM_PATH);
    if (registry) {
      command += " -R";
    } else {
      command += " -w files";
    }
    for (const std::string& arg : args) command.append(" ").append(Quote(arg));
    command += " >out.txt 2>err.txt";
    int status = std::system(command.c_str());
    Result result;
    result.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = dir_.Read("out.txt");
    result.err = dir_.Read("err.txt");
    return result;
  }

  TempDir dir_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every tag round-trips in process (record_store_test); three, one with
// nested lists and one with a secret, go through the binary here.
TEST_F(Zuadm, RecordsRoundTripOnBothStores) {
  Result tags = Run({"record", "tags"});
  ASSERT_EQ(tags.exit, 0) << tags.err;
  EXPECT_EQ(Lines(tags.out).size(), 92u);
  for (const std::string tag : {"NETWORK_PARAMS", "USER_INFO", "DNS"}) {
    Result made = Run({"record", "new", tag});
    ASSERT_EQ(made.exit, 0) << tag << made.err;
    ASSERT_EQ(made.out.rfind(tag + "\n", 0), 0u) << made.out;
    for (bool registry : {false, true}) {
      std::string key = "Saved\\" + tag;
      Result saved = Run({"record", "save", tag, key}, registry);
      ASSERT_EQ(saved.exit, 0) << tag << ": " << saved.err;
      Result loaded = Run({"record", "load", key}, registry);
      ASSERT_EQ(loaded.exit, 0) << tag << ": " << loaded.err;
      EXPECT_EQ(loaded.out, made.out) << tag << (registry ? " (registry)" : " (files)");
    }
  }
  EXPECT_TRUE(fs::exists(dir_ / "win32"));
  EXPECT_TRUE(fs::is_directory(dir_ / "files/HKEY_CURRENT_USER/Saved/NETWORK_PARAMS"));
}

TEST_F(Zuadm, FieldAssignmentsAndTheirErrors) {
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
    EXPECT_NE(loaded.out.find(std::string(line) + "\n"), std::string::npos) << line;
  }
  EXPECT_EQ(loaded.out.find("s\xC3\xA9same"), std::string::npos);

  // A stored record is changed in place; its other fields stay.
  Result changed = Run({"record", "set", "Gateway\\Network", "FW_RULES[0].LOCAL_PORT=2222",
                        "FW_RULES[2].NAME=third"});
  ASSERT_EQ(changed.exit, 0) << changed.err;
  Result again = Run({"record", "load", "Gateway\\Network"});
  EXPECT_NE(again.out.find("LOCAL_PORT = 2222"), std::string::npos);
  EXPECT_NE(again.out.find("NAME = \"third\""), std::string::npos);
  EXPECT_NE(again.out.find("NAME = \"ssh in\""), std::string::npos);

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
    EXPECT_NE(result.err.find(b.message), std::string::npos) << result.err;
  }
  EXPECT_FALSE(fs::exists(dir_ / "files/HKEY_CURRENT_USER/Broken"));
  Result unknown = Run({"record", "save", "NO_SUCH_TAG", "Broken"});
  EXPECT_EQ(unknown.exit, 2);
  Result missing = Run({"record", "load", "Nowhere"});
  EXPECT_EQ(missing.exit, 1);
  EXPECT_NE(missing.err.find("no key Nowhere"), std::string::npos);
}

TEST_F(Zuadm, SettingsCommandsOnBothStores) {
  for (bool registry : {false, true}) {
    SCOPED_TRACE(registry ? "registry" : "files");
    EXPECT_EQ(Run({"settings", "set", "App\\Main", "Title", "Caf\xC3\xA9"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "set-int", "App\\Main", "Port", "8080"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "set-int", "App\\Main", "Max", "4294967295"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "set", "App\\Main\\Sub", "x", "1"}, registry).exit, 0);

    Result title = Run({"settings", "get", "App/Main", "Title"}, registry);
    EXPECT_EQ(title.exit, 0);
    EXPECT_EQ(title.out, "Caf\xC3\xA9\n");
    EXPECT_EQ(Run({"settings", "get", "App\\Main", "Port"}, registry).out, "8080\n");
    EXPECT_EQ(Run({"settings", "get", "App\\Main", "Max"}, registry).out, "4294967295\n");

    Result list = Run({"settings", "list", "App\\Main"}, registry);
    EXPECT_EQ(list.exit, 0);
    EXPECT_NE(list.out.find("Title = \"Caf\xC3\xA9\"\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("Port = 8080\n"), std::string::npos);
    EXPECT_NE(list.out.find("Sub\\\n"), std::string::npos);
    Result tree = Run({"settings", "tree", "App"}, registry);
    EXPECT_NE(tree.out.find("Main\\\n  Title"), std::string::npos) << tree.out;
    EXPECT_NE(tree.out.find("  Sub\\\n    x = \"1\"\n"), std::string::npos) << tree.out;

    EXPECT_EQ(Run({"settings", "del", "App\\Main", "Port"}, registry).exit, 0);
    Result gone = Run({"settings", "get", "App\\Main", "Port"}, registry);
    EXPECT_EQ(gone.exit, 1);
    EXPECT_NE(gone.err.find("no value Port"), std::string::npos);
    EXPECT_EQ(Run({"settings", "del", "App\\Main", "Port"}, registry).exit, 1);

    EXPECT_EQ(Run({"settings", "rename", "App\\Main", "App\\Renamed"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "get", "App\\Renamed", "Title"}, registry).out, "Caf\xC3\xA9\n");
    EXPECT_EQ(Run({"settings", "get", "App\\Renamed\\Sub", "x"}, registry).out, "1\n");
    EXPECT_EQ(Run({"settings", "list", "App\\Main"}, registry).exit, 1);

    EXPECT_EQ(Run({"settings", "rmkey", "App"}, registry).exit, 0);
    EXPECT_EQ(Run({"settings", "list", "App"}, registry).exit, 1);
    EXPECT_EQ(Run({"settings", "rmkey", "App"}, registry).exit, 1);
  }
  // The file store keeps Latin-1 bytes on disk.
  EXPECT_EQ(Run({"settings", "set", "Enc", "Word", "\xC3\xA9t\xC3\xA9"}).exit, 0);
  std::string file = dir_.Read("files/HKEY_CURRENT_USER/Enc/Values.xml");
  EXPECT_NE(file.find("<string name=\"Word\">\xE9t\xE9</string>\r\n"), std::string::npos) << file;

  // -m keeps the machine's settings apart from the user's, in both stores.
  for (bool registry : {false, true}) {
    EXPECT_EQ(Run({"-m", "settings", "set", "Machine", "Owner", "root"}, registry).exit, 0);
    EXPECT_EQ(Run({"-m", "settings", "get", "Machine", "Owner"}, registry).out, "root\n");
    EXPECT_EQ(Run({"settings", "get", "Machine", "Owner"}, registry).exit, 1);
  }
  EXPECT_TRUE(fs::exists(dir_ / "files/HKEY_LOCAL_MACHINE/Machine/Values.xml"));
}

TEST_F(Zuadm, UsageErrorsAndSysinfo) {
  Result option = Run({"-x", "record", "tags"});
  EXPECT_EQ(option.exit, 2);
  EXPECT_NE(option.err.find("get command line option: Invalid argument\n"), std::string::npos);
  EXPECT_NE(option.err.find("usage: zuadm"), std::string::npos);
  EXPECT_EQ(Run({}).exit, 2);
  EXPECT_EQ(Run({"bogus"}).exit, 2);
  EXPECT_EQ(Run({"settings", "get", "A"}).exit, 2);
  EXPECT_EQ(Run({"settings", "set-int", "A", "n", "twelve"}).exit, 2);
  EXPECT_EQ(Run({"record", "new", "firewall_rule"}).exit, 2);
  Result help = Run({"-h"});
  EXPECT_EQ(help.exit, 0);
  EXPECT_NE(help.out.find("usage: zuadm"), std::string::npos);

  dir_.MakeDir("win32");
  dir_.Write("win32/standin.conf", "windows.version=6.1\n");
  Result info = Run({"sysinfo", "svc"});
  EXPECT_EQ(info.exit, 0) << info.err;
  EXPECT_NE(info.out.find("instance mutex name: Global\\__ZU_svc__\n"), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("windows version code: 12\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("processor architecture: "), std::string::npos);
  dir_.Write("win32/standin.conf", "windows.version=4.0\nwindows.processor=x86\n");
  Result nt4 = Run({"sysinfo", "svc"});
  EXPECT_EQ(nt4.out,
            "processor architecture: 1 (x86)\nwindows version code: 6\n"
            "instance mutex name: __ZU_svc__\n");
}

}  // namespace
