/*
** zuadm's options, output and store sessions, shared by its commands.
*/
#include <cstdio>
#include <cstring>
#include <string>

#include "misc/getopt.h"
#include "settings/regvaluestore.h"
#include "tools/zuadm/commands.h"
#include "tools/zuadm/key_path.h"
#include "tools/zuadm/text_io.h"

namespace {

/* How long a command waits for another zuadm to finish with the store. */
const unsigned kLockSeconds = 60;
/* The short options of every command: the store's, -f and -o. */
const char kShortOptions[] = "w:Rmf:o:";

struct LongOption {
  const char* name;
  unsigned flag;  // of the accepted options; 0: every command takes it
};
const LongOption kLongOptions[] = {{"json", kJsonOption}, {"force", kForceOption}, {"help", 0}};

bool TakesArgument(char letter) {
  const char* at = std::strchr(kShortOptions, letter);
  return letter != ':' && at && at[1] == ':';
}

}  // namespace

ToolOptions& Options() {
  static ToolOptions options;
  return options;
}

void PrintHelp(const char* help) {
  std::fputs(help, stdout);
}

int Usage(const zustring& message, const char* help) {
  if (!message.IsEmpty()) {
    std::fprintf(stderr, "zuadm: %s\n", zustring::Latin1ToUtf8(message.c_str()).c_str());
  }
  if (help) {
    std::fputs(help, stderr);
  } else {
    std::fputs("(zuadm -h lists the commands)\n", stderr);
  }
  return kUsage;
}

int Fail(const zustring& message) {
  zustring utf8 = zustring::Latin1ToUtf8(message.c_str(), message.Length());
  std::fprintf(stderr, "zuadm: %s\n", utf8.c_str());
  return kFailed;
}

void Print(const zustring& latin1) {
  PrintRaw(zustring::Latin1ToUtf8(latin1.c_str(), latin1.Length()));
}

void PrintLine(const zustring& latin1) {
  Print(latin1);
  std::fputc('\n', stdout);
}

void PrintRaw(const zustring& utf8) {
  std::fwrite(utf8.c_str(), 1, utf8.Length(), stdout);
}

int FinishOutput() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return kOk;
  return Fail("cannot write the output");
}

bool StoreOption(int letter, const zustring& argument) {
  switch (letter) {
    case 'w':
      Options().directory = argument;
      SetStoreBaseDirectory(argument);
      return true;
    case 'R':
      Options().registry = true;
      return true;
    case 'm':
      Options().root = HKEY_LOCAL_MACHINE;
      return true;
  }
  return false;
}

bool ParseArguments(int argc, char** argv, unsigned accepted, const char* help, Arguments& args,
                    int& code) {
  code = kUsage;
  auto refuse = [&](const zustring& message) {
    Usage(message, help);
    return false;
  };
  // Options go in front for getopt, with the arguments of those that take
  // one; long options are read here.
  std::vector<char*> options = {argv[0]};
  std::vector<const char*> words;
  bool ended = false;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (ended || word[0] != '-' || !word[1] || (word[1] >= '0' && word[1] <= '9')) {
      words.push_back(word);
    } else if (std::strcmp(word, "--") == 0) {
      ended = true;
    } else if (word[1] == '-') {
      const LongOption* known = nullptr;
      for (const LongOption& option : kLongOptions) {
        if (std::strcmp(word + 2, option.name) == 0) known = &option;
      }
      if (!known || (known->flag && !(accepted & known->flag))) {
        return refuse(zustring("this command has no option ") + word);
      }
      if (known->flag == kJsonOption) args.json = true;
      if (known->flag == kForceOption) args.force = true;
      if (known->flag == 0) args.help = true;
    } else {
      options.push_back(argv[i]);
      size_t n = std::strlen(word);
      for (size_t j = 1; j < n; ++j) {
        if (!TakesArgument(word[j])) continue;
        if (j + 1 == n && i + 1 < argc) options.push_back(argv[++i]);
        break;
      }
    }
  }
  if (args.help) {
    PrintHelp(help);
    code = FinishOutput();
    return false;
  }
  optind = 1;
  opterr = 1;
  int count = static_cast<int>(options.size());
  for (int c; (c = getopt(count, options.data(), kShortOptions)) != -1;) {
    zustring error;
    zustring value;
    if (optarg && !Utf8ToLatin1Strict(optarg, value, error)) return refuse(error);
    if (StoreOption(c, value)) continue;
    if (c == 'f' && (accepted & kFieldsFileOption)) {
      args.fieldsFile = value;
    } else if (c == 'o' && (accepted & kOutputOption)) {
      args.outputFile = value;
    } else {
      zustring message;
      if (c != '?') message.Format("this command has no option -%c", c);
      return refuse(message);
    }
  }
  for (const char* word : words) {
    zustring text, error;
    if (!Utf8ToLatin1Strict(word, text, error)) return refuse(error);
    args.words.push_back(text);
  }
  return true;
}

int KeyPathArgument(const zustring& text, zustring& path) {
  zustring error;
  if (!ParseKeyPath(text, !Options().registry, path, error)) return Usage(error);
  return kOk;
}

int Session::Begin(bool writes) {
  zustring error;
  if (!lock_.Acquire(Options().registry, writes, kLockSeconds, error)) return Fail(error);
  store_ = MakeStore(Options().registry, Options().root);
  journal_ = std::make_unique<Journal>(*store_);
  if (!journal_->Recover(error)) return Fail(error);
  return kOk;
}
