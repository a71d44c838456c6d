// Keyboard and mouse during file playback, and the rule that shows and hides
// the playback overlay.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "player/playback_state.h"

constexpr uint32_t kOverlayHideAfterMs = 3000;

// Frames of a five-second jump: (int)(fps x 5.0), truncated.
int five_second_jump(double fps);

// Fraction of the seek track under mouse x, clamped to 0..1 (0 when the track
// has no width).
float progress_fraction_at(int x, const SDL_Rect& track);

// Volume for mouse x over a slider: (x - slider x) * 100 / slider width,
// truncated and clamped to 0..100; -1 when the slider has no width.
int volume_at(int x, const SDL_Rect& slider);

// Leaves for the recording `step` places after (1) or before (-1) this one in
// its folder, naming it in a message; says so and stays when there is none.
void go_to_neighbour_recording(PlayerState& st, int step);

// Gives a playback reached by stepping through the folder the speed the
// previous one had (a folder watched at 4x stays at 4x); every other playback
// starts at 1x. Call before the pacing and the sound are set up.
void take_carried_speed(PlayerState& st);

// At the end, with auto-continue on and a next recording in the folder: leaves
// for it, naming it in a message, and returns true.
bool continue_with_next_recording(PlayerState& st);

// Handles one event of the playback loop (keys, mouse, window close, drops).
// While the key help shows, a key only hides it. A left press acts only on
// what lies under it: a control of the bar while the bar shows, the picture
// otherwise (a click pauses or plays, a double-click toggles full screen, a
// drag moves a zoomed picture); gaps in the bar do nothing. The wheel zooms
// at the pointer.
void handle_player_event(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                         const SDL_Event& event);

// The effect of one key press (with its modifiers: Shift+n goes back). In the
// finished state Space plays again from the start and Right has nothing to go
// to. Esc cancels a running export instead of leaving.
void handle_player_key(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                       SDL_Keycode key, Uint16 mod = KMOD_NONE);

// Sets the volume from mouse x over the published volume slider; a positive
// volume unmutes and resynchronises the sound.
void set_volume_from_x(PlayerState& st, int x);

// Pause on / off: pauses the sound device, or resynchronises and resumes it.
void toggle_pause(PlayerState& st);

// `.` (direction 1) and `,` (-1): steps to the next picture or the one before,
// pausing first when playing, and shows it. At the first or the last picture a
// message says so and nothing changes.
void step_picture(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer, int direction);

// Hides the overlay after 3000 ms without mouse motion, except during a seek
// drag; keeps it shown while paused.
void update_overlay_visibility(PlayerState& st, uint32_t now);
