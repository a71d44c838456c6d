// Seeking: the key frame a target lands on, the parameter sets sent before it,
// the five-second jumps, and pictures after a seek decoding cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "headless_sdl.h"
#include "player/controls.h"
#include "player/engine.h"
#include "player_test_support.h"

namespace {

std::vector<NalUnit> units_of_types(const std::vector<int>& types) {
  static const uint8_t byte = 0;
  std::vector<NalUnit> units;
  for (int t : types) units.push_back({&byte, 1, t});
  return units;
}

TEST(SeekFrame, LandsOnTheKeyFrameAtOrBeforeTheClampedTarget) {
  // Units: SPS PPS IDR P P SEI SPS PPS IDR P P -> frames 0..5, key frames 0 and 3.
  const std::vector<NalUnit> gop = units_of_types({7, 8, 5, 1, 1, 6, 7, 8, 5, 1, 1});
  // A file that starts inside a group: P P SPS PPS IDR P -> key frame 2 only.
  const std::vector<NalUnit> mid = units_of_types({1, 1, 7, 8, 5, 1});
  const std::vector<NalUnit> no_key = units_of_types({1, 1, 1});
  struct Case {
    const std::vector<NalUnit>* units;
    int target;
    int expected;
  } cases[] = {
      {&gop, -5, 0}, {&gop, 0, 0}, {&gop, 2, 0}, {&gop, 3, 3}, {&gop, 5, 3},
      {&gop, 6, 3},  {&gop, 999, 3},
      {&mid, 0, 0},  {&mid, 1, 0}, {&mid, 2, 2}, {&mid, 3, 2},
      {&no_key, 2, 0},
  };
  for (const Case& c : cases) {
    const std::vector<int64_t> frames = build_frame_list(*c.units);
    EXPECT_EQ(find_seek_frame(*c.units, frames, c.target), c.expected) << "target " << c.target;
  }
  EXPECT_EQ(find_seek_frame({}, {}, 5), 0);
}

TEST(SeekFrame, AKeyFrameCutIntoSlicesStartsAtItsFirstSlice) {
  // A slice starting its picture has first_mb_in_slice 0: the first bit after the header set.
  static const uint8_t idr_first[2] = {0x65, 0x88}, idr_more[2] = {0x65, 0x24};
  static const uint8_t p_first[2] = {0x41, 0x9A}, p_more[2] = {0x41, 0x24};
  static const uint8_t sps[2] = {0x67, 0x42}, pps[2] = {0x68, 0xCE};
  const std::vector<NalUnit> units = {
      {sps, 2, 7},      {pps, 2, 8},
      {idr_first, 2, 5}, {idr_more, 2, 5}, {idr_more, 2, 5},  // frames 0..2: one key picture
      {p_first, 2, 1},   {p_more, 2, 1},   {p_more, 2, 1},    // frames 3..5
      {idr_first, 2, 5}, {idr_more, 2, 5},                    // frames 6, 7: a key picture
      {idr_first, 2, 5}, {idr_more, 2, 5},                    // frames 8, 9: and another right after
  };
  const std::vector<int64_t> frames = build_frame_list(units);
  const struct {
    int target, expected;
  } cases[] = {{0, 0}, {2, 0}, {5, 0}, {6, 6}, {7, 6}, {9, 8}, {8, 8}};
  for (const auto& c : cases) {
    EXPECT_EQ(find_seek_frame(units, frames, c.target), c.expected) << "target " << c.target;
  }
}

TEST(SeekFrame, ParameterSetsAreTheNearestBeforeTheKeyFrame) {
  struct Case {
    std::vector<int> types;
    int64_t unit;
    int64_t sps, pps;
  } cases[] = {
      {{7, 8, 5, 1, 1, 6, 7, 8, 5}, 8, 6, 7},
      {{7, 8, 5, 1, 1, 6, 7, 8, 5}, 2, 0, 1},
      {{7, 8, 5}, 0, -1, -1},             // nothing before the first unit
      {{8, 7, 5}, 2, 1, 0},               // order in the file does not matter
      {{8, 1, 1, 7, 5}, 4, 3, 0},         // the walk goes on until both are known
      {{7, 1, 1, 5}, 3, -1, -1},          // no PPS anywhere before: nothing is sent
      {{7, 8, 7, 8, 1, 5}, 5, 2, 3},      // the nearest ones win
  };
  for (const Case& c : cases) {
    const ParameterSets found = find_parameter_sets_before(units_of_types(c.types), c.unit);
    EXPECT_EQ(found.sps, c.sps) << "unit " << c.unit;
    EXPECT_EQ(found.pps, c.pps) << "unit " << c.unit;
  }
}

class Seeking : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(start_player_sdl());
    drop_pending_events();
  }
  void TearDown() override { drop_pending_events(); }
};

// Opens a playback and puts it at `frame` as if it had played there.
void place_at(PlayerState& st, int frame) {
  st.frame_counter = frame;
  st.position_s = frame_time(st, frame);
  st.nal_cursor = static_cast<uint64_t>(st.recording.frames[static_cast<size_t>(frame)]);
}

// Jumps go five seconds on the recording's own clock, whatever its rate does:
// 12.5 fps, and 25 fps that drops to 5 fps at 10 s (as cameras do at night).
TEST_F(Seeking, ArrowKeysJumpFiveSecondsOfTheCamerasClockToTheKeyFrameAtOrBefore) {
  struct Case {
    int from;
    SDL_Keycode key;
    int lands_on;  // key frame at or before the target
  };
  struct Row {
    const char* name;
    double fps;
    int frames;
    std::vector<std::string> extra;
    double duration_s;
    std::vector<Case> cases;
  };
  const Row rows[] = {
      {"25 fps", 25, 550, {}, 22.0,
       {{400, SDLK_LEFT, 270},    // target 275
        {400, SDLK_RIGHT, 520},   // target 525
        {540, SDLK_RIGHT, 540},   // past the end: the last frame, then its key frame
        {100, SDLK_LEFT, 0},      // before the start
        {409, SDLK_RIGHT, 530}}}, // 534
      {"12.5 fps", 12.5, 275, {}, 22.0,
       {{200, SDLK_LEFT, 130},    // 16 s - 5 s: frame 137
        {200, SDLK_RIGHT, 260}}}, // 21 s: frame 262
      // The last picture lasts one interval at the detected rate: 299 intervals in 19.8 s, 15 fps.
      {"25 then 5 fps from 10 s", 25, 300, {"--fps2", "5", "--rate-change-at", "10"}, 19.8 + 1 / 15.0,
       {{290, SDLK_LEFT, 260},    // 18 s - 5 s: frame 250 + 15
        {100, SDLK_RIGHT, 220},   // 9 s: frame 225
        {250, SDLK_LEFT, 120}}},  // 5 s: frame 125
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingSpec recipe;
    recipe.width = 160;
    recipe.height = 120;
    recipe.fps = row.fps;
    recipe.frames = row.frames;
    recipe.gop = 10;
    recipe.extra_args = row.extra;
    const std::string path = made_recording(recipe, "jump" + std::to_string(row.frames) + ".264");
    ASSERT_FALSE(path.empty());
    PlayerState st;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(open_playback(st, path));
    testing::internal::GetCapturedStdout();
    EXPECT_NEAR(st.duration, row.duration_s, 0.05);
    for (const Case& c : row.cases) {
      place_at(st, c.from);
      handle_player_key(st, nullptr, nullptr, c.key);
      EXPECT_EQ(st.frame_counter, c.lands_on) << "from " << c.from;
      ASSERT_GE(st.frame_counter, 0);
      EXPECT_DOUBLE_EQ(video_position(st), st.recording.frame_times[static_cast<size_t>(c.lands_on)]);
      const int64_t unit = st.recording.frames[static_cast<size_t>(st.frame_counter)];
      EXPECT_EQ(st.nal_cursor, static_cast<uint64_t>(unit));
      EXPECT_EQ(st.recording.units[static_cast<size_t>(unit)].type, 5) << "lands on an IDR frame";
    }
    close_playback(st);
  }
}

TEST_F(Seeking, PicturesAfterASeekComeFromTheKeyFrameOnWithoutDecoderErrors) {
  RecordingSpec recipe;
  recipe.fps = 25;
  recipe.duration_s = 6;  // 150 frames
  recipe.gop = 10;
  const std::string path = made_recording(recipe, "seek25.264");
  ASSERT_FALSE(path.empty());
  DecoderErrorCount decoder;
  std::vector<int> numbers;
  std::vector<int> counters;
  bool pushed_left = false, pushed_right = false;
  PlaybackOptions options;
  options.pacing = false;
  options.on_picture = [&](PlayerState& st) {
    numbers.push_back(frame_number_of(st.video.frame.get()));
    counters.push_back(st.frame_counter);
    if (!pushed_left && st.frame_counter == 140) {
      push_key(SDLK_LEFT);  // target 15: key frame 10
      pushed_left = true;
    } else if (pushed_left && !pushed_right && st.frame_counter == 60) {
      push_key(SDLK_RIGHT);  // target 185: the last frame 149, key frame 140
      pushed_right = true;
    }
  };
  options.on_finished = [](PlayerState&) { push_key(SDLK_ESCAPE); };
  PlaybackStats stats;
  options.stats_out = &stats;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  testing::internal::CaptureStdout();
  play_recording_with(path, window, renderer, options);
  testing::internal::GetCapturedStdout();
  SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);

  EXPECT_EQ(stats.seeks, 2);
  EXPECT_EQ(decoder.errors(), 0) << (decoder.errors() ? decoder.messages().front() : "");
  // Numbers run on by one, except where a seek restarts them at its key frame.
  std::vector<int> restarts;
  for (size_t i = 1; i < numbers.size(); ++i) {
    if (numbers[i] != numbers[i - 1] + 1) restarts.push_back(numbers[i]);
  }
  EXPECT_EQ(restarts, (std::vector<int>{10, 140}));
  EXPECT_EQ(numbers.front(), 0);
  // From the last key frame on, every picture comes: 140..149, the drained ones too.
  EXPECT_EQ(numbers.back(), 149);
  EXPECT_GT(stats.pictures_drained, 0);
}

TEST_F(Seeking, BeforeTheFirstKeyFrameGoesToFrameZeroWithoutParameterSets) {
  RecordingSpec recipe;
  recipe.fps = 25;
  recipe.duration_s = 2;
  recipe.gop = 10;
  recipe.mid_gop = 4;  // frames 0..5 come before the first key frame
  const std::string path = made_recording(recipe, "mid_gop.264");
  ASSERT_FALSE(path.empty());
  HeadlessCanvas canvas = make_headless_canvas(320, 240);
  ASSERT_TRUE(canvas.window && canvas.renderer);
  SDL_Window* window = canvas.window.get();
  SDL_Renderer* renderer = canvas.renderer.get();
  PlayerState st;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(open_playback(st, path));
  testing::internal::GetCapturedStdout();
  ASSERT_NE(st.recording.units[static_cast<size_t>(st.recording.frames[0])].type, 5);

  PlaybackOptions options;
  options.pacing = false;
  while (st.frame_counter < 30) run_playback_step(st, window, renderer, options);
  push_key(SDLK_LEFT);
  run_playback_step(st, window, renderer, options);  // the seek
  EXPECT_EQ(st.stats.seeks, 1);
  EXPECT_EQ(st.nal_cursor, static_cast<uint64_t>(st.recording.frames[0]));
  // Decoding starts again at frame 0; its first picture is the first key
  // frame's (the frames before it have nothing to refer to), then every one
  // to the end: none lost, none stale from before the seek.
  std::vector<int> numbers;
  options.on_picture = [&](PlayerState& s) { numbers.push_back(frame_number_of(s.video.frame.get())); };
  while (playback_running(st)) run_playback_step(st, window, renderer, options);
  const int first_key = find_seek_frame(st.recording.units, st.recording.frames, 9);
  ASSERT_EQ(first_key, 6);
  std::vector<int> expected;
  for (int k = first_key; k < st.frame_count; ++k) expected.push_back(k);
  EXPECT_EQ(numbers, expected);
  EXPECT_EQ(st.frame_counter, st.frame_count);
  close_playback(st);
}

// After the end the decoder has been drained; a seek (playing again from
// the finished state) gets it decoding again from the key frame.
TEST_F(Seeking, SeekAfterTheEndDecodesAgainFromTheKeyFrame) {
  RecordingSpec recipe;
  recipe.fps = 25;
  recipe.duration_s = 2;
  recipe.gop = 10;
  const std::string path = made_recording(recipe, "again.264");
  ASSERT_FALSE(path.empty());
  HeadlessCanvas canvas = make_headless_canvas(320, 240);
  ASSERT_TRUE(canvas.window && canvas.renderer);
  SDL_Window* window = canvas.window.get();
  SDL_Renderer* renderer = canvas.renderer.get();
  PlayerState st;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(open_playback(st, path));
  testing::internal::GetCapturedStdout();
  std::vector<int> numbers;
  PlaybackOptions options;
  options.pacing = false;
  options.on_picture = [&](PlayerState& s) { numbers.push_back(frame_number_of(s.video.frame.get())); };
  while (playback_running(st)) run_playback_step(st, window, renderer, options);
  ASSERT_EQ(numbers.size(), 50u);
  for (int target : {25, 0}) {
    numbers.clear();
    seek_to_frame(st, target);
    ASSERT_TRUE(playback_running(st));
    while (playback_running(st)) run_playback_step(st, window, renderer, options);
    ASSERT_FALSE(numbers.empty()) << "from " << target;
    EXPECT_EQ(numbers.front(), target / 10 * 10);
    EXPECT_EQ(numbers.back(), 49);
    EXPECT_EQ(static_cast<int>(numbers.size()), 50 - target / 10 * 10);
  }
  close_playback(st);
}

}  // namespace
