/*
** The journal of changes that touch more than one key.
*/
#include "tools/zuadm/journal.h"

#include <cstring>

#include "tools/zuadm/key_path.h"

namespace {

// The journal's values.
const char kState[] = "state";
const char kStaging[] = "staging";   // state: a tree is being written at the path named
const char kStepsState[] = "steps";  // state: the steps are recorded and being made
const char kCount[] = "count";
const char kDone[] = "done";
const char kPhase[] = "phase";  // of a Move made by copying: 1 once the copy is whole
const char kStepPrefix[] = "step";

/* The journal and the steps guard against a zuadm that is killed or fails,
** whose writes the system keeps; they do not wait for the disk, as a power
** failure is beyond them anyway (that would take a flush of every file a
** change writes, in order). */
const bool kWaitForDisk = false;

zustring StepName(int i) {
  zustring name;
  name.Format("%s%06d", kStepPrefix, i);
  return name;
}

const char* const kStepWords[] = {"put", "delete", "remove", "move"};

}  // namespace

zustring Journal::StepText(const Step& step) {
  zustring text(kStepWords[step.kind]);
  text += " ";
  text += QuoteString(step.path);
  if (step.kind == Step::Move) {
    text += " ";
    text += QuoteString(step.target);
  }
  for (const StoredValue& value : step.values) {
    text += "\n";
    text += QuoteString(value.name);
    if (step.kind != Step::Put) continue;
    if (value.kind == ValueText) {
      text += "=";
      text += QuoteString(value.text);
    } else {
      text.AppendFormat("=%u", value.integer);
    }
  }
  return text;
}

bool Journal::ParseStep(const zustring& text, Step& step) {
  const char* p = text.c_str();
  const char* end = p + text.Length();
  size_t word = std::strcspn(p, " ");
  int kind = -1;
  for (int i = 0; i < 4; ++i) {
    if (std::strlen(kStepWords[i]) == word && std::strncmp(p, kStepWords[i], word) == 0) kind = i;
  }
  if (kind < 0 || p + word >= end) return false;
  step = Step();
  step.kind = static_cast<Step::Kind>(kind);
  p += word + 1;
  zustring error;
  if (!UnquoteString(p, end, step.path, error)) return false;
  if (step.kind == Step::Move &&
      (p == end || *p++ != ' ' || !UnquoteString(p, end, step.target, error))) {
    return false;
  }
  while (p < end) {
    if (*p++ != '\n') return false;
    StoredValue value;
    if (!UnquoteString(p, end, value.name, error)) return false;
    if (step.kind == Step::Put) {
      if (p == end || *p++ != '=') return false;
      if (p < end && *p == '"') {
        if (!UnquoteString(p, end, value.text, error)) return false;
      } else {
        value.kind = ValueInteger;
        char* stop = nullptr;
        unsigned long number = std::strtoul(p, &stop, 10);
        if (stop == p || number > 0xFFFFFFFFul) return false;
        value.integer = static_cast<uint32_t>(number);
        p = stop;
      }
    }
    step.values.push_back(std::move(value));
  }
  return true;
}

bool Journal::Exists(const zustring& path) {
  return store_.Open(path, false, false);
}

bool Journal::SetProgress(const char* name, uint32_t value, zustring& error) {
  if (!store_.Open(kJournalKey, false, true) || !store_.SetInteger(name, value) ||
      !store_.Flush(kWaitForDisk)) {
    error = "cannot write the journal (is the disk full?)";
    return false;
  }
  return true;
}

bool Journal::End(zustring& error) {
  if (store_.DeleteTree(kJournalKey)) return true;
  error = "cannot delete the journal";
  return false;
}

bool Journal::Recover(zustring& error) {
  if (!Exists(kJournalKey)) return true;
  zustring state = store_.GetString(kState);
  if (state == kStepsState) {
    int count = static_cast<int>(store_.GetInteger(kCount));
    int done = static_cast<int>(store_.GetInteger(kDone));
    if (!MakeSteps(count, done, error)) {
      error = zustring("cannot finish the change an earlier zuadm left: ") + error;
      return false;
    }
    return End(error);
  }
  if (state == kStaging) {
    zustring staging = store_.GetString(kStaging);
    if (!staging.IsEmpty() && !store_.DeleteTree(staging)) {
      error = zustring("cannot delete ") + staging + ", which an earlier zuadm left";
      return false;
    }
  }
  return End(error);
}

bool Journal::BeginStaging(const zustring& stagingPath, zustring& error) {
  if (!store_.Open(kJournalKey, true, true) || !store_.SetString(kStaging, stagingPath) ||
      !store_.SetString(kState, zustring(kStaging)) || !store_.Flush(kWaitForDisk)) {
    error = "cannot write the journal (is the disk full?)";
    return false;
  }
  return true;
}

bool Journal::Run(const std::vector<Step>& steps, zustring& error) {
  // The steps first, the state that makes them count last.
  bool recorded = store_.Open(kJournalKey, true, true);
  for (size_t i = 0; recorded && i < steps.size(); ++i) {
    recorded = store_.SetString(StepName(static_cast<int>(i)).c_str(), StepText(steps[i]));
  }
  recorded = recorded && store_.SetInteger(kCount, static_cast<uint32_t>(steps.size())) &&
             store_.SetInteger(kDone, 0) && store_.SetInteger(kPhase, 0) &&
             store_.SetString(kState, zustring(kStepsState)) && store_.Flush(kWaitForDisk);
  if (!recorded) {
    error = "cannot write the journal (is the disk full?)";
    return false;
  }
  return MakeSteps(static_cast<int>(steps.size()), 0, error) && End(error);
}

bool Journal::DeleteKey(const zustring& path, zustring& error) {
  zustring aside = path + kOldSuffix;
  return Run({{Step::Move, path, aside, {}}, {Step::RemoveTree, aside, {}, {}}}, error);
}

bool Journal::MakeSteps(int count, int done, zustring& error) {
  std::vector<Step> steps(count);
  for (int i = done; i < count; ++i) {
    if (!Exists(kJournalKey) || !ParseStep(store_.GetString(StepName(i).c_str()), steps[i])) {
      error.Format("step %d of the journal is damaged", i);
      return false;
    }
  }
  for (int i = done; i < count; ++i) {
    if (!MakeStep(steps[i], error) || !SetProgress(kDone, static_cast<uint32_t>(i + 1), error)) {
      return false;
    }
  }
  return true;
}

bool Journal::MakeStep(const Step& step, zustring& error) {
  switch (step.kind) {
    case Step::Put:
      return WriteKey(store_, step.path, step.values, kWaitForDisk, error);
    case Step::Delete:
      if (!Exists(step.path)) return true;
      for (const StoredValue& value : step.values) store_.DeleteValue(value.name.c_str());
      if (store_.Flush(kWaitForDisk)) return true;
      error.Format("cannot write the values of key %s (is the disk full?)", step.path.c_str());
      return false;
    case Step::RemoveTree:
      if (store_.DeleteTree(step.path)) return true;
      error.Format("cannot delete key %s", step.path.c_str());
      return false;
    case Step::Move:
      return MoveKey(step.path, step.target, error);
  }
  return false;
}

/* A rename when the store can make one; else a copy, then (phase 1) the
** source deleted. Made again, it starts over while the source is there
** and the copy is not known whole, and ends when the source is gone. */
bool Journal::MoveKey(const zustring& from, const zustring& to, zustring& error) {
  bool copied = Exists(kJournalKey) && store_.GetInteger(kPhase) == 1;
  if (!copied) {
    if (!Exists(from)) return true;
    zustring parent, leaf;
    SplitKeyPath(to, parent, leaf);
    if (!store_.DeleteTree(to) || !store_.Open(parent, true, true)) {
      error.Format("cannot make room for key %s", to.c_str());
      return false;
    }
    if (store_.Open(from, false, true) && store_.Rename(to)) {
      store_.Close();
      return true;
    }
    KeyImage tree;
    if (!ReadTree(store_, from, tree, error) || !WriteTree(store_, to, tree, kWaitForDisk, error) ||
        !SetProgress(kPhase, 1, error)) {
      return false;
    }
  }
  if (!store_.DeleteTree(from)) {
    error.Format("cannot delete key %s", from.c_str());
    return false;
  }
  return SetProgress(kPhase, 0, error);
}
