// Conversion speed: builds camera-like recordings with sound (4K, sensor
// noise, 8 Mbit/s; the source is made once into the benchmarks' cache) of
// 512 MiB and past 4 GiB by repeating a made recording's payload (its
// timestamps shifted so the clock runs on), the same without its sound,
// and the same video as a plain Annex-B stream, then times, each
// in its own process, best of two rounds side by side, against
// `ffmpeg -f h264 -framerate F -i raw.h264 -c copy out.mp4` (which has no
// sound to carry): our conversion with the sound as AAC (target: at most
// 0.6), of the recording without sound (at most 0.5) and with --no-sound
// (at most 0.5). Prints the times, the ratios, the machine's load and the
// peak memories (target: at most FFmpeg's + 64 MiB, whatever the file's size).
// Every file it writes is removed at the end.
//
//   remux_speed [--recording FILE.264] [--mib N]   (N: one size instead of both)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "big_recording.h"
#include "machine_load.h"
#include "convert/remux.h"
#include "recording/frame_rate.h"
#include "recording/recording.h"

namespace {

struct Run {
  double seconds = 0;
  long peak_kib = 0;
  bool ok = false;
};

// Runs the program with `args`, its output (the last argument) removed and
// every earlier write on its way to the disk first, so that no run waits
// for the one before it to be written out.
Run run_process(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::remove(args.back().c_str());
  sync();
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  Run run;
  if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    run.peak_kib = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return run;
}

Run best_of(const Run& a, const Run& b) {
  Run best = a.seconds <= b.seconds ? a : b;
  best.ok = a.ok && b.ok;
  best.peak_kib = std::max(a.peak_kib, b.peak_kib);
  return best;
}

// Our conversions of a recording of at least `bytes` bytes made from `one`,
// side by side with ffmpeg's copy of the same video.
bool compare_at_size(const Recording& one, int64_t bytes) {
  const std::vector<NalUnit> units = index_nal_units(one.payload(), one.length);
  const auto frames_per_copy = build_frame_list(units).size();
  // The copies keep one's frame spacing (timestamps shifted by whole periods),
  // so one alone gives the rate the big recording has.
  const int rate = static_cast<int>(
      estimate_frame_rate(one.payload(), one.length, static_cast<int64_t>(frames_per_copy),
                          nullptr) + 0.5);
  const int64_t copies = big_recording::copies_for(one, bytes);
  const std::string tmp = "/tmp/remux_speed_" + std::to_string(getpid());
  const std::string with_sound = tmp + ".264", without_sound = tmp + "_silent.264";
  const std::string raw = tmp + "_raw.h264";
  const std::string ours_out = tmp + "_ours.mp4", ffmpeg_out = tmp + "_ffmpeg.mp4";
  const std::vector<std::string> made = {with_sound, without_sound, raw, ours_out, ffmpeg_out};
  const bool written = big_recording::write_repeated(one, copies, with_sound, raw) &&
                       big_recording::write_repeated(one, copies, without_sound, "", false);
  const auto file_size = written ? std::filesystem::file_size(with_sound) : 0;
  if (!written || rate <= 0) {
    std::fprintf(stderr, "cannot write the benchmark recording\n");
    for (const auto& f : made) std::remove(f.c_str());
    return false;
  }
  std::printf("\nrecording: %.1f MiB, %lld frames at %d fps (%lld copies of %zu bytes), and the same "
              "without its sound\n",
              file_size / 1048576.0, static_cast<long long>(frames_per_copy * copies), rate,
              static_cast<long long>(copies), one.length);

  const std::vector<std::string> ffmpeg = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f",
                                           "h264", "-framerate", std::to_string(rate), "-i",
                                           raw, "-c", "copy", ffmpeg_out};
  std::error_code error;
  const std::string self_path = std::filesystem::read_symlink("/proc/self/exe", error).string();
  const std::vector<std::vector<std::string>> ours = {
      {self_path, "--convert", with_sound, ours_out},
      {self_path, "--convert", without_sound, ours_out},
      {self_path, "--convert-no-sound", with_sound, ours_out},
  };
  const char* names[] = {"with sound", "recording without sound", "--no-sound"};
  const double targets[] = {0.6, 0.5, 0.5};
  std::printf("load before: %s\n", load_average().c_str());
  // Side by side, best of two rounds.
  Run best_ffmpeg;
  std::vector<Run> best(ours.size());
  for (int round = 0; round < 2; ++round) {
    best_ffmpeg = round == 0 ? run_process(ffmpeg) : best_of(best_ffmpeg, run_process(ffmpeg));
    for (size_t i = 0; i < ours.size(); ++i) {
      best[i] = round == 0 ? run_process(ours[i]) : best_of(best[i], run_process(ours[i]));
    }
  }
  const double ffmpeg_mib = best_ffmpeg.peak_kib / 1024.0;
  std::printf("ffmpeg -c copy (video only): %.3f s%s, peak %.1f MiB\n", best_ffmpeg.seconds,
              best_ffmpeg.ok ? "" : " FAILED", ffmpeg_mib);
  bool ok = best_ffmpeg.ok;
  for (size_t i = 0; i < ours.size(); ++i) {
    std::printf("ours, %-25s %.3f s%s, peak %.1f MiB (limit ffmpeg + 64 = %.1f MiB), ratio %.2f "
                "(target <= %.1f)\n",
                (std::string(names[i]) + ":").c_str(), best[i].seconds, best[i].ok ? "" : " FAILED",
                best[i].peak_kib / 1024.0, ffmpeg_mib + 64, best[i].seconds / best_ffmpeg.seconds,
                targets[i]);
    ok = ok && best[i].ok;
  }
  std::printf("load after: %s\n", load_average().c_str());
  for (const auto& file : made) std::remove(file.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc == 4 && (!std::strcmp(argv[1], "--convert") || !std::strcmp(argv[1], "--convert-no-sound"))) {
    RemuxOptions options;
    options.print_frame_rate = false;
    options.sound = !std::strcmp(argv[1], "--convert");
    av_log_set_level(AV_LOG_ERROR);
    return remux_recording(argv[2], argv[3], {}, options, nullptr) ? 0 : 1;
  }
  std::string source;
  std::vector<int64_t> sizes_mib = {512, 4160};
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--recording")) source = argv[i + 1];
    if (!std::strcmp(argv[i], "--mib")) sizes_mib = {std::strtoll(argv[i + 1], nullptr, 10)};
  }
  if (source.empty()) source = big_recording::camera_4k_source();
  Recording one;
  if (source.empty() || read_recording_payload(source, one) != LoadStatus::ok) {
    std::fprintf(stderr, "cannot make or read the source recording\n");
    return 1;
  }
  bool ok = true;
  for (const int64_t mib : sizes_mib) ok = compare_at_size(one, mib << 20) && ok;
  return ok ? 0 : 1;
}
