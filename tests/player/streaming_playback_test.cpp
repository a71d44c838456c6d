// Playing while the index grows: the first pictures come from the first
// batch, the rest of the index arrives as the playback runs, a seek past
// its reach waits and says so, the features that read the index (activity,
// steps, marks and export) work on what it holds, and pictures past 4 GiB
// play.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "big_recordings.h"
#include "draw/toast.h"
#include "player/controls.h"
#include "player/engine.h"
#include "player/find_and_share.h"
#include "player/marks.h"
#include "recording/activity.h"
#include "player_test_support.h"

namespace {

class Streaming : public PlayerWindowTest {
 protected:

  // Runs the loop (unpaced) until `done` holds, for at most 20 s.
  bool run_until(PlayerState& st, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (playback_running(st) && !done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      run_playback_step(st, window, renderer, options);
    }
    return done();
  }

  PlaybackOptions options = [] {
    PlaybackOptions o;
    o.pacing = false;
    return o;
  }();
};

// About 26 MB, several windows of the reader (13 copies of 2 s), then a
// hole up to 3 GiB and one more copy: the index takes a while to get there
// (a second or so even where the hole is in memory), while the first batch
// comes at once.
constexpr int kCopies = 13;
constexpr int kFramesPerCopy = 50;
constexpr int kFrames = (kCopies + 1) * kFramesPerCopy;

std::string streaming_recording() {
  static const std::string path = [] {
    RecordingSpec recipe;
    recipe.gop = 10;
    recipe.audio = true;
    recipe.extra_args = {"--noise", "20", "--bitrate", "8000", "--sound-after"};
    const std::string source = made_recording(recipe, "stream_source.264");
    const std::string copies = test_temp_dir() + "/copies.264";
    const std::string big = sparse_file_folder() + "/streamed.264";
    return !source.empty() && write_repeated_recording(source, kCopies, copies) &&
                   write_joined_with_hole(copies, source, int64_t{3} << 30, big)
               ? big
               : "";
  }();
  return path;
}

TEST_F(Streaming, PlaysBeforeTheIndexIsCompleteAndSettlesWhenItIs) {
  const std::string path = streaming_recording();
  ASSERT_FALSE(path.empty());
  Recording whole;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(load_recording(path, whole));
  const std::string whole_lines = testing::internal::GetCapturedStdout();
  ASSERT_EQ(whole.frames.size(), size_t{kFrames});

  PlayerState st;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(open_playback(st, path));
  EXPECT_FALSE(st.recording.index_complete) << "the first batch is all the playback starts with";
  EXPECT_GT(st.frame_count, 0);
  EXPECT_LT(st.frame_count, static_cast<int>(whole.frames.size()));
  EXPECT_GE(st.duration, indexed_time(st.recording));
  std::vector<int> numbers;
  options.on_picture = [&numbers](PlayerState& s) { numbers.push_back(frame_number_of(s.video.frame.get())); };
  EXPECT_TRUE(run_until(st, [&] { return st.recording.index_complete && numbers.size() >= 60; }));
  const std::string lines = testing::internal::GetCapturedStdout();

  EXPECT_EQ(st.frame_count, static_cast<int>(whole.frames.size()));
  EXPECT_DOUBLE_EQ(st.duration, recording_duration(whole));
  EXPECT_EQ(st.recording.frame_times, whole.frame_times);
  EXPECT_EQ(st.audio.blocks.size(), whole.sound.size());
  const std::string loaded = whole_lines.substr(whole_lines.find("Loaded: "));
  EXPECT_NE(lines.find(loaded), std::string::npos) << lines;
  EXPECT_EQ(lines.find("Loaded: "), lines.rfind("Loaded: ")) << "printed once, at the index's end";
  // The pictures ran on across the copies without a gap.
  for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int>(i) % kFramesPerCopy);

  // The decoding thread has every unit: a seek near the end shows its picture.
  const int target = static_cast<int>(whole.frames.size()) - 7;
  seek_to_time(st, frame_time(st, target));
  numbers.clear();
  EXPECT_TRUE(run_until(st, [&] { return !numbers.empty(); }));
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.front(), find_seek_frame(st.recording.units, st.recording.frames, target) % kFramesPerCopy);
  close_playback(st);
}

TEST_F(Streaming, ASeekPastTheIndexWaitsSaysSoAndEscStillLeaves) {
  const std::string path = streaming_recording();
  ASSERT_FALSE(path.empty());
  for (const bool leave : {true, false}) {
    SCOPED_TRACE(leave ? "Esc while waiting" : "waiting until the index gets there");
    PlayerState st;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(open_playback(st, path));
    const double target = st.duration - 1.0;
    ASSERT_GT(target, indexed_time(st.recording));
    seek_to_time(st, target);
    EXPECT_EQ(st.frame_counter, 0) << "nothing moved yet";
    EXPECT_EQ(st.stats.seeks, 0);
    EXPECT_EQ(std::string(toast_text()).rfind("WAITING FOR THE INDEX", 0), 0u) << toast_text();
    if (leave) {
      push_key(SDLK_ESCAPE);
      run_playback_step(st, window, renderer, options);
      EXPECT_FALSE(playback_running(st));
      EXPECT_EQ(st.stats.seeks, 0);
    } else {
      EXPECT_TRUE(run_until(st, [&] { return st.stats.seeks == 1; }));
      EXPECT_TRUE(st.recording.index_complete || target <= indexed_time(st.recording));
      EXPECT_EQ(st.frame_counter, find_seek_frame(st.recording.units, st.recording.frames,
                                                  frame_at_time(st, target)));
      EXPECT_LT(st.pending_seek_s, 0);
    }
    close_playback(st);
    testing::internal::GetCapturedStdout();
  }
}

bool toast_starts_with(const char* prefix) { return std::string(toast_text()).rfind(prefix, 0) == 0; }

// A camera's 720p still scene under its rate with an object moving in 4.3-8.6 s,
// then a 3 GiB hole and the scene again, its clock running on: the index holds the first scene
// long before it completes.
std::string activity_recording_with_hole() {
  static const std::string path = [] {
    RecordingSpec recipe;
    recipe.width = 1280;
    recipe.height = 720;
    recipe.duration_s = 12;
    recipe.gop = 50;
    recipe.extra_args = {"--noise", "4", "--bitrate", "2000", "--qp-min", "28", "--moving-object", "4.3-8.6"};
    const std::string first = made_recording(recipe, "activity_first.264");
    recipe.first_ts += 12000;  // the camera's clock runs on into the second scene
    const std::string second = made_recording(recipe, "activity_second.264");
    const std::string big = sparse_file_folder() + "/activity_with_hole.264";
    return !first.empty() && !second.empty() && write_joined_with_hole(first, second, int64_t{3} << 30, big)
               ? big
               : "";
  }();
  return path;
}

TEST_F(Streaming, TheFeaturesThatReadTheIndexWorkOnWhatItHolds) {
  const std::string path = activity_recording_with_hole();
  ASSERT_FALSE(path.empty());
  Recording whole;
  ASSERT_TRUE(load_recording(path, whole));
  const std::vector<ActivityStretch> all = find_activity_stretches(measure_activity(whole));
  ASSERT_EQ(all.size(), 2u) << "the object, in each scene";
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_NEAR(all[i].from, 12.0 * static_cast<double>(i) + 4.3, 0.5);
    EXPECT_NEAR(all[i].to, 12.0 * static_cast<double>(i) + 8.6, 0.5);
  }

  PlayerState st;
  ASSERT_TRUE(open_playback(st, path));
  ASSERT_FALSE(st.recording.index_complete);
  // The strip spans the estimated length and stays flat past the index.
  const double reach = recording_duration(st.recording);
  EXPECT_DOUBLE_EQ(st.activity.profile.duration, st.duration);
  const std::vector<float> strip = activity_strip(st.activity, 400);
  ASSERT_EQ(strip.size(), 400u);
  for (size_t x = 0; x < strip.size(); ++x) {
    if (st.duration * static_cast<double>(x) / 400 >= reach) {
      ASSERT_EQ(strip[x], 0.0f) << x;
    }
  }

  // The first scene indexed, the hole not yet: the index stands there for a
  // good while whatever the machine's speed.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!st.recording.index_complete && indexed_time(st.recording) < 11.5 &&
         std::chrono::steady_clock::now() < deadline) {
    take_index_growth(st);
  }
  ASSERT_FALSE(st.recording.index_complete);
  ASSERT_GE(indexed_time(st.recording), 11.5);
  remeasure_playback_activity(st.activity, st.recording, st.duration);
  ASSERT_EQ(st.activity.stretches.size(), 1u);
  EXPECT_NEAR(st.activity.stretches[0].from, 4.3, 0.5);
  EXPECT_NEAR(st.activity.stretches[0].to, 8.6, 0.5);

  // n past the last stretch found so far: not "no more", but that it waits.
  seek_to_frame(st, st.frame_count - 1);
  jump_to_activity(st, 1);
  EXPECT_TRUE(toast_starts_with("NO MORE ACTIVITY SO FAR - INDEXING")) << toast_text();
  // A step on from the last picture indexed says the index is awaited.
  step_picture(st, window, renderer, 1);
  ASSERT_TRUE(st.paused);
  for (int i = 0; i <= st.frame_count && st.shown_frame < st.frame_count - 1; ++i) {
    step_picture(st, window, renderer, 1);
  }
  ASSERT_EQ(st.shown_frame, st.frame_count - 1);
  step_picture(st, window, renderer, 1);
  EXPECT_EQ(st.shown_frame, st.frame_count - 1);
  EXPECT_TRUE(toast_starts_with("WAITING FOR THE INDEX")) << toast_text();

  // An export's start comes from the index only where it reaches: an in-point
  // past it (a mark from an earlier playback) is found in the file.
  stretch_marks() = StretchMarks{};
  const double beyond = recording_duration(whole) - 2.0;
  stretch_marks().in = MarkPoint{path, beyond, st.duration, st.start};
  std::string problem;
  EXPECT_FALSE(marked_stretch_request(st, &problem).start.has_value());
  stretch_marks().in = MarkPoint{path, 5.0, st.duration, st.start};
  stretch_marks().out = MarkPoint{path, beyond, st.duration, st.start};
  const StretchRequest within = marked_stretch_request(st, &problem);
  ASSERT_TRUE(within.start.has_value()) << problem;
  EXPECT_LE(within.start->time_s, 5.0);

  // Complete: the strip and the stretches are the whole recording's, the
  // marks know its settled length.
  while (!st.recording.index_complete && std::chrono::steady_clock::now() < deadline) {
    take_index_growth(st);
    SDL_Delay(1);
  }
  ASSERT_TRUE(st.recording.index_complete);
  ASSERT_EQ(st.activity.stretches.size(), all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_DOUBLE_EQ(st.activity.stretches[i].from, all[i].from);
    EXPECT_DOUBLE_EQ(st.activity.stretches[i].to, all[i].to);
  }
  EXPECT_DOUBLE_EQ(st.activity.profile.duration, recording_duration(whole));
  const double second = (all[1].from + all[1].to) / 2;
  const auto column = static_cast<size_t>(second / st.duration * 400);
  EXPECT_GE(activity_strip(st.activity, 400)[column], activity_strength(static_cast<float>(kActiveLevel)))
      << "the second scene's object on the strip";
  EXPECT_DOUBLE_EQ(stretch_marks().out->duration_s, st.duration);
  stretch_marks().in = MarkPoint{path, beyond, st.duration, st.start};
  stretch_marks().out.reset();
  EXPECT_TRUE(marked_stretch_request(st, &problem).start.has_value()) << problem;
  stretch_marks() = StretchMarks{};
  close_playback(st);
}

// A recording, a hole and a second recording past 4 GiB, played: the
// decoding thread reads the second one's bytes from the mapping, where the
// file has them.
TEST_F(Streaming, PicturesPastFourGibibytesPlay) {
  RecordingSpec first;
  first.width = 160;
  first.height = 120;
  first.duration_s = 1;
  first.gop = 10;
  RecordingSpec second = first;
  second.first_ts = 100000;
  second.seed = 5;
  const std::string a = made_recording(first, "play_before.264");
  const std::string b = made_recording(second, "play_after.264");
  ASSERT_FALSE(a.empty() || b.empty());
  const std::string joined = sparse_file_folder() + "/play_past4g.264";
  ASSERT_TRUE(write_joined_with_hole(a, b, kPast4GiB, joined));

  PlayerState st;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(open_playback(st, joined));
  std::vector<int> numbers;
  options.on_picture = [&numbers](PlayerState& s) { numbers.push_back(frame_number_of(s.video.frame.get())); };
  EXPECT_TRUE(run_until(st, [&] { return st.recording.index_complete && !numbers.empty(); }));
  ASSERT_EQ(st.frame_count, 50);
  const int64_t unit = st.recording.frames[35];  // picture 10 of the second recording
  EXPECT_GT(st.recording.units[static_cast<size_t>(unit)].data - st.recording.payload(), kPast4GiB - 32);
  numbers.clear();
  seek_to_frame(st, 35);
  EXPECT_TRUE(run_until(st, [&] { return numbers.size() >= 3; }));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(numbers, (std::vector<int>{10, 11, 12}));
  close_playback(st);
  std::filesystem::remove(joined);
}

}  // namespace
