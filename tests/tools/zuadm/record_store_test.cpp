// Records through both settings stores, in process: every factory record,
// with every field given a value that differs from its default (texts with
// every byte but 0) and every list holding elements (nested lists too), is
// saved, loaded and compared field by field, and exported and imported
// byte for byte; changes of stored records give what the same changes in
// memory give; bad stored data fails cleanly; secrets are not stored as
// plain text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "lib/interface/param_classes.h"
#include "settings/regvaluestore.h"
#include "support/record_fill.h"
#include "support/standin_root.h"
#include "tools/zuadm/field_text.h"
#include "tools/zuadm/key_path.h"
#include "tools/zuadm/record_print.h"
#include "tools/zuadm/record_store.h"

namespace {

class RecordStoreTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    SetStoreBaseDirectory((dir_ / "files").c_str());
    store_ = MakeStore(GetParam(), HKEY_CURRENT_USER);
    journal_ = std::make_unique<Journal>(*store_);
  }

  bool Save(const zustring& path, const ParamLoader& record) {
    zustring error;
    bool saved = ReplaceKey(*store_, *journal_, path, RecordImage(record), error);
    EXPECT_TRUE(saved) << error.c_str();
    return saved;
  }
  std::string Loaded(const zustring& path) {
    zustring error;
    std::unique_ptr<ParamLoader> record(LoadRecord(*store_, path, error));
    return record ? RecordText(*record).c_str() : std::string("error: ") + error.c_str();
  }
  std::string Exported(const zustring& path) {
    KeyImage image;
    zustring error;
    if (!ReadTree(*store_, path, image, error)) return std::string("error: ") + error.c_str();
    zustring text = ExportText(image);
    return std::string(text.c_str(), text.Length());
  }

  TempDir dir_;
  PrivateRegistry registry_{dir_ / "win32"};
  std::unique_ptr<SettingsStore> store_;
  std::unique_ptr<Journal> journal_;
};

TEST_P(RecordStoreTest, EveryRecordRoundTripsAndExportsByteForByte) {
  for (int i = 0; i < FactoryTagCount(); ++i) {
    const char* tag = FactoryTag(i);
    std::unique_ptr<ParamLoader> original(CreateParamByTag(tag));
    FillRecord(
        *original,
        {.seed = static_cast<unsigned>(i) * 7919u, .depth = 2, .elements = 2, .allBytes = true});
    zustring path = zustring("Gateway\\Records\\") + tag;
    ASSERT_TRUE(Save(path, *original)) << tag;
    ASSERT_EQ(Loaded(path), RecordText(*original).c_str()) << tag;

    // Exported, imported elsewhere and exported again, every byte stays.
    std::string text = Exported(path);
    KeyImage image;
    zustring error;
    ASSERT_TRUE(ParseExport(text.data(), text.size(), !GetParam(), image, error))
        << tag << ": " << error.c_str();
    zustring copy = zustring("Copies\\") + tag;
    ASSERT_TRUE(ReplaceKey(*store_, *journal_, copy, image, error)) << error.c_str();
    EXPECT_EQ(Exported(copy), text) << tag;
    EXPECT_EQ(Loaded(copy), RecordText(*original).c_str()) << tag;
  }
  // Nothing is left beside the keys: no staging keys, no journal.
  StringList names;
  ASSERT_TRUE(store_->Open("Gateway\\Records", false, false));
  store_->EnumSubKeys(names);
  EXPECT_EQ(names.Count(), FactoryTagCount());
  EXPECT_FALSE(store_->Open(kJournalKey, false, false));
}

TEST_P(RecordStoreTest, SavingReplacesTheOldRecordAndKeepsOrder) {
  FirewallRuleList rules;
  const char* names[] = {"zeta", "alpha", "Mid"};
  for (const char* name : names) rules.rules.AddNew()->name = name;
  ASSERT_TRUE(Save("Rules", rules));

  // A shorter record replaces the longer one completely, also at the top.
  FirewallRule* last = rules.rules.At(2);
  ASSERT_TRUE(rules.rules.Remove(last));
  delete last;
  ASSERT_TRUE(Save("Rules", rules));
  EXPECT_EQ(Loaded("Rules"), RecordText(rules).c_str());

  // Elements whose names collide (case, empty, unsafe bytes, reserved
  // names, trailing dots and blanks, which Windows drops from file names)
  // keep apart, and names that Windows takes for devices are stored too.
  StringListParam strings;
  for (const char* value : {"a", "A", "", "", "x\\y/z", "..", "Values.xml", "b.zuadm-new", "end. ",
                            "end", "NUL", "con.txt", "_nul", "COM\xB9"}) {
    strings.strings.AddNew()->value = value;
  }
  ASSERT_TRUE(Save("Deep\\Strings", strings));
  EXPECT_EQ(Loaded("Deep\\Strings"), RecordText(strings).c_str());
  // (What a save may replace is checked through zuadm's record save.)
}

// Changes of a stored record against the same changes made in memory.
TEST_P(RecordStoreTest, StoredChangesMatchChangesInMemory) {
  NetworkParams model;
  for (const char* name : {"r0", "r1", "r2"}) model.fwRules.AddNew()->name = name;
  model.ifList.AddNew()->label = "eth0";
  ASSERT_TRUE(Save("Net", model));

  std::vector<Assignment> set = {{"enable_fw", "false"},
                                 {"FW_RULES[1].LOCAL_PORT", "22"},
                                 {"FW_RULES[3].NAME", "r3"},
                                 {"IF_LIST[1].LABEL", "eth1"},
                                 {"IF_LIST[1].IPS[0].ADDRESS", "10.0.0.1"},
                                 {"IF_LIST[0].IPS[0].MASK", "255.0.0.0"}};
  EditResult result = SetStoredFields(*store_, *journal_, "Net", set);
  ASSERT_TRUE(result.ok) << result.error.c_str();
  zustring error;
  ASSERT_TRUE(AssignFields(model, set, error)) << error.c_str();
  EXPECT_EQ(Loaded("Net"), RecordText(model).c_str());

  // Insert at the front, move the last to the second place, remove one.
  result = InsertElement(*store_, *journal_, "Net", "FW_RULES[0]", {{"NAME", "first"}});
  ASSERT_TRUE(result.ok) << result.error.c_str();
  NetworkParams expected;
  expected = model;
  expected.fwRules.Clear();
  expected.fwRules.AddNew()->name = "first";
  for (int i = 0; i < model.fwRules.Count(); ++i) expected.fwRules.AddCopyOf(model.fwRules, i);
  EXPECT_EQ(Loaded("Net"), RecordText(expected).c_str());

  ASSERT_TRUE(MoveElement(*store_, *journal_, "Net", "FW_RULES[4]", 1).ok);
  ASSERT_TRUE(RemoveElement(*store_, *journal_, "Net", "FW_RULES[3]").ok);
  ASSERT_TRUE(RemoveElement(*store_, *journal_, "Net", "IF_LIST[0].IPS[0]").ok);
  std::unique_ptr<ParamLoader> loaded(LoadRecord(*store_, "Net", error));
  ASSERT_NE(loaded, nullptr) << error.c_str();
  auto& net = static_cast<NetworkParams&>(*loaded);
  std::string order;
  for (int i = 0; i < net.fwRules.Count(); ++i)
    order += std::string(net.fwRules.At(i)->name.c_str()) + " ";
  EXPECT_EQ(order, "first r3 r0 r2 ");
  EXPECT_EQ(net.ifList.At(0)->ips.Count(), 0);
  EXPECT_EQ(net.ifList.At(1)->ips.Count(), 1);

  // Wrong requests write nothing and say it is their fault.
  std::string before = Exported("Net");
  struct Bad {
    EditResult result;
    const char* message;
  };
  // (The field assignments' own errors are checked through zuadm.)
  const Bad bad[] = {
      {SetStoredFields(*store_, *journal_, "Net", {{"FW_RULES[9].NAME", "x"}}),
       "the next one is [4]"},
      {InsertElement(*store_, *journal_, "Net", "FW_RULES[5]", {}), "insert at [0] to [4]"},
      {RemoveElement(*store_, *journal_, "Net", "FW_RULES[4]"), "has 4 elements"},
      {MoveElement(*store_, *journal_, "Net", "FW_RULES[0]", 4), "positions [0] to [3]"},
      {RemoveElement(*store_, *journal_, "Net", "ENABLE_FW"), "names no list element"}};
  for (const Bad& b : bad) {
    EXPECT_FALSE(b.result.ok);
    EXPECT_TRUE(b.result.usage) << b.message;
    EXPECT_NE(std::string(b.result.error.c_str()).find(b.message), std::string::npos)
        << b.result.error.c_str();
  }
  EXPECT_EQ(Exported("Net"), before);
  EditResult missing = SetStoredFields(*store_, *journal_, "Nowhere", {{"A", "1"}});
  EXPECT_FALSE(missing.ok || missing.usage);
}

TEST_P(RecordStoreTest, BadStoredDataFailsCleanly) {
  zustring error;
  EXPECT_EQ(LoadRecord(*store_, "Missing", error), nullptr);
  EXPECT_NE(std::string(error.c_str()).find("Missing"), std::string::npos);

  auto put = [&](const char* path, const char* name, const char* text) {
    ASSERT_TRUE(WriteKey(*store_, path, {{name, ValueText, text, 0}}, true, error));
  };
  put("Plain", "NAME", "no tag here");
  EXPECT_EQ(LoadRecord(*store_, "Plain", error), nullptr);
  put("Odd", "$TYPE", "NO_SUCH_TAG");
  EXPECT_EQ(LoadRecord(*store_, "Odd", error), nullptr);
  EXPECT_NE(std::string(error.c_str()).find("NO_SUCH_TAG"), std::string::npos);

  NetworkParams network;
  network.ifList.AddNew()->label = "eth0";
  ASSERT_TRUE(Save("Net", network));
  put("Net\\IF_LIST\\eth0", "DEFAULT_IP", "300.1.2.3");
  EXPECT_EQ(LoadRecord(*store_, "Net", error), nullptr);
  EXPECT_NE(std::string(error.c_str()).find("DEFAULT_IP"), std::string::npos);
  put("Net\\IF_LIST\\eth0", "DEFAULT_IP", "10.0.0.1");
  put("Net\\IF_LIST\\eth0", "$TYPE", "FIREWALL_RULE");
  EXPECT_EQ(LoadRecord(*store_, "Net", error), nullptr);
  EXPECT_NE(std::string(error.c_str()).find("FIREWALL_RULE"), std::string::npos);
  put("Net\\IF_LIST\\eth0", "$TYPE", "NETWORK_INTERFACE");
  put("Net\\IF_LIST", "$ELEMENTS", "eth0\ngone");
  EXPECT_EQ(LoadRecord(*store_, "Net", error), nullptr);
  EXPECT_NE(std::string(error.c_str()).find("gone"), std::string::npos);
  // A name that would lead out of the list is refused, also by changes.
  put("Net\\IF_LIST", "$ELEMENTS", "eth0\n..\\..\\Net");
  EXPECT_EQ(LoadRecord(*store_, "Net", error), nullptr);
  EXPECT_NE(std::string(error.c_str()).find("no key"), std::string::npos) << error.c_str();
  EditResult edit = SetStoredFields(*store_, *journal_, "Net", {{"IF_LIST[1].LABEL", "x"}});
  EXPECT_FALSE(edit.ok || edit.usage);

  // Fields missing from the store keep their defaults; keys that the list
  // does not name, and on the file store stray files, are no elements.
  put("Net\\IF_LIST", "$ELEMENTS", "eth0");
  put("Net\\IF_LIST\\stray", "$TYPE", "NETWORK_INTERFACE");
  if (!GetParam()) dir_.Write("files/HKEY_CURRENT_USER/Net/IF_LIST/notes.txt", "not a key");
  ASSERT_TRUE(store_->Open("Net\\IF_LIST\\eth0", false, true));
  ASSERT_TRUE(store_->DeleteValue("INRATE"));
  ASSERT_TRUE(store_->Flush());
  std::unique_ptr<ParamLoader> loaded(LoadRecord(*store_, "Net", error));
  ASSERT_NE(loaded, nullptr) << error.c_str();
  auto& interfaces = static_cast<NetworkParams&>(*loaded).ifList;
  ASSERT_EQ(interfaces.Count(), 1);
  EXPECT_EQ(interfaces.At(0)->inrate, 1000);
  EXPECT_EQ(interfaces.At(0)->defaultIp, 0x0100000Au);
}

TEST_P(RecordStoreTest, SecretsAreNotStoredInPlainText) {
  UserInfo user;
  user.login = "alice";
  user.password = "correct horse";
  ASSERT_TRUE(Save("Users\\alice", user));
  ASSERT_TRUE(store_->Open("Users\\alice", false, false));
  zustring stored = store_->GetString("PASSWORD");
  store_->Close();
  EXPECT_EQ(stored.Find("correct"), 0u);
  EXPECT_FALSE(stored.IsEmpty());
  zustring error;
  std::unique_ptr<ParamLoader> loaded(LoadRecord(*store_, "Users\\alice", error));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(static_cast<UserInfo&>(*loaded).password, "correct horse");

  zustring plain;
  EXPECT_TRUE(DecodeStoredSecret(EncodeStoredSecret(zustring("\xFF\x01 x")), plain));
  EXPECT_EQ(plain, "\xFF\x01 x");
  EXPECT_FALSE(DecodeStoredSecret(zustring("{zu1}abc"), plain));
  EXPECT_FALSE(DecodeStoredSecret(zustring("{zu1}zz"), plain));
}

INSTANTIATE_TEST_SUITE_P(Stores, RecordStoreTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Registry" : "Files"; });

}  // namespace
