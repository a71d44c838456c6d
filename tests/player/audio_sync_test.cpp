// The sound keeping step with the picture: the summary of sync samples, and a
// made recording with sound played through the real player at real speed.
#include <gtest/gtest.h>

#include <vector>

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

}  // namespace
