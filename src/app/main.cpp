// The program: SDL's main wrapper hands over UTF-8 arguments.
#include <SDL.h>

#include "app/action_loop.h"
#include "app/program_info.h"
#include "platform/console.h"

namespace {

const char kUsage[] =
    "Usage: h264player [RECORDING.264 | __CONVERT__ | __RTSP__]\n"
    "Plays a camera recording, converts recordings to MP4 or shows a camera's live\n"
    "RTSP stream. Without an argument the start menu opens.\n"
    "  --help     this text\n"
    "  --version  the program's version\n";

}  // namespace

int main(int argc, char** argv) {
  use_parent_console();
  if (answer_help_or_version(argc, argv, "h264player", kUsage)) return 0;
  return run_application(argc, argv, program_screens());
}
