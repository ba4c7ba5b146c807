/*
** Records in a settings store. A record is a key that holds its tag in the
** value "$TYPE" and one value per field: integers and booleans as integers,
** texts as texts, addresses in their text forms, secrets encoded. Each list
** is a subkey named by the list's key, and each element a subkey of that,
** named by its element name (made safe and unique as a key name), holding
** its own "$TYPE" and its position in "$INDEX" besides its fields.
*/
#pragma once

#include "paramloader/paramloader.h"
#include "tools/zuadm/settings_store.h"

/* Stores record at keyPath, replacing what the key held. The record is
** written to a sibling key first and moved into place, so a failed save
** leaves the old contents. */
bool SaveRecord(SettingsStore& store, const zustring& keyPath, const ParamLoader& record,
                zustring& error);

/* The record stored at keyPath (the caller owns it), or null with a message.
** Fields missing from the store keep their defaults; a list whose key is
** missing keeps the elements its record starts with. */
ParamLoader* LoadRecord(SettingsStore& store, const zustring& keyPath, zustring& error);

/* Deletes the key at keyPath with all its subkeys and values. True when the
** key is gone (also when it never existed). */
bool DeleteKeyTree(SettingsStore& store, const zustring& keyPath);

/* The parent's path and the last level of a key path ("A\B\C": "A\B", "C"). */
void SplitKeyPath(const zustring& keyPath, zustring& parent, zustring& leaf);
