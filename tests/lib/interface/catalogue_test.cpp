// The whole catalogue against reference data in tests/data/catalogue, taken
// from the documents, not from the code: classes.txt gives every class with
// its type tag and key field; factory.txt the tags the factory must and must
// not know; the other files, for each factory tag, the serialized call
// sequence of a new record whose every list, three levels deep, got one new
// element. Copies are checked on every class of the catalogue's list.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "lib/interface/param_classes.h"
#include "support/record_fill.h"
#include "support/recording_stream.h"

namespace {

using Calls = std::vector<std::string>;
namespace fs = std::filesystem;

const fs::path kDataDir = fs::path(ZU_TEST_DATA_DIR) / "catalogue";

/* Sections of the form "record TAG" followed by the calls of that record. */
std::map<std::string, Calls> LoadListings() {
  std::map<std::string, Calls> listings;
  for (const fs::directory_entry& entry : fs::directory_iterator(kDataDir)) {
    std::ifstream in(entry.path());
    std::string line;
    Calls* current = nullptr;
    while (std::getline(in, line)) {
      if (line.rfind("record ", 0) == 0) {
        current = &listings[line.substr(7)];
      } else if (current && !line.empty()) {
        current->push_back(line);
      }
    }
  }
  return listings;
}

std::vector<std::string> FactoryTags(const char* kind) {
  std::ifstream in(kDataDir / "factory.txt");
  std::vector<std::string> tags;
  std::string word, tag;
  while (in >> word >> tag) {
    if (word == kind) tags.push_back(tag);
  }
  return tags;
}

Calls Serialized(const ParamLoader& record) {
  RecordingStream stream;
  EXPECT_TRUE(record.Serialize(stream, true)) << record.TypeTag();
  return stream.calls;
}

/* "Class TAG KEY", with "-" for no key field. */
template <class Class>
std::string Describe(const char* name) {
  const Class record;
  const FieldDescriptor* key = record.KeyField();
  return std::string(name) + " " + record.TypeTag() + " " + (key ? key->key : "-");
}

TEST(Catalogue, ClassesTagsAndKeysMatchTheDocuments) {
  std::vector<std::string> listed = {
#define ZU_CATALOGUE_CLASS(Class) Describe<Class>(#Class),
#include "lib/interface/catalogue.def"
  };
  std::vector<std::string> documented;
  std::ifstream in(kDataDir / "classes.txt");
  for (std::string line; std::getline(in, line);) documented.push_back(line);
  ASSERT_EQ(documented.size(), 110u);
  std::sort(listed.begin(), listed.end());
  std::sort(documented.begin(), documented.end());
  EXPECT_EQ(listed, documented);
}

TEST(Catalogue, EveryFactoryRecordMatchesItsListing) {
  std::map<std::string, Calls> listings = LoadListings();
  std::vector<std::string> known = FactoryTags("known");
  ASSERT_EQ(known.size(), 92u);
  for (const std::string& tag : known) {
    auto listing = listings.find(tag);
    ASSERT_NE(listing, listings.end()) << "no listing for " << tag;
    std::unique_ptr<ParamLoader> record(CreateParamByTag(tag.c_str()));
    ASSERT_NE(record, nullptr) << tag;
    FillRecord(*record, {.depth = 3, .values = false});
    EXPECT_EQ(Serialized(*record), listing->second) << tag;
  }
  EXPECT_EQ(listings.size(), known.size());
}

TEST(Catalogue, FactoryKnowsExactlyItsTags) {
  std::vector<std::string> known = FactoryTags("known");
  std::vector<std::string> unknown = FactoryTags("unknown");
  ASSERT_EQ(unknown.size(), 20u);
  EXPECT_EQ(FactoryTagCount(), 92);
  std::set<std::string> listed;
  for (int i = 0; i < FactoryTagCount(); ++i) listed.insert(FactoryTag(i));
  EXPECT_EQ(listed, std::set<std::string>(known.begin(), known.end()));
  EXPECT_EQ(FactoryTag(92), nullptr);
  EXPECT_EQ(FactoryTag(-1), nullptr);

  for (const std::string& tag : known) {
    std::unique_ptr<ParamLoader> first(CreateParamByTag(tag.c_str()));
    std::unique_ptr<ParamLoader> second(CreateParamByTag(tag.c_str()));
    ASSERT_NE(first, nullptr) << tag;
    EXPECT_STREQ(first->TypeTag(), tag.c_str());
    EXPECT_NE(first, second);
    std::string lower;
    for (char c : tag) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(CreateParamByTag(lower.c_str()), nullptr) << lower;
    EXPECT_EQ(CreateParamByTag((tag + " ").c_str()), nullptr) << tag;
    // The whole tag must match: one character less is another tag or none.
    std::string shortened = tag.substr(0, tag.size() - 1);
    std::unique_ptr<ParamLoader> other(CreateParamByTag(shortened.c_str()));
    if (other) {
      EXPECT_STREQ(other->TypeTag(), shortened.c_str());
    } else {
      EXPECT_FALSE(listed.count(shortened)) << shortened;
    }
  }
  for (const std::string& tag : unknown) EXPECT_EQ(CreateParamByTag(tag.c_str()), nullptr) << tag;
  EXPECT_EQ(CreateParamByTag(""), nullptr);
  EXPECT_EQ(CreateParamByTag("NO_SUCH_RECORD"), nullptr);
}

/* A filled record, assigned and copy-constructed: both copies serialize the
** same; filling them again leaves the original as it was, so they share no
** element and no text buffer with it. */
template <class Class>
void CheckCopies(const char* name) {
  Class original;
  FillRecord(original, {.seed = 7, .depth = 2, .elements = 2});
  const Calls before = Serialized(original);
  Class assigned;
  assigned = original;
  Class constructed(original);
  EXPECT_EQ(Serialized(assigned), before) << name;
  EXPECT_EQ(Serialized(constructed), before) << name;
  FillRecord(assigned, {.seed = 8});
  FillRecord(constructed, {.seed = 9});
  EXPECT_NE(Serialized(assigned), before) << name;
  EXPECT_EQ(Serialized(original), before) << name;
}

TEST(Catalogue, CopiesAreDeepAndIndependent) {
#define ZU_CATALOGUE_CLASS(Class) CheckCopies<Class>(#Class);
#include "lib/interface/catalogue.def"

  // Members outside the table are copied too, lists element by element.
  NetworkParams network;
  network.ifList.AddNew()->runtimeIndex = 7;
  network.runtimeNetList.AddNew()->name = "runtime";
  NetworkParams copy;
  copy = network;
  EXPECT_EQ(copy.ifList.At(0)->runtimeIndex, 7);
  ASSERT_EQ(copy.runtimeNetList.Count(), 1);
  EXPECT_NE(copy.runtimeNetList.At(0), network.runtimeNetList.At(0));
  EXPECT_EQ(copy.runtimeNetList.At(0)->name, "runtime");

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
