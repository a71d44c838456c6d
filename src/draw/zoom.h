// Zoom and pan of a picture inside its on-screen box (the letterbox rectangle
// it fills at zoom 1): which part of the picture is visible and where it
// lands. The zoomed part always fills the box, so the bars around it stay.
// Pure arithmetic, in picture pixels (floating point) and window pixels.
#pragma once

#include <SDL.h>

constexpr double kMaxZoom = 8.0;
constexpr double kWheelZoomStep = 1.25;  // one notch of the wheel

struct ZoomView {
  double zoom = 1.0;       // 1 (whole picture) .. kMaxZoom
  double x = 0, y = 0;     // top-left of the visible part, in picture pixels
  bool operator==(const ZoomView&) const = default;
};

// The visible part of a picture_w x picture_h picture: x, y, w, h in picture pixels.
struct PictureRegion {
  double x = 0, y = 0, w = 0, h = 0;
};
PictureRegion visible_region(const ZoomView& view, int picture_w, int picture_h);

// The view with its zoom limited to 1..kMaxZoom and its visible part moved
// inside the picture.
ZoomView clamp_view(const ZoomView& view, int picture_w, int picture_h);

// Zooms by `factor` keeping the picture point under window point (px, py)
// where it is (a point outside the box counts as the box's nearest edge).
ZoomView zoom_at(const ZoomView& view, const SDL_Rect& box, int picture_w, int picture_h, int px,
                 int py, double factor);

// Moves the picture with a drag of (dx, dy) window pixels: the point under the
// pointer follows it, as far as the picture's edges allow.
ZoomView pan_by(const ZoomView& view, const SDL_Rect& box, int picture_w, int picture_h, int dx,
                int dy);

// The picture point (in picture pixels) under window point (px, py).
SDL_FPoint picture_point_at(const ZoomView& view, const SDL_Rect& box, int picture_w,
                            int picture_h, int px, int py);

// What to copy for the view: whole source pixels around the visible part,
// and where they land so that the visible part fills the box exactly (the
// caller clips to the box).
struct ZoomCopy {
  SDL_Rect source{};
  SDL_FRect target{};
};
ZoomCopy zoom_copy_rects(const ZoomView& view, const SDL_Rect& box, int picture_w, int picture_h);

// The whole picture pixels of the visible part (rounded to the nearest pixel
// edges, inside the picture): what a screenshot of the zoomed view holds.
SDL_Rect visible_pixels(const ZoomView& view, int picture_w, int picture_h);

// Zoom factor of one wheel event: kWheelZoomStep per notch turned away from
// the user (zooming in), its inverse per notch towards the user; a touchpad's
// fractional scroll counts as one notch in its direction.
double wheel_zoom_factor(const SDL_MouseWheelEvent& wheel);

// Where the pointer was at a wheel event, in window pixels.
SDL_Point wheel_pointer(const SDL_MouseWheelEvent& wheel);
