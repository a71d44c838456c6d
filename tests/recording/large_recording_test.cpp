// Recordings larger than the reader's window and past 4 GiB: the index
// walked window by window is the index of the whole payload, and positions
// past 4 GiB are read where the file has them, by the loader, the decoder
// and the converter alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "big_recordings.h"
#include "convert/remux.h"
#include "player/video_output.h"
#include "recording/payload_reader.h"
#include "recording/recording.h"
#include "test_recordings.h"

namespace {

Recording load_silently(const std::string& path, std::string* printed = nullptr) {
  Recording recording;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(load_recording(path, recording));
  const std::string out = testing::internal::GetCapturedStdout();
  if (printed) *printed = out;
  return recording;
}

// Sound after its picture, loud sound and headers whose fields read as
// start codes: the bytes that make a window's edge hard to settle.
TEST(LargeRecording, WindowByWindowIndexIsTheWholePayloadsIndex) {
  RecordingSpec recipe;
  recipe.audio = true;
  recipe.extra_args = {"--sound-after", "--loud-audio", "--header-start-codes", "--noise", "20",
                       "--bitrate", "3000"};
  const std::string folder = test_temp_dir();
  const std::string source = make_recording_file(recipe, folder + "/rough.264");
  ASSERT_FALSE(source.empty());
  const std::string big = folder + "/rough_big.264";
  const auto copies = static_cast<int>((uintmax_t{30} << 20) / std::filesystem::file_size(source) + 1);
  ASSERT_TRUE(write_repeated_recording(source, copies, big));

  const Recording r = load_silently(big);
  ASSERT_GT(r.length, size_t{3} * kPieceBytes) << "the file spans several windows";
  std::vector<NalUnit> whole = index_nal_units(r.payload(), r.length);
  take_oversized_units(whole, r.payload());
  ASSERT_EQ(r.units.size(), whole.size());
  for (size_t k = 0; k < whole.size(); ++k) {
    ASSERT_EQ(r.units[k].data, whole[k].data) << "unit " << k;
    ASSERT_EQ(r.units[k].size, whole[k].size) << "unit " << k;
  }
  EXPECT_EQ(r.frames, build_frame_list(whole));
  const std::vector<AudioBlock> blocks = index_audio_blocks(r.payload(), r.length);
  ASSERT_EQ(r.sound.size(), blocks.size());
  for (size_t k = 0; k < blocks.size(); ++k) {
    ASSERT_EQ(r.sound[k].data, blocks[k].data) << "block " << k;
  }
  ASSERT_EQ(r.frame_times.size(), r.frames.size());
  EXPECT_TRUE(std::is_sorted(r.frame_times.begin(), r.frame_times.end()));
  EXPECT_DOUBLE_EQ(r.fps, 25.0);
  EXPECT_NEAR(recording_duration(r), 2.0 * copies, 0.1);
}

// The picture number made into the picture that `frame` of the recording
// decodes to, sending the units from `from_unit` (a key frame's parameter
// sets) on; -1 when it gives none.
int decoded_number(const Recording& r, size_t from_unit, int64_t frame) {
  VideoOutput video;
  if (!setup_video_decoder(video, 1)) return -1;
  int number = -1;
  int64_t shown = 0;
  const int64_t wanted = frame - static_cast<int64_t>(std::lower_bound(r.frames.begin(), r.frames.end(),
                                                                         static_cast<int64_t>(from_unit)) -
                                                      r.frames.begin());
  for (size_t u = from_unit; u < r.units.size() && number < 0; ++u) {
    decode_nal_unit(video, r.units[u], [&] {
      if (shown++ == wanted) {
        number = read_frame_number(
            [&](int x, int y) { return static_cast<int>(video.frame->data[0][y * video.frame->linesize[0] + x]); },
            video.frame->width, video.frame->height);
      }
    });
  }
  teardown_video_output(video);
  return number;
}

// A recording, a hole of zeros and a second recording past 4 GiB: the
// second one's units lie where the file has them (32-bit offsets would wrap
// them to its start), its pictures decode with their own numbers, the
// loader says the whole length, and the converter keeps every picture.
TEST(LargeRecording, PicturesPastFourGibibytesAreReadWhereTheyLie) {
  RecordingSpec first;
  first.width = 160;
  first.height = 120;
  first.duration_s = 1;
  first.audio = true;
  RecordingSpec second = first;
  second.first_ts = 100000;
  second.gop = 10;
  second.seed = 3;
  const std::string folder = test_temp_dir();
  const std::string a = make_recording_file(first, folder + "/before.264");
  const std::string b = make_recording_file(second, folder + "/after.264");
  ASSERT_FALSE(a.empty() || b.empty());
  const std::string joined = sparse_file_folder() + "/past4g.264";
  ASSERT_TRUE(write_joined_with_hole(a, b, kPast4GiB, joined));

  const Recording ra = load_silently(a), rb = load_silently(b);
  std::string printed;
  const Recording r = load_silently(joined, &printed);
  ASSERT_EQ(static_cast<int64_t>(r.length), kPast4GiB + static_cast<int64_t>(rb.length) - 32);
  ASSERT_EQ(r.frames.size(), ra.frames.size() + rb.frames.size());
  EXPECT_NE(printed.find("Loaded: " + std::to_string(r.length) + " bytes, " +
                         std::to_string(r.frames.size()) + " frames"),
            std::string::npos)
      << printed;
  const size_t first_of_b = ra.units.size();
  ASSERT_EQ(r.units[first_of_b].data - r.payload(), kPast4GiB - 32 + (rb.units[0].data - rb.payload()));
  for (size_t k = 0; k < rb.units.size(); ++k) {
    ASSERT_EQ(r.units[first_of_b + k].size, rb.units[k].size) << "unit " << k << " of the second";
  }
  EXPECT_EQ(r.sound.size(), ra.sound.size() + rb.sound.size());
  EXPECT_GE(r.sound.back().data - r.payload(), kPast4GiB - 32);
  // Picture 3 of the second recording, decoded from its bytes past 4 GiB.
  EXPECT_EQ(decoded_number(r, first_of_b, static_cast<int64_t>(ra.frames.size()) + 3), 3);

  RemuxOptions options;
  options.print_frame_rate = false;
  const RemuxResult converted = convert_to_mp4(joined, folder + "/past4g.mp4", {}, options);
  ASSERT_TRUE(converted.succeeded) << converted.reason;
  EXPECT_EQ(converted.pictures, static_cast<int64_t>(r.frames.size()));
  EXPECT_TRUE(converted.mp4_has_sound);
  std::filesystem::remove(joined);
}

}  // namespace
