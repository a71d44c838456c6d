// H.264 decoding of single NAL units and presentation of the pictures in the
// shared window: window made from the first picture when there is none yet, a
// streaming texture (IYUV, or the window's own pixel format on software
// renderers), and the converters the pictures need to get into it.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <functional>

#include "draw/overlay.h"
#include "draw/sdl_handles.h"
#include "draw/zoom.h"
#include "media/av_handles.h"
#include "media/unit_decoder.h"
#include "recording/recording.h"

struct VideoOutput {
  CodecContextPtr codec;
  FramePtr frame;      // receives every decoded picture
  TexturePtr texture;  // streaming, width x height; IYUV unless rgb_format says otherwise
  SwsContextPtr converter;  // only for pictures that are not YUV420P
  int converter_format = -1;  // source pixel format the converter was made for
  AvImagePtr converted;       // YUV420P buffer the converter writes into
  uint8_t* converted_planes[4] = {};
  int converted_pitches[4] = {};
  int width = 0, height = 0;  // size of the texture
  // Sample aspect ratio of the picture in the texture (0:1 when the stream
  // names none): the picture is shown at its real shape.
  int sar_num = 0, sar_den = 1;
  ZoomView zoom;  // the part of the picture shown, and how large
  // Software renderers only, when allowed: the texture is in the window's own
  // pixel format and pictures are converted straight into it.
  bool allow_direct_rgb = true;
  SwsContextPtr rgb_converter;
  int rgb_converter_format = -1;  // source pixel format rgb_converter was made for
  int rgb_format = -1;            // AVPixelFormat of the texture; -1 when it is IYUV
};

// Opens the H.264 decoder with `thread_count` threads and allocates the frame.
// With `split_pictures` (pictures cut into several slices, each sent as its own
// packet) the decoder is told that packets may hold parts of a picture;
// otherwise frame threading would take every slice for a whole picture.
// Prints "Error: H.264 decoder not found" / "Error: Cannot open decoder" and
// returns false on failure.
bool setup_video_decoder(VideoOutput& video, int thread_count, bool split_pictures = false);

// Types that go to the decoder: slices (1, 5) and parameter sets (7, 8).
bool is_decoded_unit_type(int type);
bool is_slice_type(int type);

// Sends one unit (skipping other types) and, for a slice, asks for one picture.
// Every picture that comes out is handed to `on_picture` while it is in
// video.frame; a picture the decoder holds back when it refuses a packet is
// taken out first, so no unit is lost. Returns the number of pictures.
int decode_nal_unit(VideoOutput& video, const NalUnit& unit,
                    const std::function<void()>& on_picture);

// Sends the end of the stream and hands every remaining picture to `on_picture`.
int drain_decoder(VideoOutput& video, const std::function<void()>& on_picture);

// Forgets every picture and packet in flight (before a seek).
void flush_decoder(VideoOutput& video);

// Size of the window made for a picture: its own size above 800 pixels wide,
// twice its size otherwise.
SDL_Point window_size_for_picture(int width, int height);

// A window size no larger than `usable` (the screen's area less task bars
// and the like) less `frame` (the window's own borders and title bar), the
// shape kept when it has to shrink. An empty usable area limits nothing. Pure.
SDL_Point fit_window_size(SDL_Point wanted, SDL_Rect usable, SDL_Point frame = {0, 0});

// The wanted size fitted to the usable area of the display the window would
// open on (the first one), for windows that open centred.
SDL_Point window_size_for_screen(SDL_Point wanted);

// Creates the "H.264 Player" window (centred, shown, resizable, maximized;
// never larger than the screen's usable area) and
// its renderer (accelerated with vsync, else any), with file drops enabled.
// Does nothing when the window exists. False, printing "Error: Cannot create
// window: <SDL's reason>", when there is no window; a renderer that cannot be
// made prints "Error: Cannot create renderer: <SDL's reason>" and leaves it null.
bool ensure_player_window(SDL_Window*& window, SDL_Renderer*& renderer, int width, int height);

// Makes the texture fit the picture in video.frame: created at the first
// picture and again whenever the size changes, printing "Resolution: %dx%d"
// and dropping the converters made for the old size. False when the texture
// cannot be created. The texture is IYUV, except on a software renderer when
// video.allow_direct_rgb is set: then it has the window's pixel format and
// every picture is converted straight into it.
bool fit_texture_to_picture(VideoOutput& video, SDL_Renderer* renderer);

// Uploads the picture in video.frame into the texture, converting it (and
// making the converter on demand) when it is not YUV420P (IYUV texture) or
// always (window-format texture). False when nothing was uploaded.
bool upload_picture(VideoOutput& video);

// Copies the opaque texture into the window at the picture's shape with black
// bars around it, zoomed as video.zoom says (clears the window instead when
// there is no texture yet),
// draws the overlay when `overlay` is given, the transient message when `toast`
// is set and the key help when `help` is set, presents.
void draw_video_frame(VideoOutput& video, SDL_Window* window, SDL_Renderer* renderer,
                      const OverlayView* overlay, bool toast, bool help = false);

// Where the picture lies in the window at zoom 1 (window pixels, as mouse
// events give them); all zero without a picture.
SDL_Rect picture_box_in_window(const VideoOutput& video, SDL_Window* window);

// The whole presentation of a freshly decoded picture: window on demand,
// texture, upload, drawing (the transient message only with `toast`). False,
// with nothing drawn, when there is no window and none can be made.
bool present_picture(VideoOutput& video, SDL_Window*& window, SDL_Renderer*& renderer,
                     const OverlayView* overlay, bool toast = true, bool help = false);

// Releases converter, texture, frame and decoder, in that order.
void teardown_video_output(VideoOutput& video);
