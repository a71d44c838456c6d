// Recording a live stream: x264 units as a camera sends them, with their RTP
// and media times, and A-law sound beside them, written by the recorder and
// read back by the player's own loader. Every unit and sample that came is in
// some file; each file starts where it can be decoded; files change at the
// split time (at the next key picture) and when the stream begins anew.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "encoded_stream.h"
#include "recording/recording.h"
#include "rtsp/live_recorder.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

class LiveRecordingTest : public TempFolderTest {
 protected:
  LiveRecordingTest() : TempFolderTest("live_recording") {}
};

// Feeds the stream picture by picture (units of a picture share one RTP
// time), `seconds_apart` of media time between pictures, with `sound` A-law
// samples per picture before it.
void feed(LiveRecorder& recorder, const EncodedStream& stream, double seconds_apart, size_t sound,
          double start_s = 0) {
  int picture = -1;
  bool has_slice = false;  // the picture being fed has its slice (one slice per picture here)
  uint32_t rtp = 1234;
  for (const NalUnit& unit : stream.units) {
    if (picture < 0 || has_slice) {
      ++picture;
      has_slice = false;
      rtp += 3600;
      const std::vector<uint8_t> alaw(sound, static_cast<uint8_t>(0xD5 + picture));
      if (sound > 0) recorder_take_sound(recorder, alaw.data(), alaw.size(), nullptr, 0, 8000, 1, start_s + picture * seconds_apart);
    }
    has_slice = unit.type == 1 || unit.type == 5;
    recorder_take_unit(recorder, unit.data, static_cast<size_t>(unit.size), rtp, start_s + picture * seconds_apart);
  }
}

struct Loaded {
  int pictures = 0;
  int64_t sound_samples = 0;
  int key_frames = 0;
  bool starts_with_parameter_sets = false;
  bool first_picture_is_key = false;
};

Loaded load(const std::string& path) {
  Loaded out;
  Recording recording;
  testing::internal::CaptureStdout();
  const bool loaded = load_recording(path, recording);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(loaded) << path;
  if (!loaded) return out;
  out.pictures = static_cast<int>(recording.frames.size());
  for (const AudioBlock& block : recording.sound) out.sound_samples += block.size;
  for (int64_t f : recording.frames) out.key_frames += recording.units[static_cast<size_t>(f)].type == 5;
  out.starts_with_parameter_sets = recording.units.size() >= 2 && recording.units[0].type == 7 && recording.units[1].type == 8;
  out.first_picture_is_key = !recording.frames.empty() && recording.units[static_cast<size_t>(recording.frames[0])].type == 5;
  return out;
}

}  // namespace

TEST_F(LiveRecordingTest, WhatCameIsWrittenInTheCamerasLayout) {
  const EncodedStream stream = encode_h264_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 30, 10);
  ASSERT_FALSE(stream.units.empty()) << stream.error;
  LiveRecorder recorder;
  LiveRecorderSettings settings;
  settings.path = (folder / "probe.264").string();
  ASSERT_TRUE(start_live_recording(recorder, settings));
  feed(recorder, stream, 0.04, 320);
  stop_live_recording(recorder);
  ASSERT_TRUE(recorder.error.empty()) << recorder.error;
  ASSERT_EQ(recorder.finished, std::vector<std::string>{settings.path});
  const Loaded file = load(settings.path);
  EXPECT_EQ(file.pictures, 30);
  EXPECT_EQ(file.key_frames, 3);
  EXPECT_EQ(file.sound_samples, 30 * 320);
  EXPECT_TRUE(file.starts_with_parameter_sets);
  // The pictures' times are the media times: 25 per second.
  Recording recording;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(load_recording(settings.path, recording));
  testing::internal::GetCapturedStdout();
  EXPECT_NEAR(recording.fps, 25.0, 0.1);
  EXPECT_NEAR(recording_duration(recording), 1.2, 0.05);
}

TEST_F(LiveRecordingTest, ANewFileAtTheFirstKeyPictureAfterTheSplitTimeNothingLeftOut) {
  // 60 pictures 5 s apart (five minutes), a key picture every 10 (every 50 s):
  // with a split every minute a file ends at the first key picture a minute
  // or more after it began.
  const EncodedStream stream = encode_h264_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 60, 10);
  ASSERT_FALSE(stream.units.empty()) << stream.error;
  LiveRecorder recorder;
  LiveRecorderSettings settings;
  settings.folder = folder.string();
  settings.name = "Front door: 1/2";  // characters no file name may hold
  settings.split_minutes = 1;
  ASSERT_TRUE(start_live_recording(recorder, settings));
  feed(recorder, stream, 5.0, 160);
  stop_live_recording(recorder);
  ASSERT_TRUE(recorder.error.empty()) << recorder.error;
  // Key pictures at 0, 50, 100, 150, 200, 250 s: files begin at 0, 100, 200.
  ASSERT_EQ(recorder.finished.size(), 3u);
  int pictures = 0;
  int64_t samples = 0;
  const int expected_pictures[] = {20, 20, 20};
  for (size_t i = 0; i < recorder.finished.size(); ++i) {
    SCOPED_TRACE(recorder.finished[i]);
    EXPECT_EQ(fs::path(recorder.finished[i]).parent_path(), folder);
    EXPECT_EQ(fs::path(recorder.finished[i]).filename().string().rfind("Front door_ 1_2_", 0), 0u);
    const Loaded file = load(recorder.finished[i]);
    EXPECT_EQ(file.pictures, expected_pictures[i]);
    EXPECT_TRUE(file.first_picture_is_key);
    EXPECT_TRUE(file.starts_with_parameter_sets);
    pictures += file.pictures;
    samples += file.sound_samples;
  }
  EXPECT_EQ(pictures, 60);
  EXPECT_EQ(samples, 60 * 160);
}

TEST_F(LiveRecordingTest, AStreamBegunAnewBeginsAFileWithTheParameterSetsItNeeds) {
  // The second stream starts inside a group and without parameter sets (a
  // camera that sends them only in the SDP): the recorder puts the newest
  // ones first, so the file still decodes from its first key picture, also
  // when its sound comes first and begins the file.
  const EncodedStream stream = encode_h264_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 20, 10);
  ASSERT_FALSE(stream.units.empty()) << stream.error;
  LiveRecorder recorder;
  LiveRecorderSettings settings;
  settings.path = (folder / "reconnect.264").string();
  ASSERT_TRUE(start_live_recording(recorder, settings));
  feed(recorder, stream, 0.04, 0);
  recorder_new_stream(recorder);
  EncodedStream rest = stream;
  rest.units.erase(rest.units.begin(), rest.units.begin() + 5);  // into the first group, sets gone
  std::erase_if(rest.units, [](const NalUnit& u) { return u.type == 7 || u.type == 8; });
  feed(recorder, rest, 0.04, 320, 10.0);
  stop_live_recording(recorder);
  ASSERT_EQ(recorder.finished.size(), 2u);
  EXPECT_EQ(recorder.finished[1], (folder / "reconnect_2.264").string());
  const Loaded second = load(recorder.finished[1]);
  EXPECT_TRUE(second.starts_with_parameter_sets);
  EXPECT_EQ(second.key_frames, 1);
}

// A sender that never moves its RTP time on cannot grow one picture without
// bound: the picture is left out whole and counted, the next one is written.
TEST_F(LiveRecordingTest, APictureThatNeverEndsIsLeftOutAndCounted) {
  const EncodedStream stream = encode_h264_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 2, 10);
  ASSERT_FALSE(stream.units.empty()) << stream.error;
  LiveRecorder recorder;
  LiveRecorderSettings settings;
  settings.path = (folder / "endless.264").string();
  ASSERT_TRUE(start_live_recording(recorder, settings));
  std::vector<uint8_t> slice(size_t{4} << 20, 0x55);
  slice[0] = 0x01;  // a non-key slice
  for (size_t sent = 0; sent <= kMaxRecordedPictureBytes; sent += slice.size())
    recorder_take_unit(recorder, slice.data(), slice.size(), 1000, 0.0);
  EXPECT_EQ(recorder.pictures_dropped, 1);
  EXPECT_TRUE(recorder.picture.empty());
  feed(recorder, stream, 0.04, 0, 1.0);
  stop_live_recording(recorder);
  ASSERT_EQ(recorder.finished.size(), 1u);
  const Loaded loaded = load(recorder.finished[0]);
  EXPECT_EQ(loaded.pictures, 2);
  EXPECT_TRUE(loaded.first_picture_is_key);
}

TEST_F(LiveRecordingTest, AFolderThatCannotBeWrittenStopsTheRecordingWithAReason) {
  const EncodedStream stream = encode_h264_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 3, 10);
  LiveRecorder recorder;
  LiveRecorderSettings settings;
  settings.folder = (folder / "missing" / "deeper").string();
  ASSERT_TRUE(start_live_recording(recorder, settings));
  feed(recorder, stream, 0.04, 80);
  EXPECT_FALSE(recorder.active);
  EXPECT_NE(recorder.error.find("cannot create"), std::string::npos) << recorder.error;
  stop_live_recording(recorder);
  EXPECT_TRUE(recorder.finished.empty());
}

TEST(LiveRecordingNames, NamesAndNumbers) {
  std::tm t{};
  t.tm_year = 125;
  t.tm_mon = 0;
  t.tm_mday = 2;
  t.tm_hour = 3;
  t.tm_min = 4;
  t.tm_sec = 5;
  struct Case {
    const char* folder;
    const char* name;
    const char* expected;
  } names[] = {
      {"", "garden", "garden_20250102_030405.264"},
      {"/v", "10.0.0.5", "/v/10.0.0.5_20250102_030405.264"},
      {"/v/", "a/b\\c:d*e?f\"g<h>i|j", "/v/a_b_c_d_e_f_g_h_i_j_20250102_030405.264"},
      {"C:\\Videos\\", "", "C:\\Videos\\camera_20250102_030405.264"},
      {"/v", "日本 é", "/v/日本 é_20250102_030405.264"},
  };
  for (const Case& c : names) EXPECT_EQ(live_recording_name(c.folder, c.name, t), c.expected);
  struct Numbered {
    const char* path;
    uint32_t number;
    const char* expected;
  } numbered[] = {
      {"x.264", 1, "x.264"},       {"x.264", 2, "x_2.264"},         {"/a.b/x", 3, "/a.b/x_3"},
      {"C:\\a.b\\x.264", 10, "C:\\a.b\\x_10.264"}, {"x", 0, "x"},
  };
  for (const Numbered& n : numbered) EXPECT_EQ(numbered_recording_path(n.path, n.number), n.expected);
  EXPECT_EQ(recording_time_ms(1.2345), 1235u);
  EXPECT_EQ(recording_time_ms(-0.001), 0xFFFFFFFFu);  // read back as signed: 1 ms before
}
