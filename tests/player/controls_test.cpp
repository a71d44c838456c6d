// Playback controls: the pure rules, speed steps, and keys and clicks pushed
// into SDL's queue between steps of a real playback.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "draw/help_overlay.h"
#include "draw/overlay.h"
#include "draw/sdl_handles.h"
#include "draw/toast.h"
#include "headless_sdl.h"
#include "player/controls.h"
#include "player/engine.h"
#include "player/screenshot.h"
#include "player_test_support.h"

namespace {

TEST(ControlRules, ProgressStripMapsMouseXToAFraction) {
  const SDL_Rect track{12, 579, 936, 6};
  const struct {
    int x;
    SDL_Rect track;
    float fraction;
  } cases[] = {
      {12, track, 0.0f},  {480, track, 0.5f}, {948, track, 1.0f}, {0, track, 0.0f},
      {2000, track, 1.0f}, {246, track, 0.25f},
      {10, {12, 579, 0, 6}, 0.0f},  // no track at all: never a division by zero
      {10, {12, 579, -14, 6}, 0.0f},
  };
  for (const auto& c : cases) {
    const float f = progress_fraction_at(c.x, c.track);
    EXPECT_FALSE(std::isnan(f));
    EXPECT_FLOAT_EQ(f, c.fraction) << c.x << " on a track " << c.track.w << " wide";
  }
}

TEST(ControlRules, VolumeFollowsTheSliderTruncatedAndClamped) {
  const SDL_Rect slider{786, 573, 56, 18};
  const struct {
    int x, volume;
  } cases[] = {{786, 0}, {814, 50}, {842, 100}, {700, 0}, {900, 100}, {787, 1}, {841, 98}};
  for (const auto& c : cases) EXPECT_EQ(volume_at(c.x, slider), c.volume) << c.x;
  EXPECT_EQ(volume_at(500, SDL_Rect{0, 0, 0, 0}), -1) << "no slider: no volume change";
}

TEST(ControlRules, OverlayHidesAfterThreeSecondsWithoutMotion) {
  const struct {
    bool paused, seek_drag;
    uint32_t since_motion;
    bool visible;
  } cases[] = {
      {false, false, 3000, true}, {false, false, 3001, false}, {false, true, 9000, true},
      {true, false, 9000, true},  {false, false, 0, true},
  };
  for (const auto& c : cases) {
    PlayerState st;
    st.paused = c.paused;
    st.seek_drag = c.seek_drag;
    st.last_mouse_motion = 100000;
    update_overlay_visibility(st, 100000 + c.since_motion);
    EXPECT_EQ(st.overlay_visible, c.visible) << c.since_motion;
  }
  // Only motion brings it back; time alone does not.
  PlayerState st;
  st.overlay_visible = false;
  st.last_mouse_motion = 0;
  update_overlay_visibility(st, 10);
  EXPECT_FALSE(st.overlay_visible);
}

TEST(SpeedSteps, StepsMessagesAndLimits) {
  EXPECT_EQ(speed_message(1.0), "1x");
  EXPECT_EQ(speed_message(8.0), "8x");
  EXPECT_EQ(speed_message(0.25), "0.25x");
  EXPECT_EQ(speed_message(0.5), "0.5x");
  EXPECT_EQ(speed_message(1.5), "1.5x");

  const struct {
    SDL_Keycode key;
    int presses;
    double speed;
    const char* message;
  } cases[] = {
      {SDLK_UP, 1, 1.5, "1.5x"}, {SDLK_UP, 2, 2.0, "2x"},    {SDLK_UP, 3, 4.0, "4x"},
      {SDLK_UP, 4, 8.0, "8x"},   {SDLK_DOWN, 1, 0.5, "0.5x"}, {SDLK_DOWN, 2, 0.25, "0.25x"},
  };
  for (const auto& c : cases) {
    PlayerState st;
    st.fps = 30;
    for (int i = 0; i < c.presses; ++i) handle_player_key(st, nullptr, nullptr, c.key);
    EXPECT_DOUBLE_EQ(st.speed, c.speed);
    EXPECT_STREQ(toast_text(), c.message);
    EXPECT_DOUBLE_EQ(st.clock.speed, c.speed) << "the clock runs at the new speed";
    // One more press past the last step changes nothing and says nothing.
    if (c.speed == 8.0 || c.speed == 0.25) {
      show_toast("unchanged", 1500);
      handle_player_key(st, nullptr, nullptr, c.key);
      EXPECT_DOUBLE_EQ(st.speed, c.speed);
      EXPECT_STREQ(toast_text(), "unchanged");
    }
  }
}

// A real playback driven step by step in a 960x600 window, events pushed in
// between steps.
class Controls : public PlaybackInWindow {
 protected:
  void open(bool audio) {
    RecordingSpec recipe;
    recipe.fps = 25;
    recipe.duration_s = 3;
    recipe.gop = 10;
    recipe.audio = audio;
    open_recording(recipe, audio ? "controls_audio.264" : "controls.264");
  }
  // Runs steps until `n` more pictures were shown (or the units run out).
  void show_pictures(int n) {
    const int64_t until = st.stats.pictures_shown + n;
    while (playback_running(st) && st.stats.pictures_shown < until) step();
  }
  // Only the pending events, nothing decoded.
  void handle_pending(PlayerState& state) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) handle_player_event(state, window, renderer, event);
  }
  static SDL_Point centre(const SDL_Rect& r) { return {r.x + r.w / 2, r.y + r.h / 2}; }
  void click(SDL_Point p) {
    push_mouse_button(true, p.x, p.y);
    push_mouse_button(false, p.x, p.y);
  }
};

TEST_F(Controls, ButtonsActOnlyWhileTheOverlayShowsAndAClickOnThePicturePauses) {
  open(false);
  show_pictures(1);
  const OverlayRects rects = overlay_rects();
  EXPECT_EQ(rects.faster_button_rect.x, 960 - 20 - 12);
  EXPECT_EQ(rects.mute_button_rect.w, 0) << "no sound: no mute button";

  click(centre(rects.faster_button_rect));
  step();
  EXPECT_EQ(st.speed_index, 3);
  EXPECT_STREQ(toast_text(), "1.5x");
  click(centre(overlay_rects().slower_button_rect));
  step();
  EXPECT_EQ(st.speed_index, 2);
  // The AUTO switch flips continuation with the folder's next recording.
  player_preferences().auto_continue = false;
  click(centre(overlay_rects().auto_button_rect));
  step();
  EXPECT_TRUE(player_preferences().auto_continue);
  EXPECT_STREQ(toast_text(), "AUTO NEXT ON");
  push_key(SDLK_a);
  step();
  EXPECT_FALSE(player_preferences().auto_continue);
  // Without sound the group moves right, and the track reaches where the SKIP
  // button stands with sound: a click there starts a seek drag.
  const SDL_Point mute_spot = centre(layout_overlay(960, 600, 2, true).skip_button);
  ASSERT_EQ(bar_target_at(overlay_rects(), mute_spot.x, mute_spot.y), BarTarget::seek);
  click(mute_spot);
  step();
  EXPECT_EQ(st.audio.volume, 100);
  EXPECT_EQ(st.stats.seeks, 1);
  // The play button pauses and plays.
  click(centre(overlay_rects().play_button_rect));
  step();
  EXPECT_TRUE(st.paused);
  click(centre(overlay_rects().play_button_rect));
  step();
  EXPECT_FALSE(st.paused);

  // Hidden overlay (no motion for more than 3 s): the same click lands on
  // the picture, which pauses; no button is pressed and nothing seeks.
  st.last_mouse_motion = SDL_GetTicks() - 3500;
  step();
  ASSERT_FALSE(st.overlay_visible);
  click(centre(overlay_rects().faster_button_rect));
  step();
  EXPECT_EQ(st.speed_index, 2) << "a hidden button is not pressed";
  EXPECT_EQ(st.stats.seeks, 1);
  EXPECT_TRUE(st.paused);
  // A click above the bar plays again.
  click({480, 300});
  step();
  EXPECT_FALSE(st.paused);
  EXPECT_EQ(st.stats.seeks, 1);
  // Motion shows the overlay again.
  push_mouse_motion(100, 100);
  step();
  EXPECT_TRUE(st.overlay_visible);
}

TEST_F(Controls, MuteButtonAndKeyWithSound) {
  open(true);
  ASSERT_TRUE(st.audio.has_audio);
  show_pictures(1);
  const OverlayRects rects = overlay_rects();
  ASSERT_GT(rects.mute_button_rect.w, 0);
  click(centre(rects.mute_button_rect));
  step();
  EXPECT_NE(st.audio.muted, false) << toast_text();
  push_key(SDLK_m);
  step();
  EXPECT_FALSE(st.audio.muted);
}

// The screenshots beside a recording: .bmp files in its folder.
std::vector<std::string> screenshots_beside(const std::string& recording) {
  std::vector<std::string> names;
  const std::filesystem::path folder = std::filesystem::path(recording).parent_path();
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().extension() == ".bmp") names.push_back(e.path().string());
  }
  return names;
}

TEST_F(Controls, ScreenshotByKeyAndButtonOnlyOnceThereIsAPicture) {
  open(false);
  for (const std::string& old : screenshots_beside(st.path)) std::filesystem::remove(old);
  show_toast("", 0);
  handle_player_key(st, window, renderer, SDLK_s);
  EXPECT_TRUE(screenshots_beside(st.path).empty()) << "no picture yet: nothing at all";
  EXPECT_FALSE(toast_showing(SDL_GetTicks()));

  show_pictures(1);
  testing::internal::CaptureStdout();
  click(centre(overlay_rects().screenshot_button_rect));
  step();
  const std::string out = testing::internal::GetCapturedStdout();
  const std::vector<std::string> files = screenshots_beside(st.path);
  ASSERT_EQ(files.size(), 1u) << out;
  // A line of its own (the index's "Loaded:" line may come before it).
  const size_t line = out.find("Screenshot: " + files.front() + "\n");
  ASSERT_NE(line, std::string::npos) << out;
  EXPECT_TRUE(line == 0 || out[line - 1] == '\n') << out;
  const std::string name = std::filesystem::path(files.front()).filename().string();
  EXPECT_EQ(std::string(toast_text()), "Saved " + name);
  // The picture at its own size, not the window's, named after the time of
  // the picture it holds (its number is drawn into it).
  SurfacePtr loaded(SDL_LoadBMP(files.front().c_str()));
  ASSERT_TRUE(loaded);
  SurfacePtr image(SDL_ConvertSurfaceFormat(loaded.get(), SDL_PIXELFORMAT_ABGR8888, 0));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->w, 320);
  EXPECT_EQ(image->h, 240);
  const int held = read_frame_number(
      [&](int x, int y) {
        return static_cast<int>(static_cast<const uint8_t*>(image->pixels)[y * image->pitch + x * 4 + 1]);
      },
      320, 240);
  EXPECT_EQ(name, recording_screenshot_name(st.path, st.start, frame_time(st, held)));
  std::filesystem::remove(files.front());

  // With the overlay hidden the button is not there: the click is on the picture.
  st.last_mouse_motion = SDL_GetTicks() - 3500;
  step();
  ASSERT_FALSE(st.overlay_visible);
  click(centre(overlay_rects().screenshot_button_rect));
  step();
  EXPECT_TRUE(screenshots_beside(st.path).empty());
  EXPECT_TRUE(st.paused);
}

TEST_F(Controls, SeekDragWhilePausedShowsPicturesAndStaysPaused) {
  open(false);
  show_pictures(3);
  push_key(SDLK_SPACE);
  step();
  ASSERT_TRUE(st.paused);
  EXPECT_STREQ(toast_text(), "  ||  ");
  const int64_t shown = st.stats.pictures_shown;
  step();
  EXPECT_EQ(st.stats.pictures_shown, shown) << "no picture comes from the playback while paused";

  const SDL_Rect track = overlay_rects().seek_track;
  push_mouse_button(true, track.x + track.w / 4, 590);  // a quarter of the track
  step();
  ASSERT_TRUE(st.seek_drag);
  EXPECT_FLOAT_EQ(st.seek_fraction, static_cast<float>(track.w / 4) / track.w);
  show_pictures(2);
  EXPECT_GE(st.stats.pictures_shown, shown + 2) << "pictures come while dragging";
  EXPECT_TRUE(st.overlay_visible);
  push_mouse_motion(track.x + track.w * 3 / 4, 10);  // off the strip: the drag goes on
  push_mouse_button(false, track.x + track.w * 3 / 4, 10);
  step();
  EXPECT_FALSE(st.seek_drag);
  EXPECT_TRUE(st.paused);
  // (int)(75 x 0.75) = 56, whose key frame is 50.
  EXPECT_EQ(st.frame_counter, 50);
  const int64_t after = st.stats.pictures_shown;
  step();
  EXPECT_EQ(st.stats.pictures_shown, after);
  push_key(SDLK_SPACE);
  show_pictures(1);
  EXPECT_FALSE(st.paused);
}

TEST_F(Controls, VolumeDragReachesBothEndsAndUnmutes) {
  open(true);
  show_pictures(1);
  const SDL_Rect slider = overlay_rects().volume_slider_rect;
  ASSERT_EQ(slider.w, 56);
  push_mouse_button(true, slider.x + 28, slider.y + 5);
  step();
  EXPECT_TRUE(st.volume_drag);
  EXPECT_EQ(st.audio.volume, 50);
  push_mouse_motion(slider.x - 300, 0);
  step();
  EXPECT_EQ(st.audio.volume, 0);
  EXPECT_FALSE(st.audio.muted) << "volume 0 does not mute";
  push_mouse_motion(slider.x + 500, 599);
  step();
  EXPECT_EQ(st.audio.volume, 100);
  push_mouse_button(false, slider.x + 500, 599);
  push_mouse_motion(slider.x, 0);
  step();
  EXPECT_FALSE(st.volume_drag);
  EXPECT_EQ(st.audio.volume, 100) << "motion after the release changes nothing";

  // Muted, then dragged from 0 upwards: unmuted at the first positive volume.
  st.audio.muted = true;
  push_mouse_button(true, slider.x, slider.y + 5);
  step();
  EXPECT_EQ(st.audio.volume, 0);
  EXPECT_TRUE(st.audio.muted);
  push_mouse_motion(slider.x + 14, 0);
  push_mouse_button(false, slider.x + 14, 0);
  step();
  EXPECT_EQ(st.audio.volume, 25);
  EXPECT_FALSE(st.audio.muted);
}

TEST_F(Controls, FullScreenFlagStartsOffInEveryPlayback) {
  open(false);
  show_pictures(1);
  push_key(SDLK_f);
  step();
  EXPECT_TRUE(st.fullscreen);
  EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP);
  close_playback(st);

  // A second playback in the same window, still full screen.
  st = PlayerState{};
  open(false);
  show_pictures(1);
  EXPECT_FALSE(st.fullscreen);
  push_key(SDLK_f);
  step();
  EXPECT_TRUE(st.fullscreen);
  EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP);
  push_key(SDLK_f);
  step();
  EXPECT_FALSE(st.fullscreen);
  EXPECT_FALSE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
}

TEST_F(Controls, SpeedKeysDuringPlayback) {
  open(false);
  show_pictures(1);
  for (int i = 0; i < 6; ++i) push_key(SDLK_UP);
  step();
  EXPECT_DOUBLE_EQ(st.speed, 8.0);
  EXPECT_STREQ(toast_text(), "8x");
  for (int i = 0; i < 3; ++i) push_key(SDLK_DOWN);
  step();
  EXPECT_DOUBLE_EQ(st.speed, 1.5);
  EXPECT_STREQ(toast_text(), "1.5x");
}

TEST_F(Controls, HelpShowsOverThePictureAndAnyKeyOnlyHidesIt) {
  open(false);
  show_pictures(1);
  for (SDL_Keycode opener : {SDLK_F1, SDLK_h}) {
    push_key(opener);
    show_pictures(1);
    ASSERT_TRUE(st.help_visible);
    const HelpLayout l = layout_help(960, 600, player_help_lines());
    const Pixels p = read_pixels(renderer, 960, 600);
    int amber = 0;
    for (int x = l.keys_x; x < l.action_x; ++x) {
      const Rgba px = p.pixel_at(x, l.first_y + 2 * l.line_h + 1);
      if (px.r > 200 && px.g > 150 && px.g < 215 && px.b < 100) ++amber;
    }
    EXPECT_GT(amber, 0) << "the key column of the first line is drawn";
    // The key that hides the help does nothing else.
    push_key(SDLK_UP);
    step();
    EXPECT_FALSE(st.help_visible);
    EXPECT_EQ(st.speed_index, kNormalSpeedIndex);
  }
}

TEST_F(Controls, ButtonsOfThePreviousPlaybackAreNotHitBeforeTheNewBarIsDrawn) {
  open(true);
  show_pictures(1);
  const OverlayRects previous = overlay_rects();
  ASSERT_GT(previous.mute_button_rect.w, 0);
  close_playback(st);

  st = PlayerState{};
  open(true);
  // No picture yet, so no bar: clicks where the old buttons were press nothing.
  click(centre(previous.faster_button_rect));
  click(centre(previous.mute_button_rect));
  click(centre(previous.auto_button_rect));
  handle_pending(st);
  EXPECT_EQ(st.speed_index, kNormalSpeedIndex);
  EXPECT_FALSE(st.audio.muted);
  EXPECT_FALSE(player_preferences().auto_continue);
}

}  // namespace
