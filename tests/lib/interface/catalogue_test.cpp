// The whole catalogue against the reference listings in tests/data/catalogue:
// every factory tag is created, every list at every level gets one element
// made with AddNew, and the record's serialized call sequence must equal the
// listing kept for its tag. factory.txt lists the tags the factory must and
// must not know.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "lib/interface/param_classes.h"
#include "support/recording_stream.h"

namespace {

using Calls = std::vector<std::string>;
namespace fs = std::filesystem;

const fs::path kDataDir = fs::path(ZU_TEST_DATA_DIR) / "catalogue";

/* Sections of the form "record TAG" followed by the calls of that record. */
std::map<std::string, Calls> LoadListings() {
  std::map<std::string, Calls> listings;
  for (const fs::directory_entry& entry : fs::directory_iterator(kDataDir)) {
    if (entry.path().filename() == "factory.txt") continue;
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

void AddOneElementToEveryList(ParamLoader& record, int depth) {
  if (depth == 0) return;
  ForEachField(record, [depth](const FieldDescriptor* row, void* field) {
    if (row->type != FIELD_LIST) return;
    ParamLoader* element = static_cast<ParamListBase*>(field)->AddNew();
    ASSERT_NE(element, nullptr);
    AddOneElementToEveryList(*element, depth - 1);
  });
}

Calls SerializedWithElements(const char* tag) {
  std::unique_ptr<ParamLoader> record(CreateParamByTag(tag));
  if (!record) return {"no record"};
  AddOneElementToEveryList(*record, 3);
  RecordingStream stream;
  EXPECT_TRUE(record->Serialize(stream, true)) << tag;
  return stream.calls;
}

TEST(Catalogue, EveryFactoryRecordMatchesItsListing) {
  std::map<std::string, Calls> listings = LoadListings();
  std::vector<std::string> known = FactoryTags("known");
  ASSERT_EQ(known.size(), 92u);
  for (const std::string& tag : known) {
    auto listing = listings.find(tag);
    ASSERT_NE(listing, listings.end()) << "no listing for " << tag;
    EXPECT_EQ(SerializedWithElements(tag.c_str()), listing->second) << tag;
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
    std::string lower, spaced = tag + " ";
    for (char c : tag) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(CreateParamByTag(lower.c_str()), nullptr) << lower;
    EXPECT_EQ(CreateParamByTag(spaced.c_str()), nullptr) << spaced;
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

}  // namespace
