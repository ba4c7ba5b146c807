// Records through both settings stores: every factory record, with every
// field given a value that differs from its default and every list holding
// elements (nested lists too), is saved, loaded and compared field by field;
// bad stored data fails cleanly; secrets are not stored as plain text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "lib/interface/param_classes.h"
#include "settings/regkey.h"
#include "settings/regvaluestore.h"
#include "support/record_fill.h"
#include "support/temp_dir.h"
#include "tools/zuadm/field_text.h"
#include "tools/zuadm/record_print.h"
#include "tools/zuadm/record_store.h"

namespace {

class RecordStoreTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    setenv("ZU_WIN32_ROOT", (dir_ / "win32").c_str(), 1);
    SetStoreBaseDirectory((dir_ / "files").c_str());
    if (GetParam()) {
      store_ = std::make_unique<StoreAdapter<RegKey>>(HKEY_CURRENT_USER);
    } else {
      store_ = std::make_unique<StoreAdapter<RegValueStore>>(HKEY_CURRENT_USER);
    }
  }
  void TearDown() override { unsetenv("ZU_WIN32_ROOT"); }

  TempDir dir_;
  std::unique_ptr<SettingsStore> store_;
};

TEST_P(RecordStoreTest, EveryRecordRoundTripsFieldByField) {
  for (int i = 0; i < FactoryTagCount(); ++i) {
    const char* tag = FactoryTag(i);
    std::unique_ptr<ParamLoader> original(CreateParamByTag(tag));
    FillRecord(*original, {.seed = static_cast<unsigned>(i) * 7919u, .depth = 2, .elements = 2});
    zustring path("Gateway\\Records\\");
    path += tag;
    zustring error;
    ASSERT_TRUE(SaveRecord(*store_, path, *original, error)) << tag << ": " << error.c_str();
    std::unique_ptr<ParamLoader> loaded(LoadRecord(*store_, path, error));
    ASSERT_NE(loaded, nullptr) << tag << ": " << error.c_str();
    EXPECT_STREQ(loaded->TypeTag(), tag);
    EXPECT_EQ(std::string(RecordText(*loaded).c_str()), RecordText(*original).c_str()) << tag;
  }
}

TEST_P(RecordStoreTest, SavingReplacesTheOldRecordAndKeepsOrder) {
  FirewallRuleList rules;
  const char* names[] = {"zeta", "alpha", "Mid"};
  for (const char* name : names) rules.rules.AddNew()->name = name;
  zustring error;
  ASSERT_TRUE(SaveRecord(*store_, "Rules", rules, error)) << error.c_str();

  // A shorter record replaces the longer one completely, also at the top.
  FirewallRule* last = rules.rules.At(2);
  ASSERT_TRUE(rules.rules.Remove(last));
  delete last;
  ASSERT_TRUE(SaveRecord(*store_, "Rules", rules, error)) << error.c_str();
  std::unique_ptr<ParamLoader> loaded(LoadRecord(*store_, "Rules", error));
  ASSERT_NE(loaded, nullptr) << error.c_str();
  auto& list = static_cast<FirewallRuleList&>(*loaded).rules;
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.At(0)->name, "zeta");
  EXPECT_EQ(list.At(1)->name, "alpha");

  // Elements whose names collide (case, empty, unsafe bytes) keep apart.
  StringListParam strings;
  for (const char* value : {"a", "A", "", "", "x\\y/z", "..", "Values.xml"}) {
    strings.strings.AddNew()->value = value;
  }
  ASSERT_TRUE(SaveRecord(*store_, "Deep\\Strings", strings, error)) << error.c_str();
  loaded.reset(LoadRecord(*store_, "Deep\\Strings", error));
  ASSERT_NE(loaded, nullptr) << error.c_str();
  EXPECT_EQ(std::string(RecordText(*loaded).c_str()), RecordText(strings).c_str());
}

TEST_P(RecordStoreTest, BadStoredDataFailsCleanly) {
  zustring error;
  EXPECT_EQ(LoadRecord(*store_, "Missing", error), nullptr);
  EXPECT_NE(std::string(error.c_str()).find("Missing"), std::string::npos);

  ASSERT_TRUE(store_->Open("Plain", true, true));
  ASSERT_TRUE(store_->SetString("NAME", "no tag here"));
  store_->Close();
  EXPECT_EQ(LoadRecord(*store_, "Plain", error), nullptr);

  ASSERT_TRUE(store_->Open("Odd", true, true));
  ASSERT_TRUE(store_->SetString("$TYPE", "NO_SUCH_TAG"));
  store_->Close();
  EXPECT_EQ(LoadRecord(*store_, "Odd", error), nullptr);
  EXPECT_NE(std::string(error.c_str()).find("NO_SUCH_TAG"), std::string::npos);

  NetworkParams network;
  network.ifList.AddNew()->label = "eth0";
  ASSERT_TRUE(SaveRecord(*store_, "Net", network, error));
  ASSERT_TRUE(store_->Open("Net\\IF_LIST\\eth0", false, true));
  ASSERT_TRUE(store_->SetString("DEFAULT_IP", "300.1.2.3"));
  store_->Close();
  EXPECT_EQ(LoadRecord(*store_, "Net", error), nullptr);
  EXPECT_NE(std::string(error.c_str()).find("DEFAULT_IP"), std::string::npos);

  ASSERT_TRUE(store_->Open("Net\\IF_LIST\\eth0", false, true));
  ASSERT_TRUE(store_->SetString("DEFAULT_IP", "10.0.0.1"));
  ASSERT_TRUE(store_->SetString("$TYPE", "FIREWALL_RULE"));
  store_->Close();
  EXPECT_EQ(LoadRecord(*store_, "Net", error), nullptr);
  EXPECT_NE(std::string(error.c_str()).find("FIREWALL_RULE"), std::string::npos);

  // Fields missing from the store keep their defaults.
  ASSERT_TRUE(store_->Open("Net\\IF_LIST\\eth0", false, true));
  ASSERT_TRUE(store_->SetString("$TYPE", "NETWORK_INTERFACE"));
  ASSERT_TRUE(store_->DeleteValue("INRATE"));
  store_->Close();
  std::unique_ptr<ParamLoader> loaded(LoadRecord(*store_, "Net", error));
  ASSERT_NE(loaded, nullptr) << error.c_str();
  NetworkInterface* eth = static_cast<NetworkParams&>(*loaded).ifList.At(0);
  EXPECT_EQ(eth->inrate, 1000);
  EXPECT_EQ(eth->defaultIp, 0x0100000Au);
}

TEST_P(RecordStoreTest, SecretsAreNotStoredInPlainText) {
  UserInfo user;
  user.login = "alice";
  user.password = "correct horse";
  zustring error;
  ASSERT_TRUE(SaveRecord(*store_, "Users\\alice", user, error));
  ASSERT_TRUE(store_->Open("Users\\alice", false, false));
  zustring stored = store_->GetString("PASSWORD");
  store_->Close();
  EXPECT_EQ(stored.Find("correct"), 0u);
  EXPECT_FALSE(stored.IsEmpty());
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
