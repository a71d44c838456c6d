// Export speed: a 2 GB 1080p recording with sound (a made 20 s camera-like
// recording at 8 Mbit/s, repeated with its camera clock carried on), then
// 30 s from its middle exported to MP4 as convert_mp4 --from/--to does it:
// the start found by halving on the header timestamps, the stretch remuxed
// with its sound. The reference is reading the same stretch's bytes with
// fread, measured in the same run. Prints both times (best of several), the
// bytes of the file the export read against its size, and the ratio.
// Target: the export in at most 0.5 s.
//
//   export_speed [--recording FILE.264] [--mb N]
#include <unistd.h>

#include <algorithm>
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
#include "convert/stretch_export.h"
#include "recording/recording.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool make_source(const std::string& path) {
  const std::string cmd = std::string(H264_TOOLS_DIR) + "/make_recording --out " + path +
                          " --width 1920 --height 1080 --fps 25 --duration 20 --gop 50 --audio"
                          " --noise 4 --bitrate 8000 --sound-after > /dev/null";
  return std::system(cmd.c_str()) == 0;
}

// Reads `size` bytes from `offset` as one plain read would.
double time_plain_read(const std::string& path, int64_t offset, int64_t size) {
  std::vector<uint8_t> buffer(static_cast<size_t>(size));
  const auto t0 = std::chrono::steady_clock::now();
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in || fseeko(in, offset, SEEK_SET) != 0) return -1;
  const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
  std::fclose(in);
  return got == buffer.size() ? seconds_since(t0) : -1;
}

int64_t bytes_read_by_process() {
  FILE* io = std::fopen("/proc/self/io", "r");
  if (!io) return -1;
  char key[64];
  long long value = 0;
  int64_t rchar = -1;
  while (std::fscanf(io, "%63[^:]: %lld\n", key, &value) == 2) {
    if (!std::strcmp(key, "rchar")) rchar = value;
  }
  std::fclose(io);
  return rchar;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  av_log_set_level(AV_LOG_ERROR);  // the encoder's statistics
  std::string source;
  int64_t megabytes = 2000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--recording")) source = argv[i + 1];
    if (!std::strcmp(argv[i], "--mb")) megabytes = std::max(100, std::atoi(argv[i + 1]));
  }
  const std::string tmp = "/tmp/export_speed_" + std::to_string(getpid());
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
  const std::string file = tmp + "_long.264";
  if (!big_recording::write_repeated(one, big_recording::copies_for(one, megabytes * 1000000), file, "")) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return 1;
  }
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(file));
  RecordingEnds ends;
  std::string reason;
  if (!read_recording_ends(file, &ends, &reason)) return 1;
  const double length = recording_length(ends);
  const double in = length / 2 + 0.7, out = in + 30;

  constexpr int kRuns = 3;
  double best_export = 1e9, best_read = 1e9;
  int64_t export_bytes = 0;
  StretchResult result;
  for (int run = 0; run < kRuns; ++run) {
    StretchRequest request;
    request.inputs = {file};
    request.in_s = in;
    request.out_s = out;
    request.planned_s = out - in;
    request.folders = {"/tmp"};
    request.name = "export_speed_" + std::to_string(getpid()) + ".mp4";
    request.options.print_frame_rate = false;
    const int64_t before = bytes_read_by_process();
    const auto t0 = std::chrono::steady_clock::now();
    result = export_stretch(request, {});
    best_export = std::min(best_export, seconds_since(t0));
    export_bytes = bytes_read_by_process() - before;
    if (!result.remux.succeeded) {
      std::fprintf(stderr, "export failed: %s\n", result.remux.reason.c_str());
      return 1;
    }
    std::filesystem::remove(result.output);
  }
  // The reference: the bytes from the stretch's start to its out-point.
  const int64_t from = static_cast<int64_t>(kFileHeaderSize) + result.start.offset;
  const int64_t stretch_bytes = static_cast<int64_t>(
      static_cast<double>(size) * (out - result.start.time_s) / length);
  for (int run = 0; run < kRuns; ++run) {
    best_read = std::min(best_read, time_plain_read(file, from, stretch_bytes));
  }
  std::printf("recording: %.1f min, %.0f MB, 1080p at 8 Mbit/s with sound\n", length / 60, size / 1e6);
  std::printf("stretch: %.1f-%.1f s (from the key picture at %.1f s), %.1f s in the MP4, %lld pictures\n",
              in, out, result.start.time_s, result.remux.duration_s,
              static_cast<long long>(result.remux.pictures));
  std::printf("export:              %.3f s, best of %d (target <= 0.5 s); read %.1f MB of the file's %.0f MB\n",
              best_export, kRuns, export_bytes / 1e6, size / 1e6);
  std::printf("reading its bytes:   %.3f s (%.1f MB with fread)\n", best_read, stretch_bytes / 1e6);
  std::printf("ratio export/read: %.2f\n", best_export / best_read);
  std::filesystem::remove(file);
  if (source.rfind(tmp, 0) == 0) std::filesystem::remove(source);
  return 0;
}
