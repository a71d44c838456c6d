// The sound keeping step with the picture: the summary of sync samples, and a
// made recording with sound played through the real player at real speed.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "player/audio_output.h"
#include "player/audio_sync.h"

namespace {

TEST(AudioSyncSummary, GapAndDriftOfSamples) {
  struct Case {
    const char* name;
    std::vector<SyncSample> samples;
    double max_gap, mean_gap, drift_per_min;
  } cases[] = {
      {"none", {}, 0, 0, 0},
      {"one sample", {{1.0, 0.8}}, 0.2, 0.2, 0},
      {"same time twice", {{1.0, 0.8}, {1.0, 0.9}}, 0.2, 0.15, 0},
      {"steady lead of the sound", {{0, 0.1}, {30, 30.1}, {60, 60.1}}, 0.1, -0.1, 0},
      // 0.02 s further behind every minute, starting 0.05 s ahead.
      {"sound falling behind", {{0, 0.05}, {60, 60.03}, {120, 120.01}, {180, 179.99}}, 0.05, -0.02, 0.02},
  };
  for (const Case& c : cases) {
    const SyncReport report = summarize_sync(c.samples);
    EXPECT_EQ(report.samples, c.samples.size()) << c.name;
    EXPECT_NEAR(report.max_gap_s, c.max_gap, 1e-9) << c.name;
    EXPECT_NEAR(report.mean_gap_s, c.mean_gap, 1e-9) << c.name;
    EXPECT_NEAR(report.drift_s_per_min, c.drift_per_min, 1e-9) << c.name;
  }
  EXPECT_DOUBLE_EQ(heard_seconds(2.0, 16000), 1.0);
}

// Feeds measurements every 1/30 s from video time `from` to `to`, the lag given
// by `lag(t)`; returns the last answer.
template <typename Lag>
double measure_over(AudioDrift& drift, double from, double to, Lag lag) {
  double behind = 0;
  for (double t = from; t <= to; t += 1.0 / 30) behind = measure_audio_drift(drift, t, t - lag(t));
  return behind;
}

TEST(AudioDriftMeasure, SteadyLagIsNotDrift) {
  struct Case {
    const char* name;
    double (*lag)(double t);
  } cases[] = {
      {"constant", [](double) { return 0.15; }},
      // What SDL reports: the device takes 128 ms at a time, so the heard time
      // jumps ahead by 0.128 s and the lag climbs back.
      {"taken in device buffers", [](double t) { return 0.25 - std::fmod(t, 0.128); }},
  };
  for (const Case& c : cases) {
    AudioDrift drift;
    EXPECT_EQ(measure_over(drift, 0.0, 0.9, c.lag), 0.0) << c.name;  // still settling
    for (double end = 2.0; end < 30.0; end += 3.7) {
      EXPECT_LT(std::fabs(measure_over(drift, end - 1.0, end, c.lag)), kDriftTolerance / 2)
          << c.name << " at " << end;
    }
  }
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

}  // namespace
