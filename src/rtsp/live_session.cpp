#include "rtsp/live_session.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "media/nal_packet.h"
#include "media/sound_decoder.h"
#include "media/unit_decoder.h"
#include "rtsp/depacketizer.h"
#include "rtsp/exchange.h"
#include "rtsp/stream_receiver.h"

const char* live_state_text(LiveState state) {
  switch (state) {
    case LiveState::connecting: return "CONNECTING";
    case LiveState::live: return "LIVE";
    case LiveState::reconnecting: return "RECONNECTING";
  }
  return "";
}

uint32_t next_retry_wait_ms(uint32_t current_ms, const LiveSessionSettings& settings) {
  uint32_t doubled = current_ms > settings.longest_retry_ms / 2 ? settings.longest_retry_ms : current_ms * 2;
  return doubled < settings.longest_retry_ms ? doubled : settings.longest_retry_ms;
}

bool live_connection_lost(const NetSocket& socket, uint32_t now_ms, uint32_t last_data_ms,
                          const LiveSessionSettings& settings) {
  return socket.peer_closed || !net_is_open(socket) || now_ms - last_data_ms >= settings.silence_limit_ms;
}

void request_live_recording(LiveLink& link, bool on, const LiveRecorderSettings& settings) {
  std::lock_guard<std::mutex> hold(link.lock);
  link.record_change = true;
  link.record_wanted = on;
  link.record_settings = settings;
}

namespace {

// Picture times go through the decoder as packet times in microseconds.
constexpr double kTimeUnitsPerSecond = 1e6;

// The worker's clock: the steady clock in unsigned milliseconds (differences
// are wrap-safe).
uint32_t worker_now_ms() { return static_cast<uint32_t>(net_now_ms()); }

// Wakes the screen once per batch of news, while it still listens: once it
// has left, whatever the wake call touches may be gone.
void wake_screen(LiveLink& link) {
  std::lock_guard<std::mutex> hold(link.wake_lock);
  if (!link.main_listening || link.wake_pending.exchange(true)) return;
  if (link.wake) link.wake();
}

void set_state(LiveLink& link, LiveState state) {
  {
    std::lock_guard<std::mutex> hold(link.lock);
    if (link.state == state) return;
    link.state = state;
  }
  wake_screen(link);
}

struct Worker {
  Worker(const std::string& address_, const LiveSessionSettings& settings_, LiveLink& link_)
      : address(address_), settings(settings_), link(link_) {}
  const std::string& address;
  const LiveSessionSettings& settings;
  LiveLink& link;
  RtspSession session;
  StreamReceiver receiver;
  CodecContextPtr decoder;
  FramePtr frame;
  VideoCodec codec = VideoCodec::unsupported;
  bool quick = false;  // what the decoder was last told about the deblocking filter
  SoundDecoder sound;
  bool sound_plays = false;
  std::vector<int16_t> samples;
  LiveRecorder recorder;
  LiveRecordingStatus reported;  // what the screen was last told about recording
  SwsContextPtr shrinker;        // makes pictures smaller for a screen that shows them small
  int shrink_from[3] = {0, 0, -1};  // width, height, format the shrinker takes
  int shrink_to[2] = {0, 0};
  NalSinks picture_sinks;
  SoundUnitSink sound_sink;
};

// The size a picture of `w` x `h` is made to fit in `most_w` x `most_h`,
// its shape kept, in even numbers; {w, h} when it fits already.
void fitted_size(int w, int h, int most_w, int most_h, int& out_w, int& out_h) {
  out_w = w;
  out_h = h;
  if (most_w <= 0 || most_h <= 0 || (w <= most_w && h <= most_h)) return;
  const double scale = std::min(static_cast<double>(most_w) / w, static_cast<double>(most_h) / h);
  out_w = std::max(2, static_cast<int>(w * scale) & ~1);
  out_h = std::max(2, static_cast<int>(h * scale) & ~1);
}

// Makes the decoded picture smaller when the screen shows it small; false
// (the picture left as it is) when no scaler can be made.
bool shrink_picture(Worker& w, AVFrame& picture) {
  const int most_w = w.link.largest_width, most_h = w.link.largest_height;
  if (most_w <= 0 || most_h <= 0) return false;
  // Fitted by its shape on screen: samples that are not square count at their width.
  const AVRational sar = w.frame->sample_aspect_ratio;
  const bool square = sar.num <= 0 || sar.den <= 0;
  const int shown_w = square ? w.frame->width : static_cast<int>(static_cast<int64_t>(w.frame->width) * sar.num / sar.den);
  int to_w = 0, to_h = 0;
  fitted_size(shown_w, w.frame->height, most_w, most_h, to_w, to_h);
  if (to_h == w.frame->height) return false;
  if (!w.shrinker || w.shrink_from[0] != w.frame->width || w.shrink_from[1] != w.frame->height ||
      w.shrink_from[2] != w.frame->format || w.shrink_to[0] != to_w || w.shrink_to[1] != to_h) {
    w.shrinker.reset(sws_getContext(w.frame->width, w.frame->height, static_cast<AVPixelFormat>(w.frame->format),
                                    to_w, to_h, AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
    w.shrink_from[0] = w.frame->width;
    w.shrink_from[1] = w.frame->height;
    w.shrink_from[2] = w.frame->format;
    w.shrink_to[0] = to_w;
    w.shrink_to[1] = to_h;
  }
  if (!w.shrinker) return false;
  picture.width = to_w;
  picture.height = to_h;
  picture.format = AV_PIX_FMT_YUV420P;
  if (av_frame_get_buffer(&picture, 0) < 0) return false;
  sws_scale(w.shrinker.get(), w.frame->data, w.frame->linesize, 0, w.frame->height, picture.data, picture.linesize);
  // The shape is in the size now: square samples.
  picture.sample_aspect_ratio = AVRational{0, 1};
  return true;
}

void hand_over_picture(Worker& w) {
  ++w.link.pictures_decoded;
  LivePicture picture;
  picture.frame.reset(av_frame_alloc());
  if (!picture.frame) return;
  const int64_t pts = w.frame->best_effort_timestamp != AV_NOPTS_VALUE ? w.frame->best_effort_timestamp : w.frame->pts;
  picture.media_s = pts != AV_NOPTS_VALUE ? static_cast<double>(pts) / kTimeUnitsPerSecond : receiver_seconds(w.receiver);
  picture.by_reports = w.receiver.clock.by_reports;
  if (shrink_picture(w, *picture.frame))
    av_frame_unref(w.frame.get());
  else
    av_frame_move_ref(picture.frame.get(), w.frame.get());
  {
    std::lock_guard<std::mutex> hold(w.link.lock);
    w.link.pictures.push_back(std::move(picture));
    const size_t most = std::max<size_t>(1, w.link.most_pictures.load());
    while (w.link.pictures.size() > most) w.link.pictures.pop_front();
  }
  wake_screen(w.link);
}

void take_pictures(Worker& w) {
  if (!w.decoder || !w.frame) return;
  while (avcodec_receive_frame(w.decoder.get(), w.frame.get()) == 0) hand_over_picture(w);
}

void send_to_decoder(Worker& w, const uint8_t* unit, size_t size, double media_s) {
  if (!w.decoder || !w.frame || size == 0) return;
  PacketPtr packet = make_nal_packet(unit, size);
  if (!packet) return;
  packet->pts = std::llround(media_s * kTimeUnitsPerSecond);
  send_packet_taking_waiting_pictures(w.decoder.get(), w.frame.get(), packet.get(), [&w] { hand_over_picture(w); });
}

// A unit of the pictures: recorded when recording (H.264 only), then decoded.
void take_picture_unit(Worker& w, const uint8_t* unit, size_t size, bool fetch) {
  const double media_s = picture_unit_time(w.receiver);
  if (w.codec == VideoCodec::h264) recorder_take_unit(w.recorder, unit, size, w.receiver.video.unit_timestamp, media_s);
  send_to_decoder(w, unit, size, media_s);
  if (fetch) take_pictures(w);
}

void queue_sound(Worker& w, double media_s, int frames) {
  w.link.sound_samples_decoded += frames;
  if (!w.link.sound_wanted) return;
  LiveSoundChunk chunk;
  chunk.samples = w.samples;
  chunk.rate = w.sound.rate;
  chunk.channels = w.sound.channels;
  chunk.media_s = media_s;
  {
    std::lock_guard<std::mutex> hold(w.link.lock);
    w.link.info.sound_rate = w.sound.rate;
    w.link.info.sound_channels = w.sound.channels;
    w.link.sound.push_back(std::move(chunk));
    double queued = 0;
    for (const LiveSoundChunk& c : w.link.sound)
      queued += static_cast<double>(c.samples.size()) / (c.channels * c.rate);
    while (queued > kMaxQueuedSoundSeconds && w.link.sound.size() > 1) {
      const LiveSoundChunk& oldest = w.link.sound.front();
      queued -= static_cast<double>(oldest.samples.size()) / (oldest.channels * oldest.rate);
      w.link.sound.pop_front();
    }
  }
  wake_screen(w.link);
}

void take_sound_unit(Worker& w, const uint8_t* unit, size_t size, uint32_t rtp_time) {
  if (!w.sound_plays) return;
  const double media_s = sound_unit_time(w.receiver, rtp_time);
  w.samples.clear();
  const int frames = decode_sound_unit(w.sound, unit, size, w.samples);
  if (frames <= 0 || w.sound.rate <= 0 || w.sound.channels <= 0) return;
  // A-law at 8000 Hz mono is what recordings hold: its bytes go in as they came.
  const bool as_received = w.sound.codec == SoundCodec::pcma && w.sound.rate == 8000 && w.sound.channels == 1;
  recorder_take_sound(w.recorder, as_received ? unit : nullptr, as_received ? size : 0, w.samples.data(), frames,
                      w.sound.rate, w.sound.channels, media_s);
  queue_sound(w, media_s, frames);
}

void make_sinks(Worker& w) {
  w.picture_sinks.feed_nal = [&w](const uint8_t* unit, size_t size) { take_picture_unit(w, unit, size, false); };
  w.picture_sinks.decode_and_show = [&w](const uint8_t* unit, size_t size) { take_picture_unit(w, unit, size, true); };
  w.sound_sink = [&w](const uint8_t* unit, size_t size, uint32_t rtp_time) { take_sound_unit(w, unit, size, rtp_time); };
}

// A session with the waits of `settings`, not yet connected.
RtspSession new_session(const LiveSessionSettings& settings, LiveLink& link) {
  RtspSession session;
  session.exchange_timeout_ms = settings.exchange_timeout_ms;
  session.stream_timeout_ms = settings.stream_timeout_ms;
  session.connect_timeout_ms = settings.exchange_timeout_ms;
  session.cancel = &link.cancel;
  session.prefer_udp = settings.prefer_udp;
  session.want_sound = settings.want_sound;
  return session;
}

// Waits `ms` in short slices; false when cancelled meanwhile.
bool wait_unless_cancelled(LiveLink& link, uint32_t ms) {
  const uint64_t end = net_now_ms() + ms;
  while (net_now_ms() < end) {
    if (link.cancel) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !link.cancel;
}

// Keeps why the last attempt failed, for a screen that shows it while trying again.
void note_attempt_failure(LiveLink& link, const RtspOutcome& outcome) {
  {
    std::lock_guard<std::mutex> hold(link.lock);
    link.failure_word = outcome.message;
    link.failure_reason = outcome.reason;
  }
  wake_screen(link);
}

// Negotiates again until it works (true) or the user leaves (false).
bool reconnect(Worker& w) {
  teardown_rtsp(w.session);  // a camera that merely went silent may still hear it
  set_state(w.link, LiveState::reconnecting);
  uint32_t wait_ms = w.settings.first_retry_ms;
  while (true) {
    if (!wait_unless_cancelled(w.link, wait_ms)) return false;
    RtspSession fresh = new_session(w.settings, w.link);
    fresh.prefer_udp = w.session.over_udp || w.settings.prefer_udp;
    const RtspOutcome outcome = open_rtsp_session(w.address, fresh);
    if (outcome.ok) {
      w.session = std::move(fresh);
      return true;
    }
    if (w.link.cancel) return false;
    note_attempt_failure(w.link, outcome);
    wait_ms = next_retry_wait_ms(wait_ms, w.settings);
  }
}

void open_sound(Worker& w) {
  w.sound_plays = false;
  std::string note = w.session.sound_note;
  if (w.session.sound_set_up) {
    std::string error;
    w.sound_plays = open_sound_decoder(w.sound, w.session.sound.codec, w.session.sound.clock_rate,
                                       w.session.sound.channels, w.session.sound.aac_config, error);
    if (!w.sound_plays) note = error;
  }
  std::lock_guard<std::mutex> hold(w.link.lock);
  w.link.info.codec_name = w.session.codec_name;
  w.link.info.sound_codec = w.sound_plays ? sound_codec_name(w.session.sound.codec) : "";
  w.link.info.sound_rate = w.sound_plays ? w.session.sound.clock_rate : 0;
  w.link.info.sound_channels = w.sound_plays ? w.session.sound.channels : 0;
  w.link.info.sound_note = note;
  w.link.info.over_udp = w.session.over_udp;
  ++w.link.connection;
}

// Sets up decoding for the stream just negotiated: the picture decoder (kept
// across reconnects of the same codec, its references dropped), the sound
// decoder, the receiver, and the SDP's parameter sets.
void begin_stream(Worker& w) {
  if (w.codec != w.session.codec || !w.decoder) {
    w.decoder = open_unit_decoder_for(w.session.codec, w.settings.decoder_threads);
    w.frame.reset(av_frame_alloc());
    w.codec = w.session.codec;
    w.quick = false;
  } else {
    avcodec_flush_buffers(w.decoder.get());
  }
  open_sound(w);
  start_receiving(w.receiver, w.session, worker_now_ms());
  recorder_new_stream(w.recorder);
  // Cameras that carry parameter sets only in the SDP still decode (and record).
  NalSinks sdp_sinks;
  sdp_sinks.feed_nal = [&w](const uint8_t* unit, size_t size) {
    recorder_take_parameter_set(w.recorder, unit, size);
    send_to_decoder(w, unit, size, 0);
  };
  feed_sdp_parameter_sets(w.session.sdp, sdp_sinks);
  set_state(w.link, LiveState::live);
}

// Starts or stops recording as the screen asked, and tells it how recording stands.
void follow_recording_requests(Worker& w) {
  bool change = false, wanted = false;
  LiveRecorderSettings settings;
  {
    std::lock_guard<std::mutex> hold(w.link.lock);
    std::swap(change, w.link.record_change);
    wanted = w.link.record_wanted;
    settings = w.link.record_settings;
  }
  if (change && wanted && w.codec != VideoCodec::h264) {
    w.recorder.active = false;
    w.recorder.error = "only H.264 streams can be recorded (recordings hold H.264)";
  } else if (change && wanted) {
    start_live_recording(w.recorder, settings);
  } else if (change) {
    stop_live_recording(w.recorder);
  }
  LiveRecordingStatus now;
  now.active = w.recorder.active;
  now.path = recording_file_open(w.recorder.file) ? w.recorder.file.path : "";
  now.finished = w.recorder.finished;
  now.error = w.recorder.error;
  if (now.active == w.reported.active && now.path == w.reported.path && now.error == w.reported.error &&
      now.finished.size() == w.reported.finished.size())
    return;
  w.reported = now;
  {
    std::lock_guard<std::mutex> hold(w.link.lock);
    w.link.recording = now;
  }
  wake_screen(w.link);
}

// Tells the decoder whether to skip the deblocking filter (pictures shown small).
void follow_decoding_speed(Worker& w) {
  const bool quick = w.link.quick_decoding;
  if (quick == w.quick || !w.decoder) return;
  w.quick = quick;
  w.decoder->skip_loop_filter = quick ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
}

// Receives, depacketises and decodes until cancelled, making the connection
// again whenever it is lost.
void stream_session(Worker& w) {
  make_sinks(w);
  begin_stream(w);
  uint32_t last_data_ms = worker_now_ms();
  while (!w.link.cancel) {
    follow_recording_requests(w);
    follow_decoding_speed(w);
    if (live_connection_lost(w.session.socket, worker_now_ms(), last_data_ms, w.settings)) {
      if (!reconnect(w)) break;
      begin_stream(w);
      last_data_ms = worker_now_ms();
      continue;
    }
    keep_session_alive(w.session, worker_now_ms());
    if (receive_stream_turn(w.session, w.receiver, w.picture_sinks, w.sound_sink)) last_data_ms = worker_now_ms();
  }
  stop_live_recording(w.recorder);
  follow_recording_requests(w);
  teardown_rtsp(w.session);
}

}  // namespace

void run_live_session(const std::string& address, const LiveSessionSettings& settings, LiveLink& link) {
  Worker w{address, settings, link};
  w.session = new_session(settings, link);
  RtspOutcome outcome = open_rtsp_session(address, w.session);
  if (!outcome.ok && settings.keep_trying && !link.cancel) {
    note_attempt_failure(link, outcome);
    outcome.ok = reconnect(w);
  }
  if (!outcome.ok) {
    if (!link.cancel) {
      std::lock_guard<std::mutex> hold(link.lock);
      link.failed = true;
      link.failure_word = outcome.message;
      link.failure_reason = outcome.reason;
    }
  } else {
    stream_session(w);
  }
  link.finished = true;
  wake_screen(link);
}
