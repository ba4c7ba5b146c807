/*
** The generic half of the record framework: table scans, the owning list
** and the field writer that every record's Serialize calls.
*/
#include "paramloader/paramloader.h"

#include <cstring>

ZU_RECORD_TABLE(RepliBase)
ZU_RECORD_TABLE(Replicatable)

const FieldDescriptor* FindRow(const zustring& key, const FieldDescriptor* table, int count) {
  for (int i = 0; i < count; ++i) {
    if (_stricmp(key.c_str(), table[i].key) == 0) return &table[i];
  }
  return nullptr;
}

const FieldDescriptor* FindKeyRow(const FieldDescriptor* table, int count) {
  for (int i = 0; i < count; ++i) {
    if (table[i].type == FIELD_KEY) return &table[i];
  }
  return nullptr;
}

void* ParamLoader::FieldAddress(const FieldDescriptor* row) {
  return reinterpret_cast<char*>(this) + row->offset;
}

void* ParamLoader::KeyFieldAddress() {
  const FieldDescriptor* row = KeyField();
  return row ? FieldAddress(row) : nullptr;
}

const void* ParamLoader::KeyFieldAddress() const {
  const FieldDescriptor* row = KeyField();
  return row ? FieldAddress(row) : nullptr;
}

/* BeginList, each element framed by BeginElement/EndElement, EndList. */
static bool SerializeList(RecordStream& stream, const zustring& key, const ParamListBase& list) {
  if (!stream.BeginList(key)) return false;
  bool ok = true;
  for (int i = 0; ok && i < list.Count(); ++i) {
    const ParamLoader* element = list.At(i);
    if (!element) continue;
    zustring name;
    if (const void* keyText = element->KeyFieldAddress()) {
      name = *static_cast<const zustring*>(keyText);
    } else {
      name.Format("%04d", i);
    }
    zustring tag(element->TypeTag());
    ok = stream.BeginElement(tag, name);
    if (ok) ok = element->Serialize(stream, false);
    if (ok) ok = stream.EndElement(tag);
  }
  if (ok) stream.EndList(key);
  return ok;
}

namespace {
/* The walk whose Run is under way on this thread, if any. */
thread_local const FieldWalk* activeWalk = nullptr;
}  // namespace

void FieldWalk::Run(const ParamLoader& record) {
  struct Activation {
    const FieldWalk* outer = activeWalk;
    ~Activation() { activeWalk = outer; }
  } activation;
  activeWalk = this;
  record.Serialize(*this, false);
}

bool ParamLoader::SerializeFields(RecordStream& stream, const FieldDescriptor* table,
                                  int nRows) const {
  if (const FieldWalk* walk = activeWalk; &stream == walk) {
    // ForEachField makes the address const again for a const record.
    for (int i = 0; i < nRows; ++i) {
      walk->VisitRow(&table[i], const_cast<void*>(FieldAddress(&table[i])));
    }
    return true;
  }
  bool ok = true;
  for (int i = 0; ok && i < nRows; ++i) {
    const FieldDescriptor* row = &table[i];
    const void* field = FieldAddress(row);
    zustring key(row->key);
    switch (row->type) {
      case FIELD_INT:
        ok = stream.WriteInt(key, *static_cast<const int32_t*>(field));
        break;
      case FIELD_BOOL:
        ok = stream.WriteBool(key, *static_cast<const uint8_t*>(field) != 0);
        break;
      case FIELD_IPADDR:
        ok = stream.WriteIpAddress(key, *static_cast<const uint32_t*>(field));
        break;
      case FIELD_STRING:
      case FIELD_KEY:
        ok = stream.WriteString(key, *static_cast<const zustring*>(field));
        break;
      case FIELD_PASSWORD: {
        zustring secret(*static_cast<const zustring*>(field));
        stream.EncodeSecret(secret);
        ok = stream.WriteString(key, secret);
        break;
      }
      case FIELD_MAC:
        ok = stream.WriteMacAddress(key, *static_cast<const MacAddress*>(field));
        break;
      case FIELD_LIST:
        ok = SerializeList(stream, key, *static_cast<const ParamListBase*>(field));
        break;
      default:
        break;
    }
  }
  return ok;
}

void ParamListBase::EnsureRoom() {
  if (count_ < capacity_) return;
  ReserveFor(count_ + 1);
}

/* Grows the array in one step to the capacity that growth by half (from 5)
** would reach for n elements. */
void ParamListBase::ReserveFor(int n) {
  if (n <= capacity_) return;
  int capacity = items_ ? capacity_ : 5;
  while (capacity < n) capacity += capacity / 2;
  ParamLoader** items = new ParamLoader*[capacity];
  if (count_) std::memcpy(items, items_, count_ * sizeof *items);
  delete[] items_;
  items_ = items;
  capacity_ = capacity;
}

void ParamListBase::Append(ParamLoader* element) {
  EnsureRoom();
  items_[count_++] = element;
}

ParamLoader* ParamListBase::FindByKey(const char* key) const {
  int first = 0;
  while (first < count_ && !items_[first]) ++first;
  if (first == count_) return nullptr;
  const FieldDescriptor* row = items_[first]->KeyField();
  if (!row) return nullptr;
  for (int i = first; i < count_; ++i) {
    const ParamLoader* element = items_[i];
    if (element && *static_cast<const zustring*>(element->FieldAddress(row)) == key) {
      return items_[i];
    }
  }
  return nullptr;
}

bool ParamListBase::Remove(ParamLoader* element) {
  for (int i = 0; i < count_; ++i) {
    if (items_[i] != element) continue;
    std::memmove(items_ + i, items_ + i + 1, (count_ - i - 1) * sizeof *items_);
    --count_;
    return true;
  }
  return false;
}

void ParamListBase::Clear() {
  if (!items_) return;
  for (int i = 0; i < count_; ++i) delete items_[i];
  delete[] items_;
  items_ = nullptr;
  count_ = 0;
  capacity_ = 0;
}

void ParamListBase::CopyFrom(const ParamListBase& source) {
  for (int i = 0; i < count_; ++i) delete items_[i];
  count_ = 0;
  ReserveFor(source.count_);
  for (int i = 0; i < source.count_; ++i) AddCopyOf(source, i);
}

void ParamListBase::Sort(int (*compare)(const void*, const void*)) {
  if (count_ > 1) std::qsort(items_, count_, sizeof *items_, compare);
}

int ParamListBase::CompareByKey(const void* a, const void* b) {
  const ParamLoader* first = *static_cast<const ParamLoader* const*>(a);
  const ParamLoader* second = *static_cast<const ParamLoader* const*>(b);
  const FieldDescriptor* row = first->KeyField();
  if (!row) return 0;
  const zustring* x = static_cast<const zustring*>(first->FieldAddress(row));
  const zustring* y = static_cast<const zustring*>(second->FieldAddress(row));
  return _stricmp(x->c_str(), y->c_str());
}
