// The file player: plays one recording in the shared window (the loop; the
// state it plays and the operations on it are in playback_state.h).
#pragma once

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/playback_state.h"

// Hooks and switches for tests and benchmarks; the defaults are the player.
struct PlaybackOptions {
  // Off: every picture is shown as soon as it is decoded, none is dropped or skipped.
  bool pacing = true;
  // Unpaced only. False: keep to the screen instead, drawing the newest
  // decoded picture at most once per refresh and dropping the others.
  bool every_picture = true;
  // Called after each picture is presented.
  std::function<void(PlayerState&)> on_picture;
  // Called once when the finished state begins, before its first event.
  std::function<void(PlayerState&)> on_finished;
  // Receives the statistics when the playback ends (may be null).
  PlaybackStats* stats_out = nullptr;
  // Off: the IYUV texture even on a software renderer, as accelerated ones get it.
  bool allow_direct_rgb = true;
};

// Plays `path`, creating the window and renderer from the first picture when
// they are null. Returns the next action: empty (back to the menu), a path,
// "__CONVERT__" or "__RTSP__".
std::string play_recording(const std::string& path, SDL_Window*& window, SDL_Renderer*& renderer);

// The same with hooks and pacing switch.
std::string play_recording_with(const std::string& path, SDL_Window*& window,
                                SDL_Renderer*& renderer, const PlaybackOptions& options);

// The playback in steps, as play_recording_with runs them (tests drive them
// one by one with events pushed in between).
// Loads and indexes the recording, opens the decoder and the sound and starts
// the decoding thread; false when it cannot be played: the reason is printed,
// kept in st.failure and shown as the transient message, which the screen
// that follows (the menu) draws.
bool open_playback(PlayerState& st, const std::string& path);
// One pass of the main loop: pending events, the overlay rule, then a paused
// frame, or the oldest decoded picture waited for, shown or dropped by the
// clock (a short wait when none is decoded yet), or the end once it is due.
void run_playback_step(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                       const PlaybackOptions& options);
// True until the end was reached (every picture handled, the clock at the
// end) and while nothing asked to leave.
bool playback_running(const PlayerState& st);
// After the end (every picture came through the queue and the clock reached
// the end): either the next recording of the folder (auto-continue on) or the
// finished state: the last picture with the bar and "END", where the keys, the
// seek strip and drops act as during playback (Space and Home play again from
// the start). Returns when the playback is to be left or a seek made it run again.
void finish_playback(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                     const PlaybackOptions& options);
// Stops the decoding thread, closes the sound and the video output and
// releases the recording.
void close_playback(PlayerState& st);

// Takes in what the background index found since the last call (every pass
// of the loop does): the decoding thread, the sound and the bar get it, a
// waiting seek goes ahead once the index reaches it, and when the index
// completes the rate and duration settle ("Loaded: ..." is printed then). If
// the whole-file figures changed the frames' times, the picture goes on
// where it is and only the clock's numbers change.
void take_index_growth(PlayerState& st);
