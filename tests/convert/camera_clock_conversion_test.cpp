// Rough recordings converted to MP4: fractional and changing rates, dropped
// pictures, clock jumps, start-code bytes in headers and loud sound, size
// changes, and the sound as an AAC track on the pictures' clock.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "convert/remux.h"
#include "convert_fixtures.h"
#include "media_probe.h"

namespace {

int64_t ticks(double seconds) { return std::llround(seconds * 90000); }

struct Made {
  std::string input, output;
  Recording recording;
};

Made convert_made(const RecordingSpec& recipe, const std::string& name) {
  Made made;
  const std::string folder = fresh_folder(name);
  made.input = make_recording_file(recipe, folder + "/rec.264");
  if (made.input.empty()) return made;
  made.recording = load_quietly(made.input);
  made.output = folder + "/rec.mp4";
  if (!remux_to_mp4(made.input, made.output, {}, false)) made.output.clear();
  return made;
}

RecordingSpec clock_recipe(double fps, int frames, std::vector<std::string> extra) {
  RecordingSpec recipe;
  recipe.width = 176;
  recipe.height = 144;
  recipe.fps = fps;
  recipe.frames = frames;
  recipe.extra_args = std::move(extra);
  return recipe;
}

// Every picture is one sample at its own time; the MP4 lasts as long as the
// recording, to within one frame of the pictures' real spacing.
TEST(CameraClockConversion, EverySampleAtItsOwnTimeAndTheMp4AsLongAsTheRecording) {
  struct Row {
    const char* name;
    RecordingSpec recipe;
    double real_length_s;  // last picture's time plus its interval
    double interval_s;     // the pictures' real spacing at the end
  };
  const Row rows[] = {
      {"12.5 fps", clock_recipe(12.5, 250, {}), 20.0, 0.08},
      {"29.97 fps", clock_recipe(29.97, 300, {}), 300 / 29.97, 1 / 29.97},
      {"25 then 5 fps from 2 s, every 7th dropped", clock_recipe(25, 80, {"--fps2", "5", "--rate-change-at", "2", "--drop-every", "7"}),
       0, 0.2},
      {"start codes in headers, loud sound", clock_recipe(30, 90, {"--header-start-codes", "--audio", "--loud-audio", "--first-ts", "257"}),
       3.0, 1 / 30.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Made made = convert_made(row.recipe, "clock");
    ASSERT_FALSE(made.output.empty());
    const Recording& r = made.recording;
    ASSERT_EQ(r.frames.size(), static_cast<size_t>(row.recipe.frames)) << "no false units";
    const std::vector<PacketFacts> packets = probe_packets(made.output);
    ASSERT_EQ(packets.size(), r.frames.size());
    for (size_t i = 0; i < packets.size(); ++i) EXPECT_EQ(packets[i].pts, ticks(r.frame_times[i])) << i;
    const double length = (packets.back().pts + packets.back().duration) / 90000.0;
    EXPECT_NEAR(length, recording_duration(r), 1.0 / 90000);
    if (row.real_length_s > 0) {
      EXPECT_NEAR(length, row.real_length_s, row.interval_s);
    }
    EXPECT_EQ(decode_errors(made.output), "");
  }
}

TEST(CameraClockConversion, ASizeChangeKeepsBothSizesAndDecodesCleanly) {
  RecordingSpec recipe = clock_recipe(25, 75, {});
  recipe.size_change_at_s = 1.2;
  recipe.width2 = 320;
  recipe.height2 = 240;
  const Made made = convert_made(recipe, "size-change");
  ASSERT_FALSE(made.output.empty());
  EXPECT_EQ(decoded_picture_sizes(made.output), (std::vector<std::string>{"176x144", "320x240"}));
  EXPECT_EQ(probe_streams(made.output).frames_decoded, 75);
  EXPECT_EQ(decode_errors(made.output), "");
}

// The tone sounds for 300 ms every 2 s from the first picture on, so each
// onset is marked by the picture taken then; in the MP4 both must meet
// within 40 ms, also after the camera's clock jumped.
TEST(CameraClockConversion, SoundIsAacOnThePicturesClock) {
  struct Row {
    const char* name;
    RecordingSpec recipe;
    std::vector<int> marking_frames;  // pictures taken at 0, 2, 4, ... s
  };
  const std::vector<std::string> tone = {"--audio", "--audio-offset-ms", "200", "--tone-period",
                                         "2000", "--tone-on", "300"};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.end(), tone.begin(), tone.end());
    return more;
  };
  const Row rows[] = {
      {"12.5 fps", clock_recipe(12.5, 100, with({})), {0, 25, 50, 75}},
      {"clock jumps 60 s ahead at 2.4 s", clock_recipe(25, 200, with({"--ts-jump-at", "60", "--ts-jump-ms", "60000"})),
       {0, 50, 100, 150}},
      {"25 then 5 fps from 3 s", clock_recipe(25, 95, with({"--fps2", "5", "--rate-change-at", "3"})),
       {0, 50, 80, 90}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Made made = convert_made(row.recipe, "sound");
    ASSERT_FALSE(made.output.empty());
    const SoundFacts sound = probe_sound(made.output);
    EXPECT_EQ(sound.codec_name, "aac");
    EXPECT_EQ(sound.profile, "LC");
    EXPECT_EQ(sound.sample_rate, 8000);
    EXPECT_EQ(sound.channels, 1);
    // Sound from before the first picture is left out: the track starts with it.
    EXPECT_NEAR(sound.start_s, 0.0, 0.001);
    EXPECT_NEAR(sound.duration_s, recording_duration(made.recording), 0.15);
    const std::vector<double> heard = tone_onsets(decoded_sound(made.output));
    const std::vector<PacketFacts> packets = probe_packets(made.output);
    ASSERT_EQ(heard.size(), row.marking_frames.size());
    for (size_t k = 0; k < heard.size(); ++k) {
      const double picture = packets[static_cast<size_t>(row.marking_frames[k])].pts / 90000.0;
      EXPECT_NEAR(heard[k], picture, 0.040) << "onset " << k;
    }
  }
}

TEST(CameraClockConversion, NoSoundLeavesTheSoundOut) {
  const std::string folder = fresh_folder("no-sound");
  const std::string input = make_recording_file(clock_recipe(25, 50, {"--audio"}), folder + "/rec.264");
  ASSERT_FALSE(input.empty());
  int status = -1;
  run_command(std::string(H264_TOOLS_DIR) + "/convert_mp4 --quiet --no-sound " + shell_quoted(input), &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(probe_streams(folder + "/rec.mp4").stream_count, 1);
  EXPECT_FALSE(probe_sound(folder + "/rec.mp4").present);
}

}  // namespace

namespace {

// `copies` of a recording's payload one after another, every block's
// timestamp moved on by a whole recording's length per copy, so the clock
// runs on across the joins.
bool write_repeated(const std::string& source, int copies, uint32_t period_ms,
                    const std::string& path) {
  std::vector<uint8_t> file = read_file_bytes(source);
  if (file.size() <= kFileHeaderSize) return false;
  const uint8_t* payload = file.data() + kFileHeaderSize;
  const size_t length = file.size() - kFileHeaderSize;
  std::vector<size_t> stamps;
  size_t size = 0;
  for (size_t i = next_camera_block(payload, length, 0, &size); i != SIZE_MAX;
       i = next_camera_block(payload, length, i + size, &size)) {
    stamps.push_back(kFileHeaderSize + i + 8);
  }
  std::vector<uint8_t> out(file.begin(), file.begin() + kFileHeaderSize);
  for (int c = 0; c < copies; ++c) {
    std::vector<uint8_t> copy = file;
    for (size_t at : stamps) {
      const uint32_t ts = read_le32(copy.data() + at) + period_ms * static_cast<uint32_t>(c);
      for (int b = 0; b < 4; ++b) copy[at + b] = static_cast<uint8_t>(ts >> (8 * b));
    }
    out.insert(out.end(), copy.begin() + kFileHeaderSize, copy.end());
  }
  return write_bytes(path, out);
}

}  // namespace

// A recording several reading pieces long converts exactly as the player
// indexes it: the same pictures at the same times with the same bytes, the
// sound continuous across the pieces' seams.
TEST(CameraClockConversion, ALongRecordingConvertsPieceByPieceAsTheWholeFileIndexes) {
  const std::string folder = fresh_folder("long");
  RecordingSpec recipe = clock_recipe(25, 250, {"--audio", "--loud-audio", "--header-start-codes"});
  recipe.width = 640;
  recipe.height = 480;
  const std::string one = make_recording_file(recipe, folder + "/one.264");
  ASSERT_FALSE(one.empty());
  const std::string input = folder + "/long.264";
  ASSERT_TRUE(write_repeated(one, 9, 10000, input));
  const Recording r = load_quietly(input);
  ASSERT_EQ(r.frames.size(), 9u * 250u);
  ASSERT_GT(r.length, size_t{20} << 20) << "not several pieces long";
  const std::string output = folder + "/long.mp4";
  ASSERT_TRUE(remux_to_mp4(input, output, {}, false));
  const std::vector<PacketFacts> packets = probe_packets(output);
  ASSERT_EQ(packets.size(), r.frames.size());
  for (size_t i = 0; i < packets.size(); ++i) {
    ASSERT_EQ(packets[i].pts, ticks(r.frame_times[i])) << i;
    ASSERT_EQ(packets[i].key, r.units[static_cast<size_t>(r.frames[i])].type == 5) << i;
  }
  const SoundFacts sound = probe_sound(output);
  EXPECT_NEAR(sound.duration_s, 90.0, 0.15);
  EXPECT_EQ(decode_errors(output), "");
}
