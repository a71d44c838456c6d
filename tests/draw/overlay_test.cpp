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
};

struct Player {
  HeadlessCanvas c = make_headless_canvas(960, 600);
  Pixels draw(const Frame& f) {
    clear_canvas(c.renderer.get(), 128, 128, 128);
    draw_playback_overlay(c.renderer.get(), c.window.get(), f.progress, f.position, f.duration,
                          2, f.paused, f.speed, f.audio, f.volume, f.muted);
    return read_pixels(c.renderer.get(), c.w, c.h);
  }
  std::string title() { return SDL_GetWindowTitle(c.window.get()); }
};

}  // namespace

TEST(OverlayLayout, PlacesTheButtonRowFromTheRightEdge) {
  OverlayLayout l = layout_overlay(960, 600, 2, 16);
  EXPECT_EQ(l.button, 18);
  EXPECT_EQ(l.row_y, 573);
  EXPECT_RECT(l.bar, 0, 564, 960, 36);
  EXPECT_RECT(l.track, 12, 579, 936, 6);
  EXPECT_EQ(l.knob_y, 582);
  EXPECT_RECT(l.mute, 762, 573, 18, 18);
  EXPECT_RECT(l.volume, 786, 573, 56, 18);
  EXPECT_RECT(l.volume_track, 786, 580, 56, 4);
  EXPECT_RECT(l.screenshot, 854, 573, 18, 18);
  EXPECT_RECT(l.slower, 884, 573, 18, 18);
  EXPECT_EQ(l.label_x, 908);
  EXPECT_RECT(l.faster, 930, 573, 18, 18);

  // "0.25x" is 20 pixels wider than "1x": everything left of it moves by that.
  OverlayLayout wide = layout_overlay(960, 600, 2, text_width("0.25x", 2));
  EXPECT_EQ(text_width("0.25x", 2), 36);
  EXPECT_RECT(wide.slower, 864, 573, 18, 18);
  EXPECT_RECT(wide.screenshot, 834, 573, 18, 18);
  EXPECT_RECT(wide.volume, 766, 573, 56, 18);
  EXPECT_RECT(wide.mute, 742, 573, 18, 18);
  EXPECT_RECT(wide.faster, 930, 573, 18, 18);
}

TEST(OverlayText, ClockSpeedLabelAndTitle) {
  char out[256];
  const std::pair<double, const char*> clocks[] = {
      {0, "00:00"}, {-0.5, "00:00"}, {59.99, "00:59"}, {60, "01:00"}, {3725, "62:05"},
      {6000, "100:00"}, {NAN, "00:00"}, {1e300, "35791394:07"},
  };
  for (auto [seconds, text] : clocks) {
    format_clock(out, sizeof out, seconds);
    EXPECT_STREQ(out, text) << seconds;
  }
  const std::pair<double, const char*> labels[] = {
      {0.25, "0.25x"}, {0.5, "0.5x"}, {1.0, "1x"}, {1.005, "1x"}, {0.995, "1x"}, {1.5, "1.5x"},
      {2, "2x"},       {4, "4x"},     {8, "8x"},   {3, "3.0x"},   {0.75, "0.8x"}, {1.01, "1.0x"},
  };
  for (auto [speed, text] : labels) {
    format_speed_label(out, sizeof out, speed);
    EXPECT_STREQ(out, text) << speed;
  }
  struct Title { double position, duration, speed; bool paused; const char* text; };
  const Title titles[] = {
      {0, 60, 1.0, false, "H.264 Player  [00:00 / 01:00]"},
      {0, 60, 1.0, true, "H.264 Player  [00:00 / 01:00]  PAUSED"},
      {754, 3367, 0.5, false, "H.264 Player  [12:34 / 56:07]  0.5x"},
      {1, 2, 0.5, true, "H.264 Player  [00:01 / 00:02]  0.5x  PAUSED"},
      {0, 60, 2, false, "H.264 Player  [00:00 / 01:00]  2x"},
      {0, 60, 3, false, "H.264 Player  [00:00 / 01:00]  3x"},
      {0, 60, 0.25, false, "H.264 Player  [00:00 / 01:00]  0.2x"},
      {0, 60, 1.005, false, "H.264 Player  [00:00 / 01:00]"},
  };
  for (const Title& t : titles) {
    format_window_title(out, sizeof out, t.position, t.duration, t.speed, t.paused);
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
  EXPECT_EQ(p.pixel_at(300, 585), bar);
  EXPECT_EQ(p.pixel_at(11, 580), bar);
  EXPECT_TRUE(blue(p.pixel_at(12, 580)));
  EXPECT_EQ(p.pixel_at(700, 580), p.pixel_at(600, 584)) << "unplayed track";

  // Button outlines on the row's top and bottom edges; the slider has none.
  const Runs buttons{{762, 779}, {854, 871}, {884, 901}, {930, 947}};
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

  // Grey "1x" label at (908, 577).
  Rgba label = p.pixel_at(910, 577);
  EXPECT_TRUE(label.r == label.g && label.g == label.b && label.r > 150);
  EXPECT_FALSE(white(p.pixel_at(909, 577)));

  const OverlayRects& r = overlay_rects();
  EXPECT_RECT(r.mute_button_rect, 762, 573, 18, 18);
  EXPECT_RECT(r.volume_slider_rect, 786, 573, 56, 18);
  EXPECT_RECT(r.screenshot_button_rect, 854, 573, 18, 18);
  EXPECT_RECT(r.slower_button_rect, 884, 573, 18, 18);
  EXPECT_RECT(r.faster_button_rect, 930, 573, 18, 18);
  EXPECT_EQ(player.title(), "H.264 Player  [00:00 / 01:00]  PAUSED");
}

TEST(Overlay, LongAmberSpeedLabelShiftsTheRowAndNoAudioDropsTheVolume) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  Pixels p = player.draw({.speed = 0.25});
  EXPECT_EQ(runs(p, 573, outline_tint), (Runs{{742, 759}, {834, 851}, {864, 881}, {930, 947}}));
  Rgba amber = p.pixel_at(888, 577);
  EXPECT_TRUE(amber.r > 200 && amber.g > 150 && amber.g < 215 && amber.b < 100);
  EXPECT_EQ(player.title(), "H.264 Player  [00:00 / 01:00]  0.2x");

  p = player.draw({.position = 754, .duration = 3367, .speed = 0.5, .audio = false});
  EXPECT_EQ(runs(p, 573, outline_tint), (Runs{{842, 859}, {872, 889}, {930, 947}}));
  EXPECT_EQ(p.pixel_at(770, 575), p.pixel_at(700, 575)) << "no mute button";
  EXPECT_EQ(p.pixel_at(800, 581), p.pixel_at(700, 581)) << "no slider track";
  const OverlayRects& r = overlay_rects();
  EXPECT_RECT(r.mute_button_rect, 0, 0, 0, 0);
  EXPECT_RECT(r.volume_slider_rect, 0, 0, 0, 0);
  EXPECT_RECT(r.slower_button_rect, 872, 573, 18, 18);
  EXPECT_EQ(player.title(), "H.264 Player  [12:34 / 56:07]  0.5x");
}

TEST(Overlay, VolumeSliderLevelAndSpeakerState) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  struct Case { int volume; bool muted; int knob_x; const char* level; bool crossed; };
  const Case cases[] = {
      {0, false, 786, "none", true},
      {50, false, 814, "blue", false},
      {80, true, 830, "grey", true},
      {100, false, 842, "blue", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.volume) + (k.muted ? " muted" : ""));
    Pixels p = player.draw({.volume = k.volume, .muted = k.muted});
    Runs knob = runs(p, 582, white);
    // At volume 0 the knob touches the crossed speaker's centre pixel, so the
    // knob is found by its right end.
    std::erase_if(knob, [](auto run) { return run.second <= 782 || run.second > 850; });
    ASSERT_EQ(knob.size(), 1u);
    EXPECT_EQ(knob[0].second - 5, k.knob_x);
    Rgba level = p.pixel_at(789, 581);
    std::string seen = blue(level) ? "blue"
                       : level == p.pixel_at(840, 581) ? "none"
                       : level.r == level.g && level.r > 100 ? "grey" : "other";
    if (k.volume > 0) EXPECT_EQ(seen, k.level);
    else EXPECT_EQ(p.pixel_at(800, 581), p.pixel_at(840, 581)) << "no level bar";
    // A crossed speaker reaches (784, 578); the plain one has its bar on x 779.
    EXPECT_EQ(white(p.pixel_at(784, 578)), k.crossed);
    EXPECT_EQ(white(p.pixel_at(779, 582)), !k.crossed);
  }
}

TEST(Overlay, SeekKnobFollowsTheClampedProgress) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  struct Case { float progress; int knob_x; bool played; };
  const Case cases[] = {{-0.2f, 12, false}, {0.5f, 480, true}, {1.3f, 948, true}, {NAN, 12, false}};
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
