/*
** zuadm settings: values and keys of either store.
*/
#include <cerrno>
#include <cstdlib>
#include <string>

#include "tools/zuadm/commands.h"
#include "tools/zuadm/field_text.h"
#include "tools/zuadm/key_path.h"
#include "tools/zuadm/key_tree.h"
#include "tools/zuadm/text_io.h"

const char kSettingsHelp[] =
    "  settings get KEYPATH NAME         print a value\n"
    "  settings set KEYPATH NAME TEXT    set a text value\n"
    "  settings set-int KEYPATH NAME N   set an integer value (32 bits, signed or not)\n"
    "  settings del KEYPATH NAME         delete a value\n"
    "  settings list [KEYPATH] [--json]  the values and subkeys of a key\n"
    "  settings tree [KEYPATH]           a key and everything below it\n"
    "  settings rename KEYPATH NEWPATH [--force]\n"
    "                                    give a key a new path (--force: replace a key there)\n"
    "  settings rmkey KEYPATH            delete a key and everything below it\n";

namespace {

/* A 32-bit value written as a signed or an unsigned decimal number. */
bool ParseDword(const char* text, uint32_t& value) {
  int32_t signedValue = 0;
  if (ParseInt32(text, signedValue)) {
    value = static_cast<uint32_t>(signedValue);
    return true;
  }
  char* end = nullptr;
  errno = 0;
  unsigned long long parsed = std::strtoull(text, &end, 10);
  if (*text < '0' || *text > '9' || *end || errno == ERANGE || parsed > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(parsed);
  return true;
}

/* A value as text: integers in decimal, texts quoted when quoted is set. */
zustring ShownValue(const StoredValue& value, bool quoted) {
  zustring text;
  if (value.kind == ValueInteger) {
    text.Format("%u", value.integer);
  } else {
    text = quoted ? zustring("\"") + value.text + "\"" : value.text;
  }
  return text;
}

/* The subkeys of the open key that are the user's (not the journal). */
void UserSubKeys(SettingsStore& store, const zustring& path, StringList& names) {
  store.EnumSubKeys(names);
  if (!path.IsEmpty()) return;
  for (int i = names.Count(); i-- > 0;) {
    if (SameName(names[i], zustring(kJournalKey))) names.RemoveAt(i);
  }
}

bool PrintTree(SettingsStore& store, const zustring& path, int indent, zustring& error) {
  std::vector<StoredValue> values;
  if (!store.Open(path, false, false)) {
    error = zustring("cannot read ") + path;
    return false;
  }
  if (!ReadValues(store, values, error)) return false;
  for (const StoredValue& value : values) {
    zustring line;
    line.Format("%*s", indent, "");
    PrintLine(line + value.name + " = " + ShownValue(value, true));
  }
  StringList subKeys;
  UserSubKeys(store, path, subKeys);
  for (int i = 0; i < subKeys.Count(); ++i) {
    zustring line;
    line.Format("%*s", indent, "");
    PrintLine(line + subKeys[i] + "\\");
    if (!PrintTree(store, ChildPath(path, subKeys[i]), indent + 2, error)) return false;
  }
  return true;
}

/* The first level of path that the store does not hold ("" when it holds
** them all), so that a failed write can take away what it made. */
zustring FirstMissingLevel(SettingsStore& store, const zustring& path) {
  if (store.Open(path, false, false)) return zustring();
  for (unsigned end = 1; end <= path.Length(); ++end) {
    if (end < path.Length() && path.CharAt(end + 1) != '\\') continue;
    zustring level = path.Mid(1, end);
    if (!store.Open(level, false, false)) return level;
  }
  return zustring();
}

int Get(Session& session, const zustring& path, const zustring& name) {
  SettingsStore& store = session.Store();
  if (!store.Open(path, false, false)) return Fail(zustring("no key ") + path);
  StoredValue value;
  value.kind = store.GetKind(name.c_str());
  if (value.kind == ValueMissing) return Fail(zustring("no value ") + name + " in key " + path);
  if (value.kind == ValueOther) {
    return Fail(zustring("the value ") + name + " is of a type that zuadm does not handle");
  }
  value.text = store.GetString(name.c_str());
  value.integer = store.GetInteger(name.c_str());
  PrintLine(ShownValue(value, false));
  return FinishOutput();
}

int Set(Session& session, const zustring& path, const StoredValue& value) {
  SettingsStore& store = session.Store();
  zustring made = FirstMissingLevel(store, path);
  zustring error;
  if (WriteKey(store, path, {value}, true, error)) return kOk;
  store.Close();
  if (!made.IsEmpty()) store.DeleteTree(made);
  return Fail(error);
}

int Delete(Session& session, const zustring& path, const zustring& name) {
  SettingsStore& store = session.Store();
  if (!store.Open(path, false, true)) return Fail(zustring("no key ") + path);
  if (store.GetKind(name.c_str()) == ValueMissing) {
    return Fail(zustring("no value ") + name + " in key " + path);
  }
  if (!store.DeleteValue(name.c_str()) || !store.Flush()) {
    return Fail(zustring("cannot delete value ") + name + " in key " + path);
  }
  return kOk;
}

int List(Session& session, const zustring& path, bool json) {
  SettingsStore& store = session.Store();
  std::vector<StoredValue> values;
  StringList subKeys;
  zustring error;
  if (store.Open(path, false, false)) {
    if (!ReadValues(store, values, error)) return Fail(error);
    UserSubKeys(store, path, subKeys);
  } else if (!path.IsEmpty()) {  // a store that holds nothing yet lists nothing
    return Fail(zustring("no key ") + path);
  }
  if (!json) {
    for (const StoredValue& value : values) {
      PrintLine(value.name + " = " + ShownValue(value, true));
    }
    for (int i = 0; i < subKeys.Count(); ++i) PrintLine(subKeys[i] + "\\");
    return FinishOutput();
  }
  zustring out("{\"path\": ");
  out += JsonString(path);
  out += ", \"values\": [";
  for (size_t i = 0; i < values.size(); ++i) {
    out += i ? ",\n    {\"name\": " : "\n    {\"name\": ";
    out += JsonString(values[i].name);
    if (values[i].kind == ValueInteger) {
      out.AppendFormat(", \"kind\": \"integer\", \"value\": %u}", values[i].integer);
    } else {
      out += ", \"kind\": \"text\", \"value\": ";
      out += JsonString(values[i].text);
      out += "}";
    }
  }
  out += values.empty() ? "], \"subkeys\": [" : "\n  ], \"subkeys\": [";
  for (int i = 0; i < subKeys.Count(); ++i) {
    if (i) out += ", ";
    out += JsonString(subKeys[i]);
  }
  out += "]}\n";
  PrintRaw(out);
  return FinishOutput();
}

int Rename(Session& session, const zustring& path, const zustring& target, bool force) {
  SettingsStore& store = session.Store();
  if (IsWithinPath(target, path) || IsWithinPath(path, target)) {
    return Fail(zustring("cannot move ") + path + " to " + target + ": one holds the other");
  }
  if (!store.Open(path, false, false)) return Fail(zustring("no key ") + path);
  std::vector<Step> steps;
  zustring aside = target + kOldSuffix;
  if (store.Open(target, false, false)) {
    if (!force) return Fail(zustring("key ") + target + " exists: --force replaces it");
    steps.push_back({Step::Move, target, aside, {}});
  }
  steps.push_back({Step::Move, path, target, {}});
  steps.push_back({Step::RemoveTree, aside, zustring(), {}});
  zustring error;
  if (!session.TheJournal().Run(steps, error)) return Fail(error);
  return kOk;
}

int RemoveKey(Session& session, const zustring& path) {
  if (!session.Store().Open(path, false, false)) return Fail(zustring("no key ") + path);
  zustring error;
  return session.TheJournal().DeleteKey(path, error) ? kOk : Fail(error);
}

}  // namespace

int SettingsCommand(int argc, char** argv) {
  Arguments args;
  int code;
  if (!ParseArguments(argc, argv, kJsonOption | kForceOption, kSettingsHelp, args, code))
    return code;
  const std::vector<zustring>& words = args.words;
  if (words.empty()) return Usage("settings needs a subcommand", kSettingsHelp);
  std::string verb = words[0].c_str();
  size_t count = words.size();
  bool known = (verb == "get" && count == 3) || (verb == "set" && count == 4) ||
               (verb == "set-int" && count == 4) || (verb == "del" && count == 3) ||
               ((verb == "list" || verb == "tree") && count <= 2) ||
               (verb == "rename" && count == 3) || (verb == "rmkey" && count == 2);
  if (!known) return Usage("unknown settings command or wrong number of arguments", kSettingsHelp);
  if ((args.json && verb != "list") || (args.force && verb != "rename")) {
    return Usage(zustring("settings ") + verb.c_str() + " has no such option", kSettingsHelp);
  }
  zustring path, target;
  if (count > 1 && KeyPathArgument(words[1], path) != kOk) return kUsage;
  if (verb == "rename" && KeyPathArgument(words[2], target) != kOk) return kUsage;
  bool writes = verb != "get" && verb != "list" && verb != "tree";
  if (writes && (path.IsEmpty() || (verb == "rename" && target.IsEmpty()))) {
    return Usage("the root of the store is no key to change: give a key path", kSettingsHelp);
  }
  StoredValue value;
  if (verb == "set" || verb == "set-int") {
    value.name = words[2];
    value.kind = verb == "set" ? ValueText : ValueInteger;
    value.text = verb == "set" ? words[3] : zustring();
    if (verb == "set-int" && !ParseDword(words[3].c_str(), value.integer)) {
      return Usage("set-int needs a 32-bit integer", kSettingsHelp);
    }
  }

  Session session;
  int begun = session.Begin(writes);
  if (begun != kOk) return begun;
  if (verb == "get") return Get(session, path, words[2]);
  if (verb == "set" || verb == "set-int") return Set(session, path, value);
  if (verb == "del") return Delete(session, path, words[2]);
  if (verb == "list") return List(session, path, args.json);
  if (verb == "tree") {
    zustring error;
    if (!session.Store().Open(path, false, false)) {
      return path.IsEmpty() ? kOk : Fail(zustring("no key ") + path);
    }
    if (!PrintTree(session.Store(), path, 0, error)) return Fail(error);
    return FinishOutput();
  }
  if (verb == "rename") return Rename(session, path, target, args.force);
  return RemoveKey(session, path);
}
