/*
** The record framework.
**
** Every configuration record derives from ParamLoader and describes its
** members in one static field table: each row gives a member's key text, its
** type code and its byte offset in the record. Everything generic works from
** those tables: lookup by key, the key field, list search and sorting, the
** naming of list elements and serialization to a host-supplied RecordStream.
** A class's table lists only its own fields; lookup and serialization fall
** back to the base class's table, so the most basic fields come first.
**
** Declaring a record class. The fields are an X-macro named after the class,
** one line per field: F(kind, "KEY", member[, default or element class]).
** The kind is INT, BOOL, IPADDR, STRING, KEY, PASSWORD, LIST or MAC; the
** line declares the member with its default and makes the table row.
**
**     #define ZU_FIELDS_NetworkAddress(F) \
**       F(KEY, "NAME", name)               \
**       F(INT, "CONTROL", control, 1)      \
**       F(STRING, "CREATOR", creator, "SYS")
**     class NetworkAddress : public Record<NetworkAddress, ParamLoader> {
**      public:
**       ZU_RECORD(NetworkAddress, "NET_ADDRESS")
**       int32_t scratch = 0;               // outside the table
**     };
**
** and, in one source file, ZU_RECORD_TABLE(NetworkAddress). A LIST line
** names the element class: F(LIST, "NET_LIST", netList, NetworkAddress).
** The base may be ParamLoader, ParamLoaderRefCounted or another record
** class. A class that differs from its base only by tag and constructor
** derives from TaggedRecord<Self, Base> and declares ZU_TAG("TAG") instead.
** Copying is memberwise: texts are shared, lists copied element by element.
*/
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

#include "misc/zustring.h"
#include "platform/win32.h"

/* Type codes of field table rows. */
enum : uint32_t {
  FIELD_INT = 0,       // int32_t
  FIELD_BOOL = 1,      // one byte, 0 or 1
  FIELD_IPADDR = 2,    // uint32_t IPv4 address in network byte order
  FIELD_STRING = 3,    // zustring
  FIELD_KEY = 4,       // zustring; the record's key when it is the first such row
  FIELD_PASSWORD = 5,  // zustring holding a secret
  FIELD_LIST = 6,      // ParamList<T>
  FIELD_MAC = 7,       // MacAddress
};

struct FieldDescriptor {
  const char* key;
  uint32_t type;
  uint32_t offset;
};

/* First row whose key equals key without regard to case, or null. */
const FieldDescriptor* FindRow(const zustring& key, const FieldDescriptor* table, int count);
/* First FIELD_KEY row, or null. */
const FieldDescriptor* FindKeyRow(const FieldDescriptor* table, int count);

/* A hardware address; all zero when constructed. */
struct MacAddress {
  uint8_t bytes[6] = {};
  bool operator==(const MacAddress&) const = default;
};

class RecordStream;

class ParamLoader {
 public:
  static constexpr bool kHasTable = false;

  virtual void* FieldAddress(const FieldDescriptor* row);
  virtual const FieldDescriptor* FindField(const zustring& key) const = 0;
  virtual const FieldDescriptor* KeyField() const = 0;
  virtual const char* TypeTag() const = 0;
  virtual ~ParamLoader() = default;
  virtual bool Serialize(RecordStream& stream, bool asRecord) const = 0;
  virtual void* KeyFieldAddress();

  const void* FieldAddress(const FieldDescriptor* row) const {
    return reinterpret_cast<const char*>(this) + row->offset;
  }
  const void* KeyFieldAddress() const;

  /* Writes the fields of one table of this record, stopping at the first
  ** stream call that returns false. */
  bool SerializeFields(RecordStream& stream, const FieldDescriptor* table, int nRows) const;

 protected:
  ParamLoader() = default;
  ParamLoader(const ParamLoader&) = default;
  ParamLoader& operator=(const ParamLoader&) = default;
};

/* A record shared by several owners; the last Release destroys it. */
class ParamLoaderRefCounted : public ParamLoader {
 public:
  virtual void AddRef() { InterlockedIncrement(&refCount_); }
  virtual void Release() {
    if (InterlockedDecrement(&refCount_) == 0) delete this;
  }
  LONG RefCount() const { return ReadAcquire(&refCount_); }

 protected:
  ParamLoaderRefCounted() = default;
  /* A copy is a new object with owners of its own. */
  ParamLoaderRefCounted(const ParamLoaderRefCounted&) : ParamLoader() {}
  ParamLoaderRefCounted& operator=(const ParamLoaderRefCounted&) { return *this; }

 private:
  LONG refCount_ = 0;
};

/* The owning list of records; elements are held by pointer and destroyed
** with the list. */
class ParamListBase {
 public:
  ParamListBase() = default;
  ParamListBase(const ParamListBase&) = delete;
  ParamListBase& operator=(const ParamListBase&) = delete;
  virtual ~ParamListBase() { Clear(); }
  virtual ParamLoader* AddNew() = 0;
  virtual ParamLoader* AddCopyOf(const ParamListBase& source, int index) = 0;
  /* First element whose key text equals key exactly, or null. */
  virtual ParamLoader* FindByKey(const char* key) const;

  int Count() const { return count_; }
  int Capacity() const { return capacity_; }
  ParamLoader* At(int i) const { return items_[i]; }
  void EnsureRoom();
  /* Takes element out without destroying it; false if it is not here. */
  bool Remove(ParamLoader* element);
  void Clear();
  /* Replaces the elements by copies of source's; keeps the array. */
  void CopyFrom(const ParamListBase& source);
  /* qsort over the element pointers; compare gets two ParamLoader**. */
  void Sort(int (*compare)(const void*, const void*));
  /* Case-insensitive order of the key texts; all equal without a key. */
  static int CompareByKey(const void* a, const void* b);

 protected:
  void Append(ParamLoader* element);

 private:
  void ReserveFor(int n);

  ParamLoader** items_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

template <class T>
class ParamList : public ParamListBase {
 public:
  ParamList() = default;
  ParamList(const ParamList& other) : ParamListBase() { CopyFrom(other); }
  ParamList& operator=(const ParamList& other) {
    CopyFrom(other);
    return *this;
  }

  T* AddNew() override {
    T* element = new (std::nothrow) T;
    Append(element);
    return element;
  }
  T* AddCopyOf(const ParamListBase& source, int index) override {
    const T* from = static_cast<const T*>(source.At(index));
    T* element = static_cast<T*>(AddNewRecord());
    if (element && from) *element = *from;
    return element;
  }
  virtual ParamLoader* AddNewRecord() { return AddNew(); }
  virtual T* FindItem(const char* key) const { return static_cast<T*>(FindByKey(key)); }
  T* At(int i) const { return static_cast<T*>(ParamListBase::At(i)); }
};

/* The abstract writer that records are serialized to. Every operation but
** EncodeSecret returns true to go on, false to stop the walk. */
class RecordStream {
 public:
  virtual ~RecordStream() = default;
  virtual bool BeginRecord(const zustring& tag) = 0;
  virtual bool EndRecord(const zustring& tag) = 0;
  virtual bool BeginList(const zustring& key) = 0;
  virtual bool EndList(const zustring& key) = 0;
  virtual bool WriteInt(const zustring& key, int32_t value) = 0;
  virtual bool WriteBool(const zustring& key, bool value) = 0;
  virtual bool WriteString(const zustring& key, const zustring& value) = 0;
  virtual bool WriteIpAddress(const zustring& key, uint32_t address) = 0;
  virtual bool WriteMacAddress(const zustring& key, const MacAddress& address) = 0;
  virtual bool BeginElement(const zustring& tag, const zustring& name) = 0;
  virtual bool EndElement(const zustring& tag) = 0;
  /* Turns a copy of a secret into its stored form. */
  virtual void EncodeSecret(zustring& text) = 0;
};

/* The generic part of a record class with a table of its own: Self declares
** kTag, kFields and kFieldCount (ZU_RECORD does), Base is its direct base. */
template <class Self, class Base>
class Record : public Base {
 public:
  static constexpr bool kHasTable = true;

  const FieldDescriptor* FindField(const zustring& key) const override {
    if (const FieldDescriptor* row = FindRow(key, Self::kFields, Self::kFieldCount)) return row;
    if constexpr (Base::kHasTable) return Base::FindField(key);
    return nullptr;
  }
  const FieldDescriptor* KeyField() const override {
    if (const FieldDescriptor* row = FindKeyRow(Self::kFields, Self::kFieldCount)) return row;
    if constexpr (Base::kHasTable) return Base::KeyField();
    return nullptr;
  }
  const char* TypeTag() const override { return Self::kTag; }
  bool Serialize(RecordStream& stream, bool asRecord) const override {
    bool ok = true;
    if (asRecord) ok = stream.BeginRecord(zustring(this->TypeTag()));
    if constexpr (Base::kHasTable) {
      if (ok) ok = Base::Serialize(stream, false);
    }
    if (ok) ok = this->SerializeFields(stream, Self::kFields, Self::kFieldCount);
    if (asRecord && ok) stream.EndRecord(zustring(this->TypeTag()));
    return ok;
  }
};

/* The stream that ForEachField runs a record's Serialize with: while it
** runs, SerializeFields hands it each row of the tables it is given, with
** the member's address, instead of writing the fields. So the walk needs no
** operation of its own in the record classes. */
class FieldWalk final : public RecordStream {
 public:
  typedef void (*Visit)(void* context, const FieldDescriptor* row, void* field);
  FieldWalk(Visit visit, void* context) : visit_(visit), context_(context) {}

  /* Runs record.Serialize with this stream. */
  void Run(const ParamLoader& record);
  void VisitRow(const FieldDescriptor* row, void* field) const { visit_(context_, row, field); }

  bool BeginRecord(const zustring&) override { return true; }
  bool EndRecord(const zustring&) override { return true; }
  bool BeginList(const zustring&) override { return true; }
  bool EndList(const zustring&) override { return true; }
  bool WriteInt(const zustring&, int32_t) override { return true; }
  bool WriteBool(const zustring&, bool) override { return true; }
  bool WriteString(const zustring&, const zustring&) override { return true; }
  bool WriteIpAddress(const zustring&, uint32_t) override { return true; }
  bool WriteMacAddress(const zustring&, const MacAddress&) override { return true; }
  bool BeginElement(const zustring&, const zustring&) override { return true; }
  bool EndElement(const zustring&) override { return true; }
  void EncodeSecret(zustring&) override {}

 private:
  Visit visit_;
  void* context_;
};

/* Calls visit(row, address) for every row of the record's class chain, in
** the order Serialize writes them, with the address of the member the row
** describes (a const address for a const record). Lets a host print, fill
** or compare any record by its rows. */
template <class Rec, class Visitor>
requires std::is_base_of_v<ParamLoader, std::remove_const_t<Rec>>
void ForEachField(Rec& record, Visitor&& visit) {
  using Field = std::conditional_t<std::is_const_v<Rec>, const void*, void*>;
  using Function = std::remove_reference_t<Visitor>;
  FieldWalk::Visit call = [](void* context, const FieldDescriptor* row, void* field) {
    (*static_cast<Function*>(context))(row, static_cast<Field>(field));
  };
  FieldWalk(call, const_cast<void*>(static_cast<const void*>(std::addressof(visit)))).Run(record);
}

/* A record class that adds no fields to its base: only its tag differs. */
template <class Self, class Base>
class TaggedRecord : public Base {
 public:
  const char* TypeTag() const override { return Self::kTag; }
};

/* Declarations that ZU_RECORD expands the field lines into. */
#define ZU_FIELD_MEMBER(kind, key, member, ...) ZU_MEMBER_##kind(member, __VA_ARGS__)
#define ZU_MEMBER_INT(member, ...) int32_t member{__VA_ARGS__};
#define ZU_MEMBER_BOOL(member, ...) bool member{__VA_ARGS__};
#define ZU_MEMBER_IPADDR(member, ...) uint32_t member{__VA_ARGS__};
#define ZU_MEMBER_STRING(member, ...) zustring member{__VA_ARGS__};
#define ZU_MEMBER_KEY(member, ...) zustring member{__VA_ARGS__};
#define ZU_MEMBER_PASSWORD(member, ...) zustring member{__VA_ARGS__};
#define ZU_MEMBER_LIST(member, element) ParamList<element> member;
#define ZU_MEMBER_MAC(member, ...) MacAddress member{};
#define ZU_FIELD_COUNT(...) +1
#define ZU_FIELD_ROW(kind, key, member, ...) \
  {key, FIELD_##kind, static_cast<uint32_t>(offsetof(RecordSelf, member))},

/* Inside the class body: the tag, the members of the field lines and the
** table's declaration. */
#define ZU_RECORD(Class, tag)                                             \
  using RecordSelf = Class;                                               \
  static constexpr const char* kTag = tag;                                \
  static constexpr int kFieldCount = 0 ZU_FIELDS_##Class(ZU_FIELD_COUNT); \
  static const FieldDescriptor kFields[kFieldCount];                      \
  ZU_FIELDS_##Class(ZU_FIELD_MEMBER)

#define ZU_TAG(tag) static constexpr const char* kTag = tag;

/* In one source file: the table's definition. Offsets of members of classes
** with virtual functions are well defined on every compiler we build with. */
#define ZU_RECORD_TABLE(Class)                                                            \
  _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Winvalid-offsetof\"") \
      const FieldDescriptor Class::kFields[Class::kFieldCount] = {                        \
          ZU_FIELDS_##Class(ZU_FIELD_ROW)};                                               \
  _Pragma("GCC diagnostic pop")

static_assert(sizeof(bool) == 1, "FIELD_BOOL members are one byte");
static_assert(sizeof(MacAddress) == 6, "FIELD_MAC members are six bytes");

/* The bases of replicated records. */
#define ZU_FIELDS_RepliBase(F)      \
  F(INT, "REP_VERSION", repVersion) \
  F(INT, "REP_HOST", repHost)

class RepliBase : public Record<RepliBase, ParamLoader> {
 public:
  ZU_RECORD(RepliBase, "REPLIBASE")
};

#define ZU_FIELDS_Replicatable(F) F(KEY, "REP_KEY", repKey)

class Replicatable : public Record<Replicatable, RepliBase> {
 public:
  ZU_RECORD(Replicatable, "REPLICATABLE")
};
