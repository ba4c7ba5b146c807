/*
** The string list: growth by half, owned item copies, the optional tag
** array and the name=value lookup.
*/
#include "misc/stringlist.h"

#include <cstdlib>
#include <cstring>
#include <new>

StringList::~StringList() {
  if (items_) {
    Clear();
    delete[] items_;
  }
  delete[] tags_;
}

void StringList::Grow() {
  if (capacity_ == 0) {
    items_ = new zustring*[10];
    capacity_ = 10;
    return;
  }
  int capacity = capacity_ + capacity_ / 2;
  zustring** items = new zustring*[capacity];
  std::memcpy(items, items_, capacity_ * sizeof *items);
  delete[] items_;
  items_ = items;
  if (tags_) {
    uint32_t* tags = new uint32_t[capacity]();
    std::memcpy(tags, tags_, capacity_ * sizeof *tags);
    delete[] tags_;
    tags_ = tags;
  }
  capacity_ = capacity;
}

int StringList::Add(const zustring& s) {
  if (count_ == capacity_) Grow();
  items_[count_] = new (std::nothrow) zustring(s);
  return count_++;
}

int StringList::AddWithTag(const zustring& s, uint32_t tag) {
  int index = Add(s);
  if (!tags_) tags_ = new uint32_t[capacity_]();
  tags_[index] = tag;
  return index;
}

/* The count is taken first: other may be this list. */
void StringList::AddAll(const StringList& other) {
  int count = other.count_;
  for (int i = 0; i < count; ++i) Add(*other.items_[i]);
}

void StringList::Assign(const StringList& other) {
  if (&other == this) return;
  Clear();
  AddAll(other);
}

int StringList::InsertAt(int index, const zustring& s) {
  if (count_ == capacity_) Grow();
  std::memmove(items_ + index + 1, items_ + index, (count_ - index) * sizeof *items_);
  items_[index] = new (std::nothrow) zustring(s);
  return count_++;
}

void StringList::RemoveAt(int index) {
  delete items_[index];
  --count_;
  if (index < count_) {
    std::memmove(items_ + index, items_ + index + 1, (count_ - index) * sizeof *items_);
  }
}

static int CompareItems(const void* a, const void* b) {
  const zustring* x = *static_cast<zustring* const*>(a);
  const zustring* y = *static_cast<zustring* const*>(b);
  return std::strcmp(x->c_str(), y->c_str());
}

void StringList::Sort() {
  if (count_ > 1) std::qsort(items_, count_, sizeof *items_, CompareItems);
}

void StringList::Clear() {
  for (int i = 0; i < count_; ++i) delete items_[i];
  count_ = 0;
}

zustring StringList::FindValue(const char* name) const {
  size_t n = std::strlen(name);
  for (int i = 0; i < count_; ++i) {
    const char* text = items_[i]->c_str();
    if (std::strncmp(text, name, n) == 0 && text[n] == '=') return zustring(text + n + 1);
  }
  return zustring();
}
