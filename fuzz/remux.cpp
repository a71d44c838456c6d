// The MP4 remuxer on arbitrary recordings written to a temporary folder. On
// success the MP4 is there and progress ended at 1; on failure there is no
// MP4 and no temporary file left behind, and progress was never reported as
// done. Progress never goes backwards or leaves 0..1.
#include <filesystem>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "convert/remux.h"
#include "fuzz_support.h"

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
  const bool ok = remux_to_mp4(input, output, [&](float f) { reports.push_back(f); });

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
    std::filesystem::remove(output, error);
  } else {
    FUZZ_CHECK(!std::filesystem::exists(output, error));
    FUZZ_CHECK(files == 1);  // the input alone: no temporary left behind
  }
  return 0;
}
