/*
** The command-line option parser and its process-wide state.
*/
#include "misc/getopt.h"

#include <cerrno>
#include <cstdint>
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

int getopt(int argc, char* const argv[], const char* optstring) noexcept {
  if (optind >= argc) return EndOfOptions();
  // A scan position outside the current argument is left from an earlier
  // parse that stopped early (the caller set optind back or passes another
  // vector): start the argument afresh rather than read stale text.
  if (nextChar) {
    const char* argument = argv[optind];
    uintptr_t at = reinterpret_cast<uintptr_t>(nextChar);
    uintptr_t start = reinterpret_cast<uintptr_t>(argument);
    if (!argument || at <= start || at > start + std::strlen(argument)) nextChar = nullptr;
  }
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
  const char* declared = letter == ':' ? nullptr : std::strchr(optstring, letter);
  if (declared) {
    if (declared[1] != ':') {
      if (*nextChar == 0) {
        ++optind;
        nextChar = nullptr;
      }
      optarg = nullptr;
      return static_cast<unsigned char>(letter);
    }
    ++optind;
    if (*nextChar) {
      optarg = nextChar;
      nextChar = nullptr;
      return static_cast<unsigned char>(letter);
    }
    if (optind < argc && argv[optind]) {
      optarg = argv[optind++];
      nextChar = nullptr;
      return static_cast<unsigned char>(letter);
    }
  }
  optarg = nullptr;
  errno = EINVAL;
  if (opterr) std::perror("get command line option");
  return '?';
}
