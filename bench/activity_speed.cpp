// Activity speed: a 30-minute 1080p recording (a made 10 s camera-like
// recording with an object moving from 3 to 6 s, repeated with its camera
// clock carried on), loaded as the player loads it; then the activity
// figures the player needs (per picture, per second, one per pixel of a
// 1920-pixel track, and the stretches), timed best of several runs.
// Prints both times and their ratio; target: the figures in at most 50 ms.
//
//   activity_speed [--recording FILE.264] [--minutes N]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "big_recording.h"
#include "recording/activity.h"
#include "recording/recording.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool make_source(const std::string& path) {
  const std::string cmd = std::string(H264_TOOLS_DIR) + "/make_recording --out " + path +
                          " --width 1920 --height 1080 --fps 25 --duration 10 --gop 50 --audio"
                          " --noise 4 --bitrate 4000 --qp-min 28 --moving-object 3-6 > /dev/null";
  return std::system(cmd.c_str()) == 0;
}

struct Figures {
  size_t pictures = 0, seconds = 0, buckets = 0, stretches = 0;
};

Figures activity_figures(const Recording& recording) {
  const ActivityProfile profile = measure_activity(recording);
  return {profile.times.size(), activity_per_second(profile).size(),
          activity_buckets(profile, 1920).size(), find_activity_stretches(profile).size()};
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::string source;
  int minutes = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--recording")) source = argv[i + 1];
    if (!std::strcmp(argv[i], "--minutes")) minutes = std::max(1, std::atoi(argv[i + 1]));
  }
  const std::string tmp = "/tmp/activity_speed_" + std::to_string(getpid());
  if (source.empty()) {
    source = tmp + "_source.264";
    if (!make_source(source)) {
      std::fprintf(stderr, "cannot make the source recording\n");
      return 1;
    }
  }
  Recording one;
  std::printf("source: ");
  if (!load_recording(source, one)) return 1;
  const double span = recording_duration(one);
  const int copies = std::max(1, static_cast<int>(minutes * 60 / span + 0.5));
  const std::string file = tmp + "_long.264";
  if (!big_recording::write_repeated(one, copies, file, "")) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return 1;
  }

  auto t0 = std::chrono::steady_clock::now();
  Recording recording;
  std::printf("long:   ");
  if (!load_recording(file, recording)) return 1;
  const double load_s = seconds_since(t0);

  constexpr int kRuns = 7;
  double best_s = 1e9;
  Figures f;
  for (int run = 0; run < kRuns; ++run) {
    t0 = std::chrono::steady_clock::now();
    f = activity_figures(recording);
    best_s = std::min(best_s, seconds_since(t0));
  }
  std::printf("recording: %.1f min, %.0f MiB, %zu pictures\n", recording_duration(recording) / 60,
              (recording.length + kFileHeaderSize) / 1048576.0, f.pictures);
  std::printf("load (read and index): %.1f ms\n", load_s * 1000);
  std::printf("activity figures:      %.1f ms, best of %d (%zu seconds, %zu buckets, %zu stretches; "
              "target <= 50 ms)\n",
              best_s * 1000, kRuns, f.seconds, f.buckets, f.stretches);
  std::printf("ratio activity/load: %.4f\n", best_s / load_s);
  std::remove(file.c_str());
  if (source.rfind(tmp, 0) == 0) std::remove(source.c_str());
  return 0;
}
