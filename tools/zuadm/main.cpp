/*
** zuadm: the command-line administration tool of the gateway's settings.
**
** It keeps settings in the file tree of Values.xml files (below
** ./zu-settings, or the directory -w names) or, with -R, in the registry,
** and stores and reads configuration records there. Texts are Latin-1
** inside and UTF-8 at the terminal. Exit codes: 0 success, 1 the operation
** failed, 2 the command line is wrong.
*/
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/param_classes.h"
#include "misc/fsutil.h"
#include "misc/getopt.h"
#include "settings/regkey.h"
#include "settings/regvaluestore.h"
#include "tools/zuadm/field_text.h"
#include "tools/zuadm/record_print.h"
#include "tools/zuadm/record_store.h"
#include "tools/zuadm/settings_store.h"

namespace {

enum Exit { kOk = 0, kFailed = 1, kUsage = 2 };

const char kUsageText[] =
    "usage: zuadm [-w DIR] [-R] [-m] COMMAND ARGUMENTS\n"
    "  -w DIR  keep settings in the file tree below DIR (default ./zu-settings)\n"
    "  -R      keep settings in the registry instead\n"
    "  -m      use HKEY_LOCAL_MACHINE instead of HKEY_CURRENT_USER\n"
    "  -h      show this text\n"
    "commands (KEYPATH levels are separated by \\ or /):\n"
    "  settings get KEYPATH NAME         print a value\n"
    "  settings set KEYPATH NAME TEXT    set a text value\n"
    "  settings set-int KEYPATH NAME N   set an integer value\n"
    "  settings del KEYPATH NAME         delete a value\n"
    "  settings list [KEYPATH]           the subkeys and values of a key\n"
    "  settings tree [KEYPATH]           a key and everything below it\n"
    "  settings rename KEYPATH NEWPATH   give a key a new path\n"
    "  settings rmkey KEYPATH            delete a key and everything below it\n"
    "  record tags                       the tags records are made from\n"
    "  record new TAG                    print a record with its defaults\n"
    "  record save TAG KEYPATH [FIELD=VALUE ...]  store a new record\n"
    "  record set KEYPATH FIELD=VALUE ...         change a stored record\n"
    "  record load KEYPATH               print a stored record\n"
    "  sysinfo [PART]                    processor, Windows version, mutex name\n"
    "FIELD is a field key, or a path into lists such as FW_RULES[0].NAME\n"
    "(an index one past the last element adds an element).\n";

/* Output and input at the terminal: UTF-8 outside, Latin-1 inside. */
void Print(const zustring& text) {
  zustring utf8 = zustring::Latin1ToUtf8(text.c_str(), text.Length());
  std::fwrite(utf8.c_str(), 1, utf8.Length(), stdout);
}
void PrintLine(const zustring& text) {
  Print(text);
  std::fputc('\n', stdout);
}
zustring FromTerminal(const char* text) {
  return zustring::Utf8ToLatin1(text, '?');
}
int Fail(const zustring& message) {
  zustring utf8 = zustring::Latin1ToUtf8(message.c_str(), message.Length());
  std::fprintf(stderr, "zuadm: %s\n", utf8.c_str());
  return kFailed;
}
int Usage(const char* message) {
  if (message) std::fprintf(stderr, "zuadm: %s\n", message);
  std::fputs(kUsageText, stderr);
  return kUsage;
}

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

/* A key path from the command line: either separator, no empty levels. */
zustring KeyPath(const char* text) {
  zustring latin = FromTerminal(text);
  zustring path;
  const char* p = latin.c_str();
  while (*p) {
    size_t n = std::strcspn(p, "\\/");
    if (n) {
      if (!path.IsEmpty()) path += "\\";
      path.Append(p, static_cast<int>(n));
    }
    p += n;
    if (*p) ++p;
  }
  return path;
}

struct Options {
  bool registry = false;
  HKEY root = HKEY_CURRENT_USER;
};

std::unique_ptr<SettingsStore> MakeStore(const Options& options) {
  if (options.registry) return std::make_unique<StoreAdapter<RegKey>>(options.root);
  return std::make_unique<StoreAdapter<RegValueStore>>(options.root);
}

/* A value of the open key as text: integers in decimal, texts quoted when
** quoted is set. Empty when there is no such value. */
zustring ShownValue(SettingsStore& store, const char* name, bool quoted) {
  zustring text;
  switch (store.GetKind(name)) {
    case ValueInteger:
      text.Format("%u", store.GetInteger(name));
      break;
    case ValueText:
      text = quoted ? zustring("\"") + store.GetString(name) + "\"" : store.GetString(name);
      break;
    case ValueOther:
      text = "(a value of another type)";
      break;
    case ValueMissing:
      break;
  }
  return text;
}

/* "NAME = value" of every value of the open key. */
void PrintValues(SettingsStore& store, int indent) {
  StringList names;
  store.EnumValues(names);
  for (int i = 0; i < names.Count(); ++i) {
    zustring line;
    line.Format("%*s%s = ", indent, "", names[i].c_str());
    PrintLine(line + ShownValue(store, names[i].c_str(), true));
  }
}

bool PrintTree(SettingsStore& store, const zustring& path, int indent) {
  if (!store.Open(path, false, false)) return false;
  PrintValues(store, indent);
  StringList subKeys;
  store.EnumSubKeys(subKeys);
  for (int i = 0; i < subKeys.Count(); ++i) {
    zustring line;
    line.Format("%*s%s\\", indent, "", subKeys[i].c_str());
    PrintLine(line);
    zustring child = path.IsEmpty() ? subKeys[i] : path + "\\" + subKeys[i];
    if (!PrintTree(store, child, indent + 2)) return false;
  }
  return true;
}

int SettingsCommand(SettingsStore& store, const std::vector<const char*>& args) {
  auto need = [&](size_t n) { return args.size() == n; };
  if (args.empty()) return Usage("settings needs a subcommand");
  std::string verb = args[0];
  zustring path = args.size() > 1 ? KeyPath(args[1]) : zustring();
  zustring name = args.size() > 2 ? FromTerminal(args[2]) : zustring();

  if (verb == "get" && need(3)) {
    if (!store.Open(path, false, false)) return Fail(zustring("no key ") + path);
    if (store.GetKind(name.c_str()) == ValueMissing) {
      return Fail(zustring("no value ") + name + " in key " + path);
    }
    PrintLine(ShownValue(store, name.c_str(), false));
    return kOk;
  }
  if ((verb == "set" || verb == "set-int") && need(4)) {
    zustring value = FromTerminal(args[3]);
    uint32_t number = 0;
    if (verb == "set-int" && !ParseDword(value.c_str(), number)) {
      return Usage("set-int needs a 32-bit integer");
    }
    if (path.IsEmpty()) return Usage("values belong to a key: KEYPATH is empty");
    if (!store.Open(path, true, true)) return Fail(zustring("cannot open key ") + path);
    bool ok = verb == "set" ? store.SetString(name.c_str(), value)
                            : store.SetInteger(name.c_str(), number);
    store.Close();
    return ok ? kOk : Fail(zustring("cannot set value ") + name + " in key " + path);
  }
  if (verb == "del" && need(3)) {
    if (!store.Open(path, false, true)) return Fail(zustring("no key ") + path);
    bool ok = store.DeleteValue(name.c_str());
    store.Close();
    return ok ? kOk : Fail(zustring("no value ") + name + " in key " + path);
  }
  if ((verb == "list" || verb == "tree") && args.size() <= 2) {
    if (!store.Open(path, false, false)) return Fail(zustring("no key ") + path);
    if (verb == "tree")
      return PrintTree(store, path, 0) ? kOk : Fail(zustring("cannot read ") + path);
    PrintValues(store, 0);
    StringList subKeys;
    store.EnumSubKeys(subKeys);
    for (int i = 0; i < subKeys.Count(); ++i) PrintLine(subKeys[i] + "\\");
    return kOk;
  }
  if (verb == "rename" && need(3)) {
    zustring target = KeyPath(args[2]);
    if (path.IsEmpty() || target.IsEmpty()) return Usage("rename needs two key paths");
    if (!store.Open(path, false, true)) return Fail(zustring("no key ") + path);
    bool ok = store.Rename(target);
    store.Close();
    return ok ? kOk : Fail(zustring("cannot rename ") + path + " to " + target);
  }
  if (verb == "rmkey" && need(2)) {
    if (path.IsEmpty()) return Usage("rmkey needs a key path");
    if (!store.Open(path, false, false)) return Fail(zustring("no key ") + path);
    return DeleteKeyTree(store, path) ? kOk : Fail(zustring("cannot delete key ") + path);
  }
  return Usage("unknown settings command or wrong number of arguments");
}

/* The field a path such as IF_LIST[0].IPS[1].ADDRESS names, creating the
** element one past the end of a list; null with a message otherwise. */
void* FieldByPath(ParamLoader& record, const char* path, const FieldDescriptor*& row,
                  zustring& error) {
  const char* dot = std::strchr(path, '.');
  const char* bracket = std::strchr(path, '[');
  size_t n = std::strcspn(path, "[.");
  zustring key(path, static_cast<unsigned>(n));
  if (n == 0) key.Reset();
  row = key.IsEmpty() ? nullptr : record.FindField(key);
  if (!row) {
    error.Format("%s has no field \"%s\"", record.TypeTag(), key.c_str());
    return nullptr;
  }
  void* field = record.FieldAddress(row);
  if (!bracket || (dot && dot < bracket)) {
    if (dot) {
      error.Format("%s.%s is not a list: use %s[INDEX].FIELD", record.TypeTag(), row->key,
                   row->key);
      return nullptr;
    }
    return field;
  }
  if (row->type != FIELD_LIST) {
    error.Format("%s.%s is not a list", record.TypeTag(), row->key);
    return nullptr;
  }
  char* end = nullptr;
  long index = std::strtol(bracket + 1, &end, 10);
  if (end == bracket + 1 || *end != ']' || end[1] != '.' || index < 0) {
    error.Format("bad element path \"%s\": use %s[INDEX].FIELD", path, row->key);
    return nullptr;
  }
  auto* list = static_cast<ParamListBase*>(field);
  if (index > list->Count()) {
    error.Format("%s has %d elements: the next one is [%d]", row->key, list->Count(),
                 list->Count());
    return nullptr;
  }
  ParamLoader* element = index == list->Count() ? list->AddNew() : list->At(index);
  if (!element) {
    error = "out of memory";
    return nullptr;
  }
  return FieldByPath(*element, end + 2, row, error);
}

/* Applies FIELD=VALUE arguments; false with a message at the first bad one. */
bool AssignFields(ParamLoader& record, const std::vector<const char*>& assignments,
                  zustring& error) {
  for (const char* assignment : assignments) {
    zustring text = FromTerminal(assignment);
    unsigned equals = text.Find("=");
    if (equals == 0) {
      error.Format("\"%s\" is not FIELD=VALUE", text.c_str());
      return false;
    }
    zustring path = text.Mid(1, equals - 1);
    const FieldDescriptor* row = nullptr;
    void* field = FieldByPath(record, path.c_str(), row, error);
    if (!field || !SetFieldFromText(row, field, text.Mid(equals + 1, 0), error)) return false;
  }
  return true;
}

int RecordCommand(SettingsStore& store, const std::vector<const char*>& args) {
  if (args.empty()) return Usage("record needs a subcommand");
  std::string verb = args[0];
  if (verb == "tags" && args.size() == 1) {
    for (int i = 0; i < FactoryTagCount(); ++i) PrintLine(FactoryTag(i));
    return kOk;
  }
  if (verb == "new" && args.size() == 2) {
    std::unique_ptr<ParamLoader> record(CreateParamByTag(FromTerminal(args[1]).c_str()));
    if (!record) return Usage("unknown record tag (see: zuadm record tags)");
    Print(RecordText(*record));
    return kOk;
  }
  if ((verb == "save" && args.size() >= 3) || (verb == "set" && args.size() >= 3)) {
    bool isNew = verb == "save";
    zustring path = KeyPath(args[isNew ? 2 : 1]);
    if (path.IsEmpty()) return Usage("a record needs a key path");
    zustring error;
    std::unique_ptr<ParamLoader> record(isNew ? CreateParamByTag(FromTerminal(args[1]).c_str())
                                              : LoadRecord(store, path, error));
    if (!record) return isNew ? Usage("unknown record tag (see: zuadm record tags)") : Fail(error);
    std::vector<const char*> assignments(args.begin() + (isNew ? 3 : 2), args.end());
    if (!AssignFields(*record, assignments, error)) {
      std::fprintf(stderr, "zuadm: %s\n", zustring::Latin1ToUtf8(error.c_str()).c_str());
      return kUsage;
    }
    return SaveRecord(store, path, *record, error) ? kOk : Fail(error);
  }
  if (verb == "load" && args.size() == 2) {
    zustring error;
    std::unique_ptr<ParamLoader> record(LoadRecord(store, KeyPath(args[1]), error));
    if (!record) return Fail(error);
    Print(RecordText(*record));
    return kOk;
  }
  return Usage("unknown record command or wrong number of arguments");
}

int SysinfoCommand(const std::vector<const char*>& args) {
  if (args.size() > 1) return Usage("sysinfo takes at most one part name");
  static const char* const kArchitectures[] = {"other", "x86", "x64"};
  int architecture = ProcessorArchitecture();
  zustring line;
  line.Format("processor architecture: %d (%s)", architecture,
              kArchitectures[architecture >= 0 && architecture <= 2 ? architecture : 0]);
  PrintLine(line);
  line.Format("windows version code: %d", WindowsVersionCode());
  PrintLine(line);
  zustring part = args.empty() ? zustring("zuadm") : FromTerminal(args[0]);
  char name[256];
  if (InstanceMutexName(name, sizeof name, part.c_str()) < 0) {
    return Fail("the part name is too long for a mutex name");
  }
  PrintLine(zustring("instance mutex name: ") + name);
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  zustring directory("zu-settings");
  opterr = 1;
  for (int c; (c = getopt(argc, argv, "w:Rmh")) != -1;) {
    switch (c) {
      case 'w':
        directory = FromTerminal(optarg);
        break;
      case 'R':
        options.registry = true;
        break;
      case 'm':
        options.root = HKEY_LOCAL_MACHINE;
        break;
      case 'h':
        std::fputs(kUsageText, stdout);
        return kOk;
      default:
        return Usage(nullptr);
    }
  }
  if (optind >= argc) return Usage("no command");
  SetStoreBaseDirectory(directory.c_str());
  std::string command = argv[optind];
  std::vector<const char*> args(argv + optind + 1, argv + argc);
  std::unique_ptr<SettingsStore> store = MakeStore(options);
  if (command == "settings") return SettingsCommand(*store, args);
  if (command == "record") return RecordCommand(*store, args);
  if (command == "sysinfo") return SysinfoCommand(args);
  return Usage("unknown command");
}
