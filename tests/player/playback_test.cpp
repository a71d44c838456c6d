// Whole playbacks of made recordings through play_recording_with, headless,
// with events pushed into SDL's queue from the player's own hooks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "draw/letterbox.h"
#include "draw/toast.h"
#include "headless_sdl.h"
#include "player/engine.h"
#include "player_test_support.h"
#include "thread_limit.h"

namespace {

class Playback : public PlayerWindowTest {
 protected:
  // Plays with pacing off; `at_end` runs when the finished state begins
  // (by default a key press ends it).
  std::string play(const std::string& path, PlaybackOptions options = {}) {
    options.pacing = false;
    return play_paced(path, options);
  }
  // The same with the options' own pacing (on by default).
  std::string play_paced(const std::string& path, PlaybackOptions options = {}) {
    if (!options.on_finished) options.on_finished = [](PlayerState&) { push_key(SDLK_ESCAPE); };
    options.stats_out = &stats;
    return play_recording_with(path, window, renderer, options);
  }
  // Frame number shown in the window right now, read inside the picture's
  // letterbox rectangle.
  int frame_number_on_screen(const PlayerState& st) {
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    const Pixels px = read_pixels(renderer, w, h);
    const int pw = st.video.width, ph = st.video.height;
    const SDL_Rect r = letterbox_rect(w, h, pw, ph, st.video.sar_num, st.video.sar_den);
    return read_frame_number(
        [&](int x, int y) {
          return static_cast<int>(px.pixel_at(r.x + x * r.w / pw, r.y + y * r.h / ph).g);
        },
        pw, ph);
  }

  PlaybackStats stats;
};

RecordingSpec small_recording(double seconds) {
  RecordingSpec recipe;
  recipe.fps = 25;
  recipe.duration_s = seconds;
  return recipe;
}

TEST_F(Playback, EveryPictureIsShownAndTheLastStaysAfterTheDrain) {
  const std::string path = made_recording(small_recording(2), "plain.264");
  ASSERT_FALSE(path.empty());
  DecoderErrorCount decoder;
  std::vector<int> numbers;
  std::string title;
  int on_screen_at_end = -1;
  PlaybackOptions options;
  options.on_picture = [&](PlayerState& st) {
    numbers.push_back(frame_number_of(st.video.frame.get()));
  };
  options.on_finished = [&](PlayerState& st) {
    title = SDL_GetWindowTitle(window);
    on_screen_at_end = frame_number_on_screen(st);
    push_key(SDLK_q);
  };
  testing::internal::CaptureStdout();
  const std::string next = play(path, options);
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(next, "");
  EXPECT_EQ(stats.slices_sent, 50);
  EXPECT_EQ(stats.pictures_shown + stats.pictures_drained, 50);
  EXPECT_GT(stats.pictures_drained, 0) << "the decoder holds pictures back until the drain";
  for (size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], static_cast<int>(i));
  EXPECT_EQ(on_screen_at_end, 49);
  EXPECT_EQ(title, "H.264 Player  [Finished]");
  EXPECT_NE(out.find("Loaded: "), std::string::npos) << out;
  EXPECT_NE(out.find("Resolution: 320x240\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Resolution:"), out.rfind("Resolution:")) << "printed once";
  EXPECT_EQ(decoder.errors(), 0) << decoder.messages().front();

  // Started without a window: one twice the picture's size was made for it.
  ASSERT_NE(window, nullptr);
  ASSERT_NE(renderer, nullptr);
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
}

TEST_F(Playback, WindowOfTheMenuIsUsedAsItIs) {
  const std::string path = made_recording(small_recording(1), "short.264");
  ASSERT_FALSE(path.empty());
  window = SDL_CreateWindow("menu", 0, 0, 960, 600, SDL_WINDOW_HIDDEN);
  renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
  SDL_Window* const menu_window = window;
  play(path);
  EXPECT_EQ(window, menu_window);
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  EXPECT_EQ(w, 960);
  EXPECT_EQ(h, 600);
  EXPECT_EQ(stats.pictures_shown + stats.pictures_drained, 25);
}

struct LeaveCase {
  const char* name;
  void (*push)();
  const char* expected;
};

const char* const kDroppedPath = "/recordings/dropped one.264";

TEST_F(Playback, EachWayOfLeavingDuringPlaybackReturnsItsAction) {
  const std::string path = made_recording(small_recording(2), "plain.264");
  ASSERT_FALSE(path.empty());
  const LeaveCase cases[] = {
      {"Escape", [] { push_key(SDLK_ESCAPE); }, ""},
      {"q", [] { push_key(SDLK_q); }, ""},
      {"window close", [] { push_quit(); }, ""},
      {"c", [] { push_key(SDLK_c); }, "__CONVERT__"},
      {"r", [] { push_key(SDLK_r); }, "__RTSP__"},
      {"drop", [] { push_drop(kDroppedPath); }, kDroppedPath},
  };
  for (const LeaveCase& c : cases) {
    bool finished = false;
    PlaybackOptions options;
    options.on_picture = [&](PlayerState& st) {
      if (st.stats.pictures_shown == 5) c.push();
    };
    options.on_finished = [&](PlayerState&) {
      finished = true;
      push_key(SDLK_ESCAPE);
    };
    EXPECT_EQ(play(path, options), c.expected) << c.name;
    EXPECT_FALSE(finished) << c.name << ": no finished state after leaving";
    EXPECT_EQ(stats.pictures_drained, 0) << c.name << ": no drain after leaving";
    EXPECT_LT(stats.slices_sent, 50) << c.name;
  }
}

TEST_F(Playback, EachWayOfEndingTheFinishedStateReturnsItsAction) {
  const std::string path = made_recording(small_recording(1), "short.264");
  ASSERT_FALSE(path.empty());
  // No chooser program can be found, so the open dialog ends as cancelled.
  const std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", test_temp_dir().c_str(), 1);
  const LeaveCase cases[] = {
      {"Escape", [] { push_key(SDLK_ESCAPE); }, ""},
      {"q", [] { push_key(SDLK_q); }, ""},
      {"window close", [] { push_quit(); }, ""},
      {"drop", [] { push_drop(kDroppedPath); }, kDroppedPath},
      // A cancelled dialog leaves the finished state as it was; q then ends it.
      {"o, dialog cancelled", [] { push_key(SDLK_o); push_key(SDLK_q); }, ""},
  };
  for (const LeaveCase& c : cases) {
    PlaybackOptions options;
    options.on_finished = [&](PlayerState&) { c.push(); };
    EXPECT_EQ(play(path, options), c.expected) << c.name;
    EXPECT_EQ(stats.pictures_shown + stats.pictures_drained, 25) << c.name;
  }
  setenv("PATH", saved_path.c_str(), 1);
}

TEST_F(Playback, CancelledOpenDialogDuringPlaybackChangesNothing) {
  const std::string path = made_recording(small_recording(1), "short.264");
  ASSERT_FALSE(path.empty());
  const std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", test_temp_dir().c_str(), 1);
  bool finished = false;
  PlaybackOptions options;
  options.on_picture = [](PlayerState& st) {
    if (st.stats.pictures_shown == 3) push_key(SDLK_o);
  };
  options.on_finished = [&](PlayerState&) {
    finished = true;
    push_key(SDLK_q);
  };
  EXPECT_EQ(play(path, options), "");
  setenv("PATH", saved_path.c_str(), 1);
  EXPECT_TRUE(finished);
  EXPECT_EQ(stats.pictures_shown + stats.pictures_drained, 25);
}

TEST_F(Playback, FullRangePicturesAreConvertedAlsoInTheDrain) {
  RecordingSpec recipe = small_recording(1);
  recipe.full_range = true;
  const std::string path = made_recording(recipe, "full_range.264");
  ASSERT_FALSE(path.empty());
  bool converted = true;
  int on_screen_at_end = -1;
  PlaybackOptions options;
  options.allow_direct_rgb = false;  // the IYUV texture, whose converter is watched here
  options.on_picture = [&](PlayerState& st) {
    converted = converted && st.video.frame->format != AV_PIX_FMT_YUV420P &&
                st.video.converter != nullptr;
  };
  options.on_finished = [&](PlayerState& st) {
    on_screen_at_end = frame_number_on_screen(st);
    push_key(SDLK_ESCAPE);
  };
  play(path, options);
  EXPECT_TRUE(converted);
  EXPECT_GT(stats.pictures_shown, 0);
  EXPECT_EQ(stats.pictures_shown + stats.pictures_drained, 25);
  EXPECT_EQ(on_screen_at_end, 24) << "the drained pictures are converted and shown";
}

TEST_F(Playback, PictureSizeChangeRemakesTheTexture) {
  RecordingSpec recipe = small_recording(2);
  recipe.size_change_at_s = 1;
  recipe.width2 = 176;
  recipe.height2 = 144;
  const std::string path = made_recording(recipe, "size_change.264");
  ASSERT_FALSE(path.empty());
  DecoderErrorCount decoder;
  bool texture_fits = true;
  std::vector<int> numbers;
  PlaybackOptions options;
  options.on_picture = [&](PlayerState& st) {
    int w = 0, h = 0;
    SDL_QueryTexture(st.video.texture.get(), nullptr, nullptr, &w, &h);
    texture_fits = texture_fits && w == st.video.frame->width && h == st.video.frame->height;
    numbers.push_back(frame_number_of(st.video.frame.get()));
  };
  int on_screen_at_end = -1;
  options.on_finished = [&](PlayerState& st) {
    on_screen_at_end = frame_number_on_screen(st);
    push_key(SDLK_ESCAPE);
  };
  testing::internal::CaptureStdout();
  play(path, options);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(texture_fits);
  EXPECT_NE(out.find("Resolution: 320x240\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Resolution: 176x144\n"), std::string::npos) << out;
  EXPECT_EQ(stats.pictures_shown + stats.pictures_drained, 50);
  for (size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], static_cast<int>(i));
  EXPECT_EQ(on_screen_at_end, 49);
  EXPECT_EQ(decoder.errors(), 0);
}

TEST_F(Playback, RecordingsThatCannotPlayReturnAtOnceWithoutAWindow) {
  const std::string dir = test_temp_dir();
  // Slices the decoder cannot make a picture of: nothing is ever shown, so
  // there is no window to wait on after the end.
  std::vector<uint8_t> garbage(32, 0);
  const uint8_t units[] = {0, 0, 0, 1, 0x65, 0xFF, 0x13, 0x77, 0, 0, 0, 1, 0x41, 0x9A, 0x01, 0x02};
  garbage.insert(garbage.end(), std::begin(units), std::end(units));
  ASSERT_TRUE(write_file_bytes(dir + "/garbage.264", garbage));
  std::vector<uint8_t> no_frames(32, 0);
  const uint8_t sps_only[] = {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E};
  no_frames.insert(no_frames.end(), std::begin(sps_only), std::end(sps_only));
  ASSERT_TRUE(write_file_bytes(dir + "/no_frames.264", no_frames));

  struct Case {
    std::string path;
    std::string message;
  } cases[] = {
      {dir + "/missing.264", "Error: Cannot open '" + dir + "/missing.264'\n"},
      {dir + "/no_frames.264", "Error: No video frames\n"},
      {dir + "/garbage.264", "Loaded: "},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(play(c.path), "") << c.path;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(window, nullptr) << c.path;
  }
}

// Where the system has no thread to spare (here at every limit from none to
// more than the playback needs), opening the playback ends cleanly: either it
// plays, or it fails with the reason shown, never by ending the program. One
// of the limits lets the decoder's own threads start and leaves none for the
// decoding thread.
TEST_F(Playback, ThreadsThatCannotStartEndThePlaybackWithAReason) {
  const std::string folder = folder_for_everyone("thread-limit");
  const std::string path = made_recording(small_recording(1), "threads.264");
  ASSERT_FALSE(path.empty());
  const std::string shared = folder + "/threads.264";
  std::filesystem::copy_file(path, shared, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(shared, std::filesystem::perms::all);
  std::vector<std::string> outcomes;
  for (int threads = 1; threads <= 12; ++threads) {
    const int result = run_with_thread_limit(threads, [&] {
      PlayerState st;
      testing::internal::CaptureStdout();
      const bool opened = open_playback(st, shared);
      testing::internal::GetCapturedStdout();
      const bool shown = st.failure == toast_text() && toast_showing(SDL_GetTicks());
      close_playback(st);
      if (opened) return 0;
      if (!shown) return 9;
      return st.failure == "CANNOT START DECODING" ? 2 : 1;
    });
    ASSERT_GE(result, 0) << threads << " threads: the program ended";
    ASSERT_NE(result, 9) << threads << " threads: the reason was not shown";
    outcomes.push_back(result == 0 ? "plays" : result == 2 ? "no decoding thread" : "no decoder");
  }
  EXPECT_EQ(outcomes.front(), "no decoder");
  EXPECT_NE(std::find(outcomes.begin(), outcomes.end(), "no decoding thread"), outcomes.end());
  EXPECT_EQ(outcomes.back(), "plays");
}

TEST_F(Playback, PicturesCutIntoSeveralSlicesDecodeWhole) {
  RecordingSpec recipe = small_recording(1);
  recipe.slices = 3;
  const std::string path = made_recording(recipe, "three_slices.264");
  ASSERT_FALSE(path.empty());
  DecoderErrorCount decoder;
  std::vector<int> numbers;
  PlaybackOptions options;
  options.on_picture = [&](PlayerState& st) {
    numbers.push_back(frame_number_of(st.video.frame.get()));
  };
  testing::internal::CaptureStdout();
  play(path, options);
  testing::internal::GetCapturedStdout();

  EXPECT_EQ(stats.slices_sent, 75) << "every slice counts as a frame";
  EXPECT_EQ(stats.pictures_shown + stats.pictures_drained, 25) << "one picture per three slices";
  for (size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], static_cast<int>(i));
  EXPECT_EQ(decoder.errors(), 0) << decoder.messages().front();
}

// Events met while pictures are queued ahead: the pictures shown are told
// by the frame numbers drawn into them.
TEST_F(Playback, QueuedPicturesHandOverOnSeekPauseSpeedChangeAndEnd) {
  RecordingSpec recipe = small_recording(3);  // frames 0..74
  recipe.gop = 10;
  const std::string path = made_recording(recipe, "queue.264");
  ASSERT_FALSE(path.empty());
  auto run = [](int from, int to) {
    std::vector<int> r;
    for (int k = from; k <= to; ++k) r.push_back(k);
    return r;
  };
  struct Case {
    const char* what;
    SDL_Keycode key;  // pressed when picture 20 is on screen; 0: none
    std::vector<int> shown;
  } cases[] = {
      // Target 145, clamped to 74, key frame 70: nothing queued from 21 on shows.
      {"seek", SDLK_RIGHT, [&] { auto r = run(0, 20), t = run(70, 74); r.insert(r.end(), t.begin(), t.end()); return r; }()},
      {"pause, then resume", SDLK_SPACE, run(0, 74)},
      {"speed change", SDLK_UP, run(0, 74)},
      {"end", 0, run(0, 74)},
  };
  for (const Case& c : cases) {
    std::vector<int> numbers;
    bool shown_while_paused = false, tags_match = true;
    SDL_TimerID resume = 0;
    int on_screen_at_end = -1;
    PlaybackOptions options;
    options.on_picture = [&](PlayerState& st) {
      numbers.push_back(frame_number_of(st.video.frame.get()));
      tags_match = tags_match && st.frame_counter == numbers.back();  // unpaced: the picture's frame
      shown_while_paused = shown_while_paused || st.paused;
      if (numbers.back() != 20 || !c.key) return;
      push_key(c.key);
      // Paused for a while (the queue fills meanwhile), then resumed.
      if (c.key == SDLK_SPACE) {
        resume = SDL_AddTimer(150, [](Uint32, void*) -> Uint32 { push_key(SDLK_SPACE); return 0; },
                              nullptr);
      }
    };
    options.on_finished = [&](PlayerState& st) {
      on_screen_at_end = frame_number_on_screen(st);
      push_key(SDLK_ESCAPE);
    };
    testing::internal::CaptureStdout();
    play(path, options);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(numbers, c.shown) << c.what;
    EXPECT_EQ(on_screen_at_end, 74) << c.what;
    EXPECT_FALSE(shown_while_paused) << c.what;
    EXPECT_TRUE(tags_match) << c.what << ": each picture carries the frame it shows";
    if (resume) SDL_RemoveTimer(resume);
  }
}

// At real pacing on a machine that keeps up, 1x shows every picture.
TEST_F(Playback, AtNormalSpeedNoPictureIsSkippedOrDropped) {
  RecordingSpec recipe = small_recording(2);
  recipe.width = 160;
  recipe.height = 120;
  const std::string path = made_recording(recipe, "paced_1x.264");
  ASSERT_FALSE(path.empty());
  std::vector<int> numbers;
  PlaybackOptions options;
  options.on_picture = [&](PlayerState& st) { numbers.push_back(frame_number_of(st.video.frame.get())); };
  testing::internal::CaptureStdout();
  play_paced(path, options);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(stats.pictures_skipped, 0);
  EXPECT_EQ(stats.pictures_dropped, 0);
  ASSERT_EQ(numbers.size(), 50u);
  for (size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], static_cast<int>(i));
}

// At 2x a stall of the drawing thread puts the pictures behind the clock:
// late ones are dropped, the decoder takes key frames only until it is
// ahead again, and from that key frame on every picture is decoded.
TEST_F(Playback, FastForwardSkipsOnlyWhileBehindAndDecodesEverythingOnceCaughtUp) {
  RecordingSpec recipe = small_recording(8);  // 200 frames
  recipe.width = 160;
  recipe.height = 120;
  recipe.gop = 25;
  const std::string path = made_recording(recipe, "stall_2x.264");
  ASSERT_FALSE(path.empty());
  constexpr int kTwiceIndex = 4;
  constexpr int kStallAt = 40;
  int64_t skipped_before_stall = -1, skipped_late = -1;
  std::vector<int> numbers;
  PlaybackOptions options;
  options.on_picture = [&](PlayerState& st) {
    if (st.speed_index != kTwiceIndex) set_speed(st, kTwiceIndex);
    numbers.push_back(frame_number_of(st.video.frame.get()));
    if (numbers.back() >= kStallAt && skipped_before_stall < 0) {
      skipped_before_stall = st.stats.pictures_skipped;
      SDL_Delay(600);  // 1.2 s of the recording at 2x
    }
    if (numbers.back() >= 150 && skipped_late < 0) skipped_late = st.stats.pictures_skipped;
  };
  testing::internal::CaptureStdout();
  play_paced(path, options);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(skipped_before_stall, 0) << "nothing is skipped while the pictures keep their time";
  EXPECT_GT(stats.pictures_skipped, 0) << "behind: key frames only";
  EXPECT_EQ(skipped_late, stats.pictures_skipped) << "caught up: every picture decoded again";
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.back(), 199) << "the last picture is not lost";
  EXPECT_LT(stats.pictures_skipped, 100);
}

}  // namespace
