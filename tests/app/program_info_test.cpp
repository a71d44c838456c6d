// How the programs split their command lines: flags they know, operands, the
// first unknown option, and "--" ending the options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/program_info.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, FlagsOperandsAndUnknownOptions) {
  struct Case {
    const char* name;
    Args args;  // after the program's name
    bool help, version;
    Args flags, operands;
    std::string unknown;
  };
  const Case cases[] = {
      {"nothing", {}, false, false, {}, {}, ""},
      {"operands in order", {"b.264", "a b.264"}, false, false, {}, {"b.264", "a b.264"}, ""},
      {"known flag anywhere", {"a.264", "--quiet"}, false, false, {"--quiet"}, {"a.264"}, ""},
      {"help, short help, version", {"-h", "--version"}, true, true, {}, {}, ""},
      {"unknown option", {"--verbose", "a.264"}, false, false, {}, {"a.264"}, "--verbose"},
      {"only the first unknown", {"-x", "--y"}, false, false, {}, {}, "-x"},
      {"a flag of another program", {"--times"}, false, false, {}, {}, "--times"},
      {"a lone dash is a name", {"-"}, false, false, {}, {"-"}, ""},
      {"after -- all are names", {"--", "-x.264", "--help", "--quiet"}, false, false, {},
       {"-x.264", "--help", "--quiet"}, ""},
      {"empty argument is a name", {""}, false, false, {}, {""}, ""},
      {"the actions' own words are names", {"__CONVERT__"}, false, false, {}, {"__CONVERT__"}, ""},
      {"names in UTF-8", {"Caméra 日本.264"}, false, false, {}, {"Caméra 日本.264"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Args args = {"program"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CommandLine line = parse_command_line(args, {"--quiet", "--no-sound"});
    EXPECT_EQ(line.help, c.help);
    EXPECT_EQ(line.version, c.version);
    EXPECT_EQ(line.flags, c.flags);
    EXPECT_EQ(line.operands, c.operands);
    EXPECT_EQ(line.unknown, c.unknown);
  }
}

TEST(CommandLine, OptionsWithValues) {
  struct Case {
    const char* name;
    Args args;
    std::string from, to;  // "-" when not given
    Args operands;
    std::string missing;
  };
  const Case cases[] = {
      {"value after a space", {"--from", "12", "a.264"}, "12", "-", {"a.264"}, ""},
      {"value after =", {"--to=08:04:12", "a.264"}, "-", "08:04:12", {"a.264"}, ""},
      {"a value that looks like an option", {"--from", "-3", "a.264"}, "-3", "-", {"a.264"}, ""},
      {"the last one counts", {"--from", "1", "--from=2"}, "2", "-", {}, ""},
      {"an empty value after =", {"--from=", "a.264"}, "", "-", {"a.264"}, ""},
      {"no value at the end", {"a.264", "--to"}, "-", "-", {"a.264"}, "--to"},
      {"after -- it is a name", {"--", "--from", "1"}, "-", "-", {"--from", "1"}, ""},
      {"a longer option is not it", {"--fromage"}, "-", "-", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Args args = {"program"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CommandLine line = parse_command_line(args, {"--quiet"}, {"--from", "--to"});
    EXPECT_EQ(line.value("--from") ? *line.value("--from") : "-", c.from);
    EXPECT_EQ(line.value("--to") ? *line.value("--to") : "-", c.to);
    EXPECT_EQ(line.operands, c.operands);
    EXPECT_EQ(line.missing_value, c.missing);
  }
  const char usage[] = "Usage: tool\n";
  testing::internal::CaptureStderr();
  EXPECT_EQ(early_exit_status(parse_command_line({"tool", "--to"}, {}, {"--to"}), "tool", usage), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "tool: option '--to' needs a value\n" + std::string(usage));
}

TEST(CommandLine, HelpAndVersionAnswerAndUnknownOptionsAreRefused) {
  const char usage[] = "Usage: tool FILE\n";
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(early_exit_status(parse_command_line({"tool", "--help", "--bad"}, {}), "tool", usage), 0);
  EXPECT_EQ(early_exit_status(parse_command_line({"tool", "--version"}, {}), "tool", usage), 0);
  EXPECT_EQ(early_exit_status(parse_command_line({"tool", "--bad", "x"}, {}), "tool", usage), 2);
  EXPECT_EQ(early_exit_status(parse_command_line({"tool", "x"}, {}), "tool", usage), std::nullopt);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, std::string(usage) + "tool " + program_version() + "\n");
  EXPECT_EQ(err, "tool: unknown option '--bad'\n" + std::string(usage));
}

}  // namespace
