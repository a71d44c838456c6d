// Helpers shared by the file player's tests: headless SDL with events, made
// recordings, pushed events, and what the decoder said and showed.
#pragma once

#include <SDL.h>

#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "test_recordings.h"

// SDL video (dummy driver, software renderer), events, timer and audio (dummy
// driver); false with a gtest failure when SDL cannot start.
bool start_player_sdl();

// A made recording in the per-process temporary folder; "" after a failure.
std::string made_recording(const RecordingSpec& recipe, const std::string& name);

// Events as SDL would queue them.
void push_key(SDL_Keycode key);
void push_quit();
void push_drop(const std::string& path);
void push_mouse_button(bool down, int x, int y, Uint8 button = SDL_BUTTON_LEFT);
void push_mouse_motion(int x, int y);
void drop_pending_events();

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
