#include "draw/letterbox.h"

#include <cstdint>

namespace {

// a * b / c rounded to the nearest integer, in 64 bits (all positive).
int64_t scaled_rounded(int64_t a, int64_t b, int64_t c) { return (a * b + c / 2) / c; }

void fill_black(SDL_Renderer* renderer, SDL_Rect rect) {
  if (rect.w > 0 && rect.h > 0) SDL_RenderFillRect(renderer, &rect);
}

}  // namespace

SDL_Rect letterbox_rect(int window_w, int window_h, int picture_w, int picture_h, int sar_num,
                        int sar_den) {
  if (window_w <= 0 || window_h <= 0 || picture_w <= 0 || picture_h <= 0) return {0, 0, 0, 0};
  if (sar_num <= 0 || sar_den <= 0) sar_num = sar_den = 1;
  // The displayed shape is (picture_w * sar_num) : (picture_h * sar_den).
  const int64_t shape_w = int64_t{picture_w} * sar_num;
  const int64_t shape_h = int64_t{picture_h} * sar_den;
  int64_t w = window_w, h = window_h;
  if (int64_t{window_w} * shape_h > int64_t{window_h} * shape_w) {
    w = scaled_rounded(window_h, shape_w, shape_h);  // window wider: bars left and right
  } else {
    h = scaled_rounded(window_w, shape_h, shape_w);  // window taller: bars above and below
  }
  if (w < 1) w = 1;
  if (h < 1) h = 1;
  return {static_cast<int>((window_w - w) / 2), static_cast<int>((window_h - h) / 2),
          static_cast<int>(w), static_cast<int>(h)};
}

SDL_Rect output_letterbox_rect(SDL_Renderer* renderer, int picture_w, int picture_h, int sar_num,
                               int sar_den) {
  int out_w = 0, out_h = 0;
  SDL_GetRendererOutputSize(renderer, &out_w, &out_h);
  return letterbox_rect(out_w, out_h, picture_w, picture_h, sar_num, sar_den);
}

SDL_Rect draw_letterboxed(SDL_Renderer* renderer, SDL_Texture* texture, int picture_w,
                          int picture_h, int sar_num, int sar_den, const ZoomView* zoom) {
  int out_w = 0, out_h = 0;
  SDL_GetRendererOutputSize(renderer, &out_w, &out_h);
  const SDL_Rect r = letterbox_rect(out_w, out_h, picture_w, picture_h, sar_num, sar_den);
  // Only the bars are filled: the opaque picture covers the rest, so clearing
  // the whole window first would cost a pass over every pixel.
  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_NONE);
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
  fill_black(renderer, {0, 0, out_w, r.y});
  fill_black(renderer, {0, r.y + r.h, out_w, out_h - r.y - r.h});
  fill_black(renderer, {0, r.y, r.x, r.h});
  fill_black(renderer, {r.x + r.w, r.y, out_w - r.x - r.w, r.h});
  if (!texture || r.w <= 0) return r;
  if (zoom && zoom->zoom > 1.0) {
    // The source is whole texture pixels around the visible part; the clip
    // keeps what lies past the box's edges off the bars.
    const ZoomCopy copy = zoom_copy_rects(*zoom, r, picture_w, picture_h);
    SDL_RenderSetClipRect(renderer, &r);
    SDL_RenderCopyF(renderer, texture, &copy.source, &copy.target);
    SDL_RenderSetClipRect(renderer, nullptr);
  } else {
    SDL_RenderCopy(renderer, texture, nullptr, &r);
  }
  return r;
}
