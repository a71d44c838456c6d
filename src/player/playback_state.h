// What the file player plays and where it stands: the recording, the video
// and sound outputs, the clock, the speed and the position, the paused
// picture and the choices that outlive one playback; and the operations on
// them that the loop (engine.h), the keys and mouse (controls.h) and finding
// and sharing (find_and_share.h) share: speed, seeks, pausing on the shown
// picture, the times of frames and what the bar shows.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "draw/overlay.h"
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

// Choices that outlive one playback. Process-wide, main thread only.
struct PlayerPreferences {
  // At the end of a recording the next one of its folder follows. Off at
  // start: a recording opened to look at one event ends where it ends, in the
  // finished state where it can be replayed or stepped back; `a` turns it on.
  bool auto_continue = false;
  // Speed step the next playback starts at when it was reached by stepping
  // through the folder (PageDown, PageUp, auto-continue); -1 otherwise.
  int carried_speed_index = -1;
  // The bar shows the time of day large and the elapsed time small (or the
  // reverse); `t` switches.
  bool time_of_day_large = true;
  // Quiet stretches play at the top speed, activity at 1x; `k` or the SKIP
  // button switches. Carried on through the folder like the speed.
  bool skip_quiet = false;
};
PlayerPreferences& player_preferences();

// Pausing: the position becomes the time of the picture shown, and the
// pictures shown just before it go to the stepper. Resuming after
// a paused seek or a frame step: the playback goes on from the picture after
// the one shown, and the stepper's pictures are released.
void settle_on_shown_picture(PlayerState& st);
void resume_after_shown_picture(PlayerState& st);

// Puts `picture`, a picture of the stepper tagged `tag`, on the screen as the
// one shown (with the bar and the title when there is a window); playing goes
// on after it.
void show_stepper_picture(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                          const AVFrame* picture, int tag);

// While playing: keeps the picture just replaced on the screen (tagged `tag`)
// for the first steps back after a pause, as long as the pictures kept follow
// one another (a gap starts them again), within a memory budget.
void remember_recent_picture(PlayerState& st, int tag, FramePtr picture);

// The number (from 1) of the picture whose first slice is frame `tag`.
int picture_number(const PlayerState& st, int tag);

// What the bar and the title show for the playback now.
OverlayView overlay_view(const PlayerState& st);

// Transient message for a speed factor, spelt as on the bar ("0.25x", "1.5x", "2x").
std::string speed_message(double speed);

// Changes to speed step `index` (nothing outside 0..6 or when unchanged): the
// clock runs on at the new speed, the speed message shows, and the sound is
// resynchronised at 1x or dropped otherwise.
void set_speed(PlayerState& st, int index);

// Seeks to the key frame at or before `target`: the decoding thread drops its
// queue, flushes the decoder, sends the SPS and PPS found before the key frame
// and goes on from it; the clock waits for its picture; the sound is
// resynchronised.
void seek_to_frame(PlayerState& st, int target);

// True when the index reaches recording time `seconds` (or is complete).
bool index_reaches(const PlayerState& st, double seconds);

// How much of the payload the index covers, in percent (100 once complete).
int index_percent(const PlayerState& st);

// Seeks to the key frame at or before recording time `seconds`: at once
// when the index reaches that far, else once it does, showing a message
// meanwhile (Esc and every other key still act).
void seek_to_time(PlayerState& st, double seconds);

// A seek waiting for the index goes ahead when the index now reaches it;
// else the waiting message is refreshed. Nothing when no seek waits.
void go_on_with_waiting_seek(PlayerState& st);

// Shows for a moment that the index has not reached what was asked yet, and
// how far it is.
void show_index_wait(const PlayerState& st);

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
