// The option parser: option sequences over argument vectors, the state it
// leaves in optind and optarg, and its error line on stderr.
#include "misc/getopt.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

/* Parses args (after a program name) with spec to the end; each result is
** the letter, with "=optarg" when one was set, then "end@optind". */
std::vector<std::string> Parse(std::vector<std::string> args, const char* spec) {
  args.insert(args.begin(), "prog");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  optind = 1;
  std::vector<std::string> results;
  for (int i = 0; i < 20; ++i) {
    int letter = getopt(static_cast<int>(args.size()), argv.data(), spec);
    if (letter == -1) {
      EXPECT_EQ(optarg, nullptr);
      results.push_back(std::string("end@").append(std::to_string(optind)));
      break;
    }
    std::string result(1, static_cast<char>(letter));
    if (optarg) result.append("=").append(optarg);
    results.push_back(result);
  }
  return results;
}

using Results = std::vector<std::string>;

TEST(Getopt, Sequences) {
  opterr = 0;
  EXPECT_EQ(Parse({"-a", "-bX", "file"}, "ab:"), (Results{"a", "b=X", "end@3"}));
  EXPECT_EQ(Parse({"-ab", "V", "rest"}, "ab:"), (Results{"a", "b=V", "end@3"}));
  EXPECT_EQ(Parse({"-ba", "x"}, "ab:"), (Results{"b=a", "end@2"}));
  EXPECT_EQ(Parse({"-aa", "-a"}, "ab:"), (Results{"a", "a", "a", "end@3"}));
  EXPECT_EQ(Parse({"--", "-a"}, "ab:"), (Results{"end@2"}));
  EXPECT_EQ(Parse({"-a", "-", "-a"}, "ab:"), (Results{"a", "end@3"}));
  EXPECT_EQ(Parse({"file", "-a"}, "ab:"), (Results{"end@1"}));
  EXPECT_EQ(Parse({}, "ab:"), (Results{"end@1"}));
  // An option's separate argument is taken even when it looks like an option.
  EXPECT_EQ(Parse({"-b", "-a"}, "ab:"), (Results{"b=-a", "end@3"}));

  // Errors: an undeclared letter, ':' itself, a missing argument.
  EXPECT_EQ(Parse({"-x", "-a"}, "ab:"), (Results{"?", "end@2"}));
  EXPECT_EQ(Parse({"-xa"}, "ab:"), (Results{"?", "a", "end@2"}));
  EXPECT_EQ(Parse({"-:"}, "a:b:"), (Results{"?", "end@2"}));
  EXPECT_EQ(Parse({"-a", "-b"}, "ab:"), (Results{"a", "?", "end@3"}));

  // A null entry that the count still covers is no argument.
  std::string program = "prog", option = "-b";
  char* withNull[] = {program.data(), option.data(), nullptr};
  optind = 1;
  EXPECT_EQ(getopt(3, withNull, "ab:"), '?');
  EXPECT_EQ(optarg, nullptr);

  // Letters above 127 come back as positive values; 0xFF is no end.
  std::string high = "-\xE9\xFF";
  char* highArgs[] = {program.data(), high.data(), nullptr};
  optind = 1;
  EXPECT_EQ(getopt(2, highArgs, "\xE9\xFF"), 0xE9);
  EXPECT_EQ(getopt(2, highArgs, "\xE9\xFF"), 0xFF);
  EXPECT_EQ(getopt(2, highArgs, "\xE9\xFF"), -1);

  // Another switch character.
  OptionSwitchChar = '/';
  EXPECT_EQ(Parse({"/a", "-b", "/b", "v"}, "ab:"), (Results{"a", "end@2"}));
  EXPECT_EQ(Parse({"/a", "/b", "v", "//", "x"}, "ab:"), (Results{"a", "b=v", "end@5"}));
  OptionSwitchChar = '-';
  opterr = 1;
}

TEST(Getopt, NewParseAfterAnEarlyStop) {
  opterr = 0;
  std::string program = "prog", group = "-xab";
  char* argv[] = {program.data(), group.data(), nullptr};
  optind = 1;
  EXPECT_EQ(getopt(2, argv, "ab:"), '?');  // the host stops here, mid-group
  // Another vector from index 1: the old group is not continued.
  EXPECT_EQ(Parse({"-b", "v"}, "ab:"), (Results{"b=v", "end@3"}));
  opterr = 1;
}

TEST(Getopt, ErrorLine) {
  opterr = 1;
  testing::internal::CaptureStderr();
  errno = 0;
  EXPECT_EQ(Parse({"-b"}, "ab:"), (Results{"?", "end@2"}));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "get command line option: Invalid argument\n");

  opterr = 0;
  testing::internal::CaptureStderr();
  errno = 0;
  EXPECT_EQ(Parse({"-b"}, "ab:"), (Results{"?", "end@2"}));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  opterr = 1;
}

}  // namespace
