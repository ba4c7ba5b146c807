/*
** zuadm export and import: a key with everything below it, as a text file
** (the format is described in key_tree.h).
*/
#include <cstdio>
#include <string>

#include "tools/zuadm/commands.h"
#include "tools/zuadm/key_path.h"
#include "tools/zuadm/key_tree.h"
#include "tools/zuadm/record_store.h"

const char kExportHelp[] =
    "  export KEYPATH [-o FILE]          write a key and everything below it, values\n"
    "                                    and records, to FILE (or stdout)\n";
const char kImportHelp[] =
    "  import KEYPATH [FILE] [--force]   make the key hold what an export wrote, from FILE\n"
    "                                    (or stdin); --force replaces a key that exists\n";

namespace {

/* Writes bytes to path as a whole new file, in place of the old only once
** it is complete. */
bool WriteWholeFile(const zustring& path, const zustring& bytes) {
  zustring temporary = path + ".zuadm-tmp";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(bytes.c_str(), 1, bytes.Length(), file) == bytes.Length();
  ok = std::fclose(file) == 0 && ok;
  if (ok && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  std::remove(temporary.c_str());
  return false;
}

}  // namespace

int ExportCommand(int argc, char** argv) {
  Arguments args;
  int code;
  if (!ParseArguments(argc, argv, kOutputOption, kExportHelp, args, code)) return code;
  if (args.words.size() != 1) return Usage("export takes one key path", kExportHelp);
  zustring path;
  if (KeyPathArgument(args.words[0], path) != kOk) return kUsage;
  if (path.IsEmpty()) return Usage("export needs a key below the root", kExportHelp);
  Session session;
  int begun = session.Begin(false);
  if (begun != kOk) return begun;
  KeyImage image;
  zustring error;
  if (!ReadTree(session.Store(), path, image, error)) return Fail(error);
  zustring text = ExportText(image);
  if (args.outputFile.IsEmpty()) {
    PrintRaw(text);
    return FinishOutput();
  }
  if (!WriteWholeFile(args.outputFile, text)) {
    return Fail(zustring("cannot write ") + args.outputFile);
  }
  return kOk;
}

int ImportCommand(int argc, char** argv) {
  Arguments args;
  int code;
  if (!ParseArguments(argc, argv, kForceOption, kImportHelp, args, code)) return code;
  if (args.words.empty() || args.words.size() > 2) {
    return Usage("import takes a key path and a file", kImportHelp);
  }
  zustring path;
  if (KeyPathArgument(args.words[0], path) != kOk) return kUsage;
  if (path.IsEmpty()) return Usage("import needs a key below the root", kImportHelp);
  zustring source = args.words.size() == 2 ? args.words[1] : zustring("-");
  bool standardInput = source == "-";
  FILE* file = standardInput ? stdin : std::fopen(source.c_str(), "rb");
  if (!file) return Fail(zustring("cannot read ") + source);
  std::string bytes;
  char piece[65536];
  for (size_t n; (n = std::fread(piece, 1, sizeof piece, file)) > 0;) bytes.append(piece, n);
  bool failed = std::ferror(file);
  if (!standardInput) std::fclose(file);
  if (failed) return Fail(zustring("cannot read ") + source);

  KeyImage image;
  zustring error;
  if (!ParseExport(bytes.data(), bytes.size(), !Options().registry, image, error)) {
    return Usage(source + ": " + error);
  }
  Session session;
  int begun = session.Begin(true);
  if (begun != kOk) return begun;
  SettingsStore& store = session.Store();
  if (!args.force && store.Open(path, false, false)) {
    return Fail(zustring("key ") + path + " exists: --force replaces it");
  }
  if (!ReplaceKey(store, session.TheJournal(), path, image, error)) return Fail(error);
  return kOk;
}
