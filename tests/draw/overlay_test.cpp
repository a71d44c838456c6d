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
  std::string time_of_day = "";
  bool time_of_day_large = true;
  bool precise = false;
  int picture_number = 0;
  const std::vector<float>* activity = nullptr;
  float activity_from = 0.4f;
  float mark_in = -1, mark_out = -1;
  bool skip_quiet = false, skip_watching = false;
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
    view.time_of_day = f.time_of_day;
    view.time_of_day_large = f.time_of_day_large;
    view.precise = f.precise;
    view.picture_number = f.picture_number;
    view.activity = f.activity;
    view.activity_from = f.activity_from;
    view.mark_in = f.mark_in;
    view.mark_out = f.mark_out;
    view.skip_quiet = f.skip_quiet;
    view.skip_watching = f.skip_watching;
    draw_playback_overlay(c.renderer.get(), c.window.get(), view, 2);
    return read_pixels(c.renderer.get(), c.w, c.h);
  }
};

// The smallest rectangle of pixels passing `test` inside `area`.
template <typename Test>
SDL_Rect bounds(const Pixels& p, SDL_Rect area, Test test) {
  int x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
  for (int y = area.y; y < area.y + area.h; ++y)
    for (int x = area.x; x < area.x + area.w; ++x)
      if (test(p.pixel_at(x, y))) {
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
      }
  return x1 < 0 ? SDL_Rect{0, 0, 0, 0} : SDL_Rect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}
bool amber(Rgba p) { return p.r > 200 && p.g > 150 && p.g < 215 && p.b < 100; }
bool amber_activity(Rgba p) { return p.r > 180 && p.g > 100 && p.g < 200 && p.b < 90; }
bool green_mark(Rgba p) { return p.g > 170 && p.r < 140 && p.b < 170; }
bool red_mark(Rgba p) { return p.r > 200 && p.g < 110 && p.b < 110; }

}  // namespace

TEST(OverlayLayout, PlayButtonTrackAndTheGroupFromTheRightEdge) {
  OverlayLayout l = layout_overlay(960, 600, 2, true);
  EXPECT_EQ(l.button, 20);
  EXPECT_EQ(l.row_y, 572);
  EXPECT_RECT(l.bar, 0, 564, 960, 36);
  EXPECT_EQ(l.knob_y, 582);
  EXPECT_EQ(l.knob_radius, 8);
  EXPECT_RECT(l.play, 12, 572, 20, 20);
  EXPECT_RECT(l.faster, 928, 572, 20, 20);
  // As wide as the ink of "0.25x", the widest label, whatever the speed.
  EXPECT_RECT(l.label_slot, 864, 572, 58, 20);
  EXPECT_RECT(l.slower, 838, 572, 20, 20);
  EXPECT_RECT(l.screenshot, 806, 572, 20, 20);
  EXPECT_RECT(l.volume, 738, 572, 56, 20);
  EXPECT_RECT(l.volume_track, 738, 580, 56, 4);
  EXPECT_RECT(l.volume_zone, 733, 572, 66, 20);
  EXPECT_RECT(l.mute, 712, 572, 20, 20);
  EXPECT_RECT(l.auto_button, 646, 572, 54, 20);
  EXPECT_RECT(l.skip_button, 586, 572, 54, 20);
  // The knob (radius 8) at either end of the track stays clear of the play
  // button and of the group.
  EXPECT_RECT(l.track, 46, 579, 520, 6);
  EXPECT_RECT(l.seek_zone, 38, 564, 536, 36);

  OverlayLayout silent = layout_overlay(960, 600, 2, false);
  EXPECT_RECT(silent.auto_button, 740, 572, 54, 20);
  EXPECT_RECT(silent.skip_button, 680, 572, 54, 20);
  EXPECT_RECT(silent.track, 46, 579, 614, 6);
  EXPECT_RECT(silent.slower, 838, 572, 20, 20);
  EXPECT_RECT(silent.mute, 0, 0, 0, 0);

  // 1080p: everything a size up.
  OverlayLayout large = layout_overlay(1920, 1080, 3, true);
  EXPECT_EQ(large.button, 27);
  EXPECT_RECT(large.bar, 0, 1037, 1920, 43);
  EXPECT_EQ(large.knob_radius, 12);
  // A window too narrow for a track keeps the controls and no track to hit.
  EXPECT_EQ(layout_overlay(200, 100, 2, true).track.w, 0);
  EXPECT_RECT(rects_of_layout(layout_overlay(200, 100, 2, true), true).seek_rect, 0, 0, 0, 0);
}

TEST(OverlayLayout, AClickActsOnlyOnTheControlUnderIt) {
  const OverlayRects sound = rects_of_layout(layout_overlay(960, 600, 2, true), true);
  const OverlayRects silent = rects_of_layout(layout_overlay(960, 600, 2, false), false);
  using T = BarTarget;
  struct Case {
    const OverlayRects* rects;
    int x, y;
    BarTarget target;
    const char* what;
  } cases[] = {
      {&sound, 480, 300, T::picture, "the picture"},
      {&sound, 480, 563, T::picture, "the last row above the bar"},
      {&sound, 5, 580, T::none, "the left margin"},
      {&sound, 12, 572, T::play_pause, "the play button's corner"},
      {&sound, 31, 591, T::play_pause, "its opposite corner"},
      {&sound, 34, 580, T::none, "between the play button and the track"},
      {&sound, 38, 580, T::seek, "the knob's reach before the track"},
      {&sound, 300, 564, T::seek, "the track, top row of the bar"},
      {&sound, 300, 599, T::seek, "the track, bottom row of the bar"},
      {&sound, 573, 582, T::seek, "the knob's reach after the track"},
      {&sound, 574, 582, T::none, "past it"},
      {&sound, 585, 580, T::none, "the gap before SKIP"},
      {&sound, 586, 580, T::skip_quiet, "SKIP"},
      {&sound, 639, 591, T::skip_quiet, "SKIP's opposite corner"},
      {&sound, 645, 580, T::none, "the gap before AUTO"},
      {&sound, 646, 580, T::auto_continue, "AUTO"},
      {&sound, 705, 580, T::none, "between AUTO and the speaker"},
      {&sound, 712, 580, T::mute, "the speaker"},
      {&sound, 732, 580, T::none, "between the speaker and the slider"},
      {&sound, 733, 582, T::volume, "the knob at volume 0"},
      {&sound, 797, 582, T::volume, "the knob at volume 100"},
      {&sound, 800, 582, T::none, "between the slider and the camera"},
      {&sound, 806, 580, T::screenshot, "the camera"},
      {&sound, 830, 580, T::none, "between the camera and minus"},
      {&sound, 838, 580, T::slower, "minus"},
      {&sound, 860, 580, T::none, "between minus and the label"},
      {&sound, 886, 580, T::none, "the 1x label"},
      {&sound, 928, 580, T::faster, "plus"},
      {&sound, 950, 580, T::none, "right of plus"},
      {&sound, 959, 599, T::none, "the bottom-right corner"},
      {&silent, 650, 582, T::seek, "the track where SKIP is with sound"},
      {&silent, 700, 580, T::skip_quiet, "SKIP, moved right"},
      {&silent, 760, 580, T::auto_continue, "AUTO, moved right"},
      {&silent, 797, 582, T::none, "no slider without sound"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bar_target_at(*c.rects, c.x, c.y), c.target) << c.what << " at " << c.x << "," << c.y;
  }
  EXPECT_EQ(bar_target_at(OverlayRects{}, 950, 590), BarTarget::picture) << "no bar drawn yet";
}

TEST(OverlayText, ClocksSpeedLabelsAndTitles) {
  char out[256];
  struct Clock {
    double seconds;
    bool hours, ms;
    const char* text;
  } clocks[] = {
      {0, false, false, "00:00"},        {-0.5, false, false, "00:00"},
      {59.99, false, false, "00:59"},    {3599, false, false, "59:59"},
      {NAN, false, false, "00:00"},      {3725, true, false, "1:02:05"},
      {1e300, true, false, "596523:14:07"},
      {9.76, false, true, "00:09.760"},  {59.9996, false, true, "01:00.000"},
      {3725.004, true, true, "1:02:05.004"}, {-1, false, true, "00:00.000"},
  };
  for (const Clock& c : clocks) {
    if (c.ms) {
      format_clock_ms(out, sizeof out, c.seconds, c.hours);
    } else {
      format_clock(out, sizeof out, c.seconds, c.hours);
    }
    EXPECT_STREQ(out, c.text) << c.seconds;
  }
  const std::pair<double, const char*> speeds[] = {
      {0.25, "0.25x"}, {0.5, "0.5x"}, {1.0, "1x"}, {1.005, "1x"}, {1.5, "1.5x"},
      {2, "2x"},       {8, "8x"},     {3, "3x"},   {0.75, "0.75x"}, {NAN, "?x"},
  };
  for (auto [speed, text] : speeds) {
    format_speed(out, sizeof out, speed);
    EXPECT_STREQ(out, text) << speed;
  }
  struct Title {
    double position, duration, speed;
    bool paused, ended;
    const char* time_of_day;
    bool time_of_day_large;
    const char* file;
    const char* text;
  } titles[] = {
      {0, 60, 1.0, false, false, "", true, "", "H.264 Player  [00:00 / 01:00]"},
      {0, 60, 1.0, true, false, "", true, "", "H.264 Player  [00:00 / 01:00]  PAUSED"},
      {754, 3367, 0.5, false, false, "", true, "", "H.264 Player  [12:34 / 56:07]  0.5x"},
      {65, 7322, 1.5, false, false, "", true, "", "H.264 Player  [0:01:05 / 2:02:02]  1.5x"},
      {9.7, 1800, 1.0, false, false, "2026-12-01 08:00:09", true, "20261201_080000.264",
       "H.264 Player  [2026-12-01 08:00:09  00:09 / 30:00]  20261201_080000.264"},
      {9.7, 1800, 2.0, true, false, "2026-12-01 08:00:09", false, "cam.264",
       "H.264 Player  [00:09 / 30:00  2026-12-01 08:00:09]  2x  PAUSED  cam.264"},
      {60, 60, 1.0, false, true, "2026-12-01 08:01:00", true, "cam.264", "H.264 Player  [Finished]"},
  };
  for (const Title& t : titles) {
    OverlayView view;
    view.position_s = t.position;
    view.duration_s = t.duration;
    view.speed = t.speed;
    view.paused = t.paused;
    view.ended = t.ended;
    view.title_time_of_day = t.time_of_day;
    view.time_of_day_large = t.time_of_day_large;
    view.file_name = t.file;
    format_window_title(out, sizeof out, view);
    EXPECT_STREQ(out, t.text);
  }
  OverlayView examined;
  examined.position_s = 9.76;
  examined.duration_s = 30;
  examined.precise = true;
  examined.picture_number = 245;
  EXPECT_EQ(elapsed_text(examined), "00:09.760 / 00:30  #245");
  examined.precise = false;
  EXPECT_EQ(elapsed_text(examined), "00:09 / 00:30");
  EXPECT_EQ(played_width(-0.2f, 936), 0);
  EXPECT_EQ(played_width(1.3f, 936), 936);
  EXPECT_EQ(played_width(NAN, 936), 0);
  EXPECT_EQ(volume_level_width(50), 28);
  EXPECT_EQ(volume_level_width(80, 84), 67);
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
  EXPECT_TRUE(blue(p.pixel_at(250, 579)) && blue(p.pixel_at(250, 584))) << "played part";
  EXPECT_EQ(p.pixel_at(250, 585), bar);
  EXPECT_EQ(p.pixel_at(45, 580), bar) << "the track starts at 46";
  EXPECT_TRUE(blue(p.pixel_at(46, 580)));
  EXPECT_FALSE(blue(p.pixel_at(400, 580))) << "half of the 520-pixel track ends at 306";
  EXPECT_EQ(p.pixel_at(500, 580), p.pixel_at(560, 584)) << "unplayed track";
  EXPECT_EQ(p.pixel_at(567, 580), bar) << "the track ends at 566";

  // Button outlines on the row's top and bottom edges; the slider has none.
  const Runs buttons{{12, 31}, {586, 639}, {646, 699}, {712, 731}, {806, 825}, {838, 857}, {928, 947}};
  EXPECT_EQ(runs(p, 572, outline_tint), buttons);
  EXPECT_EQ(runs(p, 591, outline_tint), buttons);
  // Paused: the play button is lit and shows the play triangle (white).
  EXPECT_TRUE(blue(p.pixel_at(14, 574)));
  EXPECT_TRUE(white(p.pixel_at(19, 581)));

  // Read-out "00:00 / 01:00" at scale 3 (capitals 21 high), then "PAUSED" in
  // amber at scale 2, centred together: 231 + 8 + 70 wide from x 325, on a
  // baseline 8 above the bar.
  EXPECT_RECT(bounds(p, {0, 520, 960, 44}, white), 325, 535, 231, 21);
  EXPECT_RECT(bounds(p, {0, 520, 960, 44}, amber), 564, 542, 70, 14);
  EXPECT_LT(p.pixel_at(330, 556).r, 100) << "the shadow, one pixel down and right";
  EXPECT_TRUE(p.is(330, 557, 128, 128, 128));

  // Grey "1x" label centred in its slot, its "1" flag at (886, 577).
  Rgba label = p.pixel_at(886, 577);
  EXPECT_TRUE(label.r == label.g && label.g == label.b && label.r > 150);
  EXPECT_FALSE(white(p.pixel_at(883, 577)));

  const OverlayRects& r = overlay_rects();
  EXPECT_RECT(r.bar, 0, 564, 960, 36);
  EXPECT_RECT(r.play_button_rect, 12, 572, 20, 20);
  EXPECT_RECT(r.seek_track, 46, 579, 520, 6);
  EXPECT_RECT(r.skip_button_rect, 586, 572, 54, 20);
  EXPECT_RECT(r.auto_button_rect, 646, 572, 54, 20);
  EXPECT_RECT(r.mute_button_rect, 712, 572, 20, 20);
  EXPECT_RECT(r.volume_slider_rect, 738, 572, 56, 20);
  EXPECT_RECT(r.screenshot_button_rect, 806, 572, 20, 20);
  EXPECT_RECT(r.slower_button_rect, 838, 572, 20, 20);
  EXPECT_RECT(r.faster_button_rect, 928, 572, 20, 20);

  // Playing: the button is dark with the two pause bars.
  p = player.draw({.paused = false});
  EXPECT_FALSE(blue(p.pixel_at(14, 574)));
  EXPECT_EQ(bounds(p, {0, 520, 960, 44}, amber).w, 0) << "no PAUSED";
}

TEST(Overlay, NoControlMovesWithTheSpeedAndNoAudioDropsTheVolume) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  const Runs buttons{{12, 31}, {586, 639}, {646, 699}, {712, 731}, {806, 825}, {838, 857}, {928, 947}};
  for (double speed : {0.25, 0.5, 1.0, 1.5, 2.0, 4.0, 8.0}) {
    Pixels p = player.draw({.speed = speed});
    EXPECT_EQ(runs(p, 572, outline_tint), buttons) << speed;
  }
  Pixels p = player.draw({.speed = 0.25});
  EXPECT_TRUE(amber(p.pixel_at(866, 576))) << "0.25x fills its slot, amber";

  p = player.draw({.position = 754, .duration = 3367, .speed = 0.5, .audio = false});
  EXPECT_EQ(runs(p, 572, outline_tint),
            (Runs{{12, 31}, {680, 733}, {740, 793}, {806, 825}, {838, 857}, {928, 947}}));
  const OverlayRects& r = overlay_rects();
  EXPECT_RECT(r.mute_button_rect, 0, 0, 0, 0);
  EXPECT_RECT(r.volume_slider_rect, 0, 0, 0, 0);
  EXPECT_RECT(r.volume_rect, 0, 0, 0, 0);
}

TEST(Overlay, TimeOfDayLargeBesideTheElapsedTimeAndTheOtherWayRound) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  // "08:00:09" at scale 3 (8 characters: 141 wide), then "00:09 / 00:30"
  // at scale 2 (154 wide): 303 in all from x 328.
  Pixels p = player.draw({.position = 9.7, .duration = 30, .time_of_day = "08:00:09"});
  SDL_Rect large = bounds(p, {0, 520, 480, 44}, white);
  EXPECT_EQ(large.x, 328);
  EXPECT_EQ(large.h, 21);
  EXPECT_RECT(bounds(p, {470, 520, 490, 44}, white), 477, 542, 154, 14);
  // `t`: the elapsed time large and the time of day small.
  p = player.draw({.position = 9.7, .duration = 30, .time_of_day = "08:00:09",
                   .time_of_day_large = false});
  EXPECT_EQ(bounds(p, {0, 520, 960, 44}, white).x, (960 - (231 + 8 + 94)) / 2);
  // Examining: milliseconds and the picture's number make it longer.
  p = player.draw({.paused = true, .position = 9.76, .duration = 30,
                   .time_of_day = "08:00:09.760", .precise = true, .picture_number = 245});
  const SDL_Rect all = bounds(p, {0, 520, 960, 44}, [](Rgba c) { return white(c) || amber(c); });
  const int expected_w = (12 * 18 - 3) + 8 + (text_width("00:09.760 / 00:30  #245", 2) - 2) + 8 + 70;
  EXPECT_EQ(all.w, expected_w);
  EXPECT_EQ(all.x, (960 - expected_w) / 2);
}

TEST(Overlay, VolumeSliderLevelAndSpeakerState) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  struct Case { int volume; bool muted; int knob_x; const char* level; };
  const Case cases[] = {
      {0, false, 738, "none"}, {50, false, 766, "blue"}, {80, true, 782, "grey"},
      {100, false, 794, "blue"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.volume) + (k.muted ? " muted" : ""));
    Pixels p = player.draw({.volume = k.volume, .muted = k.muted});
    Runs knob = runs(p, 582, white);
    std::erase_if(knob, [](auto run) { return run.second <= 734 || run.second > 805; });
    ASSERT_EQ(knob.size(), 1u);
    EXPECT_EQ(knob[0].second - 5, k.knob_x);
    Rgba level = p.pixel_at(741, 581);
    std::string seen = blue(level) ? "blue"
                       : level == p.pixel_at(790, 581) ? "none"
                       : level.r == level.g && level.r > 100 ? "grey" : "other";
    if (k.volume > 0) {
      EXPECT_EQ(seen, k.level);
    }
  }
}

TEST(Overlay, SeekKnobFollowsTheClampedProgress) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  struct Case { float progress; int knob_x; bool played; };
  const Case cases[] = {{-0.2f, 46, false}, {0.5f, 306, true}, {1.3f, 566, true}, {NAN, 46, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.progress);
    Pixels p = player.draw({.progress = k.progress});
    EXPECT_TRUE(white(p.pixel_at(k.knob_x, 582)));
    EXPECT_TRUE(blue(p.pixel_at(k.knob_x + 5, 582)));
    EXPECT_TRUE(white(p.pixel_at(k.knob_x + 8, 582)));
    EXPECT_FALSE(white(p.pixel_at(k.knob_x + 9, 582)));
    EXPECT_FALSE(white(p.pixel_at(k.knob_x, 573))) << "knob radius is 8";
    EXPECT_TRUE(white(p.pixel_at(k.knob_x, 574)));
    EXPECT_EQ(blue(p.pixel_at(200, 580)), k.played);
  }
}

// The strip above the track: a column per pixel as high as its strength
// (the 12 rows between the bar's top margin and the track), amber from the
// activity strength on, dim below it; the marks as ticks and a band under the
// track; what skipping the quiet does beside the clocks.
TEST(Overlay, ActivityStripMarksAndSkipping) {
  Player player;
  ASSERT_TRUE(player.c.renderer) << "cannot start headless SDL";
  std::vector<float> strip(520, 0.0f);
  for (int x = 100; x < 110; ++x) strip[static_cast<size_t>(x)] = 0.2f;  // weaker change
  for (int x = 300; x < 320; ++x) strip[static_cast<size_t>(x)] = 1.0f;  // activity
  strip[400] = 0.5f;
  Pixels p = player.draw({.activity = &strip, .mark_in = 0.25f, .mark_out = 0.75f});
  const auto column = [&](int x, auto test) {
    int rows = 0;
    for (int y = 564; y < 579; ++y) rows += test(p.pixel_at(46 + x, y)) ? 1 : 0;
    return rows;
  };
  const auto grey = [](Rgba c) { return c.r == c.g && c.g == c.b && c.r > 90 && c.r < 140; };
  EXPECT_EQ(column(310, amber_activity), 12) << "full strength: full height";
  EXPECT_EQ(column(400, amber_activity), 6);
  EXPECT_EQ(column(105, amber_activity), 0);
  EXPECT_EQ(column(105, grey), 2) << "weaker change, dim";
  EXPECT_EQ(column(50, amber_activity) + column(50, grey), 0) << "usual change: nothing";
  // Ticks at a quarter and three quarters of the 520-pixel track, the band between.
  EXPECT_TRUE(green_mark(p.pixel_at(46 + 130, 566)));
  EXPECT_TRUE(red_mark(p.pixel_at(46 + 390, 566)));
  EXPECT_TRUE(green_mark(p.pixel_at(46 + 200, 586)));
  EXPECT_FALSE(green_mark(p.pixel_at(46 + 100, 586)));
  EXPECT_FALSE(green_mark(p.pixel_at(46 + 450, 586)));

  p = player.draw({.skip_quiet = true});
  EXPECT_GT(bounds(p, {0, 520, 960, 44}, amber).w, 100) << "SKIPPING QUIET";
  p = player.draw({.skip_quiet = true, .skip_watching = true});
  EXPECT_EQ(bounds(p, {0, 520, 960, 44}, amber).w, 0);
  EXPECT_GT(bounds(p, {0, 520, 960, 44}, green_mark).w, 40) << "ACTIVITY";
  EXPECT_TRUE(outline_tint(p.pixel_at(586, 572))) << "the SKIP button";
}
