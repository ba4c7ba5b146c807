/*
** zuadm: the command-line administration tool of the gateway's settings.
**
** It keeps settings in the file tree of Values.xml files (below
** ./zu-settings, or the directory -w names) or, with -R, in the registry,
** and stores and reads configuration records there. Texts are Latin-1
** inside and UTF-8 at the terminal. Exit codes: 0 success, 1 the operation
** failed, 2 the command line is wrong.
*/
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "misc/fsutil.h"
#include "misc/getopt.h"
#include "settings/regvaluestore.h"
#include "tools/zuadm/cert_commands.h"
#include "tools/zuadm/commands.h"
#include "tools/zuadm/http_command.h"
#include "tools/zuadm/text_io.h"

namespace {

const char kVersion[] = ZUADM_VERSION;

const char kSysinfoHelp[] =
    "  sysinfo [PART]                    processor, Windows version, mutex name\n";

int SysinfoCommand(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    PrintHelp(kSysinfoHelp);
    return FinishOutput();
  }
  if (argc > 2) return Usage("sysinfo takes at most one part name", kSysinfoHelp);
  static const char* const kArchitectures[] = {"other", "x86", "x64"};
  int architecture = ProcessorArchitecture();
  zustring line;
  line.Format("processor architecture: %d (%s)", architecture,
              kArchitectures[architecture >= 0 && architecture <= 2 ? architecture : 0]);
  PrintLine(line);
  line.Format("windows version code: %d", WindowsVersionCode());
  PrintLine(line);
  zustring part("zuadm"), error;
  if (argc == 2 && !Utf8ToLatin1Strict(argv[1], part, error)) return Usage(error, kSysinfoHelp);
  char name[256];
  if (InstanceMutexName(name, sizeof name, part.c_str()) < 0) {
    return Fail("the part name is too long for a mutex name");
  }
  PrintLine(zustring("instance mutex name: ") + name);
  return FinishOutput();
}

const char kHttpHelp[] =
    "  http [-x HOST[:PORT]] [-u USER:PASSWORD] [-k] [-G] [-d NAME=VALUE]...\n"
    "       [-F NAME=VALUE | -F NAME=@FILE]... [-o FILE] [-i] URL\n"
    "                                    GET, or POST with -d or -F fields\n";
const char kCertHelp[] =
    "  cert list [-m]                    the personal certificate store\n"
    "  cert import FILE.pfx [-m]         a PFX file into the certificate stores\n";
const char kTlsHelp[] =
    "  tls check HOST:PORT [-k]          a TLS server's chain and the verdict on it\n";

/* cert and tls take the words after their name. */
int CertEntry(int argc, char** argv) {
  return CertCommand(std::vector<const char*>(argv + 1, argv + argc),
                     Options().root == HKEY_LOCAL_MACHINE);
}
int TlsEntry(int argc, char** argv) {
  return TlsCommand(std::vector<const char*>(argv + 1, argv + argc));
}

/* The top-level commands. A row is a command's name, its entry function
** (called with the command's own argc and argv, argv[0] its name; see
** commands.h) and its help text, usage lines indented by two blanks. */
struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* help;
};
const Command kCommands[] = {
    {"settings", SettingsCommand, kSettingsHelp},
    {"record", RecordCommand, kRecordHelp},
    {"export", ExportCommand, kExportHelp},
    {"import", ImportCommand, kImportHelp},
    {"sysinfo", SysinfoCommand, kSysinfoHelp},
    {"http", HttpCommand, kHttpHelp},
    {"cert", CertEntry, kCertHelp},
    {"tls", TlsEntry, kTlsHelp},
};

const char kOptionsHelp[] =
    "usage: zuadm [OPTIONS] COMMAND ARGUMENTS (options may also follow the command)\n"
    "  -w DIR     keep settings in the file tree below DIR (default ./zu-settings)\n"
    "  -R         keep settings in the registry instead\n"
    "  -m         use HKEY_LOCAL_MACHINE instead of HKEY_CURRENT_USER\n"
    "  -h         show this text; COMMAND --help shows one command's\n"
    "  --version  show zuadm's version\n"
    "  --         ends the options, so that a text may start with -\n"
    "commands (KEYPATH levels are separated by \\ or /):\n";

void PrintUsage(FILE* out) {
  std::fputs(kOptionsHelp, out);
  for (const Command& command : kCommands) std::fputs(command.help, out);
}

}  // namespace

int main(int argc, char** argv) {
  SetStoreBaseDirectory(Options().directory);
  // The options before the command; the command reads those after it.
  // getopt takes a word that starts with -- for the end of the options, so
  // --version and --help are looked for first.
  for (int i = 1; i < argc && argv[i][0] == '-' && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("zuadm %s\n", kVersion);
      return FinishOutput();
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      PrintUsage(stdout);
      return FinishOutput();
    }
    if (argv[i][std::strlen(argv[i]) - 1] == 'w') ++i;  // -w DIR
  }
  opterr = 1;
  for (int c; (c = getopt(argc, argv, "w:Rmh")) != -1;) {
    zustring value, error;
    if (optarg && !Utf8ToLatin1Strict(optarg, value, error)) return Usage(error);
    if (StoreOption(c, value)) continue;
    PrintUsage(c == 'h' ? stdout : stderr);
    return c == 'h' ? FinishOutput() : kUsage;
  }
  if (optind >= argc) {
    std::fputs("zuadm: no command\n", stderr);
    PrintUsage(stderr);
    return kUsage;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[optind], command.name) != 0) continue;
    if (optind + 1 < argc && std::strcmp(argv[optind + 1], "--help") == 0) {
      PrintHelp(command.help);
      return FinishOutput();
    }
    return command.run(argc - optind, argv + optind);
  }
  std::fprintf(stderr, "zuadm: unknown command %s\n", argv[optind]);
  PrintUsage(stderr);
  return kUsage;
}
