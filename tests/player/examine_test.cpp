// Examining a moment: paused seeks and frame steps read back from the window,
// back steps through a camera-sized group decoding it only once, the zoomed
// view and its screenshot, the time of day in the title, clicks on the
// picture. A real playback driven step by step in a 960 x 600 window.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "draw/letterbox.h"
#include "draw/overlay.h"
#include "draw/sdl_handles.h"
#include "draw/toast.h"
#include "headless_sdl.h"
#include "player/controls.h"
#include "player/engine.h"
#include "player/screenshot.h"
#include "player_test_support.h"

namespace {

namespace fs = std::filesystem;

class Examine : public PlaybackInWindow {
 protected:
  void SetUp() override {
    PlaybackInWindow::SetUp();
    player_preferences() = PlayerPreferences{};
  }
  void TearDown() override {
    PlaybackInWindow::TearDown();
    player_preferences() = PlayerPreferences{};
  }
  void open(const RecordingSpec& recipe, const std::string& name) { open_recording(recipe, name); }
  void open_small() {
    RecordingSpec recipe;
    recipe.fps = 25;
    recipe.duration_s = 6;  // 150 frames, a key frame every 10
    recipe.gop = 10;
    open(recipe, "examine_small.264");
  }
  // Runs steps until the picture of frame `frame` or later was shown.
  void play_to(int frame) {
    while (playback_running(st) && st.shown_frame < frame) step();
  }
  void press(SDL_Keycode key) {
    push_key(key);
    step();
  }
  // The frame number of the picture on screen, read from the window (zoom 1).
  // Messages at the top would cover the number's cells: they are cleared and
  // the frame drawn again first.
  int number_on_screen() {
    show_toast("", 0);
    step();
    const Pixels p = read_pixels(renderer, 960, 600);
    const SDL_Rect r = letterbox_rect(960, 600, st.video.width, st.video.height, 1, 1);
    return read_frame_number(
        [&](int x, int y) {
          return static_cast<int>(
              p.pixel_at(r.x + x * r.w / st.video.width, r.y + y * r.h / st.video.height).g);
        },
        st.video.width, st.video.height);
  }
};

TEST_F(Examine, PausedSeeksShowThePictureTheyLandOn) {
  open_small();
  play_to(10);
  press(SDLK_SPACE);
  ASSERT_TRUE(st.paused);
  ASSERT_EQ(st.shown_frame, 10);
  EXPECT_EQ(number_on_screen(), 10);
  EXPECT_EQ(st.frame_counter, 10) << "the position is the picture's";

  const auto click_track = [&](float fraction) {
    const SDL_Rect track = overlay_rects().seek_track;
    const int x = track.x + static_cast<int>(track.w * fraction);
    push_mouse_button(true, x, track.y);
    push_mouse_button(false, x, track.y);
    step();
  };
  struct Move {
    const char* what;
    std::function<void()> act;
    int lands_on;
  } moves[] = {
      {"Right: 5.4 s is frame 135, its key frame 130", [&] { press(SDLK_RIGHT); }, 130},
      {"Right past the end: the last key frame", [&] { press(SDLK_RIGHT); }, 140},
      {"Left: 0.6 s is frame 15", [&] { press(SDLK_LEFT); }, 10},
      {"Home", [&] { press(SDLK_HOME); }, 0},
      {"three quarters along the track: 4.5 s is frame 112", [&] { click_track(0.75f); }, 110},
  };
  for (Move& m : moves) {
    m.act();
    step();
    EXPECT_TRUE(st.paused) << m.what;
    EXPECT_EQ(st.shown_frame, m.lands_on) << m.what;
    EXPECT_EQ(number_on_screen(), m.lands_on) << m.what;
    EXPECT_EQ(frame_number_of(st.video.frame.get()), m.lands_on) << m.what;
  }
}

TEST_F(Examine, FrameStepsPauseShowEachPictureAndPlayingGoesOnAfterThem) {
  open_small();
  play_to(25);
  press(SDLK_PERIOD);
  ASSERT_TRUE(st.paused) << "a step pauses";
  int expected = st.shown_frame;
  EXPECT_EQ(number_on_screen(), expected);
  // Back across the key frame at 20 into the group before, then forward again.
  std::vector<int> seen;
  for (int i = 0; i < 8; ++i) {
    press(SDLK_COMMA);
    seen.push_back(number_on_screen());
    EXPECT_EQ(st.shown_frame, seen.back());
  }
  std::vector<int> wanted;
  for (int i = 1; i <= 8; ++i) wanted.push_back(expected - i);
  EXPECT_EQ(seen, wanted);
  expected -= 8;
  for (int i = 0; i < 3; ++i) press(SDLK_PERIOD);
  expected += 3;
  EXPECT_EQ(number_on_screen(), expected);
  // The read-out: the picture's time to the millisecond and its number.
  const OverlayView view = overlay_view(st);
  EXPECT_TRUE(view.precise);
  char ms[32];
  format_clock_ms(ms, sizeof ms, frame_time(st, expected), false);
  EXPECT_EQ(elapsed_text(view), std::string(ms) + " / 00:06  #" + std::to_string(expected + 1));

  // Playing goes on with the next picture, not at a key frame.
  int64_t shown_before = st.stats.pictures_shown;
  press(SDLK_SPACE);
  EXPECT_FALSE(st.paused);
  while (st.stats.pictures_shown == shown_before && playback_running(st)) step();
  EXPECT_EQ(frame_number_of(st.video.frame.get()), expected + 1);

  // At the start: "First picture" and nothing moves.
  press(SDLK_HOME);
  while (st.shown_frame != 0 && playback_running(st)) step();
  press(SDLK_SPACE);
  ASSERT_TRUE(st.paused);
  ASSERT_EQ(st.shown_frame, 0);
  press(SDLK_COMMA);
  EXPECT_EQ(st.shown_frame, 0);
  EXPECT_STREQ(toast_text(), "First picture");
}

// A camera's picture: 1080p with sensor noise at 6 Mbit/s, a key frame every
// 2 s. The first step back into a group decodes it from its key frame (ahead
// of time while the player stands paused); the steps after it decode nothing.
TEST_F(Examine, BackStepsThroughACameraSizedGroupDecodeItOnce) {
  RecordingSpec recipe;
  recipe.width = 1920;
  recipe.height = 1080;
  recipe.fps = 25;
  recipe.frames = 110;
  recipe.gop = 50;
  recipe.extra_args = {"--noise", "8", "--bitrate", "6000"};
  open(recipe, "examine_1080p.264");
  DecoderErrorCount decoder;
  play_to(95);
  press(SDLK_SPACE);
  ASSERT_TRUE(st.paused);
  const int from = st.shown_frame;
  ASSERT_GE(from, 95);
  // The pictures shown last are kept from the playback; standing paused, the
  // rest of the group is decoded ahead in short slices.
  for (int pass = 0; pass < 400 && !stepper_decode_ahead(st.stepper, st.shown_frame, 0); ++pass)
    step();
  const int64_t decoded_ahead = st.stepper.pictures_decoded;
  EXPECT_GE(decoded_ahead, 1);
  EXPECT_LE(decoded_ahead, from - 50 + 4) << "at most the group from its key frame at 50";
  for (int n = 50; n <= from; ++n) EXPECT_EQ(st.stepper.kept.count(n), 1u) << n;

  for (int n = from - 1; n > 50; --n) {
    press(SDLK_COMMA);
    ASSERT_EQ(st.shown_frame, n);
    ASSERT_EQ(frame_number_of(st.video.frame.get()), n);
  }
  EXPECT_EQ(st.stepper.pictures_decoded, decoded_ahead) << "steps back within the group decode nothing";
  // At the key frame the group before starts being decoded ahead.
  press(SDLK_COMMA);
  EXPECT_EQ(number_on_screen(), 50);
  // Into the group before: decoded once from its key frame at 0.
  press(SDLK_COMMA);
  EXPECT_EQ(frame_number_of(st.video.frame.get()), 49);
  const int64_t group_before = st.stepper.pictures_decoded - decoded_ahead;
  EXPECT_GE(group_before, 50);
  EXPECT_LE(group_before, 50 + 4);
  for (int n = 48; n >= 40; --n) press(SDLK_COMMA);
  EXPECT_EQ(frame_number_of(st.video.frame.get()), 40);
  EXPECT_EQ(st.stepper.pictures_decoded - decoded_ahead, group_before);
  EXPECT_EQ(decoder.errors(), 0) << (decoder.errors() ? decoder.messages().front() : "");
  // The kept pictures stay within their memory budget.
  EXPECT_LE(st.stepper.kept_bytes, st.stepper.budget_bytes);
}

TEST_F(Examine, WheelZoomsAtThePointerAndTheScreenshotHoldsTheVisiblePartAtItsOwnPixels) {
  open_small();
  play_to(37);
  press(SDLK_SPACE);
  const int number = st.shown_frame;
  // Three notches up at the picture's top-right corner (the box is 800 x 600
  // at x 80; the pointer just right of it counts as its edge).
  for (int i = 0; i < 3; ++i) push_mouse_wheel(1, 880, 0);
  step();
  const ZoomView zoom = st.video.zoom;
  EXPECT_DOUBLE_EQ(zoom.zoom, 1.25 * 1.25 * 1.25);
  EXPECT_NEAR(zoom.x + 320 / zoom.zoom, 320, 1e-6) << "the right edge stays under the pointer";
  EXPECT_DOUBLE_EQ(zoom.y, 0);

  // On screen: the number's low eight cells (picture x 160..319), each twice
  // as wide as at 1x, and the band reaching further down than at 1x (60 rows).
  show_toast("", 0);
  step();
  const Pixels p = read_pixels(renderer, 960, 600);
  const double scale = 800 / (320 / zoom.zoom);
  for (int bit = 0; bit < 8; ++bit) {
    const double picture_x = 160 + 20 * bit + 10;
    const int x = 80 + static_cast<int>((picture_x - zoom.x) * scale);
    const bool light = (number >> (7 - bit)) & 1;
    EXPECT_EQ(p.pixel_at(x, 100).g >= 128, light) << "cell " << 8 + bit;
  }

  // The screenshot: the visible part at the picture's own pixels.
  std::string beside = st.path.substr(0, st.path.find_last_of('/'));
  for (const auto& e : fs::directory_iterator(beside))
    if (e.path().extension() == ".bmp") fs::remove(e.path());
  testing::internal::CaptureStdout();
  press(SDLK_s);
  const std::string printed = testing::internal::GetCapturedStdout();
  const std::string file = printed.substr(12, printed.size() - 13);
  SurfacePtr loaded(SDL_LoadBMP(file.c_str()));
  ASSERT_TRUE(loaded) << printed;
  SurfacePtr image(SDL_ConvertSurfaceFormat(loaded.get(), SDL_PIXELFORMAT_ABGR8888, 0));
  const SDL_Rect part = visible_pixels(zoom, 320, 240);
  EXPECT_EQ(image->w, part.w);
  EXPECT_EQ(image->h, part.h);
  EXPECT_EQ(image->w, 164);
  for (int bit = 0; bit < 8; ++bit) {
    const int x = 160 + 20 * bit + 10 - part.x;
    const uint8_t g = static_cast<const uint8_t*>(image->pixels)[12 * image->pitch + x * 4 + 1];
    EXPECT_EQ(g >= 128, ((number >> (7 - bit)) & 1) == 1) << "cell " << 8 + bit;
  }
  // Against the decoded picture itself: the same brightness, pixel for pixel.
  const AVFrame* f = st.video.frame.get();
  // (The moving box, Y 220 in strong colours, is left out: its red clips.)
  for (SDL_Point at : {SDL_Point{0, 0}, SDL_Point{80, 60}, SDL_Point{163, 122}, SDL_Point{60, 100}}) {
    const int luma = f->data[0][(at.y + part.y) * f->linesize[0] + at.x + part.x];
    const uint8_t* px = static_cast<const uint8_t*>(image->pixels) + at.y * image->pitch + at.x * 4;
    const int gray = (299 * px[0] + 587 * px[1] + 114 * px[2]) / 1000;
    EXPECT_NEAR(gray, (luma - 16) * 255 / 219, 12) << at.x << "," << at.y;
  }
  fs::remove(file);

  // A drag moves the zoomed picture and does not pause or play.
  const bool paused = st.paused;
  push_mouse_button(true, 480, 300);
  push_mouse_motion(490, 300);
  push_mouse_motion(580, 300);
  push_mouse_button(false, 580, 300);
  step();
  EXPECT_EQ(st.paused, paused);
  EXPECT_NEAR(st.video.zoom.x, zoom.x - 100 * (320 / zoom.zoom) / 800, 1e-6);
  // "0": the whole picture again.
  press(SDLK_0);
  EXPECT_EQ(st.video.zoom, ZoomView{});
  EXPECT_EQ(number_on_screen(), number);
}

TEST_F(Examine, TheTitleShowsTheTimeOfDayAndFollowsThePlaybackWithTheBarHidden) {
  RecordingSpec recipe;
  recipe.fps = 25;
  recipe.duration_s = 4;
  open(recipe, "20261201_235958.264");
  st.last_mouse_motion = SDL_GetTicks() - 10000;
  std::vector<std::string> titles;
  while (playback_running(st)) {
    step();
    ASSERT_FALSE(st.overlay_visible);
    const std::string title = SDL_GetWindowTitle(window);
    const bool playback_title = title.rfind("H.264 Player  [", 0) == 0;
    if (playback_title && (titles.empty() || titles.back() != title)) titles.push_back(title);
  }
  ASSERT_GE(titles.size(), 4u) << "one title per second of the recording";
  EXPECT_EQ(titles.front(), "H.264 Player  [2026-12-01 23:59:58  00:00 / 00:04]  20261201_235958.264");
  EXPECT_EQ(titles.back(), "H.264 Player  [2026-12-02 00:00:01  00:03 / 00:04]  20261201_235958.264");
  // `t`: the elapsed time first; the bar spells the date, as the recording spans two days.
  press(SDLK_t);
  const OverlayView view = overlay_view(st);
  EXPECT_FALSE(view.time_of_day_large);
  EXPECT_EQ(view.time_of_day.substr(0, 11), "2026-12-02 ");
}

TEST_F(Examine, AClickOnThePicturePausesADoubleClickTogglesFullScreenOnly) {
  open_small();
  play_to(5);
  push_mouse_button(true, 480, 300);
  push_mouse_button(false, 480, 300);
  step();
  EXPECT_TRUE(st.paused);
  // The second click of a double-click: full screen, and the pause stays as it was before.
  push_mouse_button(true, 480, 300, SDL_BUTTON_LEFT, 2);
  push_mouse_button(false, 480, 300, SDL_BUTTON_LEFT, 2);
  step();
  EXPECT_TRUE(st.fullscreen);
  EXPECT_FALSE(st.paused);
  // A click on the bar's gaps does nothing at all.
  const OverlayRects& r = overlay_rects();
  const int gap_x = r.slower_button_rect.x + r.slower_button_rect.w + 2;
  push_mouse_button(true, gap_x, r.slower_button_rect.y + 5);
  push_mouse_button(false, gap_x, r.slower_button_rect.y + 5);
  const int64_t seeks = st.stats.seeks;
  step();
  EXPECT_FALSE(st.paused);
  EXPECT_EQ(st.stats.seeks, seeks);
  push_key(SDLK_f);
  step();
}

TEST_F(Examine, AStepBackFromTheEndExaminesTheLastPictures) {
  RecordingSpec recipe;
  recipe.fps = 25;
  recipe.duration_s = 1;
  open(recipe, "examine_end.264");
  while (playback_running(st)) step();
  PlaybackOptions at_end = options;
  at_end.on_finished = [](PlayerState&) { push_key(SDLK_COMMA); };
  finish_playback(st, window, renderer, at_end);
  ASSERT_TRUE(playback_running(st)) << "the step left the finished state";
  EXPECT_TRUE(st.paused);
  EXPECT_EQ(st.shown_frame, 23);
  EXPECT_EQ(number_on_screen(), 23);
}

// Cameras that cut pictures into slices: a step goes a whole picture, and
// the number shown is the picture's, not the slice's.
TEST_F(Examine, StepsOverPicturesCutIntoSlices) {
  RecordingSpec recipe;
  recipe.fps = 25;
  recipe.duration_s = 2;
  recipe.gop = 10;
  recipe.slices = 3;
  open(recipe, "examine_slices.264");
  ASSERT_TRUE(st.split_pictures);
  play_to(3 * 14);
  press(SDLK_SPACE);
  const int picture = frame_number_of(st.video.frame.get());
  ASSERT_EQ(st.shown_frame, 3 * picture);
  for (int i = 1; i <= 6; ++i) {
    press(SDLK_COMMA);
    EXPECT_EQ(frame_number_of(st.video.frame.get()), picture - i);
    EXPECT_EQ(st.shown_frame, 3 * (picture - i));
  }
  press(SDLK_PERIOD);
  EXPECT_EQ(frame_number_of(st.video.frame.get()), picture - 5);
  EXPECT_EQ(overlay_view(st).picture_number, picture - 5 + 1);
  // Playing goes on with the picture after it.
  const int64_t shown_before = st.stats.pictures_shown;
  press(SDLK_SPACE);
  while (st.stats.pictures_shown == shown_before && playback_running(st)) step();
  EXPECT_EQ(frame_number_of(st.video.frame.get()), picture - 4);
}

TEST(WindowSize, NoLargerThanTheScreensUsableArea) {
  const struct {
    SDL_Point wanted;
    SDL_Rect usable;
    SDL_Point frame, fitted;
  } cases[] = {
      {{1920, 1080}, {0, 0, 1920, 1040}, {16, 48}, {1763, 992}},
      {{960, 600}, {0, 0, 1366, 728}, {16, 48}, {960, 600}},
      {{960, 600}, {0, 0, 800, 560}, {0, 0}, {800, 500}},
      {{640, 960}, {0, 0, 1280, 720}, {0, 0}, {480, 720}},
      {{1280, 960}, {0, 0, 0, 0}, {16, 48}, {1280, 960}},  // nothing known: as wanted
  };
  for (const auto& c : cases) {
    const SDL_Point got = fit_window_size(c.wanted, c.usable, c.frame);
    EXPECT_EQ(got.x, c.fitted.x) << c.wanted.x << "x" << c.wanted.y;
    EXPECT_EQ(got.y, c.fitted.y) << c.wanted.x << "x" << c.wanted.y;
  }
}

}  // namespace
