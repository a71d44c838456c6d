// Activity found in recordings made with known activity: still noisy scenes
// with an object moving only in given seconds, exposure jumps and key
// pictures every 2 s, encoded as cameras do (a fixed quantiser, a bit rate
// with a quantiser floor) and as x264 does on its own (quality-based, or a
// constant rate the noise fills, where sizes cannot show activity).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/av_handles.h"
#include "media/nal_packet.h"
#include "recording/activity.h"
#include "recording/recording.h"
#include "test_recordings.h"

namespace {

using Spans = std::vector<std::pair<double, double>>;

// How far a found edge may lie from the true one.
constexpr double kEdgeToleranceS = 0.5;

struct MadeCase {
  const char* name;
  int width, height;
  double fps, seconds;
  std::vector<std::string> options;  // make_recording's, after the size, rate and key interval
  Spans events;                      // when the object moves
  // Sizes cannot show this encoder's activity: whatever is found must lie
  // within an event, but the events need not be found.
  bool beyond_sizes = false;
};

const std::vector<std::string> kExposureJumps = {"--exposure-step", "3.3", "--exposure-step", "5.5",
                                                 "--exposure-step", "7.1", "--exposure-step", "9.7"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Makes and loads the case's recording (key pictures every 2 s); its path
// goes to *path when given.
bool make_case(const MadeCase& c, Recording& out, std::string* path = nullptr) {
  RecordingSpec recipe;
  recipe.width = c.width;
  recipe.height = c.height;
  recipe.fps = c.fps;
  recipe.duration_s = c.seconds;
  recipe.gop = static_cast<int>(std::lround(2 * c.fps));
  recipe.extra_args = c.options;
  std::string name = c.name;
  for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  const std::string made = make_recording_file(recipe, test_temp_dir() + "/" + name + ".264");
  if (path) *path = made;
  return !made.empty() && load_recording(made, out);
}

std::string describe(const std::vector<ActivityStretch>& found) {
  std::string text;
  for (const ActivityStretch& s : found) {
    char line[64];
    std::snprintf(line, sizeof line, " %.2f-%.2f", s.from, s.to);
    text += line;
  }
  return text.empty() ? " none" : text;
}

// What the index read of each slice as it walked them gives the figures
// that reading the slices again gives.
void expect_kinds_match_the_slices(Recording& recording, const ActivityProfile& profile) {
  ASSERT_EQ(recording.frame_kinds.size(), recording.frames.size());
  std::vector<uint8_t> kinds = std::move(recording.frame_kinds);
  recording.frame_kinds.clear();
  const ActivityProfile reread = measure_activity(recording);
  recording.frame_kinds = std::move(kinds);
  EXPECT_EQ(profile.times, reread.times);
  EXPECT_EQ(profile.levels, reread.levels);
}

void check_cases(const std::vector<MadeCase>& cases) {
  for (const MadeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Recording recording;
    ASSERT_TRUE(make_case(c, recording));
    const ActivityProfile profile = measure_activity(recording);
    expect_kinds_match_the_slices(recording, profile);
    const std::vector<ActivityStretch> found = find_activity_stretches(profile);
    SCOPED_TRACE("found:" + describe(found));
    if (c.beyond_sizes) {
      for (const ActivityStretch& s : found) {
        bool inside = false;
        for (const auto& [from, to] : c.events) {
          inside |= s.from >= from - kEdgeToleranceS && s.to <= to + kEdgeToleranceS;
        }
        EXPECT_TRUE(inside) << s.from << "-" << s.to;
      }
      continue;
    }
    ASSERT_EQ(found.size(), c.events.size());
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_NEAR(found[i].from, c.events[i].first, kEdgeToleranceS);
      EXPECT_NEAR(found[i].to, c.events[i].second, kEdgeToleranceS);
    }
  }
}

}  // namespace

TEST(ActivityInRecordings, QuietScenesShowNothing) {
  const std::vector<std::string> noisy = {"--still", "--noise", "6"};
  check_cases({
      {"night noise, quality-based", 640, 360, 25, 12, noisy, {}},
      {"night noise, fixed quantiser", 640, 360, 25, 12, with(noisy, {"--qp", "30"}), {}},
      {"exposure jumps, fixed quantiser", 640, 360, 25, 12,
       with({"--noise", "3", "--qp", "28"}, kExposureJumps), {}},
      {"exposure jumps, quality-based", 640, 360, 25, 12, with({"--noise", "2"}, kExposureJumps), {}},
      {"key pictures every 2 s in a clean scene", 640, 360, 25, 12, {"--still"}, {}},
      // The rate control spends more on the pictures after each key picture.
      {"key pictures every 2 s under a camera's rate", 640, 360, 12.5, 12,
       {"--still", "--noise", "3", "--bitrate", "1000", "--qp-min", "28"}, {}},
  });
}

TEST(ActivityInRecordings, MovingObjectsAreFoundInTheirSeconds) {
  const std::vector<std::string> camera = {"--noise", "3", "--qp", "28"};
  check_cases({
      {"one object, fixed quantiser", 640, 360, 25, 12, with(camera, {"--moving-object", "4.3-7.6"}),
       {{4.3, 7.6}}},
      {"one object, quality-based, little noise", 640, 360, 25, 12,
       {"--noise", "1", "--moving-object", "4.3-7.6"}, {{4.3, 7.6}}},
      {"two events at 15 fps", 640, 360, 15, 16,
       with(camera, {"--moving-object", "2.5-5", "--moving-object", "10-13.4"}),
       {{2.5, 5}, {10, 13.4}}},
      {"from the first picture", 640, 360, 25, 10, with(camera, {"--moving-object", "0-3"}),
       {{0, 3}}},
      {"to the last picture, 12.5 fps under a camera's rate", 640, 360, 12.5, 10,
       {"--noise", "3", "--bitrate", "1000", "--qp-min", "28", "--moving-object", "7-10"},
       {{7, 10}}},
  });
}

// Camera-sized noisy pictures at camera bit rates (the first two come to
// about 1 Mbit/s while quiet and spend more on the object; the rate-filled
// one holds 4 Mbit/s throughout).
#ifdef __linux__
// Kibibytes of mapped files this process holds in memory.
long resident_file_kib() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status)) {
    if (std::sscanf(line, "RssFile: %ld", &kib) == 1) break;
  }
  std::fclose(status);
  return kib;
}

// Measuring reads what the index kept, not the mapped slices: a recording
// of any size measured again and again (as a player does while its index
// grows) brings none of its pages into memory.
TEST(ActivityInRecordings, MeasuringBringsNoPageOfTheFileIn) {
  const MadeCase c{"pages", 1280, 720, 25, 12, {"--noise", "4", "--qp", "24"}, {}};
  Recording recording;
  std::string path;
  ASSERT_TRUE(make_case(c, recording, &path));
  const long file_kib = static_cast<long>(recording.length / 1024);
  ASSERT_GT(file_kib, 4096);
  const long before = resident_file_kib();
  ASSERT_GE(before, 0);
  for (int i = 0; i < 3; ++i) measure_activity(recording);
  EXPECT_LT(resident_file_kib() - before, file_kib / 8) << "of a " << file_kib << " KiB file";
}
#endif

TEST(ActivityInRecordings, CameraSizedPictures) {
  const std::vector<std::string> object = {"--noise", "4", "--moving-object", "4.3-8.6"};
  check_cases({
      {"1080p, fixed quantiser (a camera's variable rate)", 1920, 1080, 25, 12,
       with(object, {"--qp", "30"}), {{4.3, 8.6}}},
      {"720p, 2 Mbit/s with a camera's quantiser floor", 1280, 720, 25, 12,
       with(object, {"--bitrate", "2000", "--qp-min", "28"}), {{4.3, 8.6}}},
      {"720p, 4 Mbit/s that the noise fills", 1280, 720, 25, 12,
       with(object, {"--bitrate", "4000"}), {{4.3, 8.6}}, true},
      // x264's own quality mode raises the quantiser as the object comes in,
      // which drops more noise than the object adds.
      {"720p, quality-based, noise-dominated", 1280, 720, 25, 12, object, {{4.3, 8.6}}, true},
  });
}

// The made recordings hold what the cases assume: decoded, pictures differ
// from the one before (beyond the noise) only while the object moves.
TEST(ActivityInRecordings, MadeObjectMovesOnlyInItsSeconds) {
  const MadeCase c{"decoded object", 320, 240, 10, 8,
                   {"--noise", "3", "--qp", "20", "--moving-object", "2-4.5"}, {{2, 4.5}}};
  Recording recording;
  ASSERT_TRUE(make_case(c, recording));
  av_log_set_level(AV_LOG_QUIET);
  CodecContextPtr decoder(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264)));
  FramePtr frame(av_frame_alloc());
  ASSERT_TRUE(decoder && frame && avcodec_open2(decoder.get(), nullptr, nullptr) >= 0);
  // Per picture: the largest mean difference of a 16x16 block below the
  // frame-number band from the same block of the picture before.
  std::vector<uint8_t> previous;
  std::vector<double> change;
  auto take = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
      const int w = frame->width, h = frame->height, stride = frame->linesize[0];
      std::vector<uint8_t> luma(static_cast<size_t>(w * h));
      for (int y = 0; y < h; ++y) std::memcpy(&luma[y * w], frame->data[0] + y * stride, w);
      double largest = 0;
      for (int by = 32; !previous.empty() && by + 16 <= h; by += 16) {
        for (int bx = 0; bx + 16 <= w; bx += 16) {
          double sum = 0;
          for (int y = by; y < by + 16; ++y) {
            for (int x = bx; x < bx + 16; ++x) sum += std::abs(luma[y * w + x] - previous[y * w + x]);
          }
          largest = std::max(largest, sum / 256);
        }
      }
      change.push_back(largest);
      previous = std::move(luma);
      av_frame_unref(frame.get());
    }
  };
  for (const NalUnit& unit : recording.units) {
    PacketPtr packet = make_nal_packet(unit.data, static_cast<size_t>(unit.size));
    avcodec_send_packet(decoder.get(), packet.get());
    take();
  }
  avcodec_send_packet(decoder.get(), nullptr);
  take();
  ASSERT_EQ(change.size(), 80u);
  for (size_t k = 1; k < change.size(); ++k) {
    const double t = k / 10.0;
    const bool moving = t >= 2 && t <= 4.5;  // the picture at 4.5 has lost the object
    if (moving) {
      EXPECT_GT(change[k], 20) << t;
    } else {
      EXPECT_LT(change[k], 5) << t;
    }
  }
}

// inspect_recording --activity prints a figure per second and the stretches
// found, as scripts read them; the plain form prints neither.
TEST(ActivityInRecordings, InspectorPrintsSecondsAndStretches) {
  const MadeCase c{"inspected", 320, 240, 25, 9.5,
                   {"--noise", "3", "--qp", "28", "--moving-object", "2-4", "--moving-object",
                    "7.5-9.5"},
                   {}};
  Recording recording;
  std::string path;
  ASSERT_TRUE(make_case(c, recording, &path));
  const std::string tool = std::string(H264_TOOLS_DIR) + "/inspect_recording";
  std::string output, plain, bad;
  ASSERT_EQ(run_program(tool, {"--activity", path}, &output), 0) << output;
  const ActivityProfile profile = measure_activity(recording);
  const std::vector<float> seconds = activity_per_second(profile);
  ASSERT_EQ(seconds.size(), 10u);  // 238 pictures at 25 fps: 9.52 s
  std::string want;
  char line[64];
  for (size_t s = 0; s < seconds.size(); ++s) {
    std::snprintf(line, sizeof line, "Second %zu: %.2f\n", s, seconds[s]);
    want += line;
  }
  const std::vector<ActivityStretch> found = find_activity_stretches(profile);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_NEAR(found[0].from, 2, kEdgeToleranceS);
  EXPECT_NEAR(found[1].to, 9.52, kEdgeToleranceS);
  for (const ActivityStretch& stretch : found) {
    std::snprintf(line, sizeof line, "Activity: %.1f-%.1f\n", stretch.from, stretch.to);
    want += line;
  }
  EXPECT_NE(output.find("Key frames: 5 [0 50 100 150 200]\n"), std::string::npos) << output;
  EXPECT_NE(output.find(want), std::string::npos) << output;
  EXPECT_EQ(output.substr(output.size() - want.size()), want);  // the last lines
  EXPECT_EQ(run_program(tool, {path}, &plain), 0);
  EXPECT_EQ(plain.find("Second "), std::string::npos);
  EXPECT_EQ(plain.find("Activity:"), std::string::npos);
  EXPECT_EQ(output.substr(0, plain.size()), plain);  // the plain lines come first, unchanged
  EXPECT_EQ(run_program(tool, {"--activities", path}, &bad), 2);
  EXPECT_NE(bad.find("[--times | --activity]"), std::string::npos) << bad;
}
