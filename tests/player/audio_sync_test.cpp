// The sound keeping step with the picture: the summary of sync samples, and a
// made recording with sound played through the real player at real speed.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "headless_sdl.h"
#include "player/audio_output.h"
#include "player/audio_sync.h"
#include "sdl_events.h"
#include "player/engine.h"
#include "test_recordings.h"

namespace {

TEST(AudioSyncSummary, GapAndDriftOfSamples) {
  struct Case {
    const char* name;
    std::vector<SyncSample> samples;
    double max_gap, behind, ahead, mean_gap, drift_per_min;
  } cases[] = {
      {"none", {}, 0, 0, 0, 0, 0},
      {"one sample", {{1.0, 0.8}}, 0.2, 0.2, 0, 0.2, 0},
      {"same time twice", {{1.0, 0.8}, {1.0, 0.9}}, 0.2, 0.2, 0, 0.15, 0},
      {"steady lead of the sound", {{0, 0.1}, {30, 30.1}, {60, 60.1}}, 0.1, 0, 0.1, -0.1, 0},
      // 0.02 s further behind every minute, starting 0.05 s ahead.
      {"sound falling behind", {{0, 0.05}, {60, 60.03}, {120, 120.01}, {180, 179.99}}, 0.05, 0.01,
       0.05, -0.02, 0.02},
  };
  for (const Case& c : cases) {
    const SyncReport report = summarize_sync(c.samples);
    EXPECT_EQ(report.samples, c.samples.size()) << c.name;
    EXPECT_NEAR(report.max_gap_s, c.max_gap, 1e-9) << c.name;
    EXPECT_NEAR(report.most_behind_s, c.behind, 1e-9) << c.name;
    EXPECT_NEAR(report.most_ahead_s, c.ahead, 1e-9) << c.name;
    EXPECT_NEAR(report.mean_gap_s, c.mean_gap, 1e-9) << c.name;
    EXPECT_NEAR(report.drift_s_per_min, c.drift_per_min, 1e-9) << c.name;
  }
  EXPECT_DOUBLE_EQ(heard_seconds(2.0, 16000), 1.0);
}

// Feeds measurements once per picture at `fps` from video time `from` to `to`,
// the lag given by `lag(t)`; returns the last answer, and the largest one
// (by size) in *largest.
template <typename Lag>
double measure_over(AudioDrift& drift, double from, double to, Lag lag, double fps = 30,
                    double* largest = nullptr) {
  double behind = 0;
  for (int i = 0; from + i / fps <= to; ++i) {
    const double t = from + i / fps;
    behind = measure_audio_drift(drift, t, t - lag(t));
    if (largest) *largest = std::max(*largest, std::fabs(behind));
  }
  return behind;
}

TEST(AudioDriftMeasure, SteadyLagIsNotDrift) {
  // What SDL reports: the device takes 128 ms at a time, so the heard time
  // jumps ahead by 0.128 s and the lag climbs back.
  auto in_buffers = [](double t) { return 0.25 - std::fmod(t, 0.128); };
  for (double fps : {30.0, 25.0}) {
    AudioDrift drift;
    EXPECT_EQ(measure_over(drift, 0.0, 0.95, in_buffers, fps), 0.0) << fps;  // still settling
    double largest = 0;
    measure_over(drift, 1.0, 60.0, in_buffers, fps, &largest);
    EXPECT_LT(largest, kDriftTolerance) << fps;
  }
  AudioDrift drift;
  double largest = 0;
  measure_over(drift, 0.0, 10.0, [](double) { return 0.15; }, 30, &largest);
  EXPECT_NEAR(largest, 0.0, 1e-9);
}

TEST(AudioDriftMeasure, LatePictureLeavesTheSoundAhead) {
  AudioDrift drift;
  measure_over(drift, 0.0, 2.0, [](double) { return 0.2; });
  // The picture stood still for 0.2 s while the sound played on.
  const double behind = measure_over(drift, 2.0, 5.0, [](double) { return 0.0; });
  EXPECT_NEAR(behind, -0.2, 0.01);
}

TEST(AudioDriftMeasure, SlowDeviceFallsBehindFromWhereItSettled) {
  AudioDrift drift;
  // The device takes 98% of real time; the run starts 0.2 s behind.
  auto lag = [](double t) { return 0.2 + 0.02 * t; };
  measure_over(drift, 0.0, 1.5, lag);
  EXPECT_TRUE(drift.settled);
  EXPECT_NEAR(drift.baseline_s, 0.2 + 0.02 * 0.5, 0.02);
  const double behind = measure_over(drift, 1.5, 6.0, lag);
  EXPECT_GT(behind, 0.06);
  EXPECT_LT(behind, 0.11);

  // A new run (after a seek, an underrun) settles afresh.
  restart_audio_drift(drift);
  EXPECT_FALSE(drift.running);
  EXPECT_EQ(measure_over(drift, 10.0, 10.9, [](double) { return 0.7; }), 0.0);
  EXPECT_NEAR(measure_over(drift, 11.0, 13.0, [](double) { return 0.7; }), 0.0, 1e-9);
}

TEST(AudioDriftMeasure, AReadingHoursOffStartsAFreshRunInsteadOfBeingAveraged) {
  // One block stamped an hour early is heard while the run settles.
  AudioDrift drift;
  measure_over(drift, 0.0, 0.5, [](double) { return 0.1; });
  EXPECT_EQ(measure_audio_drift(drift, 0.5, 0.5 - 3600.0), 0.0);
  EXPECT_EQ(measure_over(drift, 0.53, 1.4, [](double) { return 0.1; }), 0.0);  // settling again
  double largest = 0;
  measure_over(drift, 1.6, 5.0, [](double) { return 0.1; }, 30, &largest);
  ASSERT_TRUE(drift.settled);
  EXPECT_NEAR(drift.baseline_s, 0.1, 1e-9);
  EXPECT_LT(largest, 1e-9) << "no silence or skipping for a steady lag";

  // Once settled, such a reading is no drift either, and a jump the other way
  // (a block stamped an hour late) neither.
  for (const double off : {3600.0, -3600.0}) {
    EXPECT_EQ(measure_audio_drift(drift, 5.1, 5.1 - 0.1 - off), 0.0);
    EXPECT_EQ(measure_audio_drift(drift, 5.13, 5.13 - 0.1), 0.0);
    EXPECT_FALSE(drift.settled);
    measure_over(drift, 5.2, 7.0, [](double) { return 0.1; });
    EXPECT_NEAR(drift.baseline_s, 0.1, 1e-9);
  }
}

// Plays `path` through the real player at real speed in a window of its own,
// recording a sync sample at every picture; Escape ends the finished state as
// soon as it begins.
std::vector<SyncSample> play_and_sample_sync(const std::string& path) {
  std::vector<SyncSample> samples;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  PlaybackOptions options;
  options.on_finished = [](PlayerState&) { push_key(SDLK_ESCAPE); };
  start_sync_recording(samples);
  play_recording_with(path, window, renderer, options);
  stop_sync_recording();
  if (renderer) SDL_DestroyRenderer(renderer);
  if (window) SDL_DestroyWindow(window);
  return samples;
}

// Ten seconds at 30 fps through the real player at real speed, on a device
// that takes its buffers about 2% slower than real time: uncorrected, the
// sound would end a quarter of a second further behind.
TEST(AudioSyncPlayback, SoundKeepsStepWithThePictureOnASlowDevice) {
  RecordingSpec recipe;
  recipe.fps = 30;
  recipe.duration_s = 10;
  recipe.audio = true;
  const std::string path = make_recording_file(recipe, test_temp_dir() + "/sync_30fps.264");
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(init_headless_video());

  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", (test_temp_dir() + "/sync_device.raw").c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "131", 1);  // each 128 ms buffer takes 131 ms

  const SyncReport report = summarize_sync(play_and_sample_sync(path));
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  unsetenv("SDL_DISKAUDIODELAY");
  unsetenv("SDL_DISKAUDIOFILE");

  ASSERT_GT(report.samples, 250u) << "the sound was fed at too few pictures";
  EXPECT_LE(report.max_gap_s, 0.35);
  EXPECT_LT(std::fabs(report.drift_s_per_min), 0.3);
  EXPECT_GT(report.skipped_blocks, 5u) << "the device was not slow: the check proves nothing";
  printf("sync: %zu pictures, largest gap %.3f s, mean %+.3f s, drift %+.3f s/min, "
         "%llu blocks skipped, %.2f s of silence\n",
         report.samples, report.max_gap_s, report.mean_gap_s, report.drift_s_per_min,
         static_cast<unsigned long long>(report.skipped_blocks), report.silence_s);
}

}  // namespace

namespace {

// A 12.5 fps recording plays at 12.5 fps on the camera's clock, so its sound
// keeps step with the pictures; read as 12 fps, the gap drifted 2.4 s a minute.
// (The steady part of the gap is the device's queue.)
TEST(AudioSyncPlayback, TwelveAndAHalfFramesPerSecondKeepStepWithTheSound) {
  RecordingSpec recipe;
  recipe.fps = 12.5;
  recipe.duration_s = 6;
  recipe.audio = true;
  const std::string path = make_recording_file(recipe, test_temp_dir() + "/sync_12_5fps.264");
  ASSERT_FALSE(path.empty());
  // A device that takes the sound at once: the samples measure the player alone.
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_TRUE(init_headless_video());
  const SyncReport report = summarize_sync(play_and_sample_sync(path));
  ASSERT_GT(report.samples, 60u);
  EXPECT_LE(report.max_gap_s, 0.6);
  EXPECT_LT(std::fabs(report.drift_s_per_min), 0.5);
}

}  // namespace
