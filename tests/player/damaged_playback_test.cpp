// The file player on damaged recordings, headless: cut at every kind of
// boundary, bit-flipped slices, random units, zero-filled stretches and an
// "HXAF" flood. A file that cannot be loaded gives the loader's own error
// line and an empty action; one that loads is played to its end (pacing off,
// and once at 8x with pacing), every slice goes to the decoder, and the
// finished state is reached.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "damaged_recordings.h"
#include "player/engine.h"
#include "player_test_support.h"
#include "test_recordings.h"

namespace {

struct Played {
  std::string action, printed;
  bool finished = false;
  PlaybackStats stats;
};

class DamagedPlayback : public PlayerWindowTest {
 protected:
  void SetUp() override {
    PlayerWindowTest::SetUp();
    if (HasFatalFailure()) return;
    // The window of the start menu: with it, the finished state comes even
    // when a damaged file yields no picture at all.
    window = SDL_CreateWindow("H.264 Player", 0, 0, 320, 240, 0);
    renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE) : nullptr;
    ASSERT_TRUE(renderer) << SDL_GetError();
  }

  Played play(const FileBytes& bytes, const std::string& name, bool eight_times = false) {
    const std::string path = test_temp_dir() + "/" + name + ".264";
    EXPECT_TRUE(write_file_bytes(path, bytes));
    Played played;
    PlaybackOptions options;
    options.pacing = eight_times;
    options.stats_out = &played.stats;
    if (eight_times) {
      options.on_picture = [](PlayerState& st) {
        if (st.speed_index != kSpeedStepCount - 1) set_speed(st, kSpeedStepCount - 1);
      };
    }
    options.on_finished = [&](PlayerState&) {
      played.finished = true;
      push_key(SDLK_ESCAPE);
    };
    testing::internal::CaptureStdout();
    played.action = play_recording_with(path, window, renderer, options);
    played.printed = testing::internal::GetCapturedStdout();
    return played;
  }

};

void expect_played_through(const std::string& what, const Played& played, int frames) {
  SCOPED_TRACE(what);
  EXPECT_EQ(played.action, "");
  EXPECT_EQ(loader_line(played.printed).rfind("Loaded: ", 0), 0u) << played.printed;
  EXPECT_TRUE(played.finished) << "the finished state was not reached";
  EXPECT_EQ(played.stats.slices_sent, frames);
  EXPECT_LE(played.stats.pictures_shown + played.stats.pictures_drained, frames);
}

TEST_F(DamagedPlayback, CutsPlayWhatLiesBeforeThemOrGiveTheLoaderError) {
  const FileBytes& whole = damage_source_recording();
  ASSERT_GT(whole.size(), 1000u);
  const auto cuts = boundary_cuts(whole);
  ASSERT_GE(cuts.size(), 12u);
  for (const RecordingCut& cut : cuts) {
    const Played played = play(FileBytes(whole.begin(), whole.begin() + static_cast<long>(cut.file_size)), "cut");
    if (cut.frames == 0) {
      SCOPED_TRACE(cut.kind);
      EXPECT_EQ(played.action, "");
      EXPECT_FALSE(played.finished);
      EXPECT_EQ(loader_line(played.printed).rfind("Error: ", 0), 0u) << played.printed;
      EXPECT_EQ(played.stats.slices_sent, 0);
    } else {
      expect_played_through(cut.kind, played, cut.frames);
    }
  }
}

TEST_F(DamagedPlayback, FlippedBitsRandomUnitsZerosAndFloodsPlayToTheEnd) {
  const FileBytes& whole = damage_source_recording();
  const Played original = play(whole, "original");
  const int frames = loaded_frames(original.printed);
  ASSERT_EQ(frames, 30);
  expect_played_through("flipped slice bits", play(flip_slice_bits(whole, 300, 9), "flipped"), frames);
  expect_played_through("flipped slice bits at 8x", play(flip_slice_bits(whole, 300, 10), "flipped-8x", true), frames);
  expect_played_through("an HXAF flood", play(hxaf_flood(whole, 20000, true), "flood"), frames);

  const Played zeroed = play(zero_stretch(whole, whole.size() / 3, whole.size() / 3), "zeroed");
  expect_played_through("a zeroed stretch", zeroed, loaded_frames(zeroed.printed));
  EXPECT_LT(loaded_frames(zeroed.printed), frames);

  for (uint32_t seed : {31u, 32u}) {
    const Played random = play(random_recording(64 * 1024, seed, true), "random-units");
    expect_played_through("random units " + std::to_string(seed), random, loaded_frames(random.printed));
    const Played noise = play(random_recording(64 * 1024, seed, false), "random");
    EXPECT_EQ(loader_line(noise.printed), "Error: No NAL units");
    EXPECT_EQ(noise.action, "");
  }
}

}  // namespace
