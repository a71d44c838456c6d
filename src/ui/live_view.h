// The live view: one camera's stream shown large in the shared window, with
// its sound in step, recording on a key or a button.
//
// The session (network, depacketising, decoding, recording) runs on a worker
// thread (rtsp/live_session.h), so the window never waits for a camera: the
// main thread handles events, plays the sound, shows each picture when the
// sound has reached it (at once when there is no sound), and asks the worker
// to stop when the user leaves.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "draw/zoom.h"
#include "rtsp/live_session.h"
#include "ui/live_sound.h"
#include "ui/picture_texture.h"

// How far pictures and sound were apart when pictures were shown.
struct AvSyncStats {
  int64_t samples = 0;
  double sum_s = 0;        // of picture time minus heard time (positive: picture ahead)
  double sum_abs_s = 0;
  double max_abs_s = 0;
};
void note_av_offset(AvSyncStats& stats, double offset_s);

// What a live view did, for tests and benchmarks.
struct LiveViewStats {
  int64_t pictures_shown = 0;
  AvSyncStats sync;            // pictures shown while the sound played, times placed by sender reports
  AvSyncStats sync_by_arrival; // the same before the reports came (times placed by arrival)
  uint32_t first_picture_ms = 0;  // from the start of the view; 0 when none came
  uint32_t first_sound_ms = 0;    // when the first sound was queued; 0 when none
  uint64_t sound_samples_queued = 0;  // per channel, silence included
  double silence_s = 0;
  double cut_s = 0;
  int64_t sound_samples_decoded = 0;  // by the session, per channel
  LiveStreamInfo info;
  LiveRecordingStatus recording;
};

// Where the live view's controls lie in a window `w` x `h`: camera button at
// the top right, record button left of it, then (with sound) the volume
// slider and the mute button; the status bar along the bottom.
struct LiveControls {
  SDL_Rect camera{}, record{}, volume{}, mute{}, bar{};
};
LiveControls layout_live_controls(int w, int h, bool has_sound);

// The camera button's place for a window `window_width` pixels wide.
SDL_Rect live_camera_button_rect(int window_width);

// Which of the waiting pictures (their media times, oldest first) is due now:
// while the sound plays (`heard_s` known), the newest at or before the sound
// heard plus kPictureDueEarlySeconds (one waiting further ahead than
// kMostPictureLeadSeconds is shown at once: the clocks disagree); without
// sound the newest. -1 when none is due.
constexpr double kMostPictureLeadSeconds = 1.0;
constexpr double kPictureDueEarlySeconds = 0.02;
int due_picture_index(const std::vector<double>& times, bool sound_playing, double heard_s);

// What the live view shows and plays for one camera.
struct LivePlayer {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  PictureTexture picture;
  LiveControls controls;           // as last drawn; all zero before
  SDL_Rect camera_button{0, 0, 0, 0};  // all zero until a frame was drawn
  bool help_visible = false;       // the key help is drawn over the picture
  ZoomView zoom;                   // the part of the picture shown, and how large
  bool dragging = false;           // a left drag moves the zoomed picture
  int drag_x = 0, drag_y = 0;
  std::string address;             // as typed; the title shows it without the password
  std::string name;                // the camera's name (recordings are named by it)
  int64_t pictures_shown = 0;
  LiveState state = LiveState::connecting;  // as last reported by the session
  LiveSound sound;
  bool play_sound = true;           // false: the session's sound is let go (a cell of a grid)
  bool pictures_wait_for_sound = true;  // false: pictures show as they come, also with sound
  std::deque<LivePicture> pending;  // taken from the session, waiting for the sound
  uint64_t connection = 0;
  LiveStreamInfo info;
  LiveRecordingStatus recording;
  uint32_t recording_since = 0;     // ticks when the recording began
  LiveRecorderSettings record_settings;  // folder, name and split for the next recording
  bool volume_drag = false;
  uint32_t last_mouse_motion = 0;
  AvSyncStats sync;             // offsets of pictures placed by sender reports
  AvSyncStats sync_by_arrival;  // and of those placed by arrival
  uint32_t started_ticks = 0;
  uint32_t first_picture_ticks = 0;
  std::shared_ptr<LiveLink> link;   // the session's, while one runs
  std::thread worker;               // runs the session
};

// The text shown over the picture while the connection is being made again.
inline constexpr const char* kReconnectingMessage = "RECONNECTING";

// Takes what the session reported: the state (the title follows it; the
// reconnecting message shows over a picture until the stream is back, and
// goes at once then), pictures (they wait for the sound), sound (queued at
// once), recording and stream news. True when something shown changed.
bool take_session_news(LivePlayer& player, LiveLink& link);

// Uploads a decoded picture and presents it with the controls; false when
// the texture could not be made.
bool show_live_picture(LivePlayer& player, const AVFrame& frame);

// Draws the picture at its shape with black bars (while there is no picture
// yet: a black window with the state word in the middle), the controls, the
// REC mark while recording, the status bar (while the mouse moves, and while
// recording), the key help when shown and the transient message. Does not present.
void draw_live_frame(LivePlayer& player);

// The screenshot action: nothing without a picture; otherwise the picture at
// its own size (its visible part when zoomed) is saved in the user's pictures
// folder (else the working folder) as "camera_<host>_<local time>.bmp" and
// the message names it. True when a file was written.
bool capture_live_screenshot(LivePlayer& player);

// Zoom and pan of the live picture: the wheel zooms at the pointer, a left
// drag (not on a control) moves the zoomed picture, "0" shows the whole
// picture again. True when the event was one of these (the frame then needs
// drawing again).
bool handle_live_zoom_event(LivePlayer& player, const SDL_Event& event);

// Recording on / off: asks the session to start (with the player's record
// settings) or stop. Without a session it says so.
void toggle_live_recording(LivePlayer& player);

// Handles one window event; false when the view is to end (Escape, close).
// F1 or h shows the key help; while it shows, a key only hides it. The
// camera button and "s" take a screenshot; zoom events as above.
bool handle_live_event(LivePlayer& player, const SDL_Event& event);

// The title: camera without password, state, and "REC" while recording.
void update_live_title(LivePlayer& player);

// How a run of the view ended.
enum class LiveViewEnd { escape, closed, failed };

// Shows the session on `player.link` until Escape, a window close (`closed`)
// or until the first connection fails (`failed`, with "WORD: reason" in `failure`). The session
// keeps running afterwards; the sound device is closed.
LiveViewEnd show_live_session(LivePlayer& player, std::string& failure);

// Starts a session for `player.address` on a worker thread; false with the
// reason when no thread can be started.
bool start_live_session(LivePlayer& player, const LiveSessionSettings& settings, std::string& reason);

// Asks the session to stop and waits for it briefly; a worker stuck where no
// wait can be cut short (a name lookup) is left to end on its own.
void stop_live_session(LivePlayer& player);

// What a run of the live view is given besides the address.
struct LiveViewOptions {
  LiveSessionSettings session;
  std::string name;                // the camera's name; empty: the host
  LiveRecorderSettings record;     // where recordings go and when a new file begins
  LiveViewStats* stats_out = nullptr;
  LiveViewEnd* end_out = nullptr;  // how the view ended
  // Off (for measuring): every picture is shown as it comes, the sound playing beside it.
  bool pictures_wait_for_sound = true;
};

// Parses the address, negotiates the stream and shows its pictures with their
// sound until Escape or window close, then sends TEARDOWN. A failure before
// streaming shows "ERR" or "401" for 2000 ms, prints the same word with a
// short reason, and is returned as "ERR: reason" for the address entry screen
// to show; empty when the user left. A connection lost while streaming is
// made again, the last picture staying on screen.
std::string run_live_view(const std::string& address, SDL_Window* window, SDL_Renderer* renderer);

// run_live_view with its options given.
std::string run_live_view_with(const std::string& address, SDL_Window* window, SDL_Renderer* renderer,
                               const LiveViewOptions& options);
