// Converts camera recordings to MP4 files beside them, without re-encoding.
//
//   convert_mp4 [--quiet] [--no-sound] FILE.264...
//
// One result line per file: "OK  in -> out", followed by "  (notes)" when
// something was left out or an existing file replaced, or "FAILED  in:
// reason". Each MP4 goes beside its recording; two recordings that would
// share one (a.264 and a.h264) get distinct names (a.mp4, a.h264.mp4). On a
// terminal a progress bar shows while each file converts. --quiet prints only
// the result lines (no progress bar, no frame-rate line); --no-sound leaves
// the sound out of the MP4s. Interrupted (SIGINT, SIGTERM), it removes the
// temporary file it was writing. Exit status: 0 when every file converted, 1
// when any failed, 2 on a usage error.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define stdout_is_terminal() _isatty(_fileno(stdout))
#else
#include <unistd.h>
#define stdout_is_terminal() isatty(STDOUT_FILENO)
#endif

extern "C" {
#include <libavutil/log.h>
}

#include "app/program_info.h"
#include "convert/output_paths.h"
#include "convert/remux.h"
#include "platform/arguments.h"
#include "platform/console.h"

namespace {

constexpr int kBarWidth = 30;

const char kProgram[] = "convert_mp4";
const char kUsage[] =
    "Usage: convert_mp4 [--quiet] [--no-sound] FILE.264...\n"
    "Writes FILE.mp4 beside each recording, with its sound as AAC unless --no-sound;\n"
    "recordings that would share an MP4 get distinct names (a.264 -> a.mp4,\n"
    "a.h264 -> a.h264.mp4). An existing MP4 is replaced, and the result line says so.\n"
    "--quiet prints only the result lines. Exits 1 when any conversion failed.\n";

void draw_progress_bar(const std::string& name, float fraction) {
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string bar(static_cast<size_t>(kBarWidth), '.');
  for (int i = 0; i < filled && i < kBarWidth; ++i) bar[static_cast<size_t>(i)] = '#';
  std::printf("\r[%s] %3d%%  %s", bar.c_str(), static_cast<int>(fraction * 100.0f), name.c_str());
}

// The bar's line is cleared so the result line replaces it.
void clear_progress_bar() { std::printf("\r\033[K"); }

bool convert_file(const std::string& input, const std::string& output, bool show_bar, bool quiet,
                  bool sound) {
  ProgressCallback progress;
  if (show_bar) progress = [&input](float fraction) { draw_progress_bar(input, fraction); };
  RemuxOptions options;
  options.print_frame_rate = !quiet;
  options.sound = sound;
  const RemuxResult result = convert_to_mp4(input, output, progress, options);
  if (show_bar) clear_progress_bar();
  std::fputs(remux_result_line(input, output, result).c_str(), stdout);
  return result.succeeded;
}

// The temporary MP4 goes with the process; then the signal ends it as usual.
extern "C" void remove_temporary_and_stop(int signal_number) {
  remove_active_temporaries();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics are not the user's business
  // The decoder's complaints go to standard error; Windows' C runtime buffers
  // it when it is a file, which would put them after the result line.
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  use_utf8_console_output();
  const CommandLine line =
      parse_command_line(program_arguments(argc, argv), {"--quiet", "--no-sound"});
  if (const auto status = early_exit_status(line, kProgram, kUsage)) return *status;
  if (line.operands.empty()) return refuse_command_line(kProgram, "no recording named", kUsage);
  const bool quiet = line.has("--quiet");
  const bool sound = !line.has("--no-sound");
  std::signal(SIGINT, remove_temporary_and_stop);
  std::signal(SIGTERM, remove_temporary_and_stop);
  const bool show_bar = !quiet && stdout_is_terminal();
  int failed = 0;
  const std::vector<std::string> outputs = batch_output_paths(line.operands);
  for (size_t i = 0; i < line.operands.size(); ++i) {
    if (!convert_file(line.operands[i], outputs[i], show_bar, quiet, sound)) ++failed;
  }
  return failed ? 1 : 0;
}
