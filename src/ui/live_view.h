// The live view: one camera's RTSP stream shown in the shared window.
//
// The network session (connecting, negotiating, receiving, depacketising and
// decoding) runs on a worker thread, so the window never waits for a camera:
// the main thread handles events, shows the state and presents the pictures
// the worker hands over through a one-picture slot (a newer picture replaces
// one not yet shown), and asks the worker to stop when the user leaves.
#pragma once

#include <SDL.h>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "draw/sdl_handles.h"
#include "media/av_handles.h"
#include "rtsp/net_socket.h"
#include "rtsp/sdp.h"

// Where a live session stands, for the screen and the window title.
enum class LiveState { connecting, live, reconnecting };

// The word shown for a state: "CONNECTING", "LIVE" or "RECONNECTING".
const char* live_state_text(LiveState state);

// What the live view holds for one session besides the connection.
struct LivePlayer {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  CodecContextPtr decoder;
  FramePtr frame;
  TexturePtr live_texture;
  SwsContextPtr live_scaler;
  // YUV420P picture the scaler writes into: made with the scaler, freed with it.
  AvImagePtr scaled;
  uint8_t* scaled_planes[4] = {};
  int scaled_pitches[4] = {};
  int picture_width = 0;  // size of the texture (and of the scaler's pictures)
  int picture_height = 0;
  int scaler_format = -1;  // pixel format the scaler converts from
  SDL_Rect camera_button{0, 0, 0, 0};  // all zero until a picture was shown
  int sar_num = 0, sar_den = 1;  // sample aspect ratio of the last picture (0: none given)
  bool help_visible = false;     // the key help is drawn over the picture
  std::string address;           // as typed; the title shows it without the password
  int64_t pictures_shown = 0;
  LiveState state = LiveState::connecting;  // as last reported by the network session
};

// Opens the decoder of `codec` (H.264 by default) with two threads and
// allocates the picture frame. Without a usable decoder no picture is ever
// shown; the session still runs.
void open_live_decoder(LivePlayer& player, VideoCodec codec = VideoCodec::h264);

// Sends one NAL unit to the decoder without asking for a picture (unless the
// decoder refuses the unit until its finished picture is taken).
void feed_nal(LivePlayer& player, const uint8_t* unit, size_t size);

// Sends one NAL unit, asks once for a picture and shows it if one came.
void decode_and_show(LivePlayer& player, const uint8_t* unit, size_t size);

// Uploads a decoded picture to the live texture, making (or re-making, after a
// change of size or pixel format) the texture and the converter it needs.
// False when the texture could not be made; nothing is uploaded then.
bool upload_live_picture(LivePlayer& player, const AVFrame& picture);

// The camera button's place for a window `window_width` pixels wide.
SDL_Rect live_camera_button_rect(int window_width);

// Draws the picture at its shape with black bars (while there is no picture
// yet: a black window with the state word in the middle), the camera button,
// the key help when shown and the transient message, and records the button's rectangle. Does not present.
void draw_live_frame(LivePlayer& player);

// The screenshot action: nothing without a texture; otherwise the bare
// picture is saved and "  OK  " shown. True when a file was written.
bool capture_live_screenshot(LivePlayer& player);

// Handles one window event; false when the session is to end (Escape, close).
// F1 or h shows the key help; while it shows, a key only hides it.
bool handle_live_event(LivePlayer& player, const SDL_Event& event);

// How the live view rides out a lost connection. Tests shorten the waits.
struct LiveViewSettings {
  uint32_t silence_limit_ms = 10000;  // nothing received this long while streaming: lost
  uint32_t first_retry_ms = 1000;     // wait before the first new attempt; doubles after each failure
  uint32_t longest_retry_ms = 30000;  // the doubling stops here
  int exchange_timeout_ms = 5000;     // one receive while negotiating
  int stream_timeout_ms = 500;        // one receive while streaming
  bool prefer_udp = false;            // ask for RTP over UDP first (TCP interleaved when refused)
};

// The text shown while the connection is being made again.
inline constexpr const char* kReconnectingMessage = "RECONNECTING";

// The wait after a failed attempt that waited `current_ms`: twice as long, at most the longest.
uint32_t next_retry_wait_ms(uint32_t current_ms, const LiveViewSettings& settings);

// True when the streaming connection is gone: closed by the camera, or silent
// for the silence limit since `last_data_ms` (unsigned ticks, wrap-safe).
bool live_connection_lost(const NetSocket& socket, uint32_t now_ms, uint32_t last_data_ms,
                          const LiveViewSettings& settings);

// Waits `ms` in short slices, handling events and redrawing the last picture
// with the transient message; false when the user left meanwhile.
bool wait_while_showing(LivePlayer& player, uint32_t ms);

// What the main thread and the network worker share. The worker writes the
// state, the picture and the failure under the lock; the main thread takes
// them. `cancel` asks the worker to stop: every wait it is in ends within a
// few tens of milliseconds.
struct LiveLink {
  std::atomic<bool> cancel{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> wake_pending{false};  // an event to wake the main thread is on its way
  std::atomic<int64_t> pictures_decoded{0};  // every picture the worker handed over, shown or replaced
  // Cleared under `wake_lock` when the main thread stops listening: from then
  // on the worker sends it no event (SDL may be shut down).
  std::mutex wake_lock;
  bool main_listening = true;
  std::mutex lock;
  LiveState state = LiveState::connecting;
  FramePtr picture;          // newest decoded picture not yet shown; null or empty when none
  bool failed = false;       // the first connection failed: the run is over
  std::string failure_word;  // "ERR" or "401"
  std::string failure_reason;
};

// The network session of one live view, run on the worker thread: connects
// and negotiates (failing into `link` when the first attempt fails), then
// receives, decodes and hands pictures over until `link.cancel`, making the
// connection again whenever it is lost; sends TEARDOWN at the end.
void run_live_session(const std::string& address, const LiveViewSettings& settings, LiveLink& link);

// Parses the address, negotiates the stream and shows its pictures until
// Escape or window close, then sends TEARDOWN. A failure before streaming
// shows "ERR" or "401" for 2000 ms, prints the same word with a short reason,
// and is returned as "ERR: reason" for the address entry screen to show;
// empty when the user left. A connection lost while streaming is made again,
// the last picture staying on screen.
std::string run_live_view(const std::string& address, SDL_Window* window, SDL_Renderer* renderer);

// run_live_view with its waits and limits given.
std::string run_live_view_with(const std::string& address, SDL_Window* window,
                               SDL_Renderer* renderer, const LiveViewSettings& settings);
