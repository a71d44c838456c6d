// A conversion reads the recording once when its head tells enough (the
// parameter sets, a key frame, a picture header, and sound met or not within
// the first 16 MB, or the whole of a shorter recording) and twice only when
// it cannot, never losing sound either way.
#include <gtest/gtest.h>

#include <filesystem>

#include "big_recordings.h"
#include "convert/remux.h"
#include "convert_fixtures.h"
#include "media_probe.h"

namespace {

// 20 MB without sound (two 10 s copies of 1 MB/s pictures), then 2 s with
// sound, on one clock.
std::string sound_past_the_head(const std::string& folder) {
  RecordingSpec silent;
  silent.width = 640;
  silent.height = 360;
  silent.duration_s = 10;
  silent.extra_args = {"--noise", "20", "--bitrate", "8000"};
  RecordingSpec sounding = silent;
  sounding.duration_s = 2;
  sounding.first_ts = 21000;
  sounding.audio = true;
  const std::string first = make_recording_file(silent, folder + "/silent.264");
  const std::string second = make_recording_file(sounding, folder + "/sounding.264");
  const std::string joined = folder + "/late.264";
  if (first.empty() || second.empty() || !write_repeated_recording(first, 2, joined)) return "";
  std::vector<uint8_t> bytes = read_file_bytes(joined);
  const std::vector<uint8_t> tail = read_file_bytes(second);
  bytes.insert(bytes.end(), tail.begin() + static_cast<long>(kFileHeaderSize), tail.end());
  return write_bytes(joined, bytes) ? joined : "";
}

TEST(OneReading, TheHeadDecidesAndOnlyAnUntellingHeadCostsASecondReading) {
  struct Row {
    const char* name;
    std::function<std::string(const std::string& folder)> make;
    bool sound_wanted;
    int readings;
    bool sound_out;
  };
  const auto made = [](RecordingSpec recipe) {
    return [recipe](const std::string& folder) { return make_recording_file(recipe, folder + "/rec.264"); };
  };
  RecordingSpec before;
  before.audio = true;
  RecordingSpec after = before;
  after.extra_args = {"--sound-after"};
  RecordingSpec silent;
  RecordingSpec headerless = before;
  headerless.no_hxvf = true;
  const Row rows[] = {
      {"sound before its picture", made(before), true, 1, true},
      {"sound after its picture", made(after), true, 1, true},
      {"no sound", made(silent), true, 1, false},
      {"sound left out as asked", made(before), false, 1, false},
      // The rate needs the whole sound's span: a short recording is held whole.
      {"no picture headers", made(headerless), true, 1, true},
      {"sound first met past the head", sound_past_the_head, true, 2, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string folder = fresh_folder("one-reading");
    const std::string input = row.make(folder);
    ASSERT_FALSE(input.empty());
    RemuxOptions options;
    options.print_frame_rate = false;
    options.sound = row.sound_wanted;
    ProgressLog log;
    const RemuxResult result = convert_to_mp4(input, folder + "/out.mp4", log.callback(), options);
    ASSERT_TRUE(result.succeeded) << result.reason;
    EXPECT_EQ(result.readings, row.readings);
    EXPECT_EQ(result.mp4_has_sound, row.sound_out);
    EXPECT_EQ(probe_sound(folder + "/out.mp4").present, row.sound_out);
    EXPECT_TRUE(std::is_sorted(log.calls.begin(), log.calls.end())) << "progress never goes back";
    EXPECT_EQ(probe_streams(folder + "/out.mp4").frames_decoded, result.pictures);
  }
}

}  // namespace
