/*
** Records in a settings store. A record is a key that holds its tag in the
** value "$TYPE" and one value per field: integers and booleans as integers,
** texts as texts, addresses in their text forms, secrets encoded. Each list
** is a subkey named by the list's key, holding in "$ELEMENTS" the names of
** its elements' keys, one per line, in list order; each element is a
** subkey of the list key, named by its element name (made safe and unique
** as a key name, or numbered for elements without a key), holding its own
** "$TYPE" besides its fields.
**
** Saving a record writes it below a staging key and moves it into place
** through the journal; changing fields of a stored record, or inserting,
** removing and moving list elements, writes only the keys that change.
** Every change that touches more than one key goes through the journal.
*/
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "paramloader/paramloader.h"
#include "tools/zuadm/journal.h"
#include "tools/zuadm/key_tree.h"
#include "tools/zuadm/settings_store.h"

extern const char kTypeValue[];
extern const char kElementsValue[];

/* The stored form of record: the key tree that holds it. */
KeyImage RecordImage(const ParamLoader& record);

/* Replaces what the key at path holds by image: written below a staging
** key, then moved into place through the journal. */
bool ReplaceKey(SettingsStore& store, Journal& journal, const zustring& path, const KeyImage& image,
                zustring& error);

/* Whether the key at path is missing, empty, or holds nothing but a
** record's own values and list keys (what a save may replace). */
bool HoldsOnlyARecord(SettingsStore& store, const zustring& path, zustring& reason);

/* The record stored at path (the caller owns it), or null with a message.
** Fields missing from the store keep their defaults; a list whose key is
** missing keeps the elements its record starts with. */
ParamLoader* LoadRecord(SettingsStore& store, const zustring& path, zustring& error);

/* The records stored at path and below it (not inside records): their
** paths and tags, in key order. An empty store has none. */
struct StoredRecord {
  zustring path;
  zustring tag;
};
bool ListRecords(SettingsStore& store, const zustring& path, std::vector<StoredRecord>& records,
                 zustring& error);

/* One FIELD=VALUE (Latin-1). */
struct Assignment {
  zustring field;
  zustring value;
};
/* Splits FIELD=VALUE; false with a message. */
bool ParseAssignment(const zustring& text, Assignment& assignment, zustring& error);

/* Applies assignments to a record in memory. FIELD is a key, or a path into
** lists such as IF_LIST[0].IPS[1].ADDRESS, where the index one past the
** last element adds one. False with a message at the first bad one. */
bool AssignFields(ParamLoader& record, const std::vector<Assignment>& assignments, zustring& error);

/* Changes to a stored record. Each checks everything first: a bad field, a
** bad value or a bad index fails with usage set, before anything is
** written; a failed write fails with usage clear. */
struct EditResult {
  bool ok = false;
  bool usage = false;  // the request was wrong, nothing was written
  zustring error;
};
/* Sets fields of the record at path, as AssignFields does in memory. */
EditResult SetStoredFields(SettingsStore& store, Journal& journal, const zustring& path,
                           const std::vector<Assignment>& assignments);
/* Inserts a new element, filled by assignments (FIELDs of the element), at
** the position of element, a path such as FW_RULES[2] or IF_LIST[0].IPS[1]
** (the index one past the last appends). */
EditResult InsertElement(SettingsStore& store, Journal& journal, const zustring& path,
                         const zustring& element, const std::vector<Assignment>& assignments);
EditResult RemoveElement(SettingsStore& store, Journal& journal, const zustring& path,
                         const zustring& element);
/* Moves element to the position to of its list. */
EditResult MoveElement(SettingsStore& store, Journal& journal, const zustring& path,
                       const zustring& element, int to);
