#include "app/program_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifndef H264_VERSION
#define H264_VERSION "0.0.0"
#endif

const char* program_version() { return H264_VERSION; }

bool CommandLine::has(std::string_view flag) const {
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

const std::string* CommandLine::value(std::string_view option) const {
  const std::string* found = nullptr;
  for (const auto& [name, given] : values)
    if (name == option) found = &given;
  return found;
}

namespace {

// The valued option `arg` names ("--from" or "--from=..."), or empty.
std::string_view valued_option_of(const std::string& arg,
                                  std::initializer_list<std::string_view> valued) {
  for (std::string_view option : valued) {
    if (arg == option || (arg.size() > option.size() && arg.compare(0, option.size(), option) == 0 &&
                          arg[option.size()] == '=')) {
      return option;
    }
  }
  return {};
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& args,
                               std::initializer_list<std::string_view> known_flags,
                               std::initializer_list<std::string_view> valued_options) {
  CommandLine line;
  bool options_done = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::string_view valued = options_done ? std::string_view{} : valued_option_of(arg, valued_options);
    if (!valued.empty()) {
      if (arg.size() > valued.size()) {
        line.values.emplace_back(valued, arg.substr(valued.size() + 1));
      } else if (i + 1 < args.size()) {
        line.values.emplace_back(valued, args[++i]);
      } else if (line.missing_value.empty()) {
        line.missing_value = valued;
      }
    } else if (options_done || arg.size() < 2 || arg[0] != '-') {
      line.operands.push_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (std::find(known_flags.begin(), known_flags.end(), arg) != known_flags.end()) {
      line.flags.push_back(arg);
    } else if (line.unknown.empty()) {
      line.unknown = arg;
    }
  }
  return line;
}

bool answer_help_or_version(const CommandLine& line, const char* program, const char* usage) {
  if (line.help) {
    std::fputs(usage, stdout);
  } else if (line.version) {
    std::printf("%s %s\n", program, program_version());
  } else {
    return false;
  }
  std::fflush(stdout);
  return true;
}

bool answer_help_or_version(int argc, char** argv, const char* program, const char* usage) {
  if (argc != 2) return false;
  return answer_help_or_version(parse_command_line({program, argv[1]}, {}), program, usage);
}

int refuse_command_line(const char* program, const std::string& problem, const char* usage) {
  std::fprintf(stderr, "%s: %s\n%s", program, problem.c_str(), usage);
  std::fflush(stderr);
  return 2;
}

std::optional<int> early_exit_status(const CommandLine& line, const char* program,
                                     const char* usage) {
  if (answer_help_or_version(line, program, usage)) return 0;
  if (!line.unknown.empty()) {
    return refuse_command_line(program, "unknown option '" + line.unknown + "'", usage);
  }
  if (!line.missing_value.empty()) {
    return refuse_command_line(program, "option '" + line.missing_value + "' needs a value", usage);
  }
  return std::nullopt;
}
