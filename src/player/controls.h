// Keyboard and mouse during file playback, and the rule that shows and hides
// the playback overlay.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "player/engine.h"

constexpr int kProgressStripHeight = 36;  // bottom of the window, full width
constexpr int kProgressTrackMargin = 12;  // the track runs from x = 12 to W - 12
constexpr uint32_t kOverlayHideAfterMs = 3000;

// Frames of a five-second jump: (int)(fps x 5.0), truncated.
int five_second_jump(double fps);

// Fraction of the progress track under mouse x in a window `window_width`
// wide, clamped to 0..1 (0 when the window is too narrow for a track).
float progress_fraction_at(int x, int window_width);

// True when mouse y lies on the progress strip of a window `window_height` high.
bool on_progress_strip(int y, int window_height);

// Volume for mouse x over a slider: (x - slider x) * 100 / slider width,
// truncated and clamped to 0..100; -1 when the slider has no width.
int volume_at(int x, const SDL_Rect& slider);

// Handles one event of the playback loop (keys, mouse, window close, drops).
void handle_player_event(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                         const SDL_Event& event);

// The effect of one key press.
void handle_player_key(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                       SDL_Keycode key);

// Sets the volume from mouse x over the published volume slider; a positive
// volume unmutes and resynchronises the sound.
void set_volume_from_x(PlayerState& st, int x);

// Pause on / off: pauses the sound device, or resynchronises and resumes it.
void toggle_pause(PlayerState& st);

// Hides the overlay after 3000 ms without mouse motion, except during a seek
// drag; keeps it shown while paused.
void update_overlay_visibility(PlayerState& st, uint32_t now);
