/*
** Records in a store: their key trees, saving through a staging key,
** loading, listing, and changes that write only the keys that change.
*/
#include "tools/zuadm/record_store.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "lib/interface/param_classes.h"
#include "tools/zuadm/field_text.h"
#include "tools/zuadm/key_path.h"

const char kTypeValue[] = "$TYPE";
const char kElementsValue[] = "$ELEMENTS";

namespace {

const char kElementSeparator = '\n';
// An element's key name is cut to this many bytes as UTF-8 writes it
// (letters from 0x80 up take two). The element's name is stored whole
// among its fields; the key name only has to be unique and readable, and
// short, as a record nests lists in lists and Windows limits the whole path
// of a file (260 characters) and of a registry key.
const unsigned kLongestElementKey = 32;

std::string Folded(const zustring& name) {
  return std::string(name.ToLower().c_str());
}

StoredValue TextValue(const zustring& name, const zustring& text) {
  StoredValue value;
  value.name = name;
  value.text = text;
  return value;
}

StoredValue IntegerValue(const zustring& name, uint32_t integer) {
  StoredValue value;
  value.name = name;
  value.kind = ValueInteger;
  value.integer = integer;
  return value;
}

/* A key name for an element named name: cut to kLongestElementKey, the
** bytes that no key name may hold replaced, and so are trailing blanks and
** dots (Windows drops them from file names); a name Windows takes for a
** device gets a '_' in front; numbered when it is not unique in its list
** or is still no good key name. */
zustring ElementKeyName(const zustring& name, std::set<std::string>& used) {
  unsigned keep = 0;
  for (unsigned bytes = 0; keep < name.Length(); ++keep) {
    bytes += static_cast<unsigned char>(name.CharAt(keep + 1)) < 0x80 ? 1 : 2;
    if (bytes > kLongestElementKey) break;
  }
  zustring safe = name.Mid(1, keep);
  char* p = safe.GetWritableBuffer();
  for (unsigned i = 0; p && i < safe.Length(); ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (IsControl(c) || std::strchr("\\/:*?\"<>|", c)) p[i] = '_';
  }
  for (unsigned i = safe.Length(); p && i > 0 && (p[i - 1] == ' ' || p[i - 1] == '.'); --i) {
    p[i - 1] = '_';
  }
  if (IsDeviceName(safe)) safe = zustring("_") + safe;
  zustring error;
  zustring chosen = safe;
  for (int number = 1; !CheckKeyName(chosen, true, error) || used.count(Folded(chosen)); ++number) {
    chosen.Format("%s#%04d", safe.c_str(), number);
  }
  used.insert(Folded(chosen));
  return chosen;
}

/* The element names of a list key's $ELEMENTS value. */
std::vector<zustring> SplitElements(const zustring& text) {
  std::vector<zustring> names;
  const char* p = text.c_str();
  const char* end = p + text.Length();
  while (p < end) {
    const char* stop = static_cast<const char*>(std::memchr(p, kElementSeparator, end - p));
    if (!stop) stop = end;
    names.emplace_back(p, static_cast<unsigned>(stop - p));
    p = stop + 1;
  }
  return names;
}

zustring JoinElements(const std::vector<zustring>& names) {
  zustring text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) text.Append(&kElementSeparator, 1);
    text += names[i];
  }
  return text;
}

/* Builds the key tree of a record from its record stream: values in the
** current key, a subkey per list, one per element below it. */
class ImageWriter : public RecordStream {
 public:
  explicit ImageWriter(KeyImage& root) { keys_.push_back(&root); }

  bool BeginRecord(const zustring& tag) override { return Add(TextValue(kTypeValue, tag)); }
  bool EndRecord(const zustring&) override { return true; }
  bool BeginList(const zustring& key) override {
    KeyImage& list = Enter(key);
    lists_.push_back({&list, {}, {}});
    return true;
  }
  bool EndList(const zustring&) override {
    List& list = lists_.back();
    list.key->values.push_back(TextValue(kElementsValue, JoinElements(list.names)));
    lists_.pop_back();
    keys_.pop_back();
    return true;
  }
  bool WriteInt(const zustring& key, int32_t value) override {
    return Add(IntegerValue(key, static_cast<uint32_t>(value)));
  }
  bool WriteBool(const zustring& key, bool value) override {
    return Add(IntegerValue(key, value ? 1 : 0));
  }
  bool WriteString(const zustring& key, const zustring& value) override {
    return Add(TextValue(key, value));
  }
  bool WriteIpAddress(const zustring& key, uint32_t address) override {
    return Add(TextValue(key, IpAddressText(address)));
  }
  bool WriteMacAddress(const zustring& key, const MacAddress& address) override {
    return Add(TextValue(key, MacAddressText(address)));
  }
  bool BeginElement(const zustring& tag, const zustring& name) override {
    List& list = lists_.back();
    list.names.push_back(ElementKeyName(name, list.used));
    Enter(list.names.back());
    return Add(TextValue(kTypeValue, tag));
  }
  bool EndElement(const zustring&) override {
    keys_.pop_back();
    return true;
  }
  void EncodeSecret(zustring& text) override { text = EncodeStoredSecret(text); }

 private:
  struct List {
    KeyImage* key;
    std::vector<zustring> names;
    std::set<std::string> used;
  };

  bool Add(StoredValue value) {
    keys_.back()->values.push_back(std::move(value));
    return true;
  }
  // A new subkey of the current key becomes the current key. Only the
  // current key gets subkeys, so no key on the stack moves.
  KeyImage& Enter(const zustring& name) {
    KeyImage& key = keys_.back()->subkeys.emplace_back();
    key.name = name;
    keys_.push_back(&key);
    return key;
  }

  std::vector<KeyImage*> keys_;
  std::vector<List> lists_;
};

/* The element's key tree, with its $TYPE, named name. */
KeyImage ElementImage(const ParamLoader& element, const zustring& name) {
  KeyImage image;
  image.name = name;
  image.values.push_back(TextValue(kTypeValue, zustring(element.TypeTag())));
  ImageWriter writer(image);
  element.Serialize(writer, false);
  return image;
}

/* The values an object keeps in its own key (not those of its lists). */
std::vector<StoredValue> OwnValues(const ParamLoader& object) {
  KeyImage image;
  ImageWriter writer(image);
  object.Serialize(writer, false);
  return std::move(image.values);
}

/* Steps that put every key of image at path. */
void PutSteps(const KeyImage& image, const zustring& path, std::vector<Step>& steps) {
  steps.push_back({Step::Put, path, zustring(), image.values});
  for (const KeyImage& subkey : image.subkeys) {
    PutSteps(subkey, ChildPath(path, subkey.name), steps);
  }
}

/* Reads the fields of object (not its lists) from the open key. */
bool ReadOwnFields(SettingsStore& store, const zustring& path, ParamLoader& object,
                   zustring& error) {
  bool ok = true;
  ForEachField(object, [&](const FieldDescriptor* row, void* field) {
    if (!ok || row->type == FIELD_LIST) return;
    ValueKind kind = store.GetKind(row->key);
    if (kind == ValueMissing) return;
    bool integer = row->type == FIELD_INT || row->type == FIELD_BOOL;
    if (kind != (integer ? ValueInteger : ValueText)) {
      error.Format("%s: the value %s is not %s", path.c_str(), row->key,
                   integer ? "an integer" : "a text");
      ok = false;
      return;
    }
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
  return ok;
}

/* Opens the element key at path and checks that it holds a record of
** element's class. */
bool OpenElement(SettingsStore& store, const zustring& path, const ParamLoader& element,
                 zustring& error) {
  if (!store.Open(path, false, false)) {
    error.Format("the list names an element %s that is not stored", path.c_str());
    return false;
  }
  zustring tag = store.GetString(kTypeValue);
  if (tag != element.TypeTag()) {
    error.Format("%s holds a \"%s\" record where a %s belongs", path.c_str(), tag.c_str(),
                 element.TypeTag());
    return false;
  }
  return true;
}

/* The element names stored in the list key at path. A name that is no key
** name (one that would lead out of the list) is refused. */
enum class Names { Read, Missing, Bad };
Names ReadElementNames(SettingsStore& store, const zustring& path, std::vector<zustring>& names,
                       zustring& error) {
  if (!store.Open(path, false, false)) return Names::Missing;
  names = SplitElements(store.GetString(kElementsValue));
  for (const zustring& name : names) {
    if (!CheckKeyName(name, true, error)) {
      error = path + " names an element that is no key: " + error;
      return Names::Bad;
    }
  }
  return Names::Read;
}

bool ReadObject(SettingsStore& store, const zustring& path, ParamLoader& object, zustring& error);

bool ReadLists(SettingsStore& store, const zustring& path, ParamLoader& object, zustring& error) {
  std::vector<std::pair<const FieldDescriptor*, ParamListBase*>> lists;
  ForEachField(object, [&](const FieldDescriptor* row, void* field) {
    if (row->type == FIELD_LIST) lists.emplace_back(row, static_cast<ParamListBase*>(field));
  });
  for (const auto& [row, list] : lists) {
    zustring listPath = ChildPath(path, zustring(row->key));
    std::vector<zustring> names;
    Names read = ReadElementNames(store, listPath, names, error);
    if (read == Names::Bad) return false;
    if (read == Names::Missing) continue;
    list->Clear();
    for (const zustring& name : names) {
      ParamLoader* element = list->AddNew();
      if (!element) {
        error = "out of memory";
        return false;
      }
      if (!ReadObject(store, ChildPath(listPath, name), *element, error)) return false;
    }
  }
  return true;
}

/* Reads object (an element, whose tag is checked) from the key at path. */
bool ReadObject(SettingsStore& store, const zustring& path, ParamLoader& object, zustring& error) {
  return OpenElement(store, path, object, error) && ReadOwnFields(store, path, object, error) &&
         ReadLists(store, path, object, error);
}

/* ---- Field paths ---- */

/* One level of a field path: KEY or KEY[INDEX]. */
struct PathLevel {
  zustring key;
  long index = -1;  // -1: no index
};

/* Cuts a path such as IF_LIST[0].IPS[1].ADDRESS into its levels; false
** with a message. */
bool ParseFieldPath(const zustring& text, std::vector<PathLevel>& levels, zustring& error) {
  levels.clear();
  const char* p = text.c_str();
  for (;;) {
    size_t n = std::strcspn(p, "[.");
    PathLevel level;
    level.key = n ? zustring(p, static_cast<unsigned>(n)) : zustring();
    p += n;
    if (*p == '[') {
      char* end = nullptr;
      level.index = std::strtol(p + 1, &end, 10);
      if (end == p + 1 || *end != ']' || level.index < 0 || (end[1] && end[1] != '.')) {
        error.Format("bad element path \"%s\": use LIST[INDEX].FIELD", text.c_str());
        return false;
      }
      p = end + 1;
    }
    if (level.key.IsEmpty()) {
      error.Format("bad field path \"%s\"", text.c_str());
      return false;
    }
    levels.push_back(level);
    if (!*p) return true;
    if (*p++ != '.' || level.index < 0) {
      error.Format("%s is not a list: use %s[INDEX].FIELD", level.key.c_str(), level.key.c_str());
      return false;
    }
  }
}

/* The row of level in object: a list when the level has an index, else a
** field that is not one; null with a message. */
const FieldDescriptor* RowOf(ParamLoader& object, const PathLevel& level, zustring& error) {
  const FieldDescriptor* row = object.FindField(level.key);
  if (!row) {
    error.Format("%s has no field \"%s\"", object.TypeTag(), level.key.c_str());
    return nullptr;
  }
  if (level.index >= 0 && row->type != FIELD_LIST) {
    error.Format("%s.%s is not a list", object.TypeTag(), row->key);
    return nullptr;
  }
  if (level.index < 0 && row->type == FIELD_LIST) {
    error.Format("field %s is a list and has no text value: use %s[INDEX].FIELD", row->key,
                 row->key);
    return nullptr;
  }
  return row;
}

/* Sets the field that levels (from first on) name in an object in memory,
** adding the element one past the end of a list. */
bool AssignInMemory(ParamLoader& object, const std::vector<PathLevel>& levels, size_t first,
                    const zustring& value, zustring& error) {
  const PathLevel& level = levels[first];
  const FieldDescriptor* row = RowOf(object, level, error);
  if (!row) return false;
  void* field = object.FieldAddress(row);
  if (level.index < 0) return SetFieldFromText(row, field, value, error);
  auto* list = static_cast<ParamListBase*>(field);
  if (level.index > list->Count()) {
    error.Format("%s has %d elements: the next one is [%d]", row->key, list->Count(),
                 list->Count());
    return false;
  }
  ParamLoader* element = level.index == list->Count() ? list->AddNew() : list->At(level.index);
  if (!element) {
    error = "out of memory";
    return false;
  }
  return AssignInMemory(*element, levels, first + 1, value, error);
}

/* ---- Changes to stored records ---- */

struct ListNode;

/* A record or element as stored, loaded as far as a change needs it. */
struct Node {
  zustring path;
  ParamLoader* object = nullptr;    // owned by root or by a parent's list
  std::vector<StoredValue> stored;  // own values as read
  bool isNew = false;               // not stored: written whole
  bool changed = false;
  std::vector<std::unique_ptr<ListNode>> lists;
};

/* A list of a stored node: its element names, and its elements as far as
** they were needed, by position. */
struct ListNode {
  const FieldDescriptor* row;
  zustring path;
  std::vector<zustring> names;                  // stored, then changed by edits
  std::vector<std::unique_ptr<Node>> elements;  // by position; null: not loaded
  bool changed = false;
};

/* A change of one stored record. */
class Editor {
 public:
  Editor(SettingsStore& store, const zustring& path) : store_(store) { root_.path = path; }

  /* Loads the record's own fields; false with a message. */
  bool Begin(zustring& error) {
    if (!store_.Open(root_.path, false, false)) {
      error.Format("no key %s", root_.path.c_str());
      return false;
    }
    zustring tag = store_.GetString(kTypeValue);
    record_.reset(tag.IsEmpty() ? nullptr : CreateParamByTag(tag.c_str()));
    if (!record_) {
      error.Format(
          tag.IsEmpty() ? "key %s holds no record" : "key %s holds a record of unknown tag",
          root_.path.c_str());
      return false;
    }
    root_.object = record_.get();
    return Load(root_, error);
  }

  /* Sets FIELD=VALUE; false with a message (usage set when the request is
  ** wrong). */
  bool Assign(const Assignment& assignment, zustring& error, bool& usage) {
    std::vector<PathLevel> levels;
    usage = true;
    if (!ParseFieldPath(assignment.field, levels, error)) return false;
    Node* node = &root_;
    size_t i = 0;
    for (; i + 1 < levels.size() && !node->isNew; ++i) {
      node = Element(*node, levels[i], true, error, usage);
      if (!node) return false;
    }
    if (node->isNew) return AssignInMemory(*node->object, levels, i, assignment.value, error);
    const FieldDescriptor* row = RowOf(*node->object, levels[i], error);
    if (!row || !SetFieldFromText(row, node->object->FieldAddress(row), assignment.value, error)) {
      return false;
    }
    node->changed = true;
    return true;
  }

  /* The list that a path such as IF_LIST[0].IPS[2] ends in (its elements
  ** before the last level must be stored), its owner and the last index. */
  ListNode* ListAt(const zustring& text, Node*& owner, size_t& index, zustring& error,
                   bool& usage) {
    std::vector<PathLevel> levels;
    usage = true;
    if (!ParseFieldPath(text, levels, error)) return nullptr;
    if (levels.back().index < 0) {
      error.Format("\"%s\" names no list element: use LIST[INDEX]", text.c_str());
      return nullptr;
    }
    Node* node = &root_;
    for (size_t i = 0; i + 1 < levels.size(); ++i) {
      node = Element(*node, levels[i], false, error, usage);
      if (!node) return nullptr;
    }
    const FieldDescriptor* row = RowOf(*node->object, levels.back(), error);
    if (!row) return nullptr;
    owner = node;
    index = static_cast<size_t>(levels.back().index);
    return List(*node, row, error, usage);
  }

  /* A new element at the end of list, not stored yet. */
  Node* Append(Node& owner, ListNode& list, zustring& error) {
    auto element = std::make_unique<Node>();
    auto* memory = static_cast<ParamListBase*>(owner.object->FieldAddress(list.row));
    element->object = memory->AddNew();
    if (!element->object) {
      error = "out of memory";
      return nullptr;
    }
    element->isNew = true;
    list.elements.push_back(std::move(element));
    list.names.emplace_back();  // named when written
    list.changed = true;
    return list.elements.back().get();
  }

  /* The steps that store what changed. */
  std::vector<Step> Steps() {
    std::vector<Step> steps;
    Collect(root_, steps);
    return steps;
  }

 private:
  /* Reads a stored node's own values and fields. */
  bool Load(Node& node, zustring& error) {
    if (!store_.Open(node.path, false, false)) {
      error.Format("cannot open key %s", node.path.c_str());
      return false;
    }
    return ReadValues(store_, node.stored, error) &&
           ReadOwnFields(store_, node.path, *node.object, error);
  }

  /* The list of node for row, read when first needed; null with a message
  ** when it is damaged. */
  ListNode* List(Node& node, const FieldDescriptor* row, zustring& error, bool& usage) {
    for (auto& list : node.lists) {
      if (list->row == row) return list.get();
    }
    auto list = std::make_unique<ListNode>();
    list->row = row;
    list->path = ChildPath(node.path, zustring(row->key));
    if (ReadElementNames(store_, list->path, list->names, error) == Names::Bad) {
      usage = false;
      return nullptr;
    }
    list->elements.resize(list->names.size());
    node.lists.push_back(std::move(list));
    return node.lists.back().get();
  }

  /* The element that level names in node's list, read from the store; with
  ** append, the index one past the last makes a new one. */
  Node* Element(Node& node, const PathLevel& level, bool append, zustring& error, bool& usage) {
    const FieldDescriptor* row = RowOf(*node.object, level, error);
    if (!row) return nullptr;
    if (level.index < 0) {
      error.Format("%s is not a list: use %s[INDEX].FIELD", row->key, row->key);
      return nullptr;
    }
    ListNode* list = List(node, row, error, usage);
    if (!list) return nullptr;
    size_t count = list->elements.size();
    size_t index = static_cast<size_t>(level.index);
    if (index < count && list->elements[index]) return list->elements[index].get();
    if (index == count && append) return Append(node, *list, error);
    if (index >= count) {
      if (append) {
        error.Format("%s has %zu elements: the next one is [%zu]", row->key, count, count);
      } else if (count == 0) {
        error.Format("%s has no elements", row->key);
      } else {
        error.Format("%s has %zu elements: the last one is [%zu]", row->key, count, count - 1);
      }
      return nullptr;
    }
    auto element = std::make_unique<Node>();
    element->object = static_cast<ParamListBase*>(node.object->FieldAddress(row))->AddNew();
    element->path = ChildPath(list->path, list->names[index]);
    usage = false;
    if (!element->object || !OpenElement(store_, element->path, *element->object, error) ||
        !Load(*element, error)) {
      return nullptr;
    }
    usage = true;
    list->elements[index] = std::move(element);
    return list->elements[index].get();
  }

  void Collect(Node& node, std::vector<Step>& steps) {
    if (node.changed) {
      Step put{Step::Put, node.path, zustring(), {}};
      for (StoredValue& value : OwnValues(*node.object)) {
        auto stored = std::find_if(node.stored.begin(), node.stored.end(),
                                   [&](const StoredValue& s) { return s.name == value.name; });
        bool same = stored != node.stored.end() && stored->kind == value.kind &&
                    (value.kind == ValueText ? stored->text == value.text
                                             : stored->integer == value.integer);
        if (!same) put.values.push_back(std::move(value));
      }
      if (!put.values.empty()) steps.push_back(std::move(put));
    }
    for (auto& list : node.lists) {
      std::set<std::string> used;
      for (const zustring& name : list->names) {
        if (!name.IsEmpty()) used.insert(Folded(name));
      }
      for (size_t i = 0; i < list->elements.size(); ++i) {
        Node* element = list->elements[i].get();
        if (!element) continue;
        if (!element->isNew) {
          Collect(*element, steps);
          continue;
        }
        // An element without a key is numbered: by its position, or by the
        // first number from the list's length on that no element has.
        const FieldDescriptor* keyRow = element->object->KeyField();
        zustring name;
        if (keyRow) {
          name = *static_cast<const zustring*>(element->object->FieldAddress(keyRow));
        } else {
          name.Format("%04zu", i);
          for (size_t number = list->names.size(); used.count(Folded(name)); ++number) {
            name.Format("%04zu", number);
          }
        }
        list->names[i] = ElementKeyName(name, used);
        PutSteps(ElementImage(*element->object, list->names[i]),
                 ChildPath(list->path, list->names[i]), steps);
      }
      if (list->changed) {
        steps.push_back({Step::Put,
                         list->path,
                         zustring(),
                         {TextValue(kElementsValue, JoinElements(list->names))}});
      }
    }
  }

  SettingsStore& store_;
  std::unique_ptr<ParamLoader> record_;
  Node root_;
};

/* Runs the steps of a change: one Put of one value directly, anything else
** through the journal. */
bool RunSteps(SettingsStore& store, Journal& journal, const std::vector<Step>& steps,
              zustring& error) {
  if (steps.empty()) return true;
  if (steps.size() == 1 && steps[0].kind == Step::Put &&
      (steps[0].values.size() == 1 || store.IsFileStore())) {
    return WriteKey(store, steps[0].path, steps[0].values, false, error);
  }
  return journal.Run(steps, error);
}

EditResult Failed(const zustring& error, bool usage) {
  EditResult result;
  result.error = error;
  result.usage = usage;
  return result;
}

EditResult Done(SettingsStore& store, Journal& journal, const std::vector<Step>& steps) {
  EditResult result;
  result.ok = RunSteps(store, journal, steps, result.error);
  return result;
}

}  // namespace

/* ---- Saving and loading ---- */

KeyImage RecordImage(const ParamLoader& record) {
  KeyImage image;
  ImageWriter writer(image);
  record.Serialize(writer, true);
  return image;
}

bool ReplaceKey(SettingsStore& store, Journal& journal, const zustring& path, const KeyImage& image,
                zustring& error) {
  zustring staging = path + kNewSuffix;
  zustring old = path + kOldSuffix;
  if (!journal.BeginStaging(staging, error)) return false;
  if (!store.DeleteTree(staging) || !WriteTree(store, staging, image, false, error)) {
    if (error.IsEmpty()) error.Format("cannot clear key %s", staging.c_str());
    zustring ignored;
    journal.Recover(ignored);
    return false;
  }
  std::vector<Step> steps;
  if (store.Open(path, false, false)) steps.push_back({Step::Move, path, old, {}});
  steps.push_back({Step::Move, staging, path, {}});
  steps.push_back({Step::RemoveTree, old, zustring(), {}});
  return journal.Run(steps, error);
}

bool HoldsOnlyARecord(SettingsStore& store, const zustring& path, zustring& reason) {
  if (!store.Open(path, false, false)) return true;
  StringList values, subKeys;
  store.EnumValues(values);
  store.EnumSubKeys(subKeys);
  if (values.Count() == 0 && subKeys.Count() == 0) return true;
  zustring tag = store.GetString(kTypeValue);
  std::unique_ptr<ParamLoader> record(tag.IsEmpty() ? nullptr : CreateParamByTag(tag.c_str()));
  if (!record) {
    reason.Format("key %s holds settings that are no record", path.c_str());
    return false;
  }
  auto own = [&](const zustring& name, bool list) {
    const FieldDescriptor* row = record->FindField(name);
    return row && (row->type == FIELD_LIST) == list && name == row->key;
  };
  for (int i = 0; i < values.Count(); ++i) {
    if (values[i] != kTypeValue && !own(values[i], false)) {
      reason.Format("key %s holds the value %s, which is no field of its %s record", path.c_str(),
                    values[i].c_str(), tag.c_str());
      return false;
    }
  }
  for (int i = 0; i < subKeys.Count(); ++i) {
    if (!own(subKeys[i], true)) {
      reason.Format("key %s holds the key %s, which is no list of its %s record", path.c_str(),
                    subKeys[i].c_str(), tag.c_str());
      return false;
    }
  }
  return true;
}

ParamLoader* LoadRecord(SettingsStore& store, const zustring& path, zustring& error) {
  if (!store.Open(path, false, false)) {
    error.Format("no key %s", path.c_str());
    return nullptr;
  }
  zustring tag = store.GetString(kTypeValue);
  if (tag.IsEmpty()) {
    error.Format("key %s holds no record", path.c_str());
    return nullptr;
  }
  std::unique_ptr<ParamLoader> record(CreateParamByTag(tag.c_str()));
  if (!record) {
    error.Format("key %s holds a record of unknown tag \"%s\"", path.c_str(), tag.c_str());
    return nullptr;
  }
  if (!ReadOwnFields(store, path, *record, error) || !ReadLists(store, path, *record, error)) {
    return nullptr;
  }
  store.Close();
  return record.release();
}

bool ListRecords(SettingsStore& store, const zustring& path, std::vector<StoredRecord>& records,
                 zustring& error) {
  if (!store.Open(path, false, false)) {
    error.Format("no key %s", path.c_str());
    return path.IsEmpty();  // a store that holds nothing yet holds no records
  }
  zustring tag = store.GetString(kTypeValue);
  if (!tag.IsEmpty() && store.GetKind(kTypeValue) == ValueText) {
    records.push_back({path, tag});
    return true;
  }
  // A key below that cannot be opened (the system's registry has such
  // keys) holds no record that could be read.
  StringList subKeys;
  store.EnumSubKeys(subKeys);
  for (int i = 0; i < subKeys.Count(); ++i) {
    zustring child = ChildPath(path, subKeys[i]);
    if ((path.IsEmpty() && SameName(subKeys[i], zustring(kJournalKey))) ||
        !store.Open(child, false, false)) {
      continue;
    }
    if (!ListRecords(store, child, records, error)) return false;
  }
  return true;
}

/* ---- Fields ---- */

bool ParseAssignment(const zustring& text, Assignment& assignment, zustring& error) {
  unsigned equals = text.Find("=");
  if (equals <= 1) {
    error.Format("\"%s\" is not FIELD=VALUE", text.c_str());
    return false;
  }
  assignment.field = text.Mid(1, equals - 1);
  assignment.value = text.Mid(equals + 1, text.Length());
  return true;
}

bool AssignFields(ParamLoader& record, const std::vector<Assignment>& assignments,
                  zustring& error) {
  for (const Assignment& assignment : assignments) {
    std::vector<PathLevel> levels;
    if (!ParseFieldPath(assignment.field, levels, error) ||
        !AssignInMemory(record, levels, 0, assignment.value, error)) {
      return false;
    }
  }
  return true;
}

EditResult SetStoredFields(SettingsStore& store, Journal& journal, const zustring& path,
                           const std::vector<Assignment>& assignments) {
  Editor editor(store, path);
  zustring error;
  bool usage = false;
  if (!editor.Begin(error)) return Failed(error, false);
  for (const Assignment& assignment : assignments) {
    if (!editor.Assign(assignment, error, usage)) return Failed(error, usage);
  }
  return Done(store, journal, editor.Steps());
}

namespace {

/* Opens the record at path and the list that element ends in, and calls
** change(editor, owner, list, index of element). */
template <typename Change>
EditResult ChangeList(SettingsStore& store, const zustring& path, const zustring& element,
                      Change change) {
  Editor editor(store, path);
  zustring error;
  bool usage = false;
  Node* owner = nullptr;
  size_t index = 0;
  if (!editor.Begin(error)) return Failed(error, false);
  ListNode* list = editor.ListAt(element, owner, index, error, usage);
  if (!list) return Failed(error, usage);
  return change(editor, *owner, *list, index);
}

Step ElementsStep(const ListNode& list) {
  return {Step::Put, list.path, zustring(), {TextValue(kElementsValue, JoinElements(list.names))}};
}

}  // namespace

EditResult InsertElement(SettingsStore& store, Journal& journal, const zustring& path,
                         const zustring& element, const std::vector<Assignment>& assignments) {
  return ChangeList(
      store, path, element, [&](Editor& editor, Node& owner, ListNode& list, size_t index) {
        zustring error;
        size_t count = list.elements.size();
        if (index > count) {
          error.Format("%s has %zu elements: insert at [0] to [%zu]", list.row->key, count, count);
          return Failed(error, true);
        }
        Node* added = editor.Append(owner, list, error);
        if (!added) return Failed(error, false);
        std::vector<PathLevel> levels;
        for (const Assignment& assignment : assignments) {
          if (!ParseFieldPath(assignment.field, levels, error) ||
              !AssignInMemory(*added->object, levels, 0, assignment.value, error)) {
            return Failed(error, true);
          }
        }
        // Made at the end, the element goes to its place with its name.
        std::rotate(list.elements.begin() + index, list.elements.end() - 1, list.elements.end());
        std::rotate(list.names.begin() + index, list.names.end() - 1, list.names.end());
        return Done(store, journal, editor.Steps());
      });
}

EditResult RemoveElement(SettingsStore& store, Journal& journal, const zustring& path,
                         const zustring& element) {
  return ChangeList(store, path, element, [&](Editor&, Node&, ListNode& list, size_t index) {
    if (index >= list.names.size()) {
      zustring error;
      error.Format("%s has %zu elements", list.row->key, list.names.size());
      return Failed(error, true);
    }
    zustring removed = ChildPath(list.path, list.names[index]);
    list.names.erase(list.names.begin() + static_cast<long>(index));
    return Done(store, journal, {ElementsStep(list), {Step::RemoveTree, removed, zustring(), {}}});
  });
}

EditResult MoveElement(SettingsStore& store, Journal& journal, const zustring& path,
                       const zustring& element, int to) {
  return ChangeList(store, path, element, [&](Editor&, Node&, ListNode& list, size_t index) {
    size_t count = list.names.size();
    if (index >= count || to < 0 || static_cast<size_t>(to) >= count) {
      zustring error;
      error.Format("%s has %zu elements: positions [0] to [%zu]", list.row->key, count,
                   count ? count - 1 : 0);
      return Failed(error, true);
    }
    zustring name = list.names[index];
    list.names.erase(list.names.begin() + static_cast<long>(index));
    list.names.insert(list.names.begin() + to, name);
    return Done(store, journal, {ElementsStep(list)});
  });
}
