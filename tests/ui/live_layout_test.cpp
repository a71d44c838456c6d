// The live screens' pure rules: which picture is due by the sound heard, and
// where the live view's controls and the grid's cells lie.
#include <gtest/gtest.h>

#include <vector>

#include "ui/grid_view.h"
#include "ui/live_view.h"

TEST(LiveView, TheDuePicture) {
  struct Case {
    std::vector<double> times;
    bool playing;
    double heard;
    int due;
  } cases[] = {
      {{}, true, 5.0, -1},
      {{1.0, 1.04, 1.08}, false, 0, 2},      // without sound: the newest at once
      {{1.0, 1.04, 1.08}, true, 1.05, 1},    // the newest the sound has reached
      {{1.0, 1.04, 1.08}, true, 1.061, 2},   // half a picture early counts
      {{1.0, 1.04, 1.08}, true, 0.95, -1},   // all ahead of the sound: wait
      {{1.0, 1.04, 1.08}, true, 0.979, -1},
      {{1.0, 1.04, 1.08}, true, 0.981, 0},
      {{3.0, 3.04}, true, 1.9, 1},           // further ahead than a second: the clocks disagree
      {{1.0, 1.04}, true, 9.0, 1},           // the sound far ahead: the newest
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.heard);
    EXPECT_EQ(due_picture_index(c.times, c.playing, c.heard), c.due);
  }
}

TEST(LiveView, ControlsAndGridCells) {
  const LiveControls with_sound = layout_live_controls(960, 600, true);
  EXPECT_EQ(with_sound.camera.x, 924);
  EXPECT_EQ(with_sound.record.x + with_sound.record.w + 10, with_sound.camera.x);
  EXPECT_EQ(with_sound.volume.x + with_sound.volume.w + 12, with_sound.record.x);
  EXPECT_EQ(with_sound.mute.x + with_sound.mute.w + 8, with_sound.volume.x);
  EXPECT_EQ(with_sound.bar.y + with_sound.bar.h, 600);
  const LiveControls silent = layout_live_controls(960, 600, false);
  EXPECT_EQ(silent.mute.w, 0);  // no sound, no sound controls: clicks there hit nothing
  EXPECT_EQ(silent.volume.w, 0);

  struct Case {
    size_t count;
    size_t cells;
    SDL_Rect last;
  } cases[] = {
      {0, 0, {}},
      {1, 1, {0, 0, 1280, 720}},
      {3, 3, {0, 361, 639, 359}},
      {4, 4, {641, 361, 639, 359}},
      {5, 5, {427, 240, 425, 238}},
      {9, 9, {854, 480, 425, 238}},
      {12, 9, {854, 480, 425, 238}},  // more than nine: the first nine
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    const std::vector<SDL_Rect> cells = grid_cells(1280, 720, c.count);
    ASSERT_EQ(cells.size(), c.cells);
    if (cells.empty()) continue;
    EXPECT_EQ(cells.back().x, c.last.x);
    EXPECT_EQ(cells.back().y, c.last.y);
    EXPECT_EQ(cells.back().w, c.last.w);
    EXPECT_EQ(cells.back().h, c.last.h);
  }
  const std::vector<SDL_Rect> four = grid_cells(1280, 720, 4);
  EXPECT_EQ(grid_cell_at(four, 10, 10), 0);
  EXPECT_EQ(grid_cell_at(four, 1279, 719), 3);
  EXPECT_EQ(grid_cell_at(four, 640, 10), -1);  // the gap between cells
  EXPECT_EQ(grid_cell_at(four, 700, 100), 1);
}
