// The live view's sound as the clock: which picture is due, how chunks are
// queued at their place on the media clock (silence for lost sound, overlaps
// cut, a new run for a new connection), mute keeping the clock, and where the
// controls and the grid's cells lie.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "headless_sdl.h"
#include "ui/grid_view.h"
#include "ui/live_sound.h"
#include "ui/live_view.h"

namespace {

LiveSoundChunk chunk(double media_s, double seconds, int rate = 8000, int channels = 1) {
  LiveSoundChunk c;
  c.rate = rate;
  c.channels = channels;
  c.media_s = media_s;
  c.samples.assign(static_cast<size_t>(seconds * rate) * static_cast<size_t>(channels), 1000);
  return c;
}

// SDL's dummy audio driver takes its queue at the real rate.
class LiveSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(make_headless_canvas(32, 32).renderer);
    if (SDL_WasInit(SDL_INIT_AUDIO) == 0) {
      ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0) << SDL_GetError();
    }
  }
  void TearDown() override { close_live_sound(sound); }
  LiveSound sound;
};

}  // namespace

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

TEST_F(LiveSoundTest, ChunksGoInAtTheirPlaceOnTheClock) {
  queue_live_sound(sound, chunk(10.0, 0.1), 1);
  ASSERT_NE(sound.device, 0u) << "the dummy audio device did not open";
  // A lead of silence before the first sound, then the sound.
  EXPECT_NEAR(sound.silence_s, kLiveSoundLeadSeconds, 0.001);
  double heard = 0;
  ASSERT_TRUE(live_sound_heard(sound, heard));
  EXPECT_LT(heard, 10.0);
  EXPECT_GT(heard, 10.0 - kLiveSoundLeadSeconds - 0.1);
  // Lost sound: 0.2 s missing before the next chunk is filled with silence.
  queue_live_sound(sound, chunk(10.3, 0.1), 1);
  EXPECT_NEAR(sound.silence_s, kLiveSoundLeadSeconds + 0.2, 0.002);
  EXPECT_NEAR(sound.queued_end_s, 10.4, 1e-9);
  // A chunk that overlaps what is queued by 0.05 s is cut by that much.
  queue_live_sound(sound, chunk(10.35, 0.1), 1);
  EXPECT_NEAR(sound.cut_s, 0.05, 0.001);
  EXPECT_NEAR(sound.queued_end_s, 10.45, 1e-9);
  // Muting keeps the clock: the queue's length stays, silent.
  const double queued = live_sound_queued_seconds(sound);
  toggle_live_mute(sound);
  EXPECT_TRUE(sound.muted);
  EXPECT_NEAR(live_sound_queued_seconds(sound), queued, 0.05);
  ASSERT_TRUE(live_sound_heard(sound, heard));
  EXPECT_GT(heard, 10.0 - kLiveSoundLeadSeconds - 0.1);
  // A new connection's times start afresh: a new run with its own lead.
  const double silence = sound.silence_s;
  queue_live_sound(sound, chunk(0.5, 0.1), 2);
  EXPECT_NEAR(sound.queued_end_s, 0.6, 1e-9);
  EXPECT_NEAR(sound.silence_s - silence, kLiveSoundLeadSeconds, 0.002);
  // A jump far from where the queue ends begins a new run too.
  queue_live_sound(sound, chunk(100.0, 0.1), 2);
  EXPECT_NEAR(sound.queued_end_s, 100.1, 1e-9);
}

TEST_F(LiveSoundTest, TheHeardTimeMovesWithTheDeviceAndAFormatChangeReopensIt) {
  queue_live_sound(sound, chunk(1.0, 0.5, 16000, 2), 1);
  ASSERT_NE(sound.device, 0u);
  EXPECT_EQ(sound.rate, 16000);
  EXPECT_EQ(sound.channels, 2);
  double first = 0, later = 0;
  ASSERT_TRUE(live_sound_heard(sound, first));
  SDL_Delay(250);
  ASSERT_TRUE(live_sound_heard(sound, later));
  EXPECT_GT(later - first, 0.1);
  EXPECT_LT(later - first, 0.45);
  queue_live_sound(sound, chunk(1.5, 0.1, 8000, 1), 1);
  EXPECT_EQ(sound.rate, 8000);
  EXPECT_EQ(sound.channels, 1);
  set_live_volume(sound, 140);
  EXPECT_EQ(sound.volume, 100);
  sound.muted = true;
  set_live_volume(sound, 30);
  EXPECT_FALSE(sound.muted);  // a volume above 0 unmutes, as in the file player
}
