#include "player/video_output.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "draw/help_overlay.h"
#include "draw/letterbox.h"
#include "draw/overlay.h"
#include "draw/program_name.h"
#include "draw/text.h"
#include "draw/toast.h"
#include "media/nal_packet.h"

namespace {

// Takes one picture out of the decoder into video.frame; true when there was one.
bool receive_picture(VideoOutput& video) {
  return avcodec_receive_frame(video.codec.get(), video.frame.get()) == 0;
}

void release_converter(VideoOutput& video) {
  video.converter.reset();
  video.converter_format = -1;
  video.converted.reset();
  for (int i = 0; i < 4; ++i) {
    video.converted_planes[i] = nullptr;
    video.converted_pitches[i] = 0;
  }
}

// Converter and YUV420P buffer for the picture's format at the texture's size.
bool ensure_converter(VideoOutput& video, int format) {
  if (video.converter && video.converter_format == format) return true;
  release_converter(video);
  SwsContext* sws = sws_getContext(video.width, video.height, static_cast<AVPixelFormat>(format),
                                   video.width, video.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                                   nullptr, nullptr, nullptr);
  if (!sws) return false;
  video.converter.reset(sws);
  if (av_image_alloc(video.converted_planes, video.converted_pitches, video.width, video.height,
                     AV_PIX_FMT_YUV420P, 32) < 0) {
    release_converter(video);
    return false;
  }
  video.converted.reset(video.converted_planes[0]);
  video.converter_format = format;
  return true;
}

void release_rgb_converter(VideoOutput& video) {
  video.rgb_converter.reset();
  video.rgb_converter_format = -1;
}

// The FFmpeg layout to write for an SDL pixel format a software renderer blits
// without converting; AV_PIX_FMT_NONE for the ones this path does not handle.
// The unused byte of RGB888 and BGR888 is written as an opaque alpha: same
// bytes, and it lets swscale take its SIMD converter, which has no "0" layouts.
AVPixelFormat packed_format_for(Uint32 sdl_format) {
  const bool little = SDL_BYTEORDER == SDL_LIL_ENDIAN;
  switch (sdl_format) {
    case SDL_PIXELFORMAT_RGB888:
    case SDL_PIXELFORMAT_ARGB8888: return little ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;
    case SDL_PIXELFORMAT_BGR888:
    case SDL_PIXELFORMAT_ABGR8888: return little ? AV_PIX_FMT_RGBA : AV_PIX_FMT_ABGR;
    default: return AV_PIX_FMT_NONE;
  }
}

// A software renderer keeps an IYUV texture as planes, converts them to RGB on
// every upload and converts again when blitting to a window surface of another
// format: three passes over the picture on the thread that also feeds the
// decoder. Converting once, straight into a texture in the window's format,
// leaves a plain copy for the blit. Accelerated renderers keep IYUV, which the
// GPU converts.
Uint32 direct_texture_format(const VideoOutput& video, SDL_Renderer* renderer) {
  if (!video.allow_direct_rgb) return 0;
  SDL_RendererInfo info{};
  if (SDL_GetRendererInfo(renderer, &info) != 0 || !(info.flags & SDL_RENDERER_SOFTWARE)) return 0;
  SDL_Window* window = SDL_RenderGetWindow(renderer);
  const Uint32 format = window ? SDL_GetWindowPixelFormat(window) : Uint32{SDL_PIXELFORMAT_UNKNOWN};
  return packed_format_for(format) == AV_PIX_FMT_NONE ? 0 : format;
}

bool ensure_rgb_converter(VideoOutput& video, int format) {
  if (video.rgb_converter && video.rgb_converter_format == format) return true;
  release_rgb_converter(video);
  video.rgb_converter.reset(sws_getContext(video.width, video.height,
                                           static_cast<AVPixelFormat>(format), video.width,
                                           video.height, static_cast<AVPixelFormat>(video.rgb_format),
                                           SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!video.rgb_converter) return false;
  video.rgb_converter_format = format;
  return true;
}

bool upload_picture_as_rgb(VideoOutput& video) {
  const AVFrame* f = video.frame.get();
  if (!ensure_rgb_converter(video, f->format)) return false;
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(video.texture.get(), nullptr, &pixels, &pitch) != 0) return false;
  uint8_t* planes[4] = {static_cast<uint8_t*>(pixels), nullptr, nullptr, nullptr};
  int pitches[4] = {pitch, 0, 0, 0};
  sws_scale(video.rgb_converter.get(), f->data, f->linesize, 0, video.height, planes, pitches);
  SDL_UnlockTexture(video.texture.get());
  return true;
}

}  // namespace

bool setup_video_decoder(VideoOutput& video, int thread_count, bool split_pictures) {
  H264DecoderOpening opened = open_h264_decoder(thread_count, split_pictures);
  if (!opened.codec_found) {
    std::printf("Error: H.264 decoder not found\n");
    return false;
  }
  video.codec = std::move(opened.codec);
  if (video.codec) video.frame.reset(av_frame_alloc());
  if (!video.codec || !video.frame) {
    std::printf("Error: Cannot open decoder\n");
    video.codec.reset();
    return false;
  }
  return true;
}

bool is_slice_type(int type) { return type == 1 || type == 5; }

bool is_decoded_unit_type(int type) { return is_slice_type(type) || type == 7 || type == 8; }

int decode_nal_unit(VideoOutput& video, const NalUnit& unit,
                    const std::function<void()>& on_picture) {
  if (!is_decoded_unit_type(unit.type) || unit.size <= 0) return 0;
  int pictures = 0;
  PacketPtr packet = make_nal_packet(unit.data, static_cast<size_t>(unit.size));
  if (packet) {
    pictures += send_packet_taking_waiting_pictures(video.codec.get(), video.frame.get(),
                                                    packet.get(), on_picture);
  }
  if (!is_slice_type(unit.type)) return pictures;
  if (receive_picture(video)) {
    ++pictures;
    if (on_picture) on_picture();
  }
  return pictures;
}

int drain_decoder(VideoOutput& video, const std::function<void()>& on_picture) {
  int pictures = send_packet_taking_waiting_pictures(video.codec.get(), video.frame.get(), nullptr,
                                                     on_picture);
  while (receive_picture(video)) {
    ++pictures;
    if (on_picture) on_picture();
  }
  return pictures;
}

void flush_decoder(VideoOutput& video) {
  if (video.codec) avcodec_flush_buffers(video.codec.get());
}

SDL_Point window_size_for_picture(int width, int height) {
  if (width > 800) return {width, height};
  return {width * 2, height * 2};
}

SDL_Point fit_window_size(SDL_Point wanted, SDL_Rect usable, SDL_Point frame) {
  const int room_w = usable.w - frame.x, room_h = usable.h - frame.y;
  if (usable.w <= 0 || usable.h <= 0 || room_w <= 0 || room_h <= 0) return wanted;
  if (wanted.x <= room_w && wanted.y <= room_h) return wanted;
  // Shrunk by the tighter of the two limits, so the shape is kept.
  const int64_t w = wanted.x, h = wanted.y;
  if (w * room_h > h * room_w) return {room_w, static_cast<int>(std::max<int64_t>(1, h * room_w / w))};
  return {static_cast<int>(std::max<int64_t>(1, w * room_h / h)), room_h};
}

SDL_Point window_size_for_screen(SDL_Point wanted) {
  SDL_Rect usable{0, 0, 0, 0};
  if (SDL_GetDisplayUsableBounds(0, &usable) != 0) return wanted;
  // The borders and title bar are unknown before the window exists; room
  // for a usual title bar and frame keeps the whole window on the screen.
  return fit_window_size(wanted, usable, {16, 48});
}

bool ensure_player_window(SDL_Window*& window, SDL_Renderer*& renderer, int width, int height) {
  if (window) return true;
  const SDL_Point size = window_size_for_screen(window_size_for_picture(width, height));
  window = SDL_CreateWindow(kProgramName, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, size.x,
                            size.y, SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_MAXIMIZED);
  if (!window) {
    std::printf("Error: Cannot create window: %s\n", SDL_GetError());
    return false;
  }
  renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
  if (!renderer) renderer = SDL_CreateRenderer(window, -1, 0);
  if (!renderer) std::printf("Error: Cannot create renderer: %s\n", SDL_GetError());
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  return true;
}

bool fit_texture_to_picture(VideoOutput& video, SDL_Renderer* renderer) {
  const AVFrame* f = video.frame.get();
  if (!renderer || f->width <= 0 || f->height <= 0) return false;
  if (video.texture && f->width == video.width && f->height == video.height) return true;
  // First picture, a new picture size, or a texture that could not be made
  // last time: the texture is made afresh for this picture, and the converters
  // made for the old size go (upload_picture makes the one it needs).
  release_converter(video);
  release_rgb_converter(video);
  const Uint32 direct = direct_texture_format(video, renderer);
  video.rgb_format = direct ? static_cast<int>(packed_format_for(direct)) : -1;
  const Uint32 texture_format = direct ? direct : Uint32{SDL_PIXELFORMAT_IYUV};
  video.texture.reset(SDL_CreateTexture(renderer, texture_format, SDL_TEXTUREACCESS_STREAMING,
                                        f->width, f->height));
  video.width = f->width;
  video.height = f->height;
  std::printf("Resolution: %dx%d\n", f->width, f->height);
  if (!video.texture) return false;
  // Opaque: the picture replaces every pixel it covers.
  SDL_SetTextureBlendMode(video.texture.get(), SDL_BLENDMODE_NONE);
  return true;
}

bool upload_picture(VideoOutput& video) {
  const AVFrame* f = video.frame.get();
  if (!video.texture || f->width != video.width || f->height != video.height) return false;
  if (video.rgb_format >= 0) return upload_picture_as_rgb(video);
  if (f->format == AV_PIX_FMT_YUV420P) {
    return SDL_UpdateYUVTexture(video.texture.get(), nullptr, f->data[0], f->linesize[0],
                                f->data[1], f->linesize[1], f->data[2], f->linesize[2]) == 0;
  }
  if (!ensure_converter(video, f->format)) return false;
  sws_scale(video.converter.get(), f->data, f->linesize, 0, video.height, video.converted_planes,
            video.converted_pitches);
  return SDL_UpdateYUVTexture(video.texture.get(), nullptr, video.converted_planes[0],
                              video.converted_pitches[0], video.converted_planes[1],
                              video.converted_pitches[1], video.converted_planes[2],
                              video.converted_pitches[2]) == 0;
}

void draw_video_frame(VideoOutput& video, SDL_Window* window, SDL_Renderer* renderer,
                      const OverlayView* overlay, bool toast, bool help) {
  if (!renderer) return;
  if (video.texture) {
    draw_letterboxed(renderer, video.texture.get(), video.width, video.height, video.sar_num,
                     video.sar_den, &video.zoom);
  } else {
    SDL_RenderClear(renderer);
  }
  if (overlay && window) draw_playback_overlay(renderer, window, *overlay, window_text_scale(window));
  if (help && window) draw_help_overlay(renderer, window, player_help_lines());
  if (toast && window) draw_toast(renderer, window, window_text_scale(window));
  SDL_RenderPresent(renderer);
}

bool present_picture(VideoOutput& video, SDL_Window*& window, SDL_Renderer*& renderer,
                     const OverlayView* overlay, bool toast, bool help) {
  const AVFrame* f = video.frame.get();
  if (!ensure_player_window(window, renderer, f->width, f->height)) return false;
  if (fit_texture_to_picture(video, renderer) && upload_picture(video)) {
    video.sar_num = f->sample_aspect_ratio.num;
    video.sar_den = f->sample_aspect_ratio.den;
  }
  draw_video_frame(video, window, renderer, overlay, toast, help);
  return true;
}

SDL_Rect picture_box_in_window(const VideoOutput& video, SDL_Window* window) {
  int w = 0, h = 0;
  if (window) SDL_GetWindowSize(window, &w, &h);
  if (!video.texture) return {0, 0, 0, 0};
  return letterbox_rect(w, h, video.width, video.height, video.sar_num, video.sar_den);
}

void teardown_video_output(VideoOutput& video) {
  release_converter(video);
  release_rgb_converter(video);
  video.texture.reset();
  video.frame.reset();
  video.codec.reset();
  video.width = video.height = 0;
}
