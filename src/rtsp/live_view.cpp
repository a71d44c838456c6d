#include "rtsp/live_view.h"

#include <cstdio>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "draw/help_overlay.h"
#include "draw/letterbox.h"
#include "draw/toast.h"
#include "draw/widgets.h"
#include "player/nal_packet.h"
#include "player/screenshot.h"
#include "rtsp/depacketizer.h"
#include "rtsp/exchange.h"
#include "rtsp/live_title.h"
#include "rtsp/unit_decoder.h"

void open_live_decoder(LivePlayer& player) {
  // Units arrive one per packet, and a picture may span several of them.
  player.decoder = open_unit_decoder(2);
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

void draw_live_frame(LivePlayer& player) {
  SDL_Renderer* r = player.renderer;
  if (player.live_texture) {
    int tw = 0, th = 0;
    SDL_QueryTexture(player.live_texture.get(), nullptr, nullptr, &tw, &th);
    draw_letterboxed(r, player.live_texture.get(), tw, th, player.sar_num, player.sar_den);
  } else {
    SDL_RenderClear(r);
  }
  int w = 0, h = 0;
  SDL_GetWindowSize(player.window, &w, &h);
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

static NalSinks live_sinks(LivePlayer& player) {
  NalSinks sinks;
  sinks.feed_nal = [&player](const uint8_t* unit, size_t size) { feed_nal(player, unit, size); };
  sinks.decode_and_show = [&player](const uint8_t* unit, size_t size) {
    decode_and_show(player, unit, size);
  };
  return sinks;
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

// A session with the waits of `settings`, not yet connected.
static RtspSession new_session(const LiveViewSettings& settings) {
  RtspSession session;
  session.exchange_timeout_ms = settings.exchange_timeout_ms;
  session.stream_timeout_ms = settings.stream_timeout_ms;
  return session;
}

// Negotiates again until it works (true) or the user leaves (false), waiting
// between attempts with the last picture and the message on screen. Silent
// on standard output: the message says it all.
static bool reconnect(LivePlayer& player, const std::string& address, RtspSession& session,
                      const LiveViewSettings& settings) {
  teardown_rtsp(session);  // a camera that merely went silent may still hear it
  SDL_SetWindowTitle(player.window, live_view_title(address, LiveState::reconnecting).c_str());
  uint32_t wait_ms = settings.first_retry_ms;
  while (true) {
    show_toast(kReconnectingMessage, wait_ms + 1500);
    if (!wait_while_showing(player, wait_ms)) return false;
    RtspSession fresh = new_session(settings);
    // An unreachable camera must not hold the window for minutes.
    fresh.connect_timeout_ms = settings.exchange_timeout_ms;
    if (open_rtsp_session(address, fresh).ok) {
      session = std::move(fresh);
      return true;
    }
    if (!handle_pending_events(player)) return false;
    wait_ms = next_retry_wait_ms(wait_ms, settings);
  }
}

// Reads, depacketises and shows until Escape or window close, making the
// connection again whenever it is lost.
static void stream_live(LivePlayer& player, const std::string& address, RtspSession& session,
                        const LiveViewSettings& settings) {
  const NalSinks sinks = live_sinks(player);
  DepacketizerState state;
  InterleavedFrame frame;
  uint32_t last_data_ms = 0;
  bool starting = true;
  while (true) {
    if (starting) {
      // Cameras that carry SPS and PPS only in the SDP still decode.
      feed_sdp_parameter_sets(session.sdp, sinks);
      SDL_SetWindowTitle(player.window, live_view_title(address, LiveState::live).c_str());
      begin_streaming(session, SDL_GetTicks());
      last_data_ms = SDL_GetTicks();
      starting = false;
    }
    if (!handle_pending_events(player)) return;
    if (live_connection_lost(session.socket, SDL_GetTicks(), last_data_ms, settings)) {
      if (!reconnect(player, address, session, settings)) return;
      // The half-made unit and the decoder's references belong to the old stream.
      state = DepacketizerState{};
      if (player.decoder) avcodec_flush_buffers(player.decoder.get());
      starting = true;
      continue;
    }
    keep_session_alive(session, SDL_GetTicks());
    bool got = read_interleaved_frame(session.socket, frame);
    if (got || !frame.skipped_message.empty()) last_data_ms = SDL_GetTicks();
    if (got) handle_interleaved_frame(frame, state, sinks);
  }
}

void run_live_view(const std::string& address, SDL_Window* window, SDL_Renderer* renderer) {
  run_live_view_with(address, window, renderer, LiveViewSettings{});
}

void run_live_view_with(const std::string& address, SDL_Window* window, SDL_Renderer* renderer,
                        const LiveViewSettings& settings) {
  RtspSession session = new_session(settings);
  if (window) SDL_SetWindowTitle(window, live_view_title(address, LiveState::connecting).c_str());
  RtspOutcome outcome = open_rtsp_session(address, session);
  if (!outcome.ok) {
    report_failure(outcome);
    return;
  }
  LivePlayer player;
  player.window = window;
  player.renderer = renderer;
  open_live_decoder(player);
  stream_live(player, address, session, settings);
  teardown_rtsp(session);
  // The player releases the converter's buffer, the converter, the texture, the frame and the
  // decoder, in that order.
}
