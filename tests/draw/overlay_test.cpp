// The playback overlay: layout arithmetic and texts directly, then the drawn
// bar read back from a 960x600 window over a grey "video" picture.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "draw/overlay.h"
#include "draw/text.h"
#include "headless_sdl.h"

namespace {

bool same(const SDL_Rect& a, const SDL_Rect& b) {
  return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}
std::string show(const SDL_Rect& r) {
  return "{" + std::to_string(r.x) + ", " + std::to_string(r.y) + ", " + std::to_string(r.w) +
         ", " + std::to_string(r.h) + "}";
}
#define EXPECT_RECT(actual, ...) \
  EXPECT_TRUE(same(actual, SDL_Rect{__VA_ARGS__})) << #actual " is " << show(actual)

bool white(Rgba p) { return p.r > 200 && p.g > 200 && p.b > 200; }
bool blue(Rgba p) { return p.b > p.r + 100; }
bool outline_tint(Rgba p) { return p.b > p.r + 40 && p.b < 200; }

// Runs [first, last] of pixels on row y that satisfy the test.
template <typename Test>
std::vector<std::pair<int, int>> runs(const Pixels& p, int y, Test test) {
  std::vector<std::pair<int, int>> out;
  for (int x = 0; x < p.w; ++x)
    if (test(p.pixel_at(x, y))) {
      if (!out.empty() && out.back().second == x - 1) out.back().second = x;
      else out.push_back({x, x});
    }
  return out;
}
using Runs = std::vector<std::pair<int, int>>;

struct Frame {
  bool paused = false;
  float progress = 0.0f;
  double position = 0, duration = 60, speed = 1;
  bool audio = true;
  int volume = 100;
  bool muted = false;
  bool ended = false;
  bool auto_continue = false;
};

struct Player {
  HeadlessCanvas c = make_headless_canvas(960, 600);
  Pixels draw(const Frame& f) {
    clear_canvas(c.renderer.get(), 128, 128, 128);
    OverlayView view;
    view.progress = f.progress;
    view.position_s = f.position;
    view.duration_s = f.duration;
    view.paused = f.paused;
    view.speed = f.speed;
    view.audio_available = f.audio;
    view.volume = f.volume;
    view.muted = f.muted;
    view.ended = f.ended;
    view.auto_continue = f.auto_continue;
    draw_playback_overlay(c.renderer.get(), c.window.get(), view, 2);
    return read_pixels(c.renderer.get(), c.w, c.h);
  }
  std::string title() { return SDL_GetWindowTitle(c.window.get()); }
};

}  // namespace

TEST(OverlayLayout, PlacesTheButtonRowFromTheRightEdgeAndEndsTheTrackBeforeIt) {
  OverlayLayout l = layout_overlay(960, 600, 2, true);
  EXPECT_EQ(l.button, 18);
  EXPECT_EQ(l.row_y, 573);
  EXPECT_RECT(l.bar, 0, 564, 960, 36);
  EXPECT_EQ(l.knob_y, 582);
  EXPECT_RECT(l.faster, 930, 573, 18, 18);
  // As wide as the ink of "0.25x", the widest label, whatever the speed.
  EXPECT_RECT(l.label_slot, 890, 573, 34, 18);
  EXPECT_RECT(l.slower, 866, 573, 18, 18);
  EXPECT_RECT(l.screenshot, 836, 573, 18, 18);
  EXPECT_RECT(l.volume, 768, 573, 56, 18);
  EXPECT_RECT(l.volume_track, 768, 580, 56, 4);
  EXPECT_RECT(l.mute, 744, 573, 18, 18);
  EXPECT_RECT(l.auto_button, 694, 573, 38, 18);
  // 24 pixels clear between the track's end and the group: the knob at the
  // end (radius 8) never sits under a control.
  EXPECT_RECT(l.track, 12, 579, 658, 6);

  OverlayLayout silent = layout_overlay(960, 600, 2, false);
  EXPECT_RECT(silent.auto_button, 786, 573, 38, 18);
  EXPECT_RECT(silent.track, 12, 579, 750, 6);
  EXPECT_RECT(silent.slower, 866, 573, 18, 18);

  // A window too narrow for a track keeps the controls and no track.
  EXPECT_EQ(layout_overlay(200, 100, 2, true).track.w, 0);
}

TEST(OverlayText, ClockSpeedLabelAndTitle) {
  char out[256];
  struct Clock { double seconds; bool hours; const char* text; };
  const Clock clocks[] = {
      {0, false, "00:00"},   {-0.5, false, "00:00"},  {59.99, false, "00:59"},
      {60, false, "01:00"},  {3599, false, "59:59"},  {NAN, false, "00:00"},
      {0, true, "0:00:00"},  {3725, true, "1:02:05"}, {36000, true, "10:00:00"},
      {59.9, true, "0:00:59"}, {1e300, true, "596523:14:07"},
  };
  for (const Clock& c : clocks) {
    format_clock(out, sizeof out, c.seconds, c.hours);
    EXPECT_STREQ(out, c.text) << c.seconds;
  }
  EXPECT_FALSE(clock_needs_hours(3599.9));
  EXPECT_TRUE(clock_needs_hours(3600));

  const std::pair<double, const char*> speeds[] = {
      {0.25, "0.25x"}, {0.5, "0.5x"}, {1.0, "1x"}, {1.005, "1x"}, {0.995, "1x"}, {1.5, "1.5x"},
      {2, "2x"},       {4, "4x"},     {8, "8x"},   {3, "3x"},     {0.75, "0.75x"}, {1.01, "1.01x"},
      {NAN, "?x"},
  };
  for (auto [speed, text] : speeds) {
    format_speed(out, sizeof out, speed);
    EXPECT_STREQ(out, text) << speed;
  }
  struct Title { double position, duration, speed; bool paused, ended; const char* text; };
  const Title titles[] = {
      {0, 60, 1.0, false, false, "H.264 Player  [00:00 / 01:00]"},
      {0, 60, 1.0, true, false, "H.264 Player  [00:00 / 01:00]  PAUSED"},
      {754, 3367, 0.5, false, false, "H.264 Player  [12:34 / 56:07]  0.5x"},
      {1, 2, 0.5, true, false, "H.264 Player  [00:01 / 00:02]  0.5x  PAUSED"},
      {0, 60, 2, false, false, "H.264 Player  [00:00 / 01:00]  2x"},
      {0, 60, 0.25, false, false, "H.264 Player  [00:00 / 01:00]  0.25x"},
      {0, 60, 1.005, false, false, "H.264 Player  [00:00 / 01:00]"},
      {65, 7322, 1.5, false, false, "H.264 Player  [0:01:05 / 2:02:02]  1.5x"},
      {60, 60, 1.0, false, true, "H.264 Player  [Finished]"},
  };
  for (const Title& t : titles) {
    OverlayView view;
    view.position_s = t.position;
    view.duration_s = t.duration;
    view.speed = t.speed;
    view.paused = t.paused;
    view.ended = t.ended;
    format_window_title(out, sizeof out, view);
    EXPECT_STREQ(out, t.text);
  }
  EXPECT_EQ(played_width(-0.2f, 936), 0);
  EXPECT_EQ(played_width(1.3f, 936), 936);
  EXPECT_EQ(played_width(NAN, 936), 0);
  EXPECT_EQ(volume_level_width(50), 28);
  EXPECT_EQ(volume_level_width(80), 44);
  EXPECT_EQ(volume_level_width(250), 56);
}

TEST(Overlay, DrawsTheWorkedLayoutAndPublishesItsRectangles) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  Pixels p = player.draw({.paused = true, .progress = 0.5f});
  const Rgba bar = p.pixel_at(5, 570);
  EXPECT_TRUE(p.is(5, 563, 128, 128, 128)) << "video above the bar is untouched";
  EXPECT_LT(bar.r, 128);
  EXPECT_EQ(p.pixel_at(959, 599), bar);
  EXPECT_EQ(p.pixel_at(300, 578), bar);
  EXPECT_TRUE(blue(p.pixel_at(300, 579)) && blue(p.pixel_at(300, 584))) << "played part";
  EXPECT_FALSE(blue(p.pixel_at(340, 580))) << "half of the 658-pixel track ends at 341";
  EXPECT_EQ(p.pixel_at(300, 585), bar);
  EXPECT_EQ(p.pixel_at(11, 580), bar);
  EXPECT_TRUE(blue(p.pixel_at(12, 580)));
  EXPECT_EQ(p.pixel_at(500, 580), p.pixel_at(600, 584)) << "unplayed track";

  // Button outlines on the row's top and bottom edges; the slider has none.
  const Runs buttons{{694, 731}, {744, 761}, {836, 853}, {866, 883}, {930, 947}};
  EXPECT_EQ(runs(p, 573, outline_tint), buttons);
  EXPECT_EQ(runs(p, 590, outline_tint), buttons);

  // Time read-out "00:00 / 01:00": 88 wide at (436, 546), shadow one pixel down-right.
  SDL_Rect text{0, 0, 0, 0};
  for (int y = 530; y < 564; ++y)
    for (auto [first, last] : runs(p, y, white)) {
      if (text.w == 0) text = {first, y, 0, 0};
      text.x = std::min(text.x, first);
      text.w = std::max(text.w, last - text.x + 1);
      text.h = y - text.y + 1;
    }
  EXPECT_RECT(text, 436, 546, 86, 10);
  EXPECT_LT(p.pixel_at(437, 556).r, 100);
  EXPECT_TRUE(p.is(436, 556, 128, 128, 128));

  // Grey "1x" label centred in its slot, at (900, 577).
  Rgba label = p.pixel_at(902, 577);
  EXPECT_TRUE(label.r == label.g && label.g == label.b && label.r > 150);
  EXPECT_FALSE(white(p.pixel_at(901, 577)));

  // The track ends 24 pixels before the AUTO switch; the bar shows between.
  EXPECT_TRUE(blue(p.pixel_at(300, 580)));
  EXPECT_NE(p.pixel_at(669, 580), bar);
  EXPECT_EQ(p.pixel_at(670, 580), bar);
  EXPECT_EQ(p.pixel_at(693, 580), bar);

  const OverlayRects& r = overlay_rects();
  EXPECT_RECT(r.auto_button_rect, 694, 573, 38, 18);
  EXPECT_RECT(r.mute_button_rect, 744, 573, 18, 18);
  EXPECT_RECT(r.volume_slider_rect, 768, 573, 56, 18);
  EXPECT_RECT(r.screenshot_button_rect, 836, 573, 18, 18);
  EXPECT_RECT(r.slower_button_rect, 866, 573, 18, 18);
  EXPECT_RECT(r.faster_button_rect, 930, 573, 18, 18);
  EXPECT_EQ(player.title(), "H.264 Player  [00:00 / 01:00]  PAUSED");
}

TEST(Overlay, NoControlMovesWithTheSpeedAndNoAudioDropsTheVolume) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  const Runs buttons{{694, 731}, {744, 761}, {836, 853}, {866, 883}, {930, 947}};
  for (double speed : {0.25, 0.5, 1.0, 1.5, 2.0, 4.0, 8.0}) {
    Pixels p = player.draw({.speed = speed});
    EXPECT_EQ(runs(p, 573, outline_tint), buttons) << speed;
    EXPECT_EQ(runs(p, 590, outline_tint), buttons) << speed;
  }
  Pixels p = player.draw({.speed = 0.25});
  Rgba amber = p.pixel_at(891, 577);
  EXPECT_TRUE(amber.r > 200 && amber.g > 150 && amber.g < 215 && amber.b < 100);
  EXPECT_EQ(player.title(), "H.264 Player  [00:00 / 01:00]  0.25x");

  p = player.draw({.position = 754, .duration = 3367, .speed = 0.5, .audio = false});
  EXPECT_EQ(runs(p, 573, outline_tint), (Runs{{786, 823}, {836, 853}, {866, 883}, {930, 947}}));
  EXPECT_EQ(p.pixel_at(750, 575), p.pixel_at(700, 575)) << "no mute button";
  const OverlayRects& r = overlay_rects();
  EXPECT_RECT(r.mute_button_rect, 0, 0, 0, 0);
  EXPECT_RECT(r.volume_slider_rect, 0, 0, 0, 0);
  EXPECT_RECT(r.slower_button_rect, 866, 573, 18, 18);
  EXPECT_EQ(player.title(), "H.264 Player  [12:34 / 56:07]  0.5x");
}

TEST(Overlay, HoursEndAndAutoSwitchShowOnTheBar) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  // "1:02:05 / 2:00:00" centred above the bar; the "1" lights its middle column.
  Pixels p = player.draw({.position = 3725, .duration = 7200});
  Runs row = runs(p, 546, white);
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.front().first, (960 - text_width("1:02:05 / 2:00:00", 2)) / 2 + 2);
  EXPECT_EQ(player.title(), "H.264 Player  [1:02:05 / 2:00:00]");

  // Ended: "END" in amber after the read-out, the finished title.
  p = player.draw({.progress = 1.0f, .position = 60, .duration = 60, .ended = true});
  Runs amber_run =
      runs(p, 546, [](Rgba c) { return c.r > 200 && c.g > 150 && c.g < 215 && c.b < 100; });
  ASSERT_FALSE(amber_run.empty()) << "END is drawn";
  const int readout_x = (960 - (88 + 8 + text_width("END", 2))) / 2;
  EXPECT_EQ(amber_run.front().first, readout_x + 88 + 8);
  EXPECT_EQ(runs(p, 546, white).front().first, readout_x);
  EXPECT_EQ(player.title(), "H.264 Player  [Finished]");

  // The AUTO switch is lit blue when on, dark when off.
  EXPECT_TRUE(blue(player.draw({.auto_continue = true}).pixel_at(697, 576)));
  EXPECT_FALSE(blue(player.draw({.auto_continue = false}).pixel_at(697, 576)));
}

TEST(Overlay, VolumeSliderLevelAndSpeakerState) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  struct Case { int volume; bool muted; int knob_x; const char* level; bool crossed; };
  const Case cases[] = {
      {0, false, 768, "none", true},
      {50, false, 796, "blue", false},
      {80, true, 812, "grey", true},
      {100, false, 824, "blue", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.volume) + (k.muted ? " muted" : ""));
    Pixels p = player.draw({.volume = k.volume, .muted = k.muted});
    Runs knob = runs(p, 582, white);
    // At volume 0 the knob touches the crossed speaker's centre pixel, so the
    // knob is found by its right end.
    std::erase_if(knob, [](auto run) { return run.second <= 764 || run.second > 832; });
    ASSERT_EQ(knob.size(), 1u);
    EXPECT_EQ(knob[0].second - 5, k.knob_x);
    Rgba level = p.pixel_at(771, 581);
    std::string seen = blue(level) ? "blue"
                       : level == p.pixel_at(822, 581) ? "none"
                       : level.r == level.g && level.r > 100 ? "grey" : "other";
    if (k.volume > 0) EXPECT_EQ(seen, k.level);
    else EXPECT_EQ(p.pixel_at(782, 581), p.pixel_at(822, 581)) << "no level bar";
    // A crossed speaker reaches (766, 578); the plain one has its bar on x 761.
    EXPECT_EQ(white(p.pixel_at(766, 578)), k.crossed);
    EXPECT_EQ(white(p.pixel_at(761, 582)), !k.crossed);
  }
}

TEST(Overlay, SeekKnobFollowsTheClampedProgress) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  struct Case { float progress; int knob_x; bool played; };
  const Case cases[] = {{-0.2f, 12, false}, {0.5f, 341, true}, {1.3f, 670, true}, {NAN, 12, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.progress);
    Pixels p = player.draw({.progress = k.progress});
    EXPECT_TRUE(white(p.pixel_at(k.knob_x, 582)));
    EXPECT_TRUE(blue(p.pixel_at(k.knob_x + 5, 582)));
    EXPECT_TRUE(white(p.pixel_at(k.knob_x + 8, 582)));
    EXPECT_FALSE(white(p.pixel_at(k.knob_x + 9, 582)));
    EXPECT_FALSE(white(p.pixel_at(k.knob_x, 573))) << "knob radius is 8";
    EXPECT_TRUE(white(p.pixel_at(k.knob_x, 574)));
    EXPECT_EQ(blue(p.pixel_at(300, 580)), k.played);
  }
}
