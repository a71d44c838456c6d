// The seek track while the index grows: the part it does not reach yet is
// drawn darker, and a complete index leaves the track as it always was.
#include <gtest/gtest.h>

#include "draw/overlay.h"
#include "headless_sdl.h"

namespace {

int brightness(Rgba p) { return p.r + p.g + p.b; }

TEST(IndexBand, TheTrackPastTheIndexIsDarker) {
  HeadlessCanvas c = make_headless_canvas(960, 600);
  ASSERT_TRUE(c.renderer);
  const OverlayLayout l = layout_overlay(960, 600, 2, true);
  const int y = l.track.y + l.track.h / 2;
  const auto draw = [&](float indexed) {
    clear_canvas(c.renderer.get(), 128, 128, 128);
    OverlayView view;
    view.duration_s = 100;
    view.audio_available = true;
    view.indexed = indexed;
    draw_playback_overlay(c.renderer.get(), c.window.get(), view, 2);
    return read_pixels(c.renderer.get(), c.w, c.h);
  };
  const Pixels whole = draw(1.0f);
  const Pixels half = draw(0.5f);
  const int inside = l.track.x + l.track.w / 4, beyond = l.track.x + 3 * l.track.w / 4;
  EXPECT_EQ(whole.pixel_at(beyond, y), whole.pixel_at(inside, y)) << "a complete index: one track";
  EXPECT_EQ(half.pixel_at(inside, y), whole.pixel_at(inside, y));
  EXPECT_LT(brightness(half.pixel_at(beyond, y)) + 60, brightness(half.pixel_at(inside, y)));
  // The band begins where the index ends.
  const int edge = l.track.x + l.track.w / 2;
  EXPECT_EQ(half.pixel_at(edge - 2, y), whole.pixel_at(edge - 2, y));
  EXPECT_NE(half.pixel_at(edge + 2, y), whole.pixel_at(edge + 2, y));
}

}  // namespace
