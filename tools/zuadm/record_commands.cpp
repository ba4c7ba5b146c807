/*
** zuadm record: records made from the factory's tags, stored in a store,
** changed field by field and element by element.
*/
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "lib/interface/param_classes.h"
#include "tools/zuadm/commands.h"
#include "tools/zuadm/key_path.h"
#include "tools/zuadm/record_print.h"
#include "tools/zuadm/record_store.h"
#include "tools/zuadm/text_io.h"

const char kRecordHelp[] =
    "  record tags                       the tags records are made from\n"
    "  record new TAG [--json]           print a record with its defaults\n"
    "  record save TAG KEYPATH [FIELD=VALUE ...] [-f FILE] [--force]\n"
    "                                    store a new record (--force: replace a key that\n"
    "                                    holds more than a record)\n"
    "  record set KEYPATH FIELD=VALUE ... [-f FILE]\n"
    "                                    change fields of a stored record\n"
    "  record load KEYPATH [--json]      print a stored record\n"
    "  record list [KEYPATH] [--json]    the records stored below a key, with their tags\n"
    "  record rm KEYPATH                 delete a stored record\n"
    "  record insert KEYPATH LIST[INDEX] [FIELD=VALUE ...] [-f FILE]\n"
    "                                    insert a new element, FIELDs its own, at INDEX\n"
    "  record remove KEYPATH LIST[INDEX] delete an element\n"
    "  record move KEYPATH LIST[INDEX] TO\n"
    "                                    move an element to the position TO\n"
    "FIELD is a field key, or a path into lists such as FW_RULES[0].NAME (an index\n"
    "one past the last element adds an element); LIST may be such a path too,\n"
    "IF_LIST[0].IPS[1]. -f FILE reads FIELD=VALUE lines from FILE (- for stdin).\n";

namespace {

/* FIELD=VALUE lines of a file (or stdin), then the words from first on. */
int ReadAssignments(const Arguments& args, size_t first, std::vector<Assignment>& assignments) {
  zustring error;
  if (!args.fieldsFile.IsEmpty()) {
    bool standardInput = args.fieldsFile == "-";
    FILE* file = standardInput ? stdin : std::fopen(args.fieldsFile.c_str(), "rb");
    if (!file) return Fail(zustring("cannot read ") + args.fieldsFile);
    std::string bytes;
    char piece[65536];
    for (size_t n; (n = std::fread(piece, 1, sizeof piece, file)) > 0;) bytes.append(piece, n);
    bool failed = std::ferror(file);
    if (!standardInput) std::fclose(file);
    if (failed) return Fail(zustring("cannot read ") + args.fieldsFile);
    unsigned line = 0;
    for (size_t start = 0; start < bytes.size();) {
      ++line;
      size_t end = bytes.find('\n', start);
      if (end == std::string::npos) end = bytes.size();
      size_t stop = end > start && bytes[end - 1] == '\r' ? end - 1 : end;
      zustring text, where;
      where.Format("%s line %u: ", args.fieldsFile.c_str(), line);
      if (stop > start && !Utf8ToLatin1Strict(bytes.data() + start,
                                              static_cast<unsigned>(stop - start), text, error)) {
        return Usage(where + error);
      }
      start = end + 1;
      if (text.IsEmpty()) continue;
      Assignment assignment;
      if (!ParseAssignment(text, assignment, error)) return Usage(where + error);
      assignments.push_back(assignment);
    }
  }
  for (size_t i = first; i < args.words.size(); ++i) {
    Assignment assignment;
    if (!ParseAssignment(args.words[i], assignment, error)) return Usage(error);
    assignments.push_back(assignment);
  }
  return kOk;
}

int Outcome(const EditResult& result) {
  if (result.ok) return kOk;
  return result.usage ? Usage(result.error) : Fail(result.error);
}

int Save(const Arguments& args) {
  std::unique_ptr<ParamLoader> record(CreateParamByTag(args.words[1].c_str()));
  if (!record) return Usage("unknown record tag (see: zuadm record tags)");
  zustring path, error;
  if (KeyPathArgument(args.words[2], path) != kOk) return kUsage;
  if (path.IsEmpty()) return Usage("a record needs a key path");
  std::vector<Assignment> assignments;
  int read = ReadAssignments(args, 3, assignments);
  if (read != kOk) return read;
  if (!AssignFields(*record, assignments, error)) return Usage(error);
  Session session;
  int begun = session.Begin(true);
  if (begun != kOk) return begun;
  if (!args.force && !HoldsOnlyARecord(session.Store(), path, error)) {
    return Fail(error + "; --force replaces it all");
  }
  if (!ReplaceKey(session.Store(), session.TheJournal(), path, RecordImage(*record), error)) {
    return Fail(error);
  }
  return kOk;
}

int Load(const zustring& path, bool json) {
  Session session;
  int begun = session.Begin(false);
  if (begun != kOk) return begun;
  zustring error;
  std::unique_ptr<ParamLoader> record(LoadRecord(session.Store(), path, error));
  if (!record) return Fail(error);
  if (json) {
    PrintRaw(RecordJson(*record));
  } else {
    Print(RecordText(*record));
  }
  return FinishOutput();
}

int List(const zustring& path, bool json) {
  Session session;
  int begun = session.Begin(false);
  if (begun != kOk) return begun;
  std::vector<StoredRecord> records;
  zustring error;
  if (!ListRecords(session.Store(), path, records, error)) return Fail(error);
  if (!json) {
    for (const StoredRecord& record : records) PrintLine(record.tag + " " + record.path);
    return FinishOutput();
  }
  zustring out("[");
  for (size_t i = 0; i < records.size(); ++i) {
    out += i ? ",\n  {\"path\": " : "\n  {\"path\": ";
    out += JsonString(records[i].path);
    out += ", \"tag\": ";
    out += JsonString(records[i].tag);
    out += "}";
  }
  out += records.empty() ? "]\n" : "\n]\n";
  PrintRaw(out);
  return FinishOutput();
}

int Remove(const zustring& path) {
  Session session;
  int begun = session.Begin(true);
  if (begun != kOk) return begun;
  SettingsStore& store = session.Store();
  if (!store.Open(path, false, false)) return Fail(zustring("no key ") + path);
  if (store.GetKind(kTypeValue) != ValueText || store.GetString(kTypeValue).IsEmpty()) {
    return Fail(zustring("key ") + path + " holds no record");
  }
  zustring error;
  return session.TheJournal().DeleteKey(path, error) ? kOk : Fail(error);
}

}  // namespace

int RecordCommand(int argc, char** argv) {
  Arguments args;
  int code;
  if (!ParseArguments(argc, argv, kJsonOption | kForceOption | kFieldsFileOption, kRecordHelp, args,
                      code))
    return code;
  const std::vector<zustring>& words = args.words;
  if (words.empty()) return Usage("record needs a subcommand", kRecordHelp);
  std::string verb = words[0].c_str();
  size_t count = words.size();
  bool assigns = verb == "save" || verb == "set" || verb == "insert";
  bool known = (verb == "tags" && count == 1) || (verb == "new" && count == 2) ||
               (verb == "save" && count >= 3) ||
               (verb == "set" && (count >= 3 || (count == 2 && !args.fieldsFile.IsEmpty()))) ||
               ((verb == "load" || verb == "rm") && count == 2) || (verb == "list" && count <= 2) ||
               (verb == "insert" && count >= 3) || (verb == "remove" && count == 3) ||
               (verb == "move" && count == 4);
  if (!known) return Usage("unknown record command or wrong number of arguments", kRecordHelp);
  bool jsonTaken = verb == "new" || verb == "load" || verb == "list";
  if ((args.json && !jsonTaken) || (args.force && verb != "save") ||
      (!args.fieldsFile.IsEmpty() && !assigns)) {
    return Usage(zustring("record ") + verb.c_str() + " has no such option", kRecordHelp);
  }

  if (verb == "tags") {
    for (int i = 0; i < FactoryTagCount(); ++i) PrintLine(FactoryTag(i));
    return FinishOutput();
  }
  if (verb == "new") {
    std::unique_ptr<ParamLoader> record(CreateParamByTag(words[1].c_str()));
    if (!record) return Usage("unknown record tag (see: zuadm record tags)");
    if (args.json) {
      PrintRaw(RecordJson(*record));
    } else {
      Print(RecordText(*record));
    }
    return FinishOutput();
  }
  if (verb == "save") return Save(args);

  zustring path;
  if (count > 1 && KeyPathArgument(words[1], path) != kOk) return kUsage;
  if (verb == "list") return List(path, args.json);
  if (path.IsEmpty()) return Usage("a record needs a key path", kRecordHelp);
  if (verb == "load") return Load(path, args.json);
  if (verb == "rm") return Remove(path);

  std::vector<Assignment> assignments;
  int to = 0;
  if (verb == "move") {
    char* end = nullptr;
    long position = std::strtol(words[3].c_str(), &end, 10);
    if (*end || end == words[3].c_str() || position < 0 || position > INT32_MAX) {
      return Usage("move needs the position TO as a number", kRecordHelp);
    }
    to = static_cast<int>(position);
  }
  if (assigns) {
    int read = ReadAssignments(args, verb == "set" ? 2 : 3, assignments);
    if (read != kOk) return read;
  }
  Session session;
  int begun = session.Begin(true);
  if (begun != kOk) return begun;
  SettingsStore& store = session.Store();
  Journal& journal = session.TheJournal();
  if (verb == "set") return Outcome(SetStoredFields(store, journal, path, assignments));
  if (verb == "insert") return Outcome(InsertElement(store, journal, path, words[2], assignments));
  if (verb == "remove") return Outcome(RemoveElement(store, journal, path, words[2]));
  return Outcome(MoveElement(store, journal, path, words[2], to));
}
