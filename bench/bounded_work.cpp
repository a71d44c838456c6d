// Bounded work on rough files. Makes camera-sized recordings (1280x720,
// sensor noise, 4 Mbit/s, sound after its pictures) with the maker, then
// prints, each as a ratio against a reference measured in the same run:
//  - load time per MiB of a recording with a unit stuffed with block headers
//    against a normal recording of about the same size (target: at most 4:
//    each header is looked at a few times, video bytes once; a walk per
//    header, as once, made it grow with the square of the run);
//  - how long a conversion takes to stop after cancel, in its first pass (a
//    recording without sound, which that pass reads whole) and in its second,
//    against the 100 ms it may take (target: at most 1);
//  - the converter's peak memory on a recording with 128 MiB of erased flash
//    against the same recording without it (target: at most 2: the window
//    holds at most one unit's bound of it, where it once grew with the
//    stretch, by 300 MB here).
// Every file it writes is removed at the end.
//
//   bounded_work
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

#include "convert/remux.h"
#include "recording/recording.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

bool make(const std::string& path, const std::string& options) {
  const std::string cmd = std::string(H264_TOOLS_DIR) + "/make_recording --out " + path +
                          " --width 1280 --height 720 --fps 25 --gop 50 --noise 12 --bitrate 4000"
                          " --audio --sound-after " + options + " > /dev/null";
  return std::system(cmd.c_str()) == 0;
}

double file_mib(const std::string& path) {
  return static_cast<double>(std::filesystem::file_size(path)) / 1048576.0;
}

// Best of five whole loads (read, index, clock), with the loader's lines silenced.
double best_load_ms(const std::string& path) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  double best = 1e300;
  for (int run = 0; run < 5; ++run) {
    Recording recording;
    const auto t0 = Clock::now();
    load_recording(path, recording);
    best = std::min(best, ms_since(t0));
  }
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(null);
  close(saved);
  return best;
}

// Milliseconds from setting cancel to the conversion's return. In the first
// pass the flag is set by a timer after `delay_ms`; in the second by the
// progress report that first passes 30 %.
double cancel_latency_ms(const std::string& input, const std::string& output, bool first_pass,
                         int delay_ms) {
  std::atomic<bool> cancel{false};
  Clock::time_point set_at;
  RemuxOptions options;
  options.print_frame_rate = false;
  options.cancel = &cancel;
  ProgressCallback progress;
  std::thread timer;
  if (first_pass) {
    timer = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      set_at = Clock::now();
      cancel = true;
    });
  } else {
    progress = [&](float f) {
      if (f > 0.3f && !cancel) {
        set_at = Clock::now();
        cancel = true;
      }
    };
  }
  const RemuxResult result = convert_to_mp4(input, output, progress, options);
  const auto returned = Clock::now();
  if (timer.joinable()) timer.join();
  if (result.succeeded || result.reason != "cancelled") return -1;
  return std::chrono::duration<double, std::milli>(returned - set_at).count();
}

// Peak memory of convert_mp4 on `input`, in its own process.
long converter_peak_kib(const std::string& input) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    const std::string command = std::string(H264_TOOLS_DIR) + "/convert_mp4";
    execl(command.c_str(), "convert_mp4", "--quiet", input.c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  av_log_set_level(AV_LOG_ERROR);
  const std::string tmp = "/tmp/bounded_work_" + std::to_string(getpid());
  std::filesystem::create_directories(tmp);
  const std::string normal = tmp + "/normal.264", stuffed = tmp + "/stuffed.264",
                    silent = tmp + "/silent.264", erased = tmp + "/erased.264";
  // 16 s of pictures, against 8 s whose picture 100 holds 250000 headers (4 MB).
  if (!make(normal, "--duration 16") ||
      !make(stuffed, "--duration 8 --header-run 250000 --header-run-at 100") ||
      !make(silent, "--duration 60") ||
      !make(erased, "--duration 16 --erased 134217728 --erased-after 100")) {
    std::fprintf(stderr, "cannot make the recordings\n");
    return 1;
  }
  const std::string silent_no_sound = tmp + "/no_sound.264";
  const std::string cmd = std::string(H264_TOOLS_DIR) + "/make_recording --out " + silent_no_sound +
                          " --width 1280 --height 720 --fps 25 --gop 50 --noise 12 --bitrate 4000"
                          " --duration 60 > /dev/null";
  if (std::system(cmd.c_str()) != 0) return 1;

  const double normal_per_mib = best_load_ms(normal) / file_mib(normal);
  const double stuffed_per_mib = best_load_ms(stuffed) / file_mib(stuffed);
  std::printf("load: normal %.1f MiB %.3f ms/MiB, header-stuffed %.1f MiB %.3f ms/MiB, ratio %.2f (target <= 4)\n",
              file_mib(normal), normal_per_mib, file_mib(stuffed), stuffed_per_mib,
              stuffed_per_mib / normal_per_mib);

  const double first = cancel_latency_ms(silent_no_sound, tmp + "/out1.mp4", true, 40);
  const double second = cancel_latency_ms(silent, tmp + "/out2.mp4", false, 0);
  const double erased_first = cancel_latency_ms(erased, tmp + "/out3.mp4", true, 20);
  std::printf("cancel: first pass %.1f ms (%.1f MiB without sound), second pass %.1f ms, "
              "first pass in erased flash %.1f ms; worst / 100 ms %.2f (target <= 1)\n",
              first, file_mib(silent_no_sound), second, erased_first,
              std::max({first, second, erased_first}) / 100.0);

  const long normal_kib = converter_peak_kib(normal);
  const long erased_kib = converter_peak_kib(erased);
  std::printf("convert peak: %.1f MiB normal, %.1f MiB with 128 MiB of erased flash, ratio %.2f (target <= 2)\n",
              normal_kib / 1024.0, erased_kib / 1024.0,
              static_cast<double>(erased_kib) / static_cast<double>(normal_kib));
  std::filesystem::remove_all(tmp);
  return 0;
}
