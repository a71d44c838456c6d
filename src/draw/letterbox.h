// The picture at its own shape inside the window, with black bars where it
// does not reach.
#pragma once

#include <SDL.h>

#include "draw/zoom.h"

// Where a picture of picture_w x picture_h samples, each sample sar_num:sar_den
// as wide as it is high, goes in a window_w x window_h area: as large as fits
// with the picture's shape kept, centred. A missing or unusable sample aspect
// ratio (0, negative) counts as square samples. All zero when either size is
// empty. Pure arithmetic.
SDL_Rect letterbox_rect(int window_w, int window_h, int picture_w, int picture_h, int sar_num,
                        int sar_den);

// Copies the opaque texture into its letterbox rectangle of the renderer's
// output and fills the rest black. With a zoom above 1 only the view's
// visible part is copied, filling the same rectangle. Returns the rectangle.
SDL_Rect draw_letterboxed(SDL_Renderer* renderer, SDL_Texture* texture, int picture_w,
                          int picture_h, int sar_num, int sar_den, const ZoomView* zoom = nullptr);

// The letterbox rectangle of a picture in the renderer's current output.
SDL_Rect output_letterbox_rect(SDL_Renderer* renderer, int picture_w, int picture_h, int sar_num,
                               int sar_den);
