// The end of a recording: the last picture stays with the bar and "END", and
// the keys and the seek strip play it again from there. Driven through
// play_recording_with in a 960x600 window with events pushed from its hooks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "draw/letterbox.h"
#include "draw/overlay.h"
#include "draw/toast.h"
#include "headless_sdl.h"
#include "player/controls.h"
#include "player/engine.h"
#include "player_test_support.h"

namespace {

bool white(Rgba p) { return p.r > 200 && p.g > 200 && p.b > 200; }
bool blue(Rgba p) { return p.b > p.r + 100; }
bool amber(Rgba p) { return p.r > 200 && p.g > 150 && p.g < 215 && p.b < 100; }

// What the window showed when a finished state began.
struct EndView {
  int frame = -1;           // frame number of the picture on screen
  bool knob_at_end = false;  // the bar is drawn, its knob at the track's end
  bool end_shown = false;    // amber "END" beside the read-out
  std::string title;
};

class EndState : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(start_player_sdl());
    drop_pending_events();
    canvas = make_headless_canvas(960, 600);
    ASSERT_TRUE(canvas.window && canvas.renderer);
    window = canvas.window.get();
    renderer = canvas.renderer.get();
    player_preferences().auto_continue = false;
    // A message left by an earlier test would cover the frame number's cells.
    show_toast("", 0);
    // A key the finished state ignored by mistake would wait forever: the
    // window is closed after a minute, so the test fails instead of hanging.
    watchdog = SDL_AddTimer(60000, [](Uint32, void*) -> Uint32 {
      push_quit();
      return 0;
    }, nullptr);
  }
  void TearDown() override {
    SDL_RemoveTimer(watchdog);
    drop_pending_events();
  }

  EndView look(const PlayerState& st) {
    EndView v;
    const Pixels p = read_pixels(renderer, 960, 600);
    const SDL_Rect r = letterbox_rect(960, 600, st.video.width, st.video.height, 1, 1);
    v.frame = read_frame_number(
        [&](int x, int y) {
          return static_cast<int>(
              p.pixel_at(r.x + x * r.w / st.video.width, r.y + y * r.h / st.video.height).g);
        },
        st.video.width, st.video.height);
    const SDL_Rect track = layout_overlay(960, 600, 2, st.audio.has_audio).track;
    const int knob_x = track.x + track.w;
    v.knob_at_end = white(p.pixel_at(knob_x, 582)) && blue(p.pixel_at(knob_x + 5, 582));
    for (int x = 480; x < 700 && !v.end_shown; ++x) v.end_shown = amber(p.pixel_at(x, 546));
    v.title = SDL_GetWindowTitle(window);
    return v;
  }

  HeadlessCanvas canvas;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_TimerID watchdog = 0;
};

TEST_F(EndState, LastPictureBarAndEndThenSpaceLeftStripAndSpeedPlayOnFromThere) {
  RecordingSpec recipe;
  recipe.fps = 10;
  recipe.duration_s = 8;  // 80 frames, a key frame every 10
  recipe.gop = 10;
  const std::string path = made_recording(recipe, "end_state.264");
  ASSERT_FALSE(path.empty());

  std::vector<EndView> ends;
  std::vector<int> first_after;  // first picture shown after each finished state
  bool waiting_for_first = false;
  std::vector<double> speeds;
  std::vector<std::string> titles_after;
  PlaybackOptions options;
  options.pacing = false;
  options.on_picture = [&](PlayerState& st) {
    if (!waiting_for_first) return;
    first_after.push_back(frame_number_of(st.video.frame.get()));
    titles_after.push_back(SDL_GetWindowTitle(window));
    waiting_for_first = false;
  };
  options.on_finished = [&](PlayerState& st) {
    ends.push_back(look(st));
    speeds.push_back(st.speed);
    st.last_mouse_motion = SDL_GetTicks() - 10000;  // the mouse has long been still
    waiting_for_first = true;
    const SDL_Rect track = overlay_rects().seek_track;
    switch (ends.size()) {
      case 1: push_key(SDLK_SPACE); break;  // again from the start
      case 2: push_key(SDLK_LEFT); break;   // 80 - 50 = frame 30
      case 3:                               // the middle of the strip: frame 40
        push_mouse_button(true, track.x + track.w / 2, 590);
        push_mouse_button(false, track.x + track.w / 2, 590);
        break;
      case 4:  // a speed key and Right stay in the finished state; Home plays again
        push_key(SDLK_UP);
        push_key(SDLK_RIGHT);
        push_key(SDLK_HOME);
        break;
      default: push_key(SDLK_q); break;
    }
  };
  testing::internal::CaptureStdout();
  const std::string next = play_recording_with(path, window, renderer, options);
  testing::internal::GetCapturedStdout();

  EXPECT_EQ(next, "");
  ASSERT_EQ(ends.size(), 5u);
  for (const EndView& v : ends) {
    EXPECT_EQ(v.frame, 79) << "the last picture stays";
    EXPECT_TRUE(v.knob_at_end) << "the bar is shown at the end";
    EXPECT_TRUE(v.end_shown);
    EXPECT_EQ(v.title, "H.264 Player  [Finished]");
  }
  EXPECT_EQ(first_after, (std::vector<int>{0, 30, 40, 0}));
  // Playing again shows the bar, so the title follows the playback again.
  for (const std::string& title : titles_after) EXPECT_NE(title, "H.264 Player  [Finished]");
  EXPECT_EQ(speeds, (std::vector<double>{1.0, 1.0, 1.0, 1.0, 1.5}));
}

TEST_F(EndState, EscapeQCloseOpenAndDropEndItAsBefore) {
  RecordingSpec recipe;
  recipe.fps = 25;
  recipe.duration_s = 1;
  const std::string path = made_recording(recipe, "end_short.264");
  ASSERT_FALSE(path.empty());
  const char* const dropped = "/recordings/dropped at the end.264";
  const struct {
    const char* name;
    void (*push)();
    std::string expected;
  } cases[] = {
      {"Escape", [] { push_key(SDLK_ESCAPE); }, ""},
      {"q", [] { push_key(SDLK_q); }, ""},
      {"window close", [] { push_quit(); }, ""},
      {"c", [] { push_key(SDLK_c); }, "__CONVERT__"},
      {"drop", [] { push_drop("/recordings/dropped at the end.264"); }, dropped},
  };
  for (const auto& c : cases) {
    int finished = 0;
    PlaybackOptions options;
    options.pacing = false;
    options.on_finished = [&](PlayerState&) {
      ++finished;
      c.push();
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(play_recording_with(path, window, renderer, options), c.expected) << c.name;
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(finished, 1) << c.name;
  }
}

}  // namespace
