/*
** The catalogue's field tables and its factory, both expanded from the
** catalogue's one list of classes (catalogue.def). The factory is a table
** of tags and constructors, sorted once and searched by halves.
*/
#include "lib/interface/param_classes.h"

#include <algorithm>
#include <cstring>

#define ZU_RECORD_CLASS(Class) ZU_RECORD_TABLE(Class)
#define ZU_ELEMENT_CLASS(Class) ZU_RECORD_TABLE(Class)
#include "lib/interface/catalogue.def"

namespace {

struct FactoryEntry {
  const char* tag;
  ParamLoader* (*create)();
};

template <class T>
ParamLoader* Create() {
  return new T;
}

const FactoryEntry kEntries[] = {
#define ZU_RECORD_CLASS(Class) {Class::kTag, &Create<Class>},
#define ZU_TAGGED_CLASS(Class) {Class::kTag, &Create<Class>},
#include "lib/interface/catalogue.def"
};
constexpr int kEntryCount = sizeof kEntries / sizeof kEntries[0];

bool ByTag(const FactoryEntry& a, const FactoryEntry& b) {
  return std::strcmp(a.tag, b.tag) < 0;
}

struct SortedEntries {
  FactoryEntry entries[kEntryCount];
  SortedEntries() {
    std::copy(kEntries, kEntries + kEntryCount, entries);
    std::sort(entries, entries + kEntryCount, ByTag);
  }
};

const FactoryEntry* Sorted() {
  static const SortedEntries sorted;
  return sorted.entries;
}

}  // namespace

ParamLoader* CreateParamByTag(const char* tag) {
  const FactoryEntry* entries = Sorted();
  const FactoryEntry probe{tag, nullptr};
  const FactoryEntry* hit = std::lower_bound(entries, entries + kEntryCount, probe, ByTag);
  if (hit == entries + kEntryCount || std::strcmp(hit->tag, tag) != 0) return nullptr;
  return hit->create();
}

int FactoryTagCount() {
  return kEntryCount;
}

const char* FactoryTag(int index) {
  return index >= 0 && index < kEntryCount ? Sorted()[index].tag : nullptr;
}
