// One camera's live session, run on a worker thread of its own: connecting,
// negotiating, receiving, depacketising and decoding the pictures and the
// sound, recording when asked, and making the connection again whenever it is
// lost. It touches no window: whatever shows it (one camera large, a cell of
// a grid) takes the pictures and the sound through a LiveLink.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "media/av_handles.h"
#include "rtsp/live_recorder.h"
#include "rtsp/net_socket.h"

// Where a live session stands, for the screen and the window title.
enum class LiveState { connecting, live, reconnecting };

// The word shown for a state: "CONNECTING", "LIVE" or "RECONNECTING".
const char* live_state_text(LiveState state);

// How a live session rides out a lost connection, and what it sets up.
// Tests shorten the waits.
struct LiveSessionSettings {
  uint32_t silence_limit_ms = 10000;  // nothing received this long while streaming: lost
  uint32_t first_retry_ms = 1000;     // wait before the first new attempt; doubles after each failure
  uint32_t longest_retry_ms = 30000;  // the doubling stops here
  int exchange_timeout_ms = 5000;     // one receive while negotiating
  int stream_timeout_ms = 500;        // one receive while streaming
  bool prefer_udp = false;            // ask for RTP over UDP first (TCP interleaved when refused)
  bool want_sound = true;             // set the sound track up when there is one that plays
  int decoder_threads = 2;
  // A first connection that fails is tried again like a lost one (a camera in
  // a grid that is off now may be on later); otherwise the run ends with it.
  bool keep_trying = false;
};

// The wait after a failed attempt that waited `current_ms`: twice as long, at most the longest.
uint32_t next_retry_wait_ms(uint32_t current_ms, const LiveSessionSettings& settings);

// True when the streaming connection is gone: closed by the camera, or silent
// for the silence limit since `last_data_ms` (unsigned ticks, wrap-safe).
bool live_connection_lost(const NetSocket& socket, uint32_t now_ms, uint32_t last_data_ms,
                          const LiveSessionSettings& settings);

// Most pictures waiting for the screen; an older one gives way to a newer.
constexpr size_t kMaxQueuedPictures = 8;
// Most sound waiting for the screen, in seconds; older sound gives way.
constexpr double kMaxQueuedSoundSeconds = 2.0;

// A decoded picture and where it lies on the session's media clock.
struct LivePicture {
  FramePtr frame;
  double media_s = 0;
  bool by_reports = false;  // its time (and the sound's) placed by sender reports, not by arrival
};

// Decoded sound: signed 16-bit samples, channels interleaved, and the media
// time of its first sample.
struct LiveSoundChunk {
  std::vector<int16_t> samples;
  int rate = 0;
  int channels = 0;
  double media_s = 0;
};

// What the stream of the current connection carries.
struct LiveStreamInfo {
  std::string codec_name;   // as the SDP names it ("H264")
  std::string sound_codec;  // "PCMA", "PCMU", "AAC", "AAC-LATM"; empty when no sound plays
  int sound_rate = 0;       // of the decoded sound, once some came (else the RTP clock rate)
  int sound_channels = 0;
  std::string sound_note;   // why the stream's sound does not play, when it does not
  bool over_udp = false;
};

// Where recording stands, as the worker last reported it.
struct LiveRecordingStatus {
  bool active = false;
  std::string path;                   // the file being written
  std::vector<std::string> finished;  // files closed so far in this recording
  std::string error;                  // why recording stopped by itself, or could not start
};

// What the screen and the worker share. The worker writes under `lock`; the
// screen takes. `cancel` asks the worker to stop: every wait it is in ends
// within a few tens of milliseconds.
struct LiveLink {
  std::atomic<bool> cancel{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> wake_pending{false};     // a wake call is on its way, not yet taken
  std::atomic<int64_t> pictures_decoded{0};  // every picture handed over, shown or not
  std::atomic<int64_t> sound_samples_decoded{0};  // per channel
  std::atomic<bool> quick_decoding{false};   // skip the deblocking filter (pictures shown small)
  std::atomic<bool> sound_wanted{true};      // hand decoded sound over (it is recorded either way)
  std::atomic<size_t> most_pictures{kMaxQueuedPictures};  // pictures kept waiting at most
  // Pictures larger than this (both 0: no limit) are made smaller before they
  // are handed over, keeping their shape: a picture shown small costs less to
  // hand over, upload and draw, and the making smaller runs on the worker.
  std::atomic<int> largest_width{0};
  std::atomic<int> largest_height{0};
  // Called by the worker when there is news, while `main_listening` (cleared
  // under `wake_lock` when the screen stops listening).
  std::mutex wake_lock;
  bool main_listening = true;
  std::function<void()> wake;
  std::mutex lock;
  LiveState state = LiveState::connecting;
  uint64_t connection = 0;  // one more for each stream begun; times start afresh with it
  std::deque<LivePicture> pictures;
  std::deque<LiveSoundChunk> sound;
  LiveStreamInfo info;
  bool failed = false;       // the first connection failed: the run is over
  std::string failure_word;  // "ERR" or "401": of the run's end, or of the last attempt while trying again
  std::string failure_reason;
  // Recording: the screen asks (request_live_recording), the worker answers
  // in `recording`.
  bool record_change = false;
  bool record_wanted = false;
  LiveRecorderSettings record_settings;
  LiveRecordingStatus recording;
};

// Asks the worker to start recording with `settings`, or to stop.
void request_live_recording(LiveLink& link, bool on, const LiveRecorderSettings& settings = {});

// The network session, run on the worker thread: connects and negotiates
// (failing into `link` when the first attempt fails), then receives, decodes
// and hands pictures and sound over until `link.cancel`, making the
// connection again whenever it is lost; sends TEARDOWN at the end. Calls no
// SDL function.
void run_live_session(const std::string& address, const LiveSessionSettings& settings, LiveLink& link);
