// Converts camera recordings to MP4 files beside them, without re-encoding.
//
//   convert_mp4 [--quiet] FILE.264...
//
// One result line per file: "OK  in -> out" or "FAILED  in". On a terminal a
// progress bar shows while each file converts. --quiet prints only the result
// lines (no progress bar, no frame-rate line). Exit status: 0 when every file
// converted, 1 when any failed, 2 on a usage error.
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

#include "app/program_info.h"
#include "convert/remux.h"

namespace {

constexpr int kBarWidth = 30;

void print_usage() {
  std::printf("Usage: convert_mp4 [--quiet] FILE.264...\n"
              "Writes FILE.mp4 beside each recording; exits 1 when any conversion failed.\n");
}

void draw_progress_bar(const std::string& name, float fraction) {
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string bar(static_cast<size_t>(kBarWidth), '.');
  for (int i = 0; i < filled && i < kBarWidth; ++i) bar[static_cast<size_t>(i)] = '#';
  std::printf("\r[%s] %3d%%  %s", bar.c_str(), static_cast<int>(fraction * 100.0f), name.c_str());
}

// The bar's line is cleared so the result line replaces it.
void clear_progress_bar() { std::printf("\r\033[K"); }

bool convert_file(const std::string& input, bool show_bar, bool quiet) {
  const std::string output = mp4_output_path(input);
  ProgressCallback progress;
  if (show_bar) progress = [&input](float fraction) { draw_progress_bar(input, fraction); };
  const bool ok = remux_to_mp4(input, output, progress, !quiet);
  if (show_bar) clear_progress_bar();
  if (ok) {
    std::printf("OK  %s -> %s\n", input.c_str(), output.c_str());
  } else {
    std::printf("FAILED  %s\n", input.c_str());
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // The decoder's complaints go to standard error; Windows' C runtime buffers
  // it when it is a file, which would put them after the result line.
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  bool quiet = false;
  std::vector<std::string> inputs;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options_done && !std::strcmp(arg, "--")) {
      options_done = true;
    } else if (!options_done && !std::strcmp(arg, "--quiet")) {
      quiet = true;
    } else if (!options_done && (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h"))) {
      print_usage();
      return 0;
    } else if (!options_done && !std::strcmp(arg, "--version")) {
      std::printf("convert_mp4 %s\n", program_version());
      return 0;
    } else if (!options_done && arg[0] == '-' && arg[1] != '\0') {
      std::fprintf(stderr, "convert_mp4: unknown option '%s'\n", arg);
      return 2;
    } else {
      inputs.emplace_back(arg);
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "Usage: convert_mp4 [--quiet] FILE.264...\n");
    return 2;
  }
  const bool show_bar = !quiet && stdout_is_terminal();
  int failed = 0;
  for (const std::string& input : inputs) {
    if (!convert_file(input, show_bar, quiet)) ++failed;
  }
  return failed ? 1 : 0;
}
