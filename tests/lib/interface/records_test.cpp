// What the reference listings of the catalogue do not show: key lookup
// through base chains, elements named by real keys, secrets, and deep
// copies of records with nested lists. (Constructor values, writes into
// inherited fields and presets are in the listings.)
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/param_classes.h"
#include "support/recording_stream.h"

namespace {

std::vector<std::string> Calls(const ParamLoader& record) {
  RecordingStream stream;
  EXPECT_TRUE(record.Serialize(stream, true));
  return stream.calls;
}

std::vector<std::string> Matching(const std::vector<std::string>& calls, const std::string& op) {
  std::vector<std::string> found;
  for (const std::string& call : calls) {
    if (call.rfind(op, 0) == 0) found.push_back(call);
  }
  return found;
}

const char* KeyOf(const ParamLoader& record) {
  const FieldDescriptor* row = record.KeyField();
  return row ? row->key : nullptr;
}

/* Every row of both records equal, lists element by element; records of one
** class. Reports the first difference. */
::testing::AssertionResult SameRecord(const ParamLoader& a, const ParamLoader& b) {
  if (std::strcmp(a.TypeTag(), b.TypeTag()) != 0) {
    return ::testing::AssertionFailure() << a.TypeTag() << " vs " << b.TypeTag();
  }
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
  ForEachField(a, [&](const FieldDescriptor* row, const void* x) {
    if (!result) return;
    const void* y = b.FieldAddress(row);
    bool same = true;
    switch (row->type) {
      case FIELD_INT:
      case FIELD_IPADDR:
        same = std::memcmp(x, y, 4) == 0;
        break;
      case FIELD_BOOL:
        same = *static_cast<const bool*>(x) == *static_cast<const bool*>(y);
        break;
      case FIELD_MAC:
        same = std::memcmp(x, y, 6) == 0;
        break;
      case FIELD_LIST: {
        const auto& l = *static_cast<const ParamListBase*>(x);
        const auto& m = *static_cast<const ParamListBase*>(y);
        same = l.Count() == m.Count();
        for (int i = 0; same && i < l.Count(); ++i) {
          if (l.At(i) == m.At(i)) same = false;  // copies own their elements
          if (::testing::AssertionResult inner = SameRecord(*l.At(i), *m.At(i)); !inner) {
            result = inner << " in " << row->key;
            return;
          }
        }
        break;
      }
      default:
        same = *static_cast<const zustring*>(x) == *static_cast<const zustring*>(y);
    }
    if (!same) result = ::testing::AssertionFailure() << a.TypeTag() << "." << row->key;
  });
  return result;
}

/* Gives every text a value and every list one more element, recursively. */
void Fill(ParamLoader& record, int depth) {
  ForEachField(record, [depth](const FieldDescriptor* row, void* field) {
    if (row->type == FIELD_LIST && depth > 0) {
      auto& list = *static_cast<ParamListBase*>(field);
      Fill(*list.AddNew(), depth - 1);
      for (int i = 0; i < list.Count(); ++i) Fill(*list.At(i), depth - 1);
    } else if (row->type == FIELD_STRING || row->type == FIELD_KEY) {
      static_cast<zustring*>(field)->AppendFormat("+%d", depth);
    }
  });
}

TEST(CatalogueRecords, KeysThroughBaseChains) {
  SmtpServerParams smtp;
  const FieldDescriptor* port = smtp.FindField("port");
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port, ServiceTcpParams().FindField("PORT"));
  EXPECT_EQ(*static_cast<int32_t*>(smtp.FieldAddress(port)), 25);
  EXPECT_EQ(smtp.FindField("NO_SUCH_FIELD"), nullptr);

  EXPECT_STREQ(KeyOf(GroupParams()), "GROUP");
  EXPECT_STREQ(KeyOf(HttpGroupParams()), "GROUP");
  EXPECT_STREQ(KeyOf(IMFilterEntry()), "GROUP");
  EXPECT_STREQ(KeyOf(HttpRule()), "RULE_ID");
  EXPECT_STREQ(KeyOf(MailShellOption()), "TITLE");
  EXPECT_STREQ(KeyOf(DHCPLease()), "MAC");
  EXPECT_EQ(DHCPLease().KeyField()->type, static_cast<uint32_t>(FIELD_KEY));
  EXPECT_EQ(KeyOf(FirewallRule()), nullptr);
  EXPECT_EQ(FirewallRule().KeyFieldAddress(), nullptr);

  UserInfo user;
  EXPECT_NE(user.FindField("rep_host"), nullptr);
  EXPECT_EQ(NetworkParams().FindField("REP_HOST"), nullptr);
  EXPECT_EQ(smtp.FindField("REP_HOST"), nullptr);
  EXPECT_EQ(RegraAcesso().FindField("ADDRESS")->type, static_cast<uint32_t>(FIELD_INT));
  EXPECT_EQ(HttpSimpleDevice().FindField("DEVICE_MAC")->type, static_cast<uint32_t>(FIELD_STRING));
}

TEST(CatalogueRecords, ElementNamesAndSecrets) {
  UserListParams users;
  users.groups.AddNew()->name = "staff";
  UserInfo* alice = users.users.AddNew();
  alice->login = "alice";
  alice->password = "s3cret";
  std::vector<std::string> calls = Calls(users);
  EXPECT_EQ(
      Matching(calls, "BeginElement"),
      (std::vector<std::string>{"BeginElement GROUP_INFO staff", "BeginElement USER_INFO alice"}));
  EXPECT_EQ(Matching(calls, "EncodeSecret"), (std::vector<std::string>{"EncodeSecret s3cret"}));
  EXPECT_EQ(Matching(calls, "WriteString PASSWORD="),
            (std::vector<std::string>{"WriteString PASSWORD=enc:s3cret"}));
  EXPECT_EQ(alice->password, "s3cret");

  MailAliasList shortForm;
  MailAliasFullList fullForm;
  shortForm.aliases.AddNew()->alias = "sales";
  fullForm.aliases.AddNew()->alias = "sales";
  EXPECT_EQ(Matching(Calls(shortForm), "Begin"),
            (std::vector<std::string>{"BeginRecord MAIL_ALIAS_LIST", "BeginList _ALIASES",
                                      "BeginElement MAIL_ALIAS_IDX sales"}));
  EXPECT_EQ(Matching(Calls(fullForm), "Begin")[2], "BeginElement MAIL_ALIAS sales");

  // Texts that look like secrets but are not typed as such pass unchanged.
  UserBaseConfig base;
  base.adpassword = "plain";
  LoginParams login;
  login.password = "plain";
  for (const ParamLoader* record :
       {static_cast<const ParamLoader*>(&base), static_cast<const ParamLoader*>(&login)}) {
    EXPECT_TRUE(Matching(Calls(*record), "EncodeSecret").empty()) << record->TypeTag();
  }
  EXPECT_EQ(Matching(Calls(login), "WriteString PASSWORD=").at(0), "WriteString PASSWORD=plain");
  EXPECT_EQ(Matching(Calls(base), "WriteString ADPASSWORD=").at(0), "WriteString ADPASSWORD=plain");

  // Every FIELD_PASSWORD row of every factory record passes the encoding.
  int secrets = 0;
  for (int i = 0; i < FactoryTagCount(); ++i) {
    std::unique_ptr<ParamLoader> record(CreateParamByTag(FactoryTag(i)));
    int rows = 0;
    ForEachField(*record, [&](const FieldDescriptor* row, void* field) {
      if (row->type != FIELD_PASSWORD) return;
      *static_cast<zustring*>(field) = "pw";
      ++rows;
    });
    EXPECT_EQ(Matching(Calls(*record), "EncodeSecret pw").size(), static_cast<size_t>(rows));
    secrets += rows;
  }
  EXPECT_GT(secrets, 5);
}

TEST(CatalogueRecords, CopiesAreDeepEqualAndIndependent) {
  NetworkParams original;
  for (int i = 0; i < 3; ++i) original.fwRules.AddNew()->remotePort = 1000 + i;
  NetworkInterface* eth = original.ifList.AddNew();
  eth->label = "eth0";
  eth->mac.bytes[5] = 0x42;
  eth->dunPassword = "dial";
  eth->ips.AddNew()->address = 0x0100007f;
  eth->runtimeIndex = 7;
  original.runtimeNetList.AddNew()->name = "runtime";

  NetworkParams copy;
  copy = original;
  EXPECT_TRUE(SameRecord(original, copy));
  EXPECT_EQ(Calls(original), Calls(copy));
  ASSERT_EQ(copy.ifList.Count(), 1);
  EXPECT_EQ(copy.ifList.At(0)->runtimeIndex, 7);
  ASSERT_EQ(copy.runtimeNetList.Count(), 1);
  EXPECT_NE(copy.runtimeNetList.At(0), original.runtimeNetList.At(0));

  copy.ifList.At(0)->ips.At(0)->address = 0;
  copy.ifList.At(0)->label = "eth1";
  copy.fwRules.Clear();
  EXPECT_EQ(original.fwRules.Count(), 3);
  EXPECT_EQ(original.ifList.At(0)->label, "eth0");
  EXPECT_EQ(original.ifList.At(0)->ips.At(0)->address, 0x0100007fu);
  EXPECT_FALSE(SameRecord(original, copy));

  // Lists of every element class copy deep and equal: fill every list of
  // every factory record, copy the rows into a fresh record (lists with
  // CopyFrom, which assigns element by element), compare, then change the
  // copy's elements and compare again.
  for (int i = 0; i < FactoryTagCount(); ++i) {
    std::unique_ptr<ParamLoader> a(CreateParamByTag(FactoryTag(i)));
    std::unique_ptr<ParamLoader> b(CreateParamByTag(FactoryTag(i)));
    Fill(*a, 3);
    int lists = 0;
    ForEachField(*b, [&](const FieldDescriptor* row, void* field) {
      const void* from = a->FieldAddress(row);
      switch (row->type) {
        case FIELD_LIST:
          static_cast<ParamListBase*>(field)->CopyFrom(*static_cast<const ParamListBase*>(from));
          ++lists;
          break;
        case FIELD_INT:
        case FIELD_IPADDR:
        case FIELD_BOOL:
        case FIELD_MAC:
          std::memcpy(field, from, row->type == FIELD_MAC ? 6 : row->type == FIELD_BOOL ? 1 : 4);
          break;
        default:
          *static_cast<zustring*>(field) = *static_cast<const zustring*>(from);
      }
    });
    EXPECT_TRUE(SameRecord(*a, *b)) << FactoryTag(i);
    if (lists == 0) continue;
    Fill(*b, 3);
    EXPECT_FALSE(SameRecord(*a, *b)) << FactoryTag(i);
  }

  // A copy of a shared record is a record of its own, not shared.
  NetworkParams* shared = new NetworkParams;
  shared->AddRef();
  NetworkParams unshared;
  unshared = *shared;
  EXPECT_EQ(unshared.RefCount(), 0);
  EXPECT_EQ(shared->RefCount(), 1);
  shared->Release();
}

}  // namespace
