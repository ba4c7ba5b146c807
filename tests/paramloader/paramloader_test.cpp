// The record framework through records declared the way the catalogue
// declares them: lookup through base chains, list growth and ownership,
// search and sort, the serialized call sequence and its failure rules.
#include "paramloader/paramloader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recording_stream.h"

#define ZU_FIELDS_TestAddress(F)    \
  F(KEY, "NAME", name)              \
  F(INT, "CONTROL", control, 1)     \
  F(IPADDR, "ADDRESS", address)     \
  F(BOOL, "ENABLED", enabled, true) \
  F(MAC, "MAC", mac)                \
  F(STRING, "CREATOR", creator, "SYS")

class TestAddress : public Record<TestAddress, ParamLoader> {
 public:
  ZU_RECORD(TestAddress, "TEST_ADDRESS")
  TestAddress() { ++live; }
  TestAddress(const TestAddress& other) : Record(other) { ++live; }
  TestAddress& operator=(const TestAddress&) = default;
  ~TestAddress() override { --live; }
  static inline int live = 0;
};

#define ZU_FIELDS_TestRule(F)   \
  F(INT, "ID", id, -1)          \
  F(PASSWORD, "SECRET", secret) \
  F(LIST, "ADDRESSES", addresses, TestAddress)

class TestRule : public Record<TestRule, ParamLoader> {
 public:
  ZU_RECORD(TestRule, "TEST_RULE")
  int32_t hidden = 7;  // outside the table
};

#define ZU_FIELDS_TestConfig(F)     \
  F(STRING, "TITLE", title)         \
  F(LIST, "RULES", rules, TestRule) \
  F(BOOL, "ACTIVE", active)

class TestConfig : public Record<TestConfig, ParamLoaderRefCounted> {
 public:
  ZU_RECORD(TestConfig, "TEST_CONFIG")
  ParamList<TestAddress> scratch;  // outside the table
};

class TestAlias : public TaggedRecord<TestAlias, TestConfig> {
 public:
  ZU_TAG("TEST_ALIAS")
  TestAlias() { title = "alias"; }
};

#define ZU_FIELDS_TestReplicated(F) \
  F(KEY, "RULE_ID", ruleId)         \
  F(INT, "REP_HOST", ownHost, 9)

class TestReplicated : public Record<TestReplicated, Replicatable> {
 public:
  ZU_RECORD(TestReplicated, "TEST_REPLICATED")
};

#define ZU_FIELDS_TestTwoKeys(F) \
  F(BOOL, "FLAG", flag)          \
  F(KEY, "FIRST", first)         \
  F(KEY, "SECOND", second)

class TestTwoKeys : public Record<TestTwoKeys, ParamLoader> {
 public:
  ZU_RECORD(TestTwoKeys, "TEST_TWO_KEYS")
};

ZU_RECORD_TABLE(TestAddress)
ZU_RECORD_TABLE(TestRule)
ZU_RECORD_TABLE(TestConfig)
ZU_RECORD_TABLE(TestReplicated)
ZU_RECORD_TABLE(TestTwoKeys)

namespace {

using Calls = std::vector<std::string>;

Calls Serialized(const ParamLoader& record, bool asRecord = true) {
  RecordingStream stream;
  EXPECT_TRUE(record.Serialize(stream, asRecord));
  return stream.calls;
}

zustring& Text(ParamLoader& record, const char* key) {
  return *static_cast<zustring*>(record.FieldAddress(record.FindField(key)));
}

TEST(Record, LookupThroughBaseChains) {
  TestReplicated replicated;
  EXPECT_EQ(replicated.FindField("rep_version"), &RepliBase::kFields[0]);
  EXPECT_EQ(replicated.FindField("REP_KEY"), &Replicatable::kFields[0]);
  EXPECT_EQ(replicated.FindField("Rep_Host"), &TestReplicated::kFields[1]);  // own row wins
  EXPECT_EQ(Replicatable().FindField("REP_HOST"), &RepliBase::kFields[1]);
  EXPECT_EQ(replicated.FindField(""), nullptr);
  EXPECT_EQ(replicated.FindField("REP"), nullptr);
  EXPECT_EQ(replicated.FindField("REP_KEYS"), nullptr);
  EXPECT_EQ(replicated.KeyField(), &TestReplicated::kFields[0]);
  EXPECT_EQ(Replicatable().KeyField(), &Replicatable::kFields[0]);

  RepliBase base;
  EXPECT_EQ(base.KeyField(), nullptr);
  EXPECT_EQ(base.KeyFieldAddress(), nullptr);
  TestConfig config;  // reference counted: its chain ends at its own table
  EXPECT_EQ(config.FindField("REP_HOST"), nullptr);
  EXPECT_EQ(config.KeyField(), nullptr);

  TestTwoKeys two;
  EXPECT_STREQ(two.KeyField()->key, "FIRST");
  EXPECT_EQ(two.KeyFieldAddress(), &two.first);

  // Keyed access reaches the members, a bool row exactly one byte.
  TestAddress address;
  *static_cast<uint8_t*>(address.FieldAddress(address.FindField("enabled"))) = 0;
  EXPECT_FALSE(address.enabled);
  EXPECT_EQ(address.control, 1);
  EXPECT_EQ(address.creator, "SYS");
  Text(address, "name") = "lan";
  EXPECT_EQ(address.name, "lan");
  EXPECT_EQ(address.KeyFieldAddress(), &address.name);
  *static_cast<uint32_t*>(address.FieldAddress(address.FindField("ADDRESS"))) = 0x0100007F;
  EXPECT_EQ(address.address, 0x0100007Fu);

  // A class with only a tag of its own uses its base's table.
  TestAlias alias;
  EXPECT_STREQ(alias.TypeTag(), "TEST_ALIAS");
  EXPECT_EQ(alias.FindField("title"), &TestConfig::kFields[0]);
  EXPECT_EQ(Text(alias, "TITLE"), "alias");
}

TEST(RecordList, GrowthOwnershipAndCopies) {
  {
    ParamList<TestAddress> list;
    EXPECT_EQ(list.Capacity(), 0);
    std::vector<int> capacities;
    for (int i = 0; i < 16; ++i) {
      list.AddNew()->control = i;
      capacities.push_back(list.Capacity());
    }
    EXPECT_EQ(capacities,
              (std::vector<int>{5, 5, 5, 5, 5, 7, 7, 10, 10, 10, 15, 15, 15, 15, 15, 22}));
    EXPECT_EQ(TestAddress::live, 16);

    TestAddress* last = list.At(15);
    EXPECT_TRUE(list.Remove(last));
    EXPECT_EQ(list.Count(), 15);
    TestAddress* middle = list.At(3);
    EXPECT_TRUE(list.Remove(middle));
    EXPECT_EQ(list.At(3)->control, 4);
    EXPECT_FALSE(list.Remove(middle));
    TestAddress stranger;
    EXPECT_FALSE(list.Remove(&stranger));
    EXPECT_EQ(list.Count(), 14);
    EXPECT_EQ(middle->control, 3);  // still valid, now the caller's
    delete middle;
    delete last;

    ParamList<TestAddress> copy;
    copy.AddNew();
    copy = list;
    EXPECT_EQ(copy.Count(), 14);
    EXPECT_NE(copy.At(0), list.At(0));
    for (int i = 0; i < copy.Count(); ++i) EXPECT_EQ(copy.At(i)->control, list.At(i)->control);

    ParamList<TestAddress> empty;
    int keptCapacity = copy.Capacity();
    copy.CopyFrom(empty);
    EXPECT_EQ(copy.Count(), 0);
    EXPECT_EQ(copy.Capacity(), keptCapacity);

    list.Clear();
    EXPECT_EQ(list.Capacity(), 0);
    list.Clear();
    list.AddNew();
    EXPECT_EQ(list.Capacity(), 5);
  }
  EXPECT_EQ(TestAddress::live, 0);

  // A record with nested lists copies deeply and owns what it holds.
  {
    TestConfig config;
    TestRule* rule = config.rules.AddNew();
    rule->hidden = 42;
    rule->secret = "pw";
    rule->addresses.AddNew()->name = "a";
    config.scratch.AddNew()->name = "outside";

    TestConfig copy(config);
    TestConfig assigned;
    assigned.rules.AddNew();
    assigned = config;
    EXPECT_EQ(Serialized(copy), Serialized(config));
    EXPECT_EQ(Serialized(assigned), Serialized(config));
    EXPECT_EQ(assigned.rules.At(0)->hidden, 42);
    EXPECT_EQ(assigned.scratch.At(0)->name, "outside");

    copy.rules.At(0)->addresses.At(0)->name = "changed";
    EXPECT_EQ(config.rules.At(0)->addresses.At(0)->name, "a");
    EXPECT_EQ(TestAddress::live, 6);
  }
  EXPECT_EQ(TestAddress::live, 0);
}

TEST(RecordList, KeySearchIsExactSortIgnoresCase) {
  ParamList<TestAddress> list;
  EXPECT_EQ(list.FindByKey("x"), nullptr);
  for (const char* name : {"beta", "Alpha", "gamma", "", "ALPHA2"}) list.AddNew()->name = name;
  EXPECT_EQ(list.FindItem("Alpha"), list.At(1));
  EXPECT_EQ(list.FindByKey("alpha"), nullptr);
  EXPECT_EQ(list.FindByKey("Alph"), nullptr);
  EXPECT_EQ(list.FindByKey(""), list.At(3));

  list.Sort(ParamListBase::CompareByKey);
  std::vector<std::string> order;
  for (int i = 0; i < list.Count(); ++i) order.push_back(list.At(i)->name.c_str());
  EXPECT_EQ(order, (std::vector<std::string>{"", "Alpha", "ALPHA2", "beta", "gamma"}));

  ParamList<TestRule> unkeyed;
  unkeyed.AddNew();
  unkeyed.AddNew();
  EXPECT_EQ(unkeyed.FindByKey(""), nullptr);
  const ParamLoader* a = unkeyed.At(0);
  const ParamLoader* b = unkeyed.At(1);
  EXPECT_EQ(ParamListBase::CompareByKey(&a, &b), 0);
}

// Element numbers past the first are the next test's; elements with empty
// keys and empty lists are in every catalogue listing (catalogue_test).
TEST(Serialization, NestedListsInExactOrder) {
  TestConfig config;
  config.title = "office";
  TestRule* rule = config.rules.AddNew();
  rule->id = 5;
  TestAddress* gw = rule->addresses.AddNew();
  gw->name = "gw";
  gw->address = 0x0101A8C0;
  gw->mac.bytes[5] = 0xAB;
  config.active = true;
  const Calls expected = {"BeginRecord TEST_CONFIG",
                          "WriteString TITLE=office",
                          "BeginList RULES",
                          "BeginElement TEST_RULE 0000",
                          "WriteInt ID=5",
                          "EncodeSecret ",
                          "WriteString SECRET=enc:",
                          "BeginList ADDRESSES",
                          "BeginElement TEST_ADDRESS gw",
                          "WriteString NAME=gw",
                          "WriteInt CONTROL=1",
                          "WriteIpAddress ADDRESS=192.168.1.1",
                          "WriteBool ENABLED=true",
                          "WriteMacAddress MAC=00:00:00:00:00:ab",
                          "WriteString CREATOR=SYS",
                          "EndElement TEST_ADDRESS",
                          "EndList ADDRESSES",
                          "EndElement TEST_RULE",
                          "EndList RULES",
                          "WriteBool ACTIVE=true",
                          "EndRecord TEST_CONFIG"};
  EXPECT_EQ(Serialized(config), expected);

  // Without the envelope only the fields; a tag-only class frames with its tag.
  Calls fields(expected.begin() + 1, expected.end() - 1);
  EXPECT_EQ(Serialized(config, false), fields);
  TestAlias alias;
  alias.rules = config.rules;
  alias.title = "office";
  alias.active = true;
  Calls aliased = Serialized(alias);
  EXPECT_EQ(aliased.front(), "BeginRecord TEST_ALIAS");
  EXPECT_EQ(aliased.back(), "EndRecord TEST_ALIAS");
  EXPECT_EQ(Calls(aliased.begin() + 1, aliased.end() - 1), fields);

  // Base fields first, from the most basic class up.
  TestReplicated replicated;
  replicated.repKey = "k";
  replicated.ruleId = "r1";
  EXPECT_EQ(Serialized(replicated),
            (Calls{"BeginRecord TEST_REPLICATED", "WriteInt REP_VERSION=0", "WriteInt REP_HOST=0",
                   "WriteString REP_KEY=k", "WriteString RULE_ID=r1", "WriteInt REP_HOST=9",
                   "EndRecord TEST_REPLICATED"}));
  EXPECT_EQ(Serialized(Replicatable()),
            (Calls{"BeginRecord REPLICATABLE", "WriteInt REP_VERSION=0", "WriteInt REP_HOST=0",
                   "WriteString REP_KEY=", "EndRecord REPLICATABLE"}));
}

TEST(Serialization, ElementNamesPastFourDigits) {
  TestConfig config;
  for (int i = 0; i < 10001; ++i) config.rules.AddNew();
  Calls calls = Serialized(config);
  std::vector<std::string> names;
  for (const std::string& call : calls) {
    if (call.rfind("BeginElement", 0) == 0) names.push_back(call.substr(23));
  }
  ASSERT_EQ(names.size(), 10001u);
  EXPECT_EQ(names[0], "0000");
  EXPECT_EQ(names[42], "0042");
  EXPECT_EQ(names[9999], "9999");
  EXPECT_EQ(names[10000], "10000");
}

TEST(Serialization, FirstFailureStopsEverythingButClosingResultsDoNotMatter) {
  TestConfig config;
  TestRule* rule = config.rules.AddNew();
  rule->secret = "s3cret";
  rule->addresses.AddNew()->name = "one";
  const Calls full = Serialized(config);

  // Fail each call in turn: the stream then sees exactly the calls up to the
  // failing one, unless that call's result is not used.
  for (size_t k = 1; k <= full.size(); ++k) {
    RecordingStream stream;
    stream.failAtCall = k;
    bool ok = config.Serialize(stream, true);
    const std::string& op = full[k - 1];
    bool ignored = op.rfind("EndRecord", 0) == 0 || op.rfind("EndList", 0) == 0 ||
                   op.rfind("EncodeSecret", 0) == 0;
    if (ignored) {
      EXPECT_TRUE(ok) << op;
      EXPECT_EQ(stream.calls, full) << op;
    } else {
      EXPECT_FALSE(ok) << op;
      EXPECT_EQ(stream.calls, Calls(full.begin(), full.begin() + k)) << op;
    }
  }

  RecordingStream second;  // the second field of a plain record
  second.failAtCall = 3;
  TestAddress address;
  EXPECT_FALSE(address.Serialize(second, true));
  EXPECT_EQ(second.calls,
            (Calls{"BeginRecord TEST_ADDRESS", "WriteString NAME=", "WriteInt CONTROL=1"}));

  RecordingStream closing;
  closing.failingOps = {"EndRecord", "EndList"};
  EXPECT_TRUE(config.Serialize(closing, true));
  EXPECT_EQ(closing.calls, full);
}

TEST(Serialization, SecretsPassEncodingOnACopy) {
  TestRule rule;
  rule.secret = "s3cret";
  const void* block = rule.secret.InspectBlock().block;
  Calls calls = Serialized(rule, false);
  EXPECT_EQ(calls[1], "EncodeSecret s3cret");
  EXPECT_EQ(calls[2], "WriteString SECRET=enc:s3cret");
  EXPECT_EQ(rule.secret, "s3cret");
  EXPECT_EQ(rule.secret.InspectBlock().block, block);
  EXPECT_EQ(rule.secret.InspectBlock().refCount, 1);
}

TEST(Serialization, UnknownTypeCodesAreSkipped) {
  TestRule rule;
  rule.id = 12;
  const FieldDescriptor table[] = {{"ODD", 9, TestRule::kFields[0].offset},
                                   {"ID", FIELD_INT, TestRule::kFields[0].offset}};
  RecordingStream stream;
  EXPECT_TRUE(rule.SerializeFields(stream, table, 2));
  EXPECT_EQ(stream.calls, (Calls{"WriteInt ID=12"}));
}

TEST(Record, FieldWalkFollowsTheSerializedOrder) {
  TestReplicated replicated;
  std::vector<std::string> keys;
  ForEachField(replicated, [&](const FieldDescriptor* row, void* address) {
    keys.push_back(row->key);
    EXPECT_EQ(address, replicated.FieldAddress(row));
  });
  std::vector<std::string> written;
  for (const std::string& call : Serialized(replicated, false)) {
    written.push_back(call.substr(call.find(' ') + 1, call.find('=') - call.find(' ') - 1));
  }
  EXPECT_EQ(keys, written);

  // Filling every field by its row reaches the members themselves.
  TestAddress address;
  ForEachField(address, [](const FieldDescriptor* row, void* field) {
    if (row->type == FIELD_INT) *static_cast<int32_t*>(field) = 77;
    if (row->type == FIELD_STRING || row->type == FIELD_KEY) *static_cast<zustring*>(field) = "t";
  });
  EXPECT_EQ(address.control, 77);
  EXPECT_EQ(address.name, "t");
  EXPECT_EQ(address.creator, "t");
}

/* A shared record class written by hand: it implements the four operations
** that the base classes leave open and nothing else. */
class HandWritten : public ParamLoaderRefCounted {
 public:
  const FieldDescriptor* FindField(const zustring& key) const override {
    return FindRow(key, kRows, 2);
  }
  const FieldDescriptor* KeyField() const override { return FindKeyRow(kRows, 2); }
  const char* TypeTag() const override { return "HAND_WRITTEN"; }
  bool Serialize(RecordStream& stream, bool asRecord) const override {
    if (asRecord && !stream.BeginRecord(zustring(TypeTag()))) return false;
    if (!SerializeFields(stream, kRows, 2)) return false;
    if (asRecord) stream.EndRecord(zustring(TypeTag()));
    return true;
  }
  ~HandWritten() override { ++destroyed; }

  zustring name;
  int32_t count = 5;
  static const FieldDescriptor kRows[2];
  static inline int destroyed = 0;
};
_Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Winvalid-offsetof\"") const
    FieldDescriptor HandWritten::kRows[2] = {
        {"NAME", FIELD_KEY, offsetof(HandWritten, name)},
        {"COUNT", FIELD_INT, offsetof(HandWritten, count)},
};
_Pragma("GCC diagnostic pop")

    TEST(Record, HandWrittenClassWalksAndShares) {
  auto* record = new HandWritten;
  std::vector<std::string> keys;
  ForEachField(*record, [&](const FieldDescriptor* row, void* field) {
    keys.push_back(row->key);
    if (row->type == FIELD_INT) *static_cast<int32_t*>(field) = 9;
  });
  EXPECT_EQ(keys, (std::vector<std::string>{"NAME", "COUNT"}));
  EXPECT_EQ(Serialized(*record), (Calls{"BeginRecord HAND_WRITTEN", "WriteString NAME=",
                                        "WriteInt COUNT=9", "EndRecord HAND_WRITTEN"}));
  record->AddRef();
  record->AddRef();
  record->Release();
  EXPECT_EQ(record->RefCount(), 1);
  EXPECT_EQ(HandWritten::destroyed, 0);
  record->Release();  // the last owner
  EXPECT_EQ(HandWritten::destroyed, 1);
}

}  // namespace
