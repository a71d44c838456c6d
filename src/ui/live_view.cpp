#include "ui/live_view.h"

#include <cstdio>
#include <system_error>
#include <thread>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "draw/help_overlay.h"
#include "draw/letterbox.h"
#include "draw/text.h"
#include "draw/toast.h"
#include "draw/widgets.h"
#include "media/nal_packet.h"
#include "player/screenshot.h"
#include "rtsp/depacketizer.h"
#include "rtsp/interleaved.h"
#include "rtsp/exchange.h"
#include "ui/live_title.h"
#include "media/unit_decoder.h"

const char* live_state_text(LiveState state) {
  switch (state) {
    case LiveState::connecting: return "CONNECTING";
    case LiveState::live: return "LIVE";
    case LiveState::reconnecting: return "RECONNECTING";
  }
  return "";
}

void open_live_decoder(LivePlayer& player, VideoCodec codec) {
  // Units arrive one per packet, and a picture may span several of them.
  player.decoder = open_unit_decoder_for(codec, 2);
  if (player.decoder) player.frame.reset(av_frame_alloc());
}

// Shows the decoded picture in the frame, if the texture can take it.
static void show_picture(LivePlayer& player) {
  if (upload_live_picture(player, *player.frame)) {
    draw_live_frame(player);
    SDL_RenderPresent(player.renderer);
    ++player.pictures_shown;
  }
  av_frame_unref(player.frame.get());
}

// Wraps the unit in a packet of its own and sends it. A decoder that holds a
// finished picture refuses new input until the picture is taken (units fed
// back to back without a fetch, as from an aggregation packet that carries a
// whole picture, get it there); the picture is then shown and the unit sent
// again, so no unit is lost.
static void send_unit(LivePlayer& player, const uint8_t* unit, size_t size) {
  if (!player.decoder || !player.frame) return;
  PacketPtr packet = make_nal_packet(unit, size);
  if (!packet) return;
  send_packet_taking_waiting_pictures(player.decoder.get(), player.frame.get(), packet.get(),
                                      [&player] { show_picture(player); });
}

void feed_nal(LivePlayer& player, const uint8_t* unit, size_t size) {
  send_unit(player, unit, size);
}

void decode_and_show(LivePlayer& player, const uint8_t* unit, size_t size) {
  if (size == 0 || !player.decoder || !player.frame) return;
  send_unit(player, unit, size);
  // One packet yields at most one picture; held pictures come out later.
  if (avcodec_receive_frame(player.decoder.get(), player.frame.get()) == 0) show_picture(player);
}

// Drops the scaler and the buffer it writes into.
static void release_scaler(LivePlayer& player) {
  player.live_scaler.reset();
  player.scaler_format = -1;
  player.scaled.reset();
  for (int i = 0; i < 4; ++i) {
    player.scaled_planes[i] = nullptr;
    player.scaled_pitches[i] = 0;
  }
}

// (Re)makes the texture at the picture's size; the converter goes with it.
static bool ensure_texture(LivePlayer& player, int width, int height) {
  if (player.live_texture && width == player.picture_width && height == player.picture_height)
    return true;
  release_scaler(player);
  player.live_texture.reset(SDL_CreateTexture(player.renderer, SDL_PIXELFORMAT_IYUV,
                                              SDL_TEXTUREACCESS_STREAMING, width, height));
  if (!player.live_texture) return false;
  // Opaque: the picture replaces every pixel it covers.
  SDL_SetTextureBlendMode(player.live_texture.get(), SDL_BLENDMODE_NONE);
  player.picture_width = width;
  player.picture_height = height;
  return true;
}

// Scaler from `format` at the texture's size and the YUV420P buffer it writes
// into. Full-range cameras send every picture in a format that needs it, so
// the buffer is kept rather than made for each picture.
static bool ensure_scaler(LivePlayer& player, int format) {
  if (player.live_scaler && player.scaler_format == format) return true;
  release_scaler(player);
  const int w = player.picture_width, h = player.picture_height;
  player.live_scaler.reset(sws_getContext(w, h, static_cast<AVPixelFormat>(format), w, h,
                                          AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                          nullptr));
  if (!player.live_scaler) return false;
  if (av_image_alloc(player.scaled_planes, player.scaled_pitches, w, h, AV_PIX_FMT_YUV420P, 32) <
      0) {
    release_scaler(player);
    return false;
  }
  player.scaled.reset(player.scaled_planes[0]);
  player.scaler_format = format;
  return true;
}

// Converts a picture that is not planar YUV 4:2:0 and uploads the result.
// Without a converter the texture keeps its previous content.
static void convert_and_upload(LivePlayer& player, const AVFrame& picture) {
  if (!ensure_scaler(player, picture.format)) return;
  sws_scale(player.live_scaler.get(), picture.data, picture.linesize, 0, player.picture_height,
            player.scaled_planes, player.scaled_pitches);
  SDL_UpdateYUVTexture(player.live_texture.get(), nullptr, player.scaled_planes[0],
                       player.scaled_pitches[0], player.scaled_planes[1], player.scaled_pitches[1],
                       player.scaled_planes[2], player.scaled_pitches[2]);
}

bool upload_live_picture(LivePlayer& player, const AVFrame& picture) {
  if (picture.width <= 0 || picture.height <= 0) return false;
  if (!ensure_texture(player, picture.width, picture.height)) return false;
  player.sar_num = picture.sample_aspect_ratio.num;
  player.sar_den = picture.sample_aspect_ratio.den;
  if (picture.format == AV_PIX_FMT_YUV420P) {
    SDL_UpdateYUVTexture(player.live_texture.get(), nullptr, picture.data[0], picture.linesize[0],
                         picture.data[1], picture.linesize[1], picture.data[2],
                         picture.linesize[2]);
  } else {
    convert_and_upload(player, picture);
  }
  return true;
}

SDL_Rect live_camera_button_rect(int window_width) { return {window_width - 36, 10, 26, 26}; }

// Before the first picture: a black window with the state word in the middle.
static void draw_waiting_screen(LivePlayer& player, int w, int h) {
  SDL_Renderer* r = player.renderer;
  SDL_SetRenderDrawColor(r, 0, 0, 0, 255);
  SDL_RenderClear(r);
  const char* word = live_state_text(player.state);
  SDL_SetRenderDrawColor(r, 200, 200, 200, 255);
  draw_text(r, (w - text_width(word, 3)) / 2, h / 2 - 7, word, 3);
}

void draw_live_frame(LivePlayer& player) {
  SDL_Renderer* r = player.renderer;
  int w = 0, h = 0;
  SDL_GetWindowSize(player.window, &w, &h);
  if (player.live_texture) {
    int tw = 0, th = 0;
    SDL_QueryTexture(player.live_texture.get(), nullptr, nullptr, &tw, &th);
    draw_letterboxed(r, player.live_texture.get(), tw, th, player.sar_num, player.sar_den);
  } else {
    draw_waiting_screen(player, w, h);
  }
  player.camera_button = live_camera_button_rect(w);
  SDL_SetRenderDrawBlendMode(r, SDL_BLENDMODE_BLEND);
  draw_control_button(r, player.camera_button, 180);
  draw_camera_icon(r, player.camera_button);
  if (player.help_visible) draw_help_overlay(r, player.window, live_help_lines());
  draw_toast(r, player.window, 3);
}

bool capture_live_screenshot(LivePlayer& player) {
  return capture_screenshot(player.renderer, player.window, player.live_texture.get());
}

bool handle_live_event(LivePlayer& player, const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT:
      return false;
    case SDL_KEYDOWN:
      if (player.help_visible || event.key.keysym.sym == SDLK_F1 ||
          event.key.keysym.sym == SDLK_h) {
        player.help_visible = !player.help_visible;
        draw_live_frame(player);
        SDL_RenderPresent(player.renderer);
        return true;
      }
      if (event.key.keysym.sym == SDLK_ESCAPE) return false;
      if (event.key.keysym.sym == SDLK_s) capture_live_screenshot(player);
      return true;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button == SDL_BUTTON_LEFT &&
          rect_contains(player.camera_button, event.button.x, event.button.y))
        capture_live_screenshot(player);
      return true;
    default:
      free_drop_text(event);
      return true;
  }
}

// The start menu that follows does not draw transient messages, so a failure
// is also printed, with its reason.
static void report_failure(const RtspOutcome& outcome) {
  show_toast(outcome.message.c_str(), 2000);
  std::printf("%s: %s\n", outcome.message.c_str(), outcome.reason.c_str());
}

// Handles every pending event; false when the user ended the session.
static bool handle_pending_events(LivePlayer& player) {
  SDL_Event event;
  while (SDL_PollEvent(&event))
    if (!handle_live_event(player, event)) return false;
  return true;
}

uint32_t next_retry_wait_ms(uint32_t current_ms, const LiveViewSettings& settings) {
  uint32_t doubled = current_ms > settings.longest_retry_ms / 2 ? settings.longest_retry_ms : current_ms * 2;
  return doubled < settings.longest_retry_ms ? doubled : settings.longest_retry_ms;
}

bool live_connection_lost(const NetSocket& socket, uint32_t now_ms, uint32_t last_data_ms,
                          const LiveViewSettings& settings) {
  return socket.peer_closed || !net_is_open(socket) || now_ms - last_data_ms >= settings.silence_limit_ms;
}

bool wait_while_showing(LivePlayer& player, uint32_t ms) {
  constexpr uint32_t kSliceMs = 50;
  const uint32_t start = SDL_GetTicks();
  for (uint32_t waited = 0; waited < ms; waited = SDL_GetTicks() - start) {
    draw_live_frame(player);
    SDL_RenderPresent(player.renderer);
    uint32_t slice = ms - waited < kSliceMs ? ms - waited : kSliceMs;
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, static_cast<int>(slice)) && !handle_live_event(player, event))
      return false;
    if (!handle_pending_events(player)) return false;
  }
  return true;
}

// ---- The network worker ----

namespace {

// The worker's clock: the steady clock in unsigned milliseconds (differences
// are wrap-safe). The worker calls no SDL function but SDL_PushEvent, and that
// only while the main thread listens: a worker left behind in a name lookup
// may end after SDL was shut down.
uint32_t worker_now_ms() { return static_cast<uint32_t>(net_now_ms()); }

// Wakes the main thread (waiting for events) once per batch of news, while
// it still listens: once it has left, SDL may already be shut down.
void wake_main_thread(LiveLink& link) {
  std::lock_guard<std::mutex> hold(link.wake_lock);
  if (!link.main_listening || link.wake_pending.exchange(true)) return;
  SDL_Event event{};
  event.type = SDL_USEREVENT;
  SDL_PushEvent(&event);
}

void set_state(LiveLink& link, LiveState state) {
  {
    std::lock_guard<std::mutex> hold(link.lock);
    if (link.state == state) return;
    link.state = state;
  }
  wake_main_thread(link);
}

// Puts a decoded picture into the slot, replacing one the main thread has not taken yet.
void hand_over_picture(LiveLink& link, AVFrame* picture) {
  ++link.pictures_decoded;
  {
    std::lock_guard<std::mutex> hold(link.lock);
    if (!link.picture) link.picture.reset(av_frame_alloc());
    if (!link.picture) return;
    av_frame_unref(link.picture.get());
    av_frame_move_ref(link.picture.get(), picture);
  }
  wake_main_thread(link);
}

// The worker's decoder for the session's codec.
struct WorkerDecoder {
  CodecContextPtr context;
  FramePtr frame;
  VideoCodec codec = VideoCodec::unsupported;
};

void send_to_decoder(WorkerDecoder& decoder, LiveLink& link, const uint8_t* unit, size_t size) {
  if (!decoder.context || !decoder.frame || size == 0) return;
  PacketPtr packet = make_nal_packet(unit, size);
  if (!packet) return;
  send_packet_taking_waiting_pictures(decoder.context.get(), decoder.frame.get(), packet.get(),
                                      [&] { hand_over_picture(link, decoder.frame.get()); });
}

NalSinks worker_sinks(WorkerDecoder& decoder, LiveLink& link) {
  NalSinks sinks;
  sinks.feed_nal = [&decoder, &link](const uint8_t* unit, size_t size) {
    send_to_decoder(decoder, link, unit, size);
  };
  sinks.decode_and_show = [&decoder, &link](const uint8_t* unit, size_t size) {
    send_to_decoder(decoder, link, unit, size);
    if (!decoder.context || !decoder.frame) return;
    while (avcodec_receive_frame(decoder.context.get(), decoder.frame.get()) == 0)
      hand_over_picture(link, decoder.frame.get());
  };
  return sinks;
}

// A session with the waits of `settings`, not yet connected.
RtspSession new_session(const LiveViewSettings& settings, LiveLink& link) {
  RtspSession session;
  session.exchange_timeout_ms = settings.exchange_timeout_ms;
  session.stream_timeout_ms = settings.stream_timeout_ms;
  session.connect_timeout_ms = settings.exchange_timeout_ms;
  session.cancel = &link.cancel;
  session.prefer_udp = settings.prefer_udp;
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

// Negotiates again until it works (true) or the user leaves (false).
bool reconnect(const std::string& address, RtspSession& session, const LiveViewSettings& settings,
               LiveLink& link) {
  teardown_rtsp(session);  // a camera that merely went silent may still hear it
  set_state(link, LiveState::reconnecting);
  uint32_t wait_ms = settings.first_retry_ms;
  while (true) {
    if (!wait_unless_cancelled(link, wait_ms)) return false;
    RtspSession fresh = new_session(settings, link);
    fresh.prefer_udp = session.over_udp;
    if (open_rtsp_session(address, fresh).ok) {
      session = std::move(fresh);
      return true;
    }
    if (link.cancel) return false;
    wait_ms = next_retry_wait_ms(wait_ms, settings);
  }
}

// One turn of receiving over the session's transport; true when the camera
// sent something (over UDP, only its own stream's packets count).
bool receive_turn(RtspSession& session, DepacketizerState& state, const NalSinks& sinks,
                  InterleavedFrame& frame) {
  if (session.over_udp) {
    drain_control_answers(session);
    return receive_udp_turn(session.udp, state, sinks);
  }
  bool got = read_interleaved_frame(session.socket, frame);
  if (got) handle_interleaved_frame(frame, state, sinks);
  return got || !frame.skipped_message.empty();
}

// Receives, depacketises and decodes until cancelled, making the connection
// again whenever it is lost.
void stream_session(const std::string& address, RtspSession& session,
                    const LiveViewSettings& settings, LiveLink& link) {
  WorkerDecoder decoder;
  const NalSinks sinks = worker_sinks(decoder, link);
  DepacketizerState state;
  InterleavedFrame frame;
  uint32_t last_data_ms = 0;
  bool starting = true;
  while (!link.cancel) {
    if (starting) {
      if (decoder.codec != session.codec || !decoder.context) {
        decoder.context = open_unit_decoder_for(session.codec, 2);
        decoder.frame.reset(av_frame_alloc());
        decoder.codec = session.codec;
      } else {
        // The decoder's references belong to the old stream.
        avcodec_flush_buffers(decoder.context.get());
      }
      state = DepacketizerState{};
      state.codec = session.codec;
      // Cameras that carry parameter sets only in the SDP still decode.
      feed_sdp_parameter_sets(session.sdp, sinks);
      begin_streaming(session, worker_now_ms());
      if (session.over_udp) {
        net_set_receive_timeout(session.udp.rtp, settings.stream_timeout_ms);
        send_receiver_report(session.udp);
      }
      last_data_ms = worker_now_ms();
      set_state(link, LiveState::live);
      starting = false;
    }
    if (live_connection_lost(session.socket, worker_now_ms(), last_data_ms, settings)) {
      if (!reconnect(address, session, settings, link)) break;
      starting = true;
      continue;
    }
    keep_session_alive(session, worker_now_ms());
    if (receive_turn(session, state, sinks, frame)) last_data_ms = worker_now_ms();
  }
  teardown_rtsp(session);
}

}  // namespace

void run_live_session(const std::string& address, const LiveViewSettings& settings, LiveLink& link) {
  RtspSession session = new_session(settings, link);
  RtspOutcome outcome = open_rtsp_session(address, session);
  if (!outcome.ok) {
    if (!link.cancel) {
      std::lock_guard<std::mutex> hold(link.lock);
      link.failed = true;
      link.failure_word = outcome.message;
      link.failure_reason = outcome.reason;
    }
  } else {
    stream_session(address, session, settings, link);
  }
  link.finished = true;
  wake_main_thread(link);
}

// ---- The main thread ----

namespace {

// Takes what the worker reported: the state (setting the message shown over
// a picture while reconnecting) and a new picture, which is shown at once.
void take_worker_news(LivePlayer& player, LiveLink& link) {
  link.wake_pending = false;
  bool new_picture = false;
  LiveState state;
  {
    std::lock_guard<std::mutex> hold(link.lock);
    state = link.state;
    if (link.picture && link.picture->buf[0]) {
      av_frame_unref(player.frame.get());
      av_frame_move_ref(player.frame.get(), link.picture.get());
      new_picture = true;
    }
  }
  const bool state_changed = state != player.state;
  player.state = state;
  if (state_changed) SDL_SetWindowTitle(player.window, live_view_title(player.address, state).c_str());
  if (state_changed && state == LiveState::reconnecting && player.live_texture)
    show_toast(kReconnectingMessage, 24u * 3600u * 1000u);  // until the stream is back
  // Back again: the message lingers a moment, then goes.
  if (state_changed && state == LiveState::live && std::string(toast_text()) == kReconnectingMessage)
    show_toast(kReconnectingMessage, 1500);
  if (new_picture) {
    if (upload_live_picture(player, *player.frame)) ++player.pictures_shown;
    av_frame_unref(player.frame.get());
  }
  if (new_picture || state_changed) {
    draw_live_frame(player);
    SDL_RenderPresent(player.renderer);
  }
}

// Asks the worker to stop and waits for it briefly; a worker stuck where no
// wait can be cut short (a name lookup) is left to end on its own with the
// shared state it holds, told first that nobody listens any more (it then
// touches neither SDL nor anything of this screen).
void stop_worker(std::thread& worker, const std::shared_ptr<LiveLink>& link) {
  link->cancel = true;
  for (int waited = 0; waited < 500 && !link->finished; waited += 5) SDL_Delay(5);
  {
    std::lock_guard<std::mutex> hold(link->wake_lock);
    link->main_listening = false;
  }
  if (link->finished) {
    worker.join();
    return;
  }
  worker.detach();
  std::printf("Live view: the network worker is still waiting for the name lookup of the camera's"
              " host; it is left to end on its own\n");
}

// Starts the network worker; false with the reason when the system cannot
// start a thread (std::thread reports that by throwing).
bool start_worker(std::thread& worker, const std::string& address, const LiveViewSettings& settings,
                  const std::shared_ptr<LiveLink>& link, std::string& reason) {
  try {
    worker = std::thread([address, settings, link] { run_live_session(address, settings, *link); });
    return true;
  } catch (const std::system_error& error) {
    reason = std::string("cannot start the network thread: ") + error.what();
    return false;
  }
}

}  // namespace

std::string run_live_view(const std::string& address, SDL_Window* window, SDL_Renderer* renderer) {
  return run_live_view_with(address, window, renderer, LiveViewSettings{});
}

std::string run_live_view_with(const std::string& address, SDL_Window* window,
                               SDL_Renderer* renderer, const LiveViewSettings& settings) {
  LivePlayer player;
  player.window = window;
  player.renderer = renderer;
  player.address = address;
  if (window) SDL_SetWindowTitle(window, live_view_title(address, player.state).c_str());
  player.frame.reset(av_frame_alloc());
  auto link = std::make_shared<LiveLink>();
  std::thread worker;
  std::string reason;
  if (!start_worker(worker, address, settings, link, reason)) {
    report_failure(RtspOutcome{false, "ERR", reason});
    return "ERR: " + reason;
  }
  draw_live_frame(player);
  SDL_RenderPresent(renderer);
  // Redrawn now and then without news, so the transient message comes and goes.
  constexpr uint32_t kIdleRedrawMs = 250;
  uint32_t last_draw = SDL_GetTicks();
  std::string failure;
  while (true) {
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, 50)) {
      if (!handle_live_event(player, event) || !handle_pending_events(player)) break;
    }
    if (link->finished) {
      std::lock_guard<std::mutex> hold(link->lock);
      if (link->failed) {
        RtspOutcome outcome{false, link->failure_word, link->failure_reason};
        report_failure(outcome);
        failure = outcome.message + ": " + outcome.reason;
      }
      break;
    }
    const int64_t shown_before = player.pictures_shown;
    take_worker_news(player, *link);
    if (player.pictures_shown != shown_before) last_draw = SDL_GetTicks();
    if (SDL_GetTicks() - last_draw >= kIdleRedrawMs) {
      draw_live_frame(player);
      SDL_RenderPresent(renderer);
      last_draw = SDL_GetTicks();
    }
  }
  stop_worker(worker, link);
  // The player releases the converter's buffer, the converter, the texture, the frame and the
  // decoder, in that order.
  return failure;
}
