// A decoded live picture in a streaming IYUV texture at the picture's size,
// with the converter that pictures other than planar YUV 4:2:0 need. Shared
// by the screens that show cameras (one large, or a grid of them).
#pragma once

#include <SDL.h>

#include "draw/sdl_handles.h"
#include "media/av_handles.h"

struct PictureTexture {
  TexturePtr texture;
  SwsContextPtr scaler;  // for pictures that are not YUV420P, at the texture's size
  // YUV420P picture the scaler writes into: made with the scaler, freed with it.
  AvImagePtr scaled;
  uint8_t* scaled_planes[4] = {};
  int scaled_pitches[4] = {};
  int width = 0;  // size of the texture (and of the scaler's pictures)
  int height = 0;
  int scaler_format = -1;        // pixel format the scaler converts from
  int sar_num = 0, sar_den = 1;  // sample aspect ratio of the last picture (0: none given)
  FramePtr shown;  // the picture in the texture (a reference, not a copy), for screenshots at its own size
};

// Uploads a picture, making (or re-making, after a change of size or pixel
// format) the texture and the converter it needs, and keeps a reference to it
// as the picture shown. False when the texture could not be made; nothing is
// uploaded then.
bool upload_picture_texture(PictureTexture& picture, SDL_Renderer* renderer, const AVFrame& frame);

// Releases converter, its buffer, the texture (before the renderer goes) and
// the picture shown.
void release_picture_texture(PictureTexture& picture);
