// Recordings made by make_recording, read back the way the player reads them
// and decoded with libavcodec.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <cstring>

#include "media/av_handles.h"
#include "media/nal_packet.h"
#include "recording/alaw.h"
#include "recording/frame_clock.h"
#include "recording/frame_rate.h"
#include "recording/recording.h"
#include "test_recordings.h"

namespace {

struct DecodedPicture {
  int width = 0, height = 0;
  AVPixelFormat format = AV_PIX_FMT_NONE;
  int number = -1;  // the frame number painted into the picture
};

void receive_pictures(AVCodecContext* decoder, AVFrame* frame, std::vector<DecodedPicture>& out) {
  while (avcodec_receive_frame(decoder, frame) == 0) {
    const uint8_t* luma = frame->data[0];
    const int stride = frame->linesize[0];
    const int number = read_frame_number(
        [&](int x, int y) { return static_cast<int>(luma[y * stride + x]); }, frame->width,
        frame->height);
    out.push_back({frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), number});
    av_frame_unref(frame);
  }
}

// Sends every unit as its own packet, as the player does, and drains.
std::vector<DecodedPicture> decode_all(const Recording& recording) {
  av_log_set_level(AV_LOG_QUIET);  // units before the first key frame are refused noisily
  std::vector<DecodedPicture> pictures;
  CodecContextPtr decoder(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264)));
  FramePtr frame(av_frame_alloc());
  if (!decoder || !frame || avcodec_open2(decoder.get(), nullptr, nullptr) < 0) {
    ADD_FAILURE() << "cannot open the H.264 decoder";
    return pictures;
  }
  for (const NalUnit& unit : recording.units) {
    PacketPtr packet = make_nal_packet(unit.data, static_cast<size_t>(unit.size));
    avcodec_send_packet(decoder.get(), packet.get());
    receive_pictures(decoder.get(), frame.get(), pictures);
  }
  avcodec_send_packet(decoder.get(), nullptr);
  receive_pictures(decoder.get(), frame.get(), pictures);
  return pictures;
}

std::string make_and_load(const RecordingSpec& recipe, const std::string& name, Recording& out) {
  const std::string path = make_recording_file(recipe, test_temp_dir() + "/" + name);
  if (path.empty() || !load_recording(path, out)) return "";
  return path;
}

RecordingSpec small_spec() {
  RecordingSpec recipe;
  recipe.width = 160;
  recipe.height = 120;
  return recipe;
}

std::vector<int64_t> key_frames(const Recording& r) {
  std::vector<int64_t> keys;
  for (size_t k = 0; k < r.frames.size(); ++k) {
    if (r.units[static_cast<size_t>(r.frames[k])].type == 5) keys.push_back(static_cast<int64_t>(k));
  }
  return keys;
}

std::vector<int64_t> every(int64_t step, int64_t from, int64_t count) {
  std::vector<int64_t> positions;
  for (int64_t k = from; k < count; k += step) positions.push_back(k);
  return positions;
}

}  // namespace

TEST(MakerRoundTrip, FrameCountKeyFramesAndDetectedRate) {
  struct Case {
    double fps, duration_s;
    int frames, gop;
    size_t want_frames;
    int want_gop;
    double want_fps;
  };
  const Case cases[] = {
      {25, 2, 0, 0, 50, 25, 25.0},
      // 49 intervals over 3.92 s is 12.5 fps exactly.
      {12.5, 4, 0, 0, 50, 13, 12.5},
      {29.97, 2, 0, 10, 60, 10, 30.0},
      // 33 intervals over 1.941 s (17.0 fps) is more than 5 % from 15 and 20.
      {17, 2, 0, 0, 34, 17, 33 / 1.941},
      {25, 0, 20, 7, 20, 7, 15.0},  // 0.76 s of timestamps: too short to measure
  };
  int made = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fps << " fps");
    RecordingSpec recipe = small_spec();
    recipe.fps = c.fps;
    recipe.duration_s = c.duration_s;
    recipe.frames = c.frames;
    recipe.gop = c.gop;
    Recording r;
    ASSERT_FALSE(make_and_load(recipe, "rate" + std::to_string(made++) + ".264", r).empty());
    EXPECT_EQ(r.frames.size(), c.want_frames);
    EXPECT_EQ(key_frames(r), every(c.want_gop, 0, static_cast<int64_t>(c.want_frames)));
    EXPECT_NEAR(r.fps, c.want_fps, 1e-9);
    EXPECT_TRUE(index_audio_blocks(r.payload(), r.length).empty());
  }
}

TEST(MakerRoundTrip, PicturesDecodeInOrderShowingTheirNumbers) {
  RecordingSpec recipe = small_spec();
  recipe.seed = 3;
  Recording r;
  ASSERT_FALSE(make_and_load(recipe, "numbers.264", r).empty());
  const auto pictures = decode_all(r);
  ASSERT_EQ(pictures.size(), 50u);
  for (size_t k = 0; k < pictures.size(); ++k) {
    EXPECT_EQ(pictures[k].number, static_cast<int>(k));
    EXPECT_EQ(pictures[k].format, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(pictures[k].width, 160);
  }
}

TEST(MakerRoundTrip, SoundBlocksFollowTheOffsetAndCarryATone) {
  RecordingSpec recipe = small_spec();
  recipe.audio = true;
  recipe.audio_offset_ms = 300;
  Recording r;
  ASSERT_FALSE(make_and_load(recipe, "tone.264", r).empty());
  const auto blocks = index_audio_blocks(r.payload(), r.length);
  // 2.3 s of sound in 20 ms blocks, starting 300 ms before the first picture.
  ASSERT_EQ(blocks.size(), 115u);
  std::vector<int16_t> samples;
  for (size_t n = 0; n < blocks.size(); ++n) {
    EXPECT_EQ(blocks[n].timestamp, 700 + 20 * n);
    EXPECT_EQ(blocks[n].size, 160);
    for (int i = 0; i < blocks[n].size; ++i) samples.push_back(decode_alaw(blocks[n].data[i]));
  }
  EXPECT_EQ(find_time_origin(r.payload(), r.length, blocks), 1000u);  // first picture, not sound
  int crossings = 0, peak = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
  }
  EXPECT_NEAR(crossings / 2.0 / 2.3, 440.0, 5.0);
  EXPECT_NEAR(peak, 3000, 130);
}

// Without picture timestamps the sound's own clock is the only one: the
// pictures are taken to fill the time it spans (here it starts 250 ms early,
// so the rate comes out low: 50 pictures over 2.28 s).
TEST(MakerRoundTrip, WithoutVideoHeadersTheSoundSetsTheRateAndTheOrigin) {
  RecordingSpec recipe = small_spec();
  recipe.no_hxvf = true;
  recipe.audio = true;
  recipe.audio_offset_ms = 250;
  recipe.block_samples = 320;
  Recording r;
  ASSERT_FALSE(make_and_load(recipe, "nohxvf.264", r).empty());
  EXPECT_EQ(r.frames.size(), 50u);
  EXPECT_DOUBLE_EQ(r.fps, 50 / 2.28);
  EXPECT_EQ(find_first_hxvf(r.payload(), r.length), SIZE_MAX);
  const auto blocks = index_audio_blocks(r.payload(), r.length);
  ASSERT_EQ(blocks.size(), 57u);  // ceil(2.25 s / 40 ms)
  EXPECT_EQ(blocks[1].timestamp - blocks[0].timestamp, 40u);
  EXPECT_EQ(find_time_origin(r.payload(), r.length, blocks), 750u);
  EXPECT_EQ(decode_all(r).size(), 50u);
}

TEST(MakerRoundTrip, MalformedSoundHeadersAreThereButNotCounted) {
  RecordingSpec recipe = small_spec();
  recipe.audio = true;
  recipe.bad_hxaf = 5;
  Recording r;
  ASSERT_FALSE(make_and_load(recipe, "badhxaf.264", r).empty());
  const auto blocks = index_audio_blocks(r.payload(), r.length);
  EXPECT_EQ(blocks.size(), 100u);
  size_t magics = 0;
  for (size_t i = 0; i + 4 <= r.length; ++i) magics += std::memcmp(r.payload() + i, "HXAF", 4) == 0;
  EXPECT_EQ(magics, 105u);
  EXPECT_EQ(read_le32(r.payload() + r.length - 12), 1000u);  // the last one runs past the end
  EXPECT_EQ(r.frames.size(), 50u);
  EXPECT_EQ(decode_all(r).size(), 50u);
}

TEST(MakerRoundTrip, MidGroupStartHasNoKeyFrameUntilTheNextGroup) {
  RecordingSpec recipe = small_spec();
  recipe.gop = 10;
  recipe.mid_gop = 4;
  Recording r;
  ASSERT_FALSE(make_and_load(recipe, "midgop.264", r).empty());
  ASSERT_EQ(r.frames.size(), 50u);
  EXPECT_EQ(r.units[static_cast<size_t>(r.frames[0])].type, 1);
  for (int64_t u = 0; u < r.frames[0]; ++u) EXPECT_NE(r.units[static_cast<size_t>(u)].type, 7);
  EXPECT_EQ(key_frames(r), every(10, 6, 50));
  // The decoder can only start at the first key frame; from there on all decode.
  const auto pictures = decode_all(r);
  ASSERT_EQ(pictures.size(), 44u);
  for (size_t i = 0; i < pictures.size(); ++i) EXPECT_EQ(pictures[i].number, static_cast<int>(i) + 6);
}

TEST(MakerRoundTrip, FullRangeDecodesAsJpegRangeYuv) {
  RecordingSpec recipe = small_spec();
  recipe.full_range = true;
  recipe.frames = 3;
  Recording r;
  ASSERT_FALSE(make_and_load(recipe, "fullrange.264", r).empty());
  const auto pictures = decode_all(r);
  ASSERT_EQ(pictures.size(), 3u);
  EXPECT_EQ(pictures[0].format, AV_PIX_FMT_YUVJ420P);
  EXPECT_EQ(pictures[2].number, 2);
}

TEST(MakerRoundTrip, SizeChangeStartsNewParameterSetsAndGroups) {
  RecordingSpec recipe = small_spec();
  recipe.size_change_at_s = 0.8;  // frame 20
  recipe.width2 = 96;
  recipe.height2 = 64;
  Recording r;
  ASSERT_FALSE(make_and_load(recipe, "sizechange.264", r).empty());
  EXPECT_EQ(key_frames(r), (std::vector<int64_t>{0, 20, 45}));
  const auto pictures = decode_all(r);
  ASSERT_EQ(pictures.size(), 50u);
  for (size_t k = 0; k < pictures.size(); ++k) {
    EXPECT_EQ(pictures[k].width, k < 20 ? 160 : 96) << k;
    EXPECT_EQ(pictures[k].height, k < 20 ? 120 : 64) << k;
    EXPECT_EQ(pictures[k].number, static_cast<int>(k));
  }
}

TEST(MakerRoundTrip, EverySliceCountsAsAFrame) {
  RecordingSpec recipe = small_spec();
  recipe.slices = 3;
  recipe.frames = 12;
  recipe.gop = 5;
  Recording r;
  ASSERT_FALSE(make_and_load(recipe, "slices.264", r).empty());
  EXPECT_EQ(r.frames.size(), 36u);
  EXPECT_EQ(key_frames(r), (std::vector<int64_t>{0, 1, 2, 15, 16, 17, 30, 31, 32}));
}

TEST(MakerRoundTrip, SameSpecAndPathIsMadeOnce) {
  RecordingSpec recipe = small_spec();
  recipe.frames = 2;
  const std::string path = test_temp_dir() + "/once.264";
  ASSERT_EQ(make_recording_file(recipe, path), path);
  ASSERT_TRUE(write_file_bytes(path, {1, 2, 3}));
  EXPECT_EQ(make_recording_file(recipe, path), path);
  EXPECT_EQ(read_file_bytes(path).size(), 3u);  // not remade
  recipe.frames = 3;
  EXPECT_EQ(make_recording_file(recipe, path), path);
  EXPECT_GT(read_file_bytes(path).size(), 3u);  // other settings: remade
}

TEST(MakerOptions, BadOptionsFailWithAMessageAndWriteNothing) {
  const std::string tool = std::string(H264_TOOLS_DIR) + "/make_recording";
  const std::string out = test_temp_dir() + "/refused.264";
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{}, "--out PATH is required"},
      {{"--out", out, "--fps", "0"}, "--fps"},
      {{"--out", out, "--fps", "abc"}, "--fps needs a number"},
      {{"--out", out, "--width", "161"}, "even"},
      {{"--out", out, "--frames"}, "--frames needs a value"},
      {{"--out", out, "--gop", "10", "--mid-gop", "10"}, "--mid-gop"},
      {{"--out", out, "--size-change-at", "1"}, "go together"},
      {{"--out", out, "--size-change-at", "9", "--width2", "96", "--height2", "64"}, "before the last"},
      {{"--out", out, "--first-ts", "100", "--audio", "--audio-offset-ms", "200"}, "before timestamp 0"},
      {{"--out", out, "--block-samples", "65532"}, "--block-samples"},
      {{"--out", out, "--slices", "16"}, "--slices"},
      {{"--out", out, "--moving-object", "5-3"}, "--moving-object needs seconds FROM-TO"},
      {{"--out", out, "--moving-object", "5"}, "--moving-object needs seconds FROM-TO"},
      {{"--out", out, "--exposure-step", "-1"}, "--exposure-step needs a second"},
      {{"--out", out, "--qp", "30", "--bitrate", "1000"}, "exclude each other"},
      {{"--out", out, "--qp", "52"}, "--qp needs a whole number from 0 to 51"},
      {{"--out", out, "--colour"}, "unknown option '--colour'"},
      {{"--out", test_temp_dir() + "/missing/x.264", "--frames", "1"}, "cannot write"},
  };
  for (const Case& c : cases) {
    std::string output;
    EXPECT_EQ(run_program(tool, c.args, &output), 1) << output;
    EXPECT_NE(output.find(c.message), std::string::npos) << output;
  }
  EXPECT_TRUE(read_file_bytes(out).empty());
  std::string help;
  EXPECT_EQ(run_program(tool, {"--help"}, &help), 0);
  EXPECT_NE(help.find("--bad-hxaf N"), std::string::npos);
}

// Each picture's time is its own timestamp from the origin; a jump of the
// camera's clock costs one interval at the rate measured so far and the clock
// runs on from there. Start-code bytes in headers and loud sound change nothing.
TEST(MakerRoundTrip, EveryPictureKeepsItsOwnTimeOnTheCamerasClock) {
  struct Case {
    const char* name;
    double fps;
    int frames;
    std::vector<std::string> extra;
    std::function<double(int)> time;  // expected time of frame k
    double want_fps;
  };
  const std::vector<Case> cases = {
      {"12.5 fps", 12.5, 50, {}, [](int k) { return 0.08 * k; }, 12.5},
      {"29.97 fps", 29.97, 60, {}, [](int k) { return std::llround(k * 1000 / 29.97) / 1000.0; }, 30},
      {"25 then 5 fps from 1 s", 25, 40, {"--fps2", "5", "--rate-change-at", "1"},
       [](int k) { return k <= 25 ? 0.04 * k : 1.0 + 0.2 * (k - 25); }, 10},
      {"every 5th picture dropped", 25, 50, {"--drop-every", "5"},
       [](int k) { return 0.04 * (k + k / 5); }, 49 / 2.32},
      // The detected rate reads the jump as time (under 1 fps: the default);
      // the clock's own rate does not.
      {"clock jumps 60 s ahead at 30", 25, 50, {"--ts-jump-at", "30", "--ts-jump-ms", "60000"},
       [](int k) { return 0.04 * k; }, 15},
      {"clock jumps 20 s back at 30", 25, 50,
       {"--ts-jump-at", "30", "--ts-jump-ms", "-20000", "--first-ts", "100000"},
       [](int k) { return 0.04 * k; }, 15},
      {"start codes in headers and loud sound", 25, 50,
       {"--header-start-codes", "--audio", "--loud-audio", "--first-ts", "257"},
       [](int k) { return 0.04 * k; }, 25},
  };
  int made = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSpec recipe = small_spec();
    recipe.fps = c.fps;
    recipe.frames = c.frames;
    recipe.extra_args = c.extra;
    Recording r;
    ASSERT_FALSE(make_and_load(recipe, "clock" + std::to_string(made++) + ".264", r).empty());
    ASSERT_EQ(r.frames.size(), static_cast<size_t>(c.frames));
    ASSERT_EQ(r.frame_times.size(), r.frames.size());
    EXPECT_NEAR(r.fps, c.want_fps, 0.05);
    for (int k = 0; k < c.frames; ++k) EXPECT_NEAR(r.frame_times[k], c.time(k), 1e-6) << k;
    // The last picture lasts one interval of the timestamps' own rate.
    const double span = c.time(c.frames - 1);
    EXPECT_NEAR(r.clock_rate, (c.frames - 1) / span, 1e-6);
    EXPECT_NEAR(recording_duration(r), span + span / (c.frames - 1), 1e-6);
  }
}
