// The MP4 remuxer on arbitrary recordings written to a temporary folder. On
// success the MP4 is there, progress ended at 1, and its video holds one
// sample per picture written, which with those left out (before the first key
// frame, after a skipped stretch) are the pictures the player's loader counts;
// on failure there is no MP4 and no temporary file left behind, and progress
// was never reported as done.
// Progress never goes backwards or leaves 0..1.
#include <filesystem>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "convert/remux.h"
#include "fuzz_support.h"
#include "recording/frame_clock.h"
#include "recording/recording.h"

namespace {

// Video samples in an MP4, or -1 when it cannot be read.
int64_t video_samples(const std::string& path) {
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return -1;
  int64_t count = 0;
  AVPacket* packet = av_packet_alloc();
  while (packet && av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == 0) ++count;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&input);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silence_stdout();
  av_log_set_level(AV_LOG_QUIET);  // the decoder's complaints about broken units
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string folder = fuzz_temp_dir();
  const std::string input = folder + "/input.264";
  const std::string output = folder + "/input.mp4";
  if (!write_whole_file(input, data, size)) std::abort();
  std::vector<float> reports;
  const RemuxResult result =
      convert_to_mp4(input, output, [&](float f) { reports.push_back(f); }, RemuxOptions{});
  const bool ok = result.succeeded;

  for (size_t i = 0; i < reports.size(); ++i) {
    FUZZ_CHECK(reports[i] > 0.0f && reports[i] <= 1.0f);
    if (i > 0) FUZZ_CHECK(reports[i] >= reports[i - 1]);
  }
  std::error_code error;
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    (void)entry;
    ++files;
  }
  if (ok) {
    FUZZ_CHECK(!reports.empty() && reports.back() == 1.0f);
    FUZZ_CHECK(std::filesystem::file_size(output, error) > 0);
    FUZZ_CHECK(files == 2);
    FUZZ_CHECK(video_samples(output) == result.pictures);
    Recording recording;
    if (load_recording(input, recording) && recording.skipped.empty() && result.skipped.empty()) {
      FUZZ_CHECK(result.pictures + result.pictures_before_first_key + result.pictures_after_skipped ==
                 count_pictures(recording.units, recording.frames));
    }
    std::filesystem::remove(output, error);
  } else {
    FUZZ_CHECK(!std::filesystem::exists(output, error));
    FUZZ_CHECK(files == 1);  // the input alone: no temporary left behind
  }
  return 0;
}
