/*
** Changes that touch more than one key are made through a journal, so that
** a zuadm killed at any instant leaves each key as it was or as it was to
** become, and the next zuadm finishes or undoes what was left.
**
** The journal is the key $zuadm at the top of the store's root. A change is
** a list of steps; each step can be made again after it was made in part or
** in whole. Before the first step the whole list is written to the journal
** and marked complete (the mark written last); after each step the journal
** records how many are done; after the last the journal key is deleted. A
** new key tree that is too big to pass through the journal (a record being
** saved, an import) is written first below a staging key that the journal
** names, and moved into place by steps; when the command ends before its
** steps were recorded, the staging key is deleted and nothing has changed.
**
** Recover runs at the start of every command, under the store's lock.
*/
#pragma once

#include <vector>

#include "tools/zuadm/key_tree.h"
#include "tools/zuadm/settings_store.h"

struct Step {
  enum Kind {
    Put,         // set values in key path, creating it
    Delete,      // delete the values named in key path
    RemoveTree,  // delete key path with everything below it
    Move,        // key path takes the path target (which must not exist)
  };
  Kind kind;
  zustring path;
  zustring target;                  // Move
  std::vector<StoredValue> values;  // Put: the values; Delete: their names
};

class Journal {
 public:
  explicit Journal(SettingsStore& store) : store_(store) {}

  /* Finishes or undoes an interrupted change; false with a message when it
  ** cannot (the store cannot be written). */
  bool Recover(zustring& error);
  /* Notes that a new tree is being written at stagingPath, to be deleted
  ** if the command ends before Run. */
  bool BeginStaging(const zustring& stagingPath, zustring& error);
  /* Records the steps and makes them; false with a message at the first
  ** that fails (a later Recover finishes the change). */
  bool Run(const std::vector<Step>& steps, zustring& error);
  /* Deletes the key at path with everything below it: moved aside first,
  ** so that it is gone at once, then deleted. */
  bool DeleteKey(const zustring& path, zustring& error);

  /* A step as the text the journal keeps, and back (false when malformed). */
  static zustring StepText(const Step& step);
  static bool ParseStep(const zustring& text, Step& step);

 private:
  bool MakeSteps(int count, int done, zustring& error);
  bool MakeStep(const Step& step, zustring& error);
  bool MoveKey(const zustring& from, const zustring& to, zustring& error);
  bool SetProgress(const char* name, uint32_t value, zustring& error);
  bool End(zustring& error);
  bool Exists(const zustring& path);

  SettingsStore& store_;
};
