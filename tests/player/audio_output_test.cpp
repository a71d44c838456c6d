// The sound of the file player through SDL's dummy audio driver: what is
// queued (bytes in SDL's queue and the block cursor) at every discontinuity,
// and what is not queued at other speeds, while paused or muted.
#include <SDL.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio_test_blocks.h"
#include "draw/toast.h"
#include "player/audio_output.h"
#include "recording/recording.h"
#include "test_recordings.h"

namespace {

// Each case starts with SDL's audio down, so opening takes the second try
// with the driver the case chose.
class AudioOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
  }
  void TearDown() override {
    close_audio_output(audio);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
  }

  // Opens on `blocks`; returns what it printed.
  std::string open(const TestAudioBlocks& blocks, uint32_t origin) {
    testing::internal::CaptureStdout();
    open_audio_output(audio, blocks.blocks, origin);
    return testing::internal::GetCapturedStdout();
  }

  // The device stops taking from its queue, so the queued bytes are exact.
  void hold_device() { SDL_PauseAudioDevice(audio.device, 1); }

  uint32_t queued_bytes() const { return SDL_GetQueuedAudioSize(audio.device); }

  AudioOutput audio;
};

// Ten 160-sample blocks 100 ms apart from the origin at 5000 ms: times 0.0 .. 0.9 s.
TestAudioBlocks ten_blocks() {
  std::vector<TestBlockSpec> recipes;
  for (uint32_t i = 0; i < 10; ++i) recipes.push_back({5000 + 100 * i, 160, 0xD5});
  return make_test_audio_blocks(recipes);
}

constexpr uint32_t kBlockBytes = 160 * 2;

TEST(AudioBlockSearch, FindsFirstBlockNotBeforeTime) {
  // Times from origin 10000: -0.5, -0.02, 0, 0.02, 0.02, 0.04, 1.0 s.
  const TestAudioBlocks blocks =
      make_test_audio_blocks({{9500, 8, 0xD5}, {9980, 8, 0xD5}, {10000, 8, 0xD5}, {10020, 8, 0xD5},
                              {10020, 8, 0xD5}, {10040, 8, 0xD5}, {11000, 8, 0xD5}});
  AudioOutput audio;
  audio.blocks = blocks.blocks;
  audio.time_origin = 10000;
  ASSERT_EQ(audio.blocks.size(), 7u);
  EXPECT_DOUBLE_EQ(audio_block_time(audio, 0), -0.5);
  EXPECT_DOUBLE_EQ(audio_block_time(audio, 6), 1.0);

  struct Case {
    double t;
    size_t expected;
  } cases[] = {
      {-10.0, 0}, {-0.5, 0}, {-0.49, 1}, {-0.02, 1}, {-0.01, 2}, {0.0, 2},   {0.01, 3},
      {0.02, 3},  {0.03, 5}, {0.5, 6},   {1.0, 6},   {1.001, 7}, {100.0, 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(find_audio_block_at(audio, c.t), c.expected) << "t = " << c.t;
  }

  AudioOutput empty;
  EXPECT_EQ(find_audio_block_at(empty, 0.0), 0u);
  EXPECT_EQ(find_audio_block_at(empty, -1.0), 0u);
}

TEST(AudioBlockSearch, BlockTimesAcrossTimestampWrap) {
  // The origin sits at the top of the 32-bit range; later stamps wrapped.
  const TestAudioBlocks blocks = make_test_audio_blocks(
      {{0xFFFFFF00u, 8, 0xD5}, {0xFFFFFFFFu, 8, 0xD5}, {0x00000063u, 8, 0xD5}});
  AudioOutput audio;
  audio.blocks = blocks.blocks;
  audio.time_origin = 0xFFFFFFFFu;
  EXPECT_DOUBLE_EQ(audio_block_time(audio, 0), -0.255);
  EXPECT_DOUBLE_EQ(audio_block_time(audio, 1), 0.0);
  EXPECT_DOUBLE_EQ(audio_block_time(audio, 2), 0.1);
  EXPECT_EQ(find_audio_block_at(audio, 0.05), 2u);
}

TEST_F(AudioOutputTest, NoBlocksOpensNoDevice) {
  EXPECT_EQ(open(TestAudioBlocks{}, 0), "");
  EXPECT_FALSE(audio.has_audio);
  EXPECT_EQ(audio.device, 0u);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);

  // Without audio the mute key still flips the flag.
  toggle_mute(audio, 0.0);
  EXPECT_TRUE(audio.muted);
  EXPECT_STREQ(toast_text(), "MUTE");
  toggle_mute(audio, 0.0);
  EXPECT_FALSE(audio.muted);
  EXPECT_STREQ(toast_text(), "SOUND");
}

TEST_F(AudioOutputTest, OpensInQueueModeOnSecondTry) {
  const TestAudioBlocks blocks = ten_blocks();
  ASSERT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  EXPECT_EQ(open(blocks, 5000), "Audio: 10 HXAF blocks, G.711 A-law 8000Hz mono\n");
  ASSERT_NE(audio.device, 0u);
  EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  EXPECT_TRUE(audio.has_audio);
  EXPECT_EQ(SDL_GetAudioDeviceStatus(audio.device), SDL_AUDIO_PLAYING);
  EXPECT_EQ(audio.cursor, 0u);
  EXPECT_EQ(audio.volume, 100);
  EXPECT_FALSE(audio.muted);
  EXPECT_EQ(queued_bytes(), 0u);

  close_audio_output(audio);
  EXPECT_EQ(audio.device, 0u);
  EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);  // stays up for the next playback
}

TEST_F(AudioOutputTest, NoDeviceReportsAndPlaysSilently) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  const TestAudioBlocks blocks = ten_blocks();
  const std::string printed = open(blocks, 5000);
  EXPECT_EQ(printed.rfind("Audio device open failed: ", 0), 0u) << printed;
  EXPECT_GT(printed.size(), std::string("Audio device open failed: \n").size());
  EXPECT_EQ(printed.back(), '\n');
  EXPECT_EQ(audio.device, 0u);
  EXPECT_TRUE(audio.has_audio);
  uint32_t shown = SDL_GetTicks();
  EXPECT_STREQ(toast_text(), "NO AUDIO DEVICE");
  EXPECT_TRUE(toast_showing(shown + 2900));
  EXPECT_FALSE(toast_showing(shown + 3100));

  // Nothing to feed or resynchronise; the cursor stays.
  feed_audio(audio, 0.5, false, 1.0);
  resync_audio(audio, 0.7);
  pause_audio(audio, true, 0.5);
  pause_audio(audio, false, 0.5);
  clear_audio_queue(audio);
  EXPECT_EQ(audio.cursor, 0u);

  show_toast("", 1);
  shown = SDL_GetTicks();
  toggle_mute(audio, 0.5);
  EXPECT_FALSE(audio.muted);
  EXPECT_STREQ(toast_text(), "NO AUDIO DEVICE");
  EXPECT_TRUE(toast_showing(shown + 1900));
  EXPECT_FALSE(toast_showing(shown + 2100));
}

TEST_F(AudioOutputTest, FeedsUpToLeadAheadOnlyAtNormalSpeed) {
  const TestAudioBlocks blocks = ten_blocks();
  open(blocks, 5000);
  ASSERT_NE(audio.device, 0u);
  hold_device();

  feed_audio(audio, 0.0, false, 1.0);  // blocks at 0.0 .. 0.3 s
  EXPECT_EQ(audio.cursor, 4u);
  EXPECT_EQ(queued_bytes(), 4 * kBlockBytes);

  feed_audio(audio, 0.05, false, 1.0);  // up to 0.35 s: nothing new is due
  EXPECT_EQ(audio.cursor, 4u);

  // Nothing at other speeds, paused or muted; the cursor waits.
  feed_audio(audio, 0.3, false, 2.0);
  feed_audio(audio, 0.3, false, 0.5);
  feed_audio(audio, 0.3, false, 0.98);
  feed_audio(audio, 0.3, true, 1.0);
  audio.muted = true;
  feed_audio(audio, 0.3, false, 1.0);
  audio.muted = false;
  EXPECT_EQ(audio.cursor, 4u);
  EXPECT_EQ(queued_bytes(), 4 * kBlockBytes);

  feed_audio(audio, 0.1, false, 0.99);  // the limits of normal speed are inclusive
  EXPECT_EQ(audio.cursor, 5u);
  feed_audio(audio, 0.2, false, 1.01);
  EXPECT_EQ(audio.cursor, 6u);

  feed_audio(audio, 60.0, false, 1.0);  // past the end: everything, then no more
  EXPECT_EQ(audio.cursor, 10u);
  EXPECT_EQ(queued_bytes(), 10 * kBlockBytes);
  feed_audio(audio, 61.0, false, 1.0);
  EXPECT_EQ(queued_bytes(), 10 * kBlockBytes);
}

TEST_F(AudioOutputTest, BlocksBeforeOriginAreNotPlayedAtStart) {
  // Sound recorded half a second before the first picture.
  const TestAudioBlocks blocks = make_test_audio_blocks(
      {{4500, 160, 0xD5}, {4800, 160, 0xD5}, {5000, 160, 0xD5}, {5100, 160, 0xD5}});
  open(blocks, 5000);
  ASSERT_NE(audio.device, 0u);
  hold_device();
  EXPECT_EQ(audio.cursor, 2u);
  feed_audio(audio, 1.0 / 30, false, 1.0);
  EXPECT_EQ(audio.cursor, 4u);
  EXPECT_EQ(queued_bytes(), 2 * kBlockBytes);
}

TEST_F(AudioOutputTest, MadeRecordingWithSoundBeforeThePicture) {
  RecordingSpec recipe;
  recipe.duration_s = 1;
  recipe.audio = true;
  recipe.audio_offset_ms = 500;
  const std::string path = make_recording_file(recipe, test_temp_dir() + "/sound_first.264");
  ASSERT_FALSE(path.empty());
  Recording recording;
  testing::internal::CaptureStdout();
  const bool loaded = load_recording(path, recording);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(loaded);
  std::vector<AudioBlock> found = index_audio_blocks(recording.payload(), recording.length);
  const uint32_t origin = find_time_origin(recording.payload(), recording.length, found);
  ASSERT_EQ(origin, recipe.first_ts);

  // 20 ms blocks from half a second before the first picture: 25 of them come first.
  testing::internal::CaptureStdout();
  open_audio_output(audio, found, origin);
  testing::internal::GetCapturedStdout();
  ASSERT_NE(audio.device, 0u);
  EXPECT_DOUBLE_EQ(audio_block_time(audio, 0), -0.5);
  EXPECT_EQ(audio.cursor, 25u);
  hold_device();
  feed_audio(audio, 0.17, false, 1.0);
  EXPECT_EQ(audio.cursor, 49u);  // up to the block at 0.46 s
  EXPECT_EQ(queued_bytes(), (audio.cursor - 25) * kBlockBytes);
}

TEST_F(AudioOutputTest, SeekDropsQueueAndRestartsAtMatchingBlock) {
  const TestAudioBlocks blocks = ten_blocks();
  open(blocks, 5000);
  ASSERT_NE(audio.device, 0u);
  hold_device();
  feed_audio(audio, 0.4, false, 1.0);
  ASSERT_EQ(audio.cursor, 8u);

  resync_audio(audio, 0.25);  // back: the first block at or after 0.25 s is at 0.3 s
  EXPECT_EQ(queued_bytes(), 0u);
  EXPECT_EQ(audio.cursor, 3u);
  feed_audio(audio, 0.25, false, 1.0);
  EXPECT_EQ(audio.cursor, 6u);
  EXPECT_EQ(queued_bytes(), 3 * kBlockBytes);

  resync_audio(audio, 5.0);  // beyond the last block
  EXPECT_EQ(audio.cursor, 10u);
  feed_audio(audio, 5.0, false, 1.0);
  EXPECT_EQ(queued_bytes(), 0u);

  resync_audio(audio, -3.0);
  EXPECT_EQ(audio.cursor, 0u);
}

TEST_F(AudioOutputTest, PauseKeepsQueueAndResumeRestartsAtPosition) {
  const TestAudioBlocks blocks = ten_blocks();
  open(blocks, 5000);
  ASSERT_NE(audio.device, 0u);
  pause_audio(audio, true, 0.0);
  EXPECT_EQ(SDL_GetAudioDeviceStatus(audio.device), SDL_AUDIO_PAUSED);
  feed_audio(audio, 0.0, false, 1.0);  // what was queued when the pause came
  ASSERT_EQ(queued_bytes(), 4 * kBlockBytes);
  pause_audio(audio, true, 0.0);
  EXPECT_EQ(queued_bytes(), 4 * kBlockBytes);
  feed_audio(audio, 0.2, true, 1.0);  // nothing while paused
  EXPECT_EQ(queued_bytes(), 4 * kBlockBytes);
  EXPECT_EQ(audio.cursor, 4u);

  pause_audio(audio, false, 0.5);
  EXPECT_EQ(SDL_GetAudioDeviceStatus(audio.device), SDL_AUDIO_PLAYING);
  EXPECT_EQ(queued_bytes(), 0u);
  EXPECT_EQ(audio.cursor, 5u);

  hold_device();
  feed_audio(audio, 0.5, false, 1.0);
  EXPECT_EQ(audio.cursor, 9u);
  EXPECT_EQ(queued_bytes(), 4 * kBlockBytes);
}

TEST_F(AudioOutputTest, OtherSpeedsDropQueueAndOneXRestartsAtPosition) {
  const TestAudioBlocks blocks = ten_blocks();
  open(blocks, 5000);
  ASSERT_NE(audio.device, 0u);
  hold_device();
  feed_audio(audio, 0.0, false, 1.0);

  clear_audio_queue(audio);  // speed 2x chosen
  EXPECT_EQ(queued_bytes(), 0u);
  EXPECT_EQ(audio.cursor, 4u);
  feed_audio(audio, 0.4, false, 2.0);
  feed_audio(audio, 0.6, false, 2.0);
  EXPECT_EQ(queued_bytes(), 0u);

  resync_audio(audio, 0.55);  // back to 1x at 0.55 s
  EXPECT_EQ(audio.cursor, 6u);
  feed_audio(audio, 0.55, false, 1.0);
  EXPECT_EQ(audio.cursor, 9u);
  EXPECT_EQ(queued_bytes(), 3 * kBlockBytes);
}

TEST_F(AudioOutputTest, MuteDropsQueueAndUnmuteRestartsAtPosition) {
  const TestAudioBlocks blocks = ten_blocks();
  open(blocks, 5000);
  ASSERT_NE(audio.device, 0u);
  hold_device();
  feed_audio(audio, 0.0, false, 1.0);

  const uint32_t shown = SDL_GetTicks();
  toggle_mute(audio, 0.1);
  EXPECT_TRUE(audio.muted);
  EXPECT_STREQ(toast_text(), "MUTE");
  EXPECT_TRUE(toast_showing(shown + 1400));
  EXPECT_FALSE(toast_showing(shown + 1600));
  EXPECT_EQ(queued_bytes(), 0u);
  EXPECT_EQ(audio.cursor, 4u);
  feed_audio(audio, 0.2, false, 1.0);
  EXPECT_EQ(queued_bytes(), 0u);

  toggle_mute(audio, 0.45);
  EXPECT_FALSE(audio.muted);
  EXPECT_STREQ(toast_text(), "SOUND");
  EXPECT_EQ(audio.cursor, 5u);
  EXPECT_EQ(queued_bytes(), 0u);
  feed_audio(audio, 0.45, false, 1.0);
  EXPECT_EQ(audio.cursor, 8u);
  EXPECT_EQ(queued_bytes(), 3 * kBlockBytes);
}

TEST_F(AudioOutputTest, ABlockStampedFarAheadDoesNotHoldBackTheRest) {
  // Ten blocks 100 ms apart, the fourth stamped an hour late.
  std::vector<TestBlockSpec> recipes;
  for (uint32_t i = 0; i < 10; ++i) {
    recipes.push_back({5000 + 100 * i + (i == 3 ? 3600000 : 0), 160, 0xD5});
  }
  const TestAudioBlocks blocks = make_test_audio_blocks(recipes);
  open(blocks, 5000);
  ASSERT_NE(audio.device, 0u);
  hold_device();

  feed_audio(audio, 0.0, false, 1.0);  // 0.0 .. 0.3 s: the late block is not due yet
  EXPECT_EQ(audio.cursor, 3u);
  EXPECT_EQ(queued_bytes(), 3 * kBlockBytes);
  feed_audio(audio, 0.15, false, 1.0);  // its successor is due: the late block is passed over
  EXPECT_EQ(audio.cursor, 5u);
  EXPECT_EQ(audio.skipped_blocks, 1u);
  EXPECT_EQ(queued_bytes(), 4 * kBlockBytes);
  EXPECT_DOUBLE_EQ(audio.sound_end_s, 0.4 + 0.02);
  feed_audio(audio, 0.65, false, 1.0);
  EXPECT_EQ(audio.cursor, 10u);
  EXPECT_EQ(queued_bytes(), 9 * kBlockBytes);
}

TEST_F(AudioOutputTest, StalledDeviceDoesNotPileUpSound) {
  // Ten seconds of 20 ms blocks; the device takes nothing at all.
  std::vector<TestBlockSpec> recipes;
  for (uint32_t i = 0; i < 500; ++i) recipes.push_back({1000 + 20 * i, 160, 0xD5});
  const TestAudioBlocks blocks = make_test_audio_blocks(recipes);
  open(blocks, 1000);
  ASSERT_NE(audio.device, 0u);
  hold_device();

  for (int frame = 1; frame <= 240; ++frame) feed_audio(audio, frame / 30.0, false, 1.0);
  EXPECT_GT(audio.skipped_blocks, 200u);
  EXPECT_LT(queued_bytes(), 2 * kAudioBytesPerSecond);
  EXPECT_EQ(audio.silence_s, 0.0);
  EXPECT_EQ(audio.cursor, find_audio_block_at(audio, 8.0 + kAudioLeadAhead + 1e-9));

  // A seek starts a new run: nothing is skipped while it settles.
  const uint64_t skipped = audio.skipped_blocks;
  resync_audio(audio, 2.0);
  for (int frame = 60; frame <= 80; ++frame) feed_audio(audio, frame / 30.0, false, 1.0);
  EXPECT_EQ(audio.skipped_blocks, skipped);
}

TEST_F(AudioOutputTest, LatePictureHoldsTheSoundBackWithSilence) {
  std::vector<TestBlockSpec> recipes;
  for (uint32_t i = 0; i < 250; ++i) recipes.push_back({1000 + 20 * i, 160, 0xD5});
  const TestAudioBlocks blocks = make_test_audio_blocks(recipes);
  open(blocks, 1000);
  ASSERT_NE(audio.device, 0u);

  // The picture follows the clock, except that it stands still for 0.4 s at
  // 1.2 s, longer than the queue lasts, while the device plays on.
  const uint32_t start = SDL_GetTicks();
  double position = 0;
  while (position < 4.2) {
    const double now = (SDL_GetTicks() - start) / 1000.0;
    position = now < 1.2 ? now : now < 1.6 ? 1.2 : now - 0.4;
    feed_audio(audio, position, false, 1.0);
    SDL_Delay(10);
  }
  // Back at the lag the sound settled at. How much silence that took depends
  // on how far the busy device itself fell behind meanwhile.
  ASSERT_TRUE(audio.drift.settled);
  EXPECT_NEAR(audio.drift.lag_s, audio.drift.baseline_s, 0.05);
  EXPECT_GT(audio.silence_s, 0.1) << "skipped " << audio.skipped_blocks;
  EXPECT_LT(audio.silence_s, 0.5);
}

TEST_F(AudioOutputTest, FeedObserverSeesWhatWasQueued) {
  std::vector<AudioFeedReport> seen;
  set_audio_feed_observer(
      [](void* user, const AudioFeedReport& report) {
        static_cast<std::vector<AudioFeedReport>*>(user)->push_back(report);
      },
      &seen);

  const TestAudioBlocks blocks = ten_blocks();
  open(blocks, 5000);
  ASSERT_NE(audio.device, 0u);
  hold_device();
  feed_audio(audio, 0.1, false, 1.0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_DOUBLE_EQ(seen[0].video_position_s, 0.1);
  EXPECT_DOUBLE_EQ(seen[0].sound_end_s, 0.4 + 0.02);  // block at 0.4 s, 160 samples
  EXPECT_EQ(seen[0].queued_bytes, 5 * kBlockBytes);
  EXPECT_EQ(seen[0].skipped_blocks, 0u);
  EXPECT_EQ(seen[0].silence_s, 0.0);

  set_audio_feed_observer(nullptr, nullptr);
  feed_audio(audio, 0.2, false, 1.0);
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace

namespace {

// What SDL's disk driver wrote: signed 16-bit samples in the device format.
std::vector<int16_t> read_samples(const std::string& path) {
  std::vector<int16_t> samples;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return samples;
  int16_t buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, sizeof(int16_t), 4096, f)) > 0) samples.insert(samples.end(), buffer, buffer + n);
  fclose(f);
  return samples;
}

// Where `run` (count repetitions of `pattern`) starts in `samples`, or -1.
long find_run(const std::vector<int16_t>& samples, const std::vector<int16_t>& pattern, size_t count) {
  std::vector<int16_t> run;
  for (size_t i = 0; i < count; ++i) run.insert(run.end(), pattern.begin(), pattern.end());
  auto it = std::search(samples.begin(), samples.end(), run.begin(), run.end());
  return it == samples.end() ? -1 : static_cast<long>(it - samples.begin());
}

// Lets the device take everything queued; closing it then writes the last buffer out.
void wait_until_taken(const AudioOutput& audio) {
  for (int i = 0; i < 300 && SDL_GetQueuedAudioSize(audio.device) > 0; ++i) SDL_Delay(10);
}

TEST_F(AudioOutputTest, QueuedSamplesCarryTheVolumeOfTheirFeed) {
  char folder[] = "/tmp/audio_output_test_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string out = std::string(folder) + "/device.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);

  // Quietest and loudest codes of both signs.
  const std::vector<uint8_t> codes = {0xD5, 0x55, 0xAA, 0x2A};
  const TestAudioBlocks blocks =
      make_test_audio_blocks({{1000, 160, 0, codes}, {2000, 160, 0, codes}, {3000, 160, 0, codes}});
  open(blocks, 1000);
  ASSERT_NE(audio.device, 0u) << SDL_GetError();

  audio.volume = 50;
  feed_audio(audio, 0.0, false, 1.0);
  wait_until_taken(audio);

  // Muted, then the volume slider moved to 70: the controls unmute and
  // resynchronise, and the sound restarts at the block of the picture.
  toggle_mute(audio, 0.5);
  audio.volume = 70;
  audio.muted = false;
  clear_audio_queue(audio);
  resync_audio(audio, 1.5);
  EXPECT_EQ(audio.cursor, 2u);
  feed_audio(audio, 1.5, false, 1.0);
  EXPECT_EQ(audio.cursor, 2u);
  feed_audio(audio, 1.8, false, 1.0);
  EXPECT_EQ(audio.cursor, 3u);
  wait_until_taken(audio);
  close_audio_output(audio);

  const std::vector<int16_t> written = read_samples(out);
  const long at_half = find_run(written, {4, -4, 16128, -16128}, 40);
  const long at_70 = find_run(written, {5, -5, 22579, -22579}, 40);
  EXPECT_GE(at_half, 0);
  EXPECT_GT(at_70, at_half);
  EXPECT_EQ(find_run(written, {8, -8, 32256, -32256}, 1), -1);  // nothing at full volume

  unsetenv("SDL_DISKAUDIOFILE");
  remove(out.c_str());
  rmdir(folder);
}

}  // namespace
