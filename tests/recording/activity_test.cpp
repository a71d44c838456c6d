// Activity from picture sizes: synthetic size series with known events, the
// figures per stretch of time, the jumps between stretches, and the slice
// type read from a slice header.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "recording/activity.h"

namespace {

struct Series {
  std::vector<double> times;
  std::vector<int64_t> sizes;
  std::vector<bool> key;
  double duration = 0;
};

// Pictures at `fps` for `seconds`, a key picture every `gop` costing 100 KB;
// the others cost size(t, pictures since the key), moved by up to 10 % as
// sensor noise moves them.
Series make_series(double fps, double seconds, int gop,
                   const std::function<double(double, int)>& size) {
  Series s;
  const auto count = static_cast<int>(std::lround(fps * seconds));
  uint32_t state = 12345;
  for (int k = 0; k < count; ++k) {
    const double t = k / fps;
    state = state * 1664525u + 1013904223u;
    const double jitter = 0.9 + 0.2 * (state >> 8) / 16777216.0;
    s.times.push_back(t);
    s.key.push_back(k % gop == 0);
    s.sizes.push_back(k % gop == 0 ? 100000 : std::llround(size(t, k % gop) * jitter));
  }
  s.duration = count / fps;
  return s;
}

// Usual pictures of 4000 bytes, `factor` times that within [from, to).
std::function<double(double, int)> busy(std::vector<std::pair<double, double>> spans,
                                        double factor = 4.0, double usual = 4000) {
  return [=](double t, int) {
    for (const auto& [from, to] : spans) {
      if (t >= from && t < to) return usual * factor;
    }
    return usual;
  };
}

std::vector<ActivityStretch> stretches_of(const Series& s) {
  return find_activity_stretches(activity_from_sizes(s.times, s.sizes, s.key, s.duration));
}

}  // namespace

TEST(ActivityFromSizes, FindsKnownStretchesAndNothingElse) {
  struct Case {
    const char* name;
    double fps, seconds;
    int gop;
    std::function<double(double, int)> size;
    std::vector<std::pair<double, double>> want;
  };
  const std::vector<Case> cases = {
      {"steady sensor noise", 25, 60, 50, busy({}), {}},
      {"single huge pictures (exposure jumps)", 25, 60, 50,
       [](double t, int) { return std::fmod(t, 7.3) < 0.04 ? 60000.0 : 4000.0; }, {}},
      {"three pictures after each key picture cost 4x", 25, 60, 50,
       [](double, int since_key) { return since_key <= 3 ? 16000.0 : 4000.0; }, {}},
      {"two after each key at 12.5 fps", 12.5, 60, 25,
       [](double, int since_key) { return since_key <= 2 ? 16000.0 : 4000.0; }, {}},
      {"pictures after each key picture cost little", 25, 60, 25,
       [](double, int since_key) { return since_key <= 6 ? 200.0 : 4000.0; }, {}},
      {"one event", 25, 60, 50, busy({{10.0, 14.4}}), {{10.0, 14.4}}},
      {"one event under the active level", 25, 60, 50, busy({{10.0, 14.4}}, 1.6), {}},
      {"events 2.5 s apart are one", 25, 60, 50, busy({{5, 7}, {9.5, 12}}), {{5, 12}}},
      {"events 4 s apart are two", 15, 60, 30, busy({{5, 7}, {11, 13}}), {{5, 7}, {11, 13}}},
      {"a 0.8 s burst is a blip", 25, 60, 50, busy({{20, 20.8}}), {}},
      {"a 1.2 s burst is kept", 25, 60, 50, busy({{20, 21.2}}), {{20, 21.2}}},
      {"from the first picture", 25, 30, 50, busy({{0, 3}}), {{0, 3}}},
      {"to the last picture", 25, 30, 50, busy({{26, 30}}), {{26, 30}}},
      {"a 90 s event in a 10 min recording stays whole", 10, 600, 20, busy({{300, 390}}),
       {{300, 390}}},
      {"noise tripling over 30 min (dusk)", 5, 1800, 10,
       [](double t, int) { return 4000.0 * (1 + 2 * t / 1800); }, {}},
      {"the camera's gain (and noise) steps up 2.5x for the last 10 min", 5, 1800, 10,
       [](double t, int) { return t < 1200 ? 4000.0 : 10000.0; }, {}},
      {"an event at dusk stands above the risen noise", 5, 1800, 10,
       [](double t, int) { return 4000.0 * (1 + 2 * t / 1800) * (t >= 1500 && t < 1510 ? 4 : 1); },
       {{1500, 1510}}},
      {"a clean scene: doubling a tiny picture is not an event", 25, 60, 50,
       busy({{10, 20}}, 2.5, 100), {}},
      {"a clean scene: 3 % of a key picture is", 25, 60, 50, busy({{10, 20}}, 30, 100),
       {{10, 20}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<ActivityStretch> found =
        stretches_of(make_series(c.fps, c.seconds, c.gop, c.size));
    ASSERT_EQ(found.size(), c.want.size());
    for (size_t i = 0; i < found.size(); ++i) {
      // Edges fall on a picture: within one interval of the true ones.
      EXPECT_NEAR(found[i].from, c.want[i].first, 1.01 / c.fps);
      EXPECT_NEAR(found[i].to, c.want[i].second, 1.01 / c.fps);
    }
  }
}

TEST(ActivityFromSizes, LevelsAreRelativeToTheUsualSizeAndKeyPicturesTakeTheirNeighbours) {
  const Series s = make_series(25, 20, 50, busy({{8, 12}}, 5));
  const ActivityProfile p = activity_from_sizes(s.times, s.sizes, s.key, s.duration);
  ASSERT_EQ(p.levels.size(), s.times.size());
  for (size_t k = 0; k < p.levels.size(); ++k) {
    const bool busy_time = s.times[k] >= 8.3 && s.times[k] < 11.7;
    const bool quiet_time = s.times[k] < 7.7 || s.times[k] >= 12.3;
    if (busy_time) {
      EXPECT_NEAR(p.levels[k], 5.0, 0.5) << k;
    }
    if (quiet_time) {
      EXPECT_NEAR(p.levels[k], 1.0, 0.1) << k;
    }
  }
  // Nothing to measure: only key pictures, or no pictures.
  const Series keys = make_series(25, 4, 1, busy({}));
  const ActivityProfile none = activity_from_sizes(keys.times, keys.sizes, keys.key, 4);
  for (float level : none.levels) EXPECT_EQ(level, 0.0f);
  EXPECT_TRUE(find_activity_stretches(none).empty());
  EXPECT_TRUE(activity_from_sizes({}, {}, {}, 0).levels.empty());
}

// Blocks of the usual size exist only where pictures are: a gap of decades
// between two halves costs nothing and changes nothing.
TEST(ActivityFromSizes, AGapInTheTimesCostsNothing) {
  Series s = make_series(25, 60, 50, busy({{40, 44}}));
  constexpr double kGap = 1e9;
  for (double& t : s.times) t += t >= 30 ? kGap : 0;
  const std::vector<ActivityStretch> found =
      find_activity_stretches(activity_from_sizes(s.times, s.sizes, s.key, s.duration + kGap));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_NEAR(found[0].from, kGap + 40, 0.05);
  EXPECT_NEAR(found[0].to, kGap + 44, 0.05);
}

TEST(ActivityFigures, PerSecondAndPerBucketTakeTheHighestLevelShown) {
  ActivityProfile p;
  p.times = {0.5, 1.0, 1.5, 3.5};
  p.levels = {3, 2, 5, 1};
  p.duration = 4.0;
  EXPECT_EQ(activity_per_second(p), (std::vector<float>{3, 5, 5, 5}));  // 1.5 shows until 3.5
  EXPECT_EQ(activity_buckets(p, 8), (std::vector<float>{0, 3, 2, 5, 5, 5, 5, 1}));
  EXPECT_EQ(activity_buckets(p, 2), (std::vector<float>{5, 5}));
  EXPECT_TRUE(activity_buckets(p, 0).empty());
  p.duration = 4.2;  // a part second has its own figure
  EXPECT_EQ(activity_per_second(p).size(), 5u);
  EXPECT_EQ(activity_between(p, 0, 0.5), 0.0f);  // before the first picture
  EXPECT_TRUE(activity_per_second(ActivityProfile{}).empty());
}

TEST(ActivityFigures, StrengthRisesFromTheUsualLevelToFull) {
  const std::pair<float, float> cases[] = {
      {0.0f, 0.0f}, {0.5f, 0.0f}, {1.0f, 0.0f}, {std::sqrt(6.0f), 0.5f}, {6.0f, 1.0f}, {40.0f, 1.0f},
      {std::nanf(""), 0.0f}};
  for (const auto& [level, strength] : cases) {
    EXPECT_NEAR(activity_strength(level), strength, 1e-5) << level;
  }
}

TEST(ActivityJumps, NextAndPreviousStart) {
  const std::vector<ActivityStretch> s = {{10, 12}, {20, 25}, {40, 41}};
  struct Case {
    double t;
    std::optional<double> next, previous;
  };
  const Case cases[] = {
      {0, 10, std::nullopt},   {9.99, 10, std::nullopt}, {10, 20, std::nullopt},
      {10.5, 20, std::nullopt}, {11.5, 20, 10},           {20.5, 40, 10},
      {22, 40, 20},            {40, std::nullopt, 20},    {100, std::nullopt, 40},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(next_activity_start(s, c.t), c.next) << c.t;
    EXPECT_EQ(previous_activity_start(s, c.t), c.previous) << c.t;
  }
  EXPECT_EQ(next_activity_start({}, 0), std::nullopt);
  EXPECT_EQ(previous_activity_start({}, 100), std::nullopt);
}

TEST(IsIntraSlice, SliceTypeFromTheHeader) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;  // the unit from its header byte on
    bool intra;
  };
  const Case cases[] = {
      {"IDR", {0x65, 0x88}, true},
      {"P (slice_type 0)", {0x41, 0xC0}, false},
      {"B (1)", {0x41, 0xA0}, false},
      {"I (2)", {0x41, 0xB0}, true},
      {"SI (4)", {0x41, 0x94}, true},
      {"I (7)", {0x41, 0x88}, true},
      {"I after first_mb_in_slice 3", {0x41, 0x23}, true},
      // first_mb_in_slice with 16 leading zeros; 00 00 03 drops its 03.
      {"I after an emulation-prevention byte", {0x41, 0x00, 0x00, 0x03, 0xAA, 0xAA, 0xB0}, true},
      {"header cut short", {0x41, 0x00}, false},
      {"header byte only", {0x41}, false},
      {"not a slice", {0x67, 0xB0}, false},
  };
  for (const Case& c : cases) {
    const NalUnit unit{c.bytes.data(), static_cast<int32_t>(c.bytes.size()), c.bytes[0] & 0x1F};
    EXPECT_EQ(is_intra_slice(unit), c.intra) << c.name;
  }
}
