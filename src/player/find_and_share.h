// Finding where something happened and sharing it, in the file player: the
// jumps to the stretches of activity, skipping the quiet, the marks of a
// stretch and its export to MP4 on a worker thread.
#pragma once

#include <SDL.h>

#include <string>
#include <vector>

#include "convert/stretch_export.h"
#include "player/playback_state.h"

// n (direction 1) / Shift+n (-1): to the start of the next / previous stretch
// of activity (the key picture before it), naming its time in a message; a
// message says when there is none. While skipping the quiet the stretch then
// plays at 1x.
void jump_to_activity(PlayerState& st, int direction);

// k and the SKIP button: skipping the quiet on (it decides at once and says
// what it does) or off (back to 1x).
void toggle_skip_quiet(PlayerState& st);

// Ends skipping the quiet, as a speed key does; true when it was on.
bool end_skip_quiet(PlayerState& st);

// Once per pass while playing: follows the quiet (top speed) and the
// stretches of activity (1x with sound, from their start), saying each change
// on the bar and in a message.
void follow_skip_quiet(PlayerState& st);

// [ (out_point false) and ]: marks the playback position, saying its time
// and whether the other mark went.
void mark_stretch_point(PlayerState& st, bool out_point);

// Backspace / Delete: forgets both marks.
void clear_stretch_marks();

// The export the marks ask for: the in-point's recording through every one
// after it in the folder to the out-point's (a missing in-point is the start
// of the out-point's recording, a missing out-point the end of the
// in-point's). Empty inputs, with the reason, when it cannot be made. The
// start comes from the playback's index when the in-point is in the
// recording playing.
StretchRequest marked_stretch_request(const PlayerState& st, std::string* problem);

// The recordings from `first` through `last` in their folder's order; empty
// when `last` does not follow `first` there (within 1000 recordings).
std::vector<std::string> recordings_from_to(const std::string& first, const std::string& last);

// e: starts exporting the marked stretch (one export at a time), its
// progress then shown while the playback goes on.
void export_marked_stretch(PlayerState& st);

// Once per pass: the export's progress in a message (unless another message
// shows), its result when it has finished (also printed). True in the pass
// it finished.
bool follow_export(PlayerState& st);

// Esc while exporting: cancels the export and says so; true when there was one.
bool cancel_running_export(PlayerState& st);

// On leaving the playback: an export still running is cancelled, a finished
// one's result printed.
void end_export(PlayerState& st);

// Makes the activity strip for the width of the window's seek track.
void prepare_activity_strip(PlayerState& st, SDL_Window* window);
