// The command lines of the package's programs: --help and --version, which
// every program answers, flags checked against the program's own, and the
// usage printed for a line the program cannot take.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A command line split into what the program knows and the rest.
struct CommandLine {
  bool help = false;                  // --help or -h
  bool version = false;               // --version
  std::vector<std::string> flags;     // the program's own flags given, in order
  std::vector<std::string> operands;  // the other arguments, in order
  std::string unknown;                // the first option the program does not know
  // The program's options that take a value, as given ("--from 12" or
  // "--from=12"), in order; the last one given counts.
  std::vector<std::pair<std::string, std::string>> values;
  std::string missing_value;          // the first such option given without one
  bool has(std::string_view flag) const;
  // The value of an option that takes one; null when it was not given.
  const std::string* value(std::string_view option) const;
};

// Splits `args`, the program's name first (it is skipped). An argument starting
// with '-' is an option, except "-" alone and everything after "--", which
// are operands. Options are --help, -h, --version, `known_flags` and
// `valued_options` (whose value is the next argument, whatever it is, or
// follows "="); any other is noted in `unknown`.
CommandLine parse_command_line(const std::vector<std::string>& args,
                               std::initializer_list<std::string_view> known_flags,
                               std::initializer_list<std::string_view> valued_options = {});

// For a line asking --help: prints `usage`; for --version: "<program>
// <version>"; both on standard output. True when it answered, and the caller
// then exits with status 0.
bool answer_help_or_version(const CommandLine& line, const char* program, const char* usage);

// The same for a program whose only arguments are --help or --version alone
// (argv as main has it).
bool answer_help_or_version(int argc, char** argv, const char* program, const char* usage);

// Prints "<program>: <problem>" and then `usage` on standard error; returns 2,
// the exit status of a command line the program cannot take.
int refuse_command_line(const char* program, const std::string& problem, const char* usage);

// The exit status of a line the program ends on at once: 0 after answering
// --help or --version, 2 after refusing an unknown option or an option
// without its value (with the usage).
// Empty when the program goes on.
std::optional<int> early_exit_status(const CommandLine& line, const char* program,
                                     const char* usage);

// The package's version, such as "1.0.0".
const char* program_version();
