// The program: SDL's main wrapper hands over UTF-8 arguments.
#include <SDL.h>

#include <vector>

#include "app/action_loop.h"
#include "app/program_info.h"
#include "platform/console.h"

namespace {

const char kProgram[] = "h264player";
const char kUsage[] =
    "Usage: h264player [RECORDING.264]\n"
    "Plays a camera recording. Without one, the start menu opens: play a recording,\n"
    "convert recordings to MP4, or watch a camera's live RTSP stream.\n"
    "  --help     this text\n"
    "  --version  the program's version\n";

}  // namespace

int main(int argc, char** argv) {
  use_parent_console();
  use_utf8_console_output();
  const CommandLine line = parse_command_line(std::vector<std::string>(argv, argv + argc), {});
  if (const auto status = early_exit_status(line, kProgram, kUsage)) return *status;
  // The first operand is the first action, as it stands (a recording, or one of
  // the actions' own words); the program's path stays first for the logo.
  std::vector<char*> forwarded = {argc > 0 ? argv[0] : const_cast<char*>(kProgram)};
  std::vector<std::string> operands = line.operands;
  if (!operands.empty()) forwarded.push_back(operands.front().data());
  return run_application(static_cast<int>(forwarded.size()), forwarded.data(), program_screens());
}
