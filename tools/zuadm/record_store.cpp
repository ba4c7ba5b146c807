/*
** Writing records into a settings store through a record stream, and
** reading them back through keyed field access.
*/
#include "tools/zuadm/record_store.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "lib/interface/param_classes.h"
#include "tools/zuadm/field_text.h"

namespace {

constexpr char kTypeValue[] = "$TYPE";
constexpr char kIndexValue[] = "$INDEX";
constexpr char kNewSuffix[] = ".zuadm-new";

zustring Child(const zustring& path, const zustring& name) {
  if (path.IsEmpty()) return name;
  return path + "\\" + name;
}

std::string Folded(const zustring& name) {
  return std::string(name.ToLower().c_str());
}

/* Whether Windows takes a file name (folded to lower case) for a device:
** CON, PRN, AUX, NUL, COM0 to COM9 and LPT0 to LPT9 (also with the
** superscript digits 1, 2 and 3), alone or before an extension. */
bool IsDeviceName(const std::string& folded) {
  std::string base = folded.substr(0, folded.find('.'));
  if (base == "con" || base == "prn" || base == "aux" || base == "nul") return true;
  return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
         std::strchr("0123456789\xB9\xB2\xB3", base[3]) != nullptr;
}

/* A key name for an element: its name with the bytes that no key or
** directory name may hold replaced, made unique within its list. */
zustring ElementKeyName(const zustring& name, int index, std::set<std::string>& used) {
  zustring safe(name);
  char* p = safe.GetWritableBuffer();
  for (unsigned i = 0; p && i < safe.Length(); ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c)) {
      p[i] = '_';
    }
  }
  if (safe.Length() > 200) safe = safe.Mid(1, 200);
  // Windows drops trailing spaces and dots from a file name, so the file
  // store would write below a directory of another name.
  p = safe.GetWritableBuffer();
  for (unsigned i = safe.Length(); p && i > 0 && (p[i - 1] == ' ' || p[i - 1] == '.'); --i) {
    p[i - 1] = '_';
  }
  std::string folded = Folded(safe);
  if (IsDeviceName(folded)) {
    safe = zustring("_") + safe;
    folded = Folded(safe);
  }
  if (folded.empty() || folded == "values.xml" || used.count(folded)) {
    zustring numbered;
    numbered.Format("%s#%04d", safe.c_str(), index);
    safe = numbered;
  }
  used.insert(Folded(safe));
  return safe;
}

/* Writes the stream's calls as keys and values below a base path. */
class StoreWriter : public RecordStream {
 public:
  StoreWriter(SettingsStore& store, const zustring& path) : store_(store) {
    paths_.push_back(path);
  }
  zustring error;

  bool BeginRecord(const zustring& tag) override {
    return Reopen(true) && Check(store_.SetString(kTypeValue, tag), kTypeValue);
  }
  bool EndRecord(const zustring&) override {
    store_.Close();
    return true;
  }
  bool BeginList(const zustring& key) override {
    lists_.push_back({});
    return Enter(key);
  }
  bool EndList(const zustring&) override {
    lists_.pop_back();
    return Leave();
  }
  bool WriteInt(const zustring& key, int32_t value) override {
    return Check(store_.SetInteger(key.c_str(), static_cast<uint32_t>(value)), key);
  }
  bool WriteBool(const zustring& key, bool value) override {
    return Check(store_.SetInteger(key.c_str(), value ? 1 : 0), key);
  }
  bool WriteString(const zustring& key, const zustring& value) override {
    return Check(store_.SetString(key.c_str(), value), key);
  }
  bool WriteIpAddress(const zustring& key, uint32_t address) override {
    return Check(store_.SetString(key.c_str(), IpAddressText(address)), key);
  }
  bool WriteMacAddress(const zustring& key, const MacAddress& address) override {
    return Check(store_.SetString(key.c_str(), MacAddressText(address)), key);
  }
  bool BeginElement(const zustring& tag, const zustring& name) override {
    ListState& list = lists_.back();
    int index = list.count++;
    return Enter(ElementKeyName(name, index, list.used)) &&
           Check(store_.SetString(kTypeValue, tag), kTypeValue) &&
           Check(store_.SetInteger(kIndexValue, static_cast<uint32_t>(index)), kIndexValue);
  }
  bool EndElement(const zustring&) override { return Leave(); }
  void EncodeSecret(zustring& text) override { text = EncodeStoredSecret(text); }

 private:
  struct ListState {
    int count = 0;
    std::set<std::string> used;
  };

  bool Reopen(bool create) {
    if (store_.Open(paths_.back(), create, true)) return true;
    error.Format("cannot open key %s for writing", paths_.back().c_str());
    return false;
  }
  bool Enter(const zustring& name) {
    paths_.push_back(Child(paths_.back(), name));
    return Reopen(true);
  }
  bool Leave() {
    paths_.pop_back();
    return Reopen(false);
  }
  bool Check(bool ok, const zustring& name) {
    if (!ok) error.Format("cannot write value %s in key %s", name.c_str(), paths_.back().c_str());
    return ok;
  }

  SettingsStore& store_;
  std::vector<zustring> paths_;
  std::vector<ListState> lists_;
};

bool ReadFields(SettingsStore& store, const zustring& path, ParamLoader& record, zustring& error);

/* Reads the elements stored below listPath into list, in stored order. */
bool ReadList(SettingsStore& store, const zustring& listPath, ParamListBase& list,
              zustring& error) {
  StringList names;
  store.EnumSubKeys(names);
  struct Stored {
    uint32_t index;
    zustring path, tag;
  };
  std::vector<Stored> elements;
  for (int i = 0; i < names.Count(); ++i) {
    zustring path = Child(listPath, names[i]);
    if (!store.Open(path, false, false)) {
      error.Format("cannot open key %s", path.c_str());
      return false;
    }
    elements.push_back({store.GetInteger(kIndexValue), path, store.GetString(kTypeValue)});
  }
  std::stable_sort(elements.begin(), elements.end(),
                   [](const Stored& a, const Stored& b) { return a.index < b.index; });
  list.Clear();
  for (const auto& [index, path, tag] : elements) {
    ParamLoader* element = list.AddNew();
    if (!element) {
      error = "out of memory";
      return false;
    }
    if (tag != element->TypeTag()) {
      error.Format("%s holds a \"%s\" record where a %s belongs", path.c_str(), tag.c_str(),
                   element->TypeTag());
      return false;
    }
    if (!ReadFields(store, path, *element, error)) return false;
  }
  return true;
}

/* Reads the fields of record from the key at path, then its lists. */
bool ReadFields(SettingsStore& store, const zustring& path, ParamLoader& record, zustring& error) {
  if (!store.Open(path, false, false)) {
    error.Format("cannot open key %s", path.c_str());
    return false;
  }
  StringList names;
  store.EnumValues(names);
  std::set<std::string> present;
  for (int i = 0; i < names.Count(); ++i) present.insert(Folded(names[i]));

  std::vector<std::pair<const FieldDescriptor*, ParamListBase*>> lists;
  bool ok = true;
  ForEachField(record, [&](const FieldDescriptor* row, void* field) {
    if (!ok) return;
    if (row->type == FIELD_LIST) {
      lists.emplace_back(row, static_cast<ParamListBase*>(field));
      return;
    }
    if (!present.count(Folded(zustring(row->key)))) return;
    switch (row->type) {
      case FIELD_INT:
        *static_cast<int32_t*>(field) = static_cast<int32_t>(store.GetInteger(row->key));
        return;
      case FIELD_BOOL:
        *static_cast<bool*>(field) = store.GetInteger(row->key) != 0;
        return;
      case FIELD_PASSWORD:
        ok = DecodeStoredSecret(store.GetString(row->key), *static_cast<zustring*>(field));
        if (!ok) error.Format("%s: the secret %s is damaged", path.c_str(), row->key);
        return;
      default:
        ok = SetFieldFromText(row, field, store.GetString(row->key), error);
        if (!ok) error = path + ": " + error;
    }
  });
  if (!ok) return false;

  for (const auto& [row, list] : lists) {
    zustring listPath = Child(path, zustring(row->key));
    if (!store.Open(listPath, false, false)) continue;
    if (!ReadList(store, listPath, *list, error)) return false;
  }
  return true;
}

}  // namespace

void SplitKeyPath(const zustring& keyPath, zustring& parent, zustring& leaf) {
  unsigned slash = keyPath.ReverseFind("\\");
  parent = slash ? keyPath.Mid(1, slash - 1) : zustring();
  leaf = slash ? keyPath.Mid(slash + 1, 0) : keyPath;
}

bool DeleteKeyTree(SettingsStore& store, const zustring& keyPath) {
  if (!store.Open(keyPath, false, true)) return true;
  StringList subKeys;
  store.EnumSubKeys(subKeys);
  for (int i = 0; i < subKeys.Count(); ++i) {
    if (!DeleteKeyTree(store, Child(keyPath, subKeys[i]))) return false;
  }
  zustring parent, leaf;
  SplitKeyPath(keyPath, parent, leaf);
  bool ok = store.Open(parent, false, true) && store.DeleteSubKey(leaf.c_str());
  store.Close();
  return ok;
}

bool SaveRecord(SettingsStore& store, const zustring& keyPath, const ParamLoader& record,
                zustring& error) {
  zustring staging = keyPath + kNewSuffix;
  if (!DeleteKeyTree(store, staging)) {
    error.Format("cannot clear key %s", staging.c_str());
    return false;
  }
  StoreWriter writer(store, staging);
  if (!record.Serialize(writer, true)) {
    error = writer.error;
    DeleteKeyTree(store, staging);
    return false;
  }
  if (!DeleteKeyTree(store, keyPath)) {
    error.Format("cannot replace key %s", keyPath.c_str());
    DeleteKeyTree(store, staging);
    return false;
  }
  bool moved = store.Open(staging, false, true) && store.Rename(keyPath);
  store.Close();
  if (moved) return true;
  // A store that cannot move this key (the registry renames only below a
  // parent key) gets the record written in place.
  DeleteKeyTree(store, staging);
  StoreWriter direct(store, keyPath);
  if (record.Serialize(direct, true)) return true;
  error = direct.error;
  return false;
}

ParamLoader* LoadRecord(SettingsStore& store, const zustring& keyPath, zustring& error) {
  if (!store.Open(keyPath, false, false)) {
    error.Format("no key %s", keyPath.c_str());
    return nullptr;
  }
  zustring tag = store.GetString(kTypeValue);
  if (tag.IsEmpty()) {
    error.Format("key %s holds no record", keyPath.c_str());
    return nullptr;
  }
  std::unique_ptr<ParamLoader> record(CreateParamByTag(tag.c_str()));
  if (!record) {
    error.Format("key %s holds a record of unknown tag \"%s\"", keyPath.c_str(), tag.c_str());
    return nullptr;
  }
  if (!ReadFields(store, keyPath, *record, error)) return nullptr;
  store.Close();
  return record.release();
}
