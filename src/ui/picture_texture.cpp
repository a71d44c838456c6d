#include "ui/picture_texture.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace {

// Drops the scaler and the buffer it writes into.
void release_scaler(PictureTexture& picture) {
  picture.scaler.reset();
  picture.scaler_format = -1;
  picture.scaled.reset();
  for (int i = 0; i < 4; ++i) {
    picture.scaled_planes[i] = nullptr;
    picture.scaled_pitches[i] = 0;
  }
}

// (Re)makes the texture at the picture's size; the converter goes with it.
bool ensure_texture(PictureTexture& picture, SDL_Renderer* renderer, int width, int height) {
  if (picture.texture && width == picture.width && height == picture.height) return true;
  release_scaler(picture);
  picture.texture.reset(
      SDL_CreateTexture(renderer, SDL_PIXELFORMAT_IYUV, SDL_TEXTUREACCESS_STREAMING, width, height));
  if (!picture.texture) return false;
  // Opaque: the picture replaces every pixel it covers.
  SDL_SetTextureBlendMode(picture.texture.get(), SDL_BLENDMODE_NONE);
  picture.width = width;
  picture.height = height;
  return true;
}

// Scaler from `format` at the texture's size and the YUV420P buffer it writes
// into. Full-range cameras send every picture in a format that needs it, so
// the buffer is kept rather than made for each picture.
bool ensure_scaler(PictureTexture& picture, int format) {
  if (picture.scaler && picture.scaler_format == format) return true;
  release_scaler(picture);
  const int w = picture.width, h = picture.height;
  picture.scaler.reset(sws_getContext(w, h, static_cast<AVPixelFormat>(format), w, h, AV_PIX_FMT_YUV420P,
                                      SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!picture.scaler) return false;
  if (av_image_alloc(picture.scaled_planes, picture.scaled_pitches, w, h, AV_PIX_FMT_YUV420P, 32) < 0) {
    release_scaler(picture);
    return false;
  }
  picture.scaled.reset(picture.scaled_planes[0]);
  picture.scaler_format = format;
  return true;
}

// Converts a picture that is not planar YUV 4:2:0 and uploads the result.
// Without a converter the texture keeps its previous content.
void convert_and_upload(PictureTexture& picture, const AVFrame& frame) {
  if (!ensure_scaler(picture, frame.format)) return;
  sws_scale(picture.scaler.get(), frame.data, frame.linesize, 0, picture.height, picture.scaled_planes,
            picture.scaled_pitches);
  SDL_UpdateYUVTexture(picture.texture.get(), nullptr, picture.scaled_planes[0], picture.scaled_pitches[0],
                       picture.scaled_planes[1], picture.scaled_pitches[1], picture.scaled_planes[2],
                       picture.scaled_pitches[2]);
}

// Keeps a reference to the picture now in the texture (no copy of its pixels).
void remember_shown_picture(PictureTexture& picture, const AVFrame& frame) {
  if (!picture.shown) picture.shown.reset(av_frame_alloc());
  if (!picture.shown) return;
  av_frame_unref(picture.shown.get());
  if (av_frame_ref(picture.shown.get(), &frame) < 0) av_frame_unref(picture.shown.get());
}

}  // namespace

bool upload_picture_texture(PictureTexture& picture, SDL_Renderer* renderer, const AVFrame& frame) {
  if (frame.width <= 0 || frame.height <= 0) return false;
  if (!ensure_texture(picture, renderer, frame.width, frame.height)) return false;
  remember_shown_picture(picture, frame);
  picture.sar_num = frame.sample_aspect_ratio.num;
  picture.sar_den = frame.sample_aspect_ratio.den;
  if (frame.format == AV_PIX_FMT_YUV420P) {
    SDL_UpdateYUVTexture(picture.texture.get(), nullptr, frame.data[0], frame.linesize[0], frame.data[1],
                         frame.linesize[1], frame.data[2], frame.linesize[2]);
  } else {
    convert_and_upload(picture, frame);
  }
  return true;
}

void release_picture_texture(PictureTexture& picture) {
  release_scaler(picture);
  picture.texture.reset();
  picture.shown.reset();
  picture.width = picture.height = 0;
}
