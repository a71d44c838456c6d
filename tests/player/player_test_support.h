// Helpers shared by the file player's tests: headless SDL with events, made
// recordings, pushed events, and what the decoder said and showed.
#pragma once

#include <SDL.h>

#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include <gtest/gtest.h>

#include "headless_sdl.h"
#include "player/engine.h"
#include "sdl_events.h"
#include "test_recordings.h"

// SDL video (dummy driver, software renderer), events, timer and audio (dummy
// driver); false with a gtest failure when SDL cannot start.
bool start_player_sdl();

// Headless SDL for each test, and the window and renderer a playback draws
// into (made by the test, or by the player when left null); both released after.
class PlayerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(start_player_sdl());
    drop_pending_events();
  }
  void TearDown() override {
    drop_pending_events();
    if (renderer) SDL_DestroyRenderer(renderer);
    if (window) SDL_DestroyWindow(window);
  }

  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
};

// A made recording in the per-process temporary folder; "" after a failure.
std::string made_recording(const RecordingSpec& recipe, const std::string& name);


// Frame number drawn into a made picture, read from its luma plane.
int frame_number_of(const AVFrame* frame);

// Counts the decoder's error messages (AV_LOG_ERROR and worse) from now on,
// leaving out "no frame!", which the decoder says about parameter sets sent
// in packets of their own.
struct DecoderErrorCount {
  DecoderErrorCount();
  ~DecoderErrorCount();
  int errors() const;
  std::vector<std::string> messages() const;
};

// A real playback driven step by step in a headless 960x600 window, unpaced,
// events pushed in between steps. Derived fixtures open their recording.
class PlaybackInWindow : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Makes the recording and opens the playback (its lines not printed).
  void open_recording(const RecordingSpec& recipe, const std::string& name);
  void step() { run_playback_step(st, window, renderer, options); }

  HeadlessCanvas canvas;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  PlaybackOptions options;
  PlayerState st;
};
