// The string list: growth, tags, ordering, removal and the name=value lookup.
#include "misc/stringlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Items(const StringList& list) {
  std::vector<std::string> items;
  for (int i = 0; i < list.Count(); ++i) items.emplace_back(list[i].c_str());
  return items;
}

TEST(StringList, GrowthIndexesAndTags) {
  StringList list;
  EXPECT_EQ(list.Capacity(), 0);
  std::vector<int> capacities;
  for (int i = 0; i < 16; ++i) {
    zustring item;
    item.Format("item%d", i);
    EXPECT_EQ(list.Add(item), i);
    capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities[0], 10);
  EXPECT_EQ(capacities[9], 10);
  EXPECT_EQ(capacities[10], 15);
  EXPECT_EQ(capacities[15], 22);
  EXPECT_EQ(list[15], "item15");

  // A tag array appears with the first AddWithTag, sized to the capacity,
  // and grows with the items.
  StringList tagged;
  for (int i = 0; i < 12; ++i) tagged.Add("x");
  EXPECT_FALSE(tagged.HasTags());
  EXPECT_EQ(tagged.AddWithTag("v", 77), 12);
  EXPECT_TRUE(tagged.HasTags());
  EXPECT_EQ(tagged.Capacity(), 15);
  for (int i = 13; i < 16; ++i) EXPECT_EQ(tagged.AddWithTag("w", 100 + i), i);
  EXPECT_EQ(tagged.Capacity(), 22);
  EXPECT_EQ(tagged.Tag(12), 77u);
  EXPECT_EQ(tagged.Tag(15), 115u);

  // Assign copies items but no tags, and leaves this list's tags alone.
  tagged.Assign(list);
  EXPECT_EQ(Items(tagged), Items(list));
  EXPECT_EQ(tagged.Tag(12), 77u);
  StringList copy;
  copy.AddAll(tagged);
  EXPECT_FALSE(copy.HasTags());

  // A list given itself appends its items once; assigning itself keeps them.
  StringList self;
  self.Add("p");
  self.Add("q");
  self.AddAll(self);
  EXPECT_EQ(Items(self), (std::vector<std::string>{"p", "q", "p", "q"}));
  self.Assign(self);
  EXPECT_EQ(Items(self), (std::vector<std::string>{"p", "q", "p", "q"}));

  // Items share the texts they were given.
  zustring shared("shared");
  StringList holder;
  holder.Add(shared);
  EXPECT_EQ(holder[0].InspectBlock().block, shared.InspectBlock().block);
}

TEST(StringList, InsertRemoveSortClear) {
  StringList list;
  list.Add("B");
  list.Add("a");
  list.Add("A");
  list.Sort();
  EXPECT_EQ(Items(list), (std::vector<std::string>{"A", "B", "a"}));

  EXPECT_EQ(list.InsertAt(0, "first"), 3);
  EXPECT_EQ(list.InsertAt(4, "last"), 4);
  EXPECT_EQ(list.InsertAt(2, "middle"), 5);
  EXPECT_EQ(Items(list), (std::vector<std::string>{"first", "A", "middle", "B", "a", "last"}));
  list.RemoveAt(5);
  list.RemoveAt(0);
  list.RemoveAt(1);
  EXPECT_EQ(Items(list), (std::vector<std::string>{"A", "B", "a"}));

  // Clear keeps the array; the next Add reuses it.
  for (int i = 0; i < 20; ++i) list.Add("fill");
  int capacity = list.Capacity();
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Add("again"), 0);
  EXPECT_EQ(list.Capacity(), capacity);
}

TEST(StringList, FindValue) {
  StringList list;
  list.Add("x=1");
  list.Add("ab=2");
  list.Add("a=3");
  list.Add("a=4");
  list.Add("empty=");
  EXPECT_EQ(list.FindValue("a"), "3");
  EXPECT_EQ(list.FindValue("ab"), "2");
  EXPECT_TRUE(list.FindValue("c").IsEmpty());
  EXPECT_TRUE(list.FindValue("A").IsEmpty());
  EXPECT_TRUE(list.FindValue("a=").IsEmpty());
  EXPECT_TRUE(list.FindValue("empty").IsEmpty());
  StringList none;
  EXPECT_TRUE(none.FindValue("a").IsEmpty());
}

}  // namespace
