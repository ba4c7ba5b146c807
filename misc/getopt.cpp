/*
** The command-line option parser and its process-wide state.
*/
#include "misc/getopt.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" {
int optind = 1;
char* optarg = nullptr;
int opterr = 1;
}
char OptionSwitchChar = '-';

namespace {
/* Where scanning stands inside a group of options; none between arguments. */
char* nextChar = nullptr;

int EndOfOptions() {
  nextChar = nullptr;
  optarg = nullptr;
  return -1;
}
}  // namespace

int getopt(int argc, char* const argv[], const char* spec) noexcept {
  if (optind >= argc) return EndOfOptions();
  if (!nextChar) {
    char* argument = argv[optind];
    if (!argument || argument[0] != OptionSwitchChar) return EndOfOptions();
    if (argument[1] == OptionSwitchChar) {
      ++optind;
      return EndOfOptions();
    }
    nextChar = argument + 1;
  }
  char letter = *nextChar++;
  if (letter == 0) {
    ++optind;
    return EndOfOptions();
  }
  const char* declared = letter == ':' ? nullptr : std::strchr(spec, letter);
  if (declared) {
    if (declared[1] != ':') {
      if (*nextChar == 0) {
        ++optind;
        nextChar = nullptr;
      }
      optarg = nullptr;
      return letter;
    }
    ++optind;
    if (*nextChar) {
      optarg = nextChar;
      nextChar = nullptr;
      return letter;
    }
    if (optind < argc) {
      optarg = argv[optind++];
      nextChar = nullptr;
      return letter;
    }
  }
  optarg = nullptr;
  errno = EINVAL;
  if (opterr) std::perror("get command line option");
  return '?';
}
