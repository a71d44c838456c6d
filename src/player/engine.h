// The file player: plays one recording in the shared window.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/activity_nav.h"
#include "player/audio_output.h"
#include "player/decoding_thread.h"
#include "player/export_job.h"
#include "player/frame_stepper.h"
#include "player/pacing.h"
#include "player/skip_quiet.h"
#include "player/time_of_day.h"
#include "player/video_output.h"
#include "recording/recording.h"

// Speed factors by index; index 2 is normal speed.
constexpr double kSpeedSteps[] = {0.25, 0.5, 1.0, 1.5, 2.0, 4.0, 8.0};
constexpr int kSpeedStepCount = 7;
constexpr int kNormalSpeedIndex = 2;

// What a playback did, for tests and benchmarks.
struct PlaybackStats {
  int64_t pictures_shown = 0;    // presented, except those of the drain
  int64_t pictures_drained = 0;  // presented, out of the decoder after the last unit
  int64_t pictures_dropped = 0;  // decoded, but too late to be drawn
  int64_t pictures_skipped = 0;  // slices not decoded while decoding key frames only
  int64_t slices_sent = 0;       // slice units given to the decoder
  int64_t seeks = 0;
};

struct PlayerState {
  std::string path;     // as given: the folder's other recordings are found beside it
  Recording recording;  // mapped file, unit list, frame list, fps; may still be growing
  int frame_count = 0;  // frames indexed so far
  double fps = 15.0;    // estimated until the index is complete
  double duration = 0;  // seconds; estimated until the index is complete
  double pending_seek_s = -1;  // a seek past the index's reach, waiting for it; -1: none
  VideoOutput video;  // video.frame holds the picture shown, video.zoom its zoom
  AudioOutput audio;
  bool split_pictures = false;  // pictures cut into several slices
  // With split pictures: the number (from 1) of the picture each frame-list
  // entry belongs to; empty otherwise, when entry k is picture k + 1.
  std::vector<int> picture_numbers;
  RecordingStart start;         // for the time of day of the pictures
  PlaybackActivity activity;    // the strip, the stretches and the jumps between them
  SkipQuietState skip;          // while skipping the quiet
  std::unique_ptr<ExportJob> export_job;  // the marked stretch being exported

  // The picture shown (the tag of the picture in video.frame; -1 before the
  // first) and, while paused, the decoder that finds pictures for seeks and
  // frame steps.
  int shown_frame = -1;
  FrameStepper stepper;
  // The pictures shown last before it while playing, oldest first, tags in a
  // row: on pausing they go to the stepper, so the first steps back need no
  // decoding.
  std::deque<std::pair<int, FramePtr>> recent;
  size_t recent_bytes = 0;
  bool stepped = false;         // the paused picture came from the stepper: playing goes on after it
  int unreachable_frame = -1;   // a paused seek's frame that gave no picture (not tried again)

  uint64_t nal_cursor = 0;  // unit the decoder was sent to last (start or seek)
  int frame_counter = 0;    // frame at the playback position
  double position_s = 0;    // playback position: recording time on the clock
  bool reached_end = false; // every picture was handled and the clock reached the end
  bool paused = false;
  int speed_index = kNormalSpeedIndex;
  double speed = 1.0;
  PlaybackClock clock;
  double last_drawn_ms = -1e9;  // when the last picture was presented
  std::unique_ptr<DecodingThread> decoding;  // from open_playback to close_playback

  bool fullscreen = false;  // what the last toggle asked for
  bool overlay_visible = true;
  uint32_t last_mouse_motion = 0;
  bool seek_drag = false;
  float seek_fraction = 0;
  bool volume_drag = false;
  // A left press on the picture: a click pauses or plays when released where
  // it was pressed, a drag moves the zoomed picture.
  bool picture_press = false;
  bool picture_dragged = false;
  int press_x = 0, press_y = 0, last_drag_x = 0, last_drag_y = 0;
  bool help_visible = false;  // the key help is drawn over the picture
  bool ended = false;         // in the finished state: last picture, bar and "END"

  std::string failure;  // why open_playback failed, as the window shows it
  std::string next_action;
  bool leave = false;  // end the playback at once, without the finished state
  PlaybackStats stats;
};

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

// While paused: steps to the next picture (direction 1) or the one before
// (-1), pausing first when playing, and shows it. At the first or the last
// picture a message says so and nothing changes.
void step_picture(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer, int direction);

// Pausing: the position becomes the time of the picture shown, and the
// pictures shown just before it go to the stepper. Resuming after
// a paused seek or a frame step: the playback goes on from the picture after
// the one shown, and the stepper's pictures are released.
void settle_on_shown_picture(PlayerState& st);
void resume_after_shown_picture(PlayerState& st);

// The number (from 1) of the picture whose first slice is frame `tag`.
int picture_number(const PlayerState& st, int tag);

// What the bar and the title show for the playback now.
OverlayView overlay_view(const PlayerState& st);

// Transient message for a speed factor, spelt as on the bar ("0.25x", "1.5x", "2x").
std::string speed_message(double speed);

// Takes in what the background index found since the last call (every pass
// of the loop does): the decoding thread, the sound and the bar get it, a
// waiting seek goes ahead once the index reaches it, and when the index
// completes the rate and duration settle ("Loaded: ..." is printed then). If
// the whole-file figures changed the frames' times, the picture goes on
// where it is and only the clock's numbers change.
void take_index_growth(PlayerState& st);

// True when the index reaches recording time `seconds` (or is complete).
bool index_reaches(const PlayerState& st, double seconds);

// How much of the payload the index covers, in percent (100 once complete).
int index_percent(const PlayerState& st);

// Seeks to the key frame at or before recording time `seconds`: at once
// when the index reaches that far, else once it does, showing a message
// meanwhile (Esc and every other key still act).
void seek_to_time(PlayerState& st, double seconds);

// Changes to speed step `index` (nothing outside 0..6 or when unchanged): the
// clock runs on at the new speed, the speed message shows, and the sound is
// resynchronised at 1x or dropped otherwise.
void set_speed(PlayerState& st, int index);

// The key frame a seek to `target` lands on: target clamped to the frames,
// then the nearest IDR frame at or before it (its first slice when the
// picture is cut into slices); 0 when there is none.
int find_seek_frame(const std::vector<NalUnit>& units, const std::vector<int64_t>& frames,
                    int target);

// Positions of the nearest SPS and PPS before unit u, walking back until both
// are known; both -1 when the start is reached first.
struct ParameterSets {
  int64_t sps = -1, pps = -1;
};
ParameterSets find_parameter_sets_before(const std::vector<NalUnit>& units, int64_t u);

// Seeks to the key frame at or before `target`: the decoding thread drops its
// queue, flushes the decoder, sends the SPS and PPS found before the key frame
// and goes on from it; the clock waits for its picture; the sound is
// resynchronised.
void seek_to_frame(PlayerState& st, int target);

// The playback clock. Every time the player shows, paces or plays sound by
// goes through these two, so the recording's own clock can replace the
// constant rate in one place.
// Time of frame `frame` in seconds from the start of the recording (frame / fps).
double frame_time(const PlayerState& st, int frame);
// The frame shown at `seconds` from the start: the last frame whose time is
// at or before it, clamped to the frames (0 when there is none).
int frame_at_time(const PlayerState& st, double seconds);

// Position of the playback in seconds: the clock's recording time.
double video_position(const PlayerState& st);

// Recording time at which the last frame ends: the duration.
double end_time(const PlayerState& st);
