// The playback clock and the rule that decides, for each decoded picture,
// whether to wait for it, show it or drop it. Pure: the caller passes the
// wall clock (milliseconds) and the recording times of the pictures.
//
// The clock maps recording time to wall time at the chosen speed. After the
// start or a seek it waits for its first picture and anchors there; a speed
// change or a pause re-anchors it where it stands. Picture k is due at
//   wall_anchor + (time(k) - media_anchor) / speed,
// so pictures follow the recording's own timing and a slow picture costs no
// time to the ones after it: the clock runs on, and late pictures are dropped
// while a newer one is already waiting.
#pragma once

#include <cstdint>

// Lateness a picture may have and still count as on time (a sleep that woke
// a little late).
constexpr double kPacingToleranceMs = 2.0;

// Below 2x a decoder that cannot keep up makes the clock wait for it once
// the picture on screen is this far behind: the sound then stays with the
// picture instead of running away from it.
constexpr double kClockYieldMs = 250.0;

// Speed from which a decoder that cannot keep up decodes key frames only.
constexpr double kKeyFramesOnlySpeed = 2.0;

// How far ahead of the clock a key frame must be for full decoding to start
// again from it: the pictures of its group must have time to come out of the
// decoder's pipeline and the queue before they are due.
constexpr double kCatchUpLeadIntervals = 8.0;
constexpr double kCatchUpLeadMinMs = 40.0;

// A screen shows a new picture at most every refresh (60 Hz assumed: SDL
// does not always know the rate). From 2x on, and when unpaced playback is
// told to keep to the screen, a picture that a newer one, already decoded,
// would replace sooner than this after the last one drawn is never drawn:
// the drawing time goes to the decoder instead.
constexpr double kScreenRefreshMs = 1000.0 / 60.0;
constexpr double kShortestShowMs = 0.75 * kScreenRefreshMs;

struct PlaybackClock {
  bool started = false;       // false: the next picture anchors the clock
  bool running = true;        // false: paused, standing at media_anchor_s
  double media_anchor_s = 0;  // recording time at wall_anchor_ms
  double wall_anchor_ms = 0;
  double speed = 1.0;
};

// Slot of one picture at a frame rate and speed factor, in milliseconds.
double pacing_interval_ms(double fps, double speed);

// Start or seek: the clock stands at `media_s` until the next picture starts it.
void clock_wait_for_picture(PlaybackClock& clock, double media_s);

// Anchors the running clock: recording time `media_s` is now.
void clock_start(PlaybackClock& clock, double media_s, double now_ms);

// The same moment under another name: recording time `media_s` is now,
// whether the clock runs, stands or waits for a picture (the recording's
// times were settled anew; the picture goes on where it was).
void clock_rename_now(PlaybackClock& clock, double media_s, double now_ms);

// Recording time on the clock at `now_ms` (its standing time when paused or
// waiting for a picture).
double clock_position_s(const PlaybackClock& clock, double now_ms);

// New speed from `now_ms` on, without a jump in position.
void clock_set_speed(PlaybackClock& clock, double speed, double now_ms);

// Pauses (the clock stands where it is) or resumes (it runs on from there).
void clock_set_running(PlaybackClock& clock, bool running, double now_ms);

// Wall time at which recording time `media_s` is due (clock started and running).
double clock_due_ms(const PlaybackClock& clock, double media_s);

enum class PictureAction { wait, show, drop };

struct PictureVerdict {
  PictureAction action = PictureAction::show;
  double wait_ms = 0;    // wait: how long until it is due
  double late_ms = 0;    // show, drop: how far past its time it is
  bool behind = false;   // show: late by more than a slot with nothing newer
                         // decoded, so dropping cannot catch up: the decoder is behind
};

// What to do with the oldest decoded picture, of recording time `picture_s`,
// at `now_ms`: wait until it is due; show it when it is due (at once when the
// clock waits for a picture); drop it when it is more than one slot
// (`interval_ms`) late and a newer picture is already decoded.
PictureVerdict judge_picture(const PlaybackClock& clock, double picture_s, double now_ms,
                             double interval_ms, bool newer_waiting);

// True when the picture due now need not be drawn: a newer one is decoded
// and the screen was updated less than kShortestShowMs ago.
bool replaced_before_screen_shows_it(double since_last_drawn_ms, bool newer_waiting);

// After a picture shown behind: true when the decoder should decode key
// frames only until it has caught up (2x and above).
bool wants_key_frames_only(double speed);

// After a picture shown behind below 2x: true when the clock should wait for
// the pictures (re-anchor at the picture shown).
bool clock_should_yield(double speed, double late_ms);

// Recording time from which a key frame is far enough ahead of the clock at
// `now_ms` for full decoding to start again from it.
double catch_up_time_s(const PlaybackClock& clock, double now_ms, double interval_ms);
