/*
** StringList: a growable list of owned zustring items.
**
** Items are held by pointer so that they keep their addresses while the
** array grows (10, 15, 22, 33... slots). An optional parallel array of
** 32-bit tag words, made by the first AddWithTag, hangs one word on each
** item; the XML tag reader keeps attribute values there. Tag words are not
** owned by the list and are not moved by InsertAt, RemoveAt or Sort.
** Enumerations of the settings store return their names in a StringList.
*/
#pragma once

#include <cstdint>

#include "misc/zustring.h"

class StringList {
 public:
  StringList() = default;
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;
  ~StringList();

  /* The item at index, without range check. */
  zustring& operator[](int index) { return *items_[index]; }
  const zustring& operator[](int index) const { return *items_[index]; }
  int Count() const { return count_; }
  int Capacity() const { return capacity_; }
  /* The tag word of item index; defined only where AddWithTag wrote it. */
  uint32_t Tag(int index) const { return tags_ ? tags_[index] : 0; }
  bool HasTags() const { return tags_ != nullptr; }

  /* Appends a copy of s; returns its index. */
  int Add(const zustring& s);
  int AddWithTag(const zustring& s, uint32_t tag);
  /* Appends copies of other's items, without their tags. */
  void AddAll(const StringList& other);
  void Assign(const StringList& other);
  /* Inserts a copy of s at index; returns the count before the insertion. */
  int InsertAt(int index, const zustring& s);
  void RemoveAt(int index);
  /* Byte order of the texts (strcmp). */
  void Sort();
  /* Drops the items; keeps the arrays and the tag words. */
  void Clear();
  /* For items of the form name=value: the value of the first item whose text
  ** starts with name followed by '=', or empty. */
  zustring FindValue(const char* name) const;

 private:
  void Grow();

  zustring** items_ = nullptr;
  int32_t capacity_ = 0;
  int32_t count_ = 0;
  uint32_t* tags_ = nullptr;
};
