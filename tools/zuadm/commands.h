/*
** What zuadm's commands share: exit codes, the options, output to the
** terminal, and the session that locks a store for a command.
**
** A top-level command is one row of the command table in main.cpp: its
** name, its entry function and its help text. The entry function gets the
** command's own argument vector, argv[0] being the command's name, and
** returns the exit code; the options given before the command are taken
** already (ToolOptions()). `zuadm COMMAND --help` prints the help text
** without calling the function. A command of another file declares its
** entry function here and adds its row to the table.
*/
#pragma once

#include <memory>
#include <vector>

#include "misc/zustring.h"
#include "platform/win32.h"
#include "tools/zuadm/journal.h"
#include "tools/zuadm/settings_store.h"

enum Exit {
  kOk = 0,
  kFailed = 1,  // the operation failed; the message is on stderr
  kUsage = 2,   // the command line is wrong; nothing was written
};

/* The options that select the store, given before or after the command. */
struct ToolOptions {
  zustring directory = "zu-settings";  // -w
  bool registry = false;               // -R
  HKEY root = HKEY_CURRENT_USER;       // -m: HKEY_LOCAL_MACHINE
};
ToolOptions& Options();

/* A command's arguments after its options, in Latin-1. */
struct Arguments {
  std::vector<zustring> words;
  bool json = false;    // --json
  bool force = false;   // --force
  bool help = false;    // --help
  zustring fieldsFile;  // -f FILE (- for stdin)
  zustring outputFile;  // -o FILE
};
/* Options that a command takes besides -w, -R and -m. */
enum : unsigned { kJsonOption = 1, kForceOption = 2, kFieldsFileOption = 4, kOutputOption = 8 };
/* Reads argv[1..] of a command: options wherever they stand (-- ends them;
** a word such as -5 is no option), words converted from UTF-8. True when
** the command goes on; false with its exit code in code after --help
** (printed) or a wrong command line (said why). */
bool ParseArguments(int argc, char** argv, unsigned accepted, const char* help, Arguments& args,
                    int& code);
/* Takes the store's option letter (w, R or m) with its argument; false
** for any other letter. */
bool StoreOption(int letter, const zustring& argument);

/* The help text of a command, for its --help and for usage errors. */
void PrintHelp(const char* help);
int Usage(const zustring& message, const char* help = nullptr);
int Fail(const zustring& message);
/* Output: Latin-1 texts go out as UTF-8; Raw texts are UTF-8 already. */
void Print(const zustring& latin1);
void PrintLine(const zustring& latin1);
void PrintRaw(const zustring& utf8);
/* kOk, or kFailed with a message when the output could not be written. */
int FinishOutput();

/* A key path from the command line for the selected store; kOk, or kUsage
** after printing why. */
int KeyPathArgument(const zustring& text, zustring& path);

/* The store of the options, locked, with whatever an interrupted command
** left finished or undone. */
class Session {
 public:
  /* writes: the command changes the store (its directory is made). */
  int Begin(bool writes);
  SettingsStore& Store() { return *store_; }
  Journal& TheJournal() { return *journal_; }

 private:
  std::unique_ptr<SettingsStore> store_;
  std::unique_ptr<Journal> journal_;
  StoreLock lock_;
};

int SettingsCommand(int argc, char** argv);
int RecordCommand(int argc, char** argv);
int ExportCommand(int argc, char** argv);
int ImportCommand(int argc, char** argv);
extern const char kSettingsHelp[];
extern const char kRecordHelp[];
extern const char kExportHelp[];
extern const char kImportHelp[];
