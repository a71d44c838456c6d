#include "draw/zoom.h"

#include <algorithm>
#include <cmath>

namespace {

double limited(double v, double low, double high) { return v < low ? low : (v > high ? high : v); }

}  // namespace

PictureRegion visible_region(const ZoomView& view, int picture_w, int picture_h) {
  const ZoomView v = clamp_view(view, picture_w, picture_h);
  return {v.x, v.y, picture_w / v.zoom, picture_h / v.zoom};
}

ZoomView clamp_view(const ZoomView& view, int picture_w, int picture_h) {
  ZoomView v = view;
  v.zoom = std::isfinite(v.zoom) ? limited(v.zoom, 1.0, kMaxZoom) : 1.0;
  if (picture_w <= 0 || picture_h <= 0) return {v.zoom, 0, 0};
  const double w = picture_w / v.zoom, h = picture_h / v.zoom;
  v.x = std::isfinite(v.x) ? limited(v.x, 0.0, picture_w - w) : 0.0;
  v.y = std::isfinite(v.y) ? limited(v.y, 0.0, picture_h - h) : 0.0;
  return v;
}

SDL_FPoint picture_point_at(const ZoomView& view, const SDL_Rect& box, int picture_w,
                            int picture_h, int px, int py) {
  const PictureRegion r = visible_region(view, picture_w, picture_h);
  if (box.w <= 0 || box.h <= 0) return {static_cast<float>(r.x), static_cast<float>(r.y)};
  const double fx = limited(static_cast<double>(px - box.x) / box.w, 0.0, 1.0);
  const double fy = limited(static_cast<double>(py - box.y) / box.h, 0.0, 1.0);
  return {static_cast<float>(r.x + fx * r.w), static_cast<float>(r.y + fy * r.h)};
}

ZoomView zoom_at(const ZoomView& view, const SDL_Rect& box, int picture_w, int picture_h, int px,
                 int py, double factor) {
  const ZoomView v = clamp_view(view, picture_w, picture_h);
  if (box.w <= 0 || box.h <= 0 || picture_w <= 0 || picture_h <= 0) return v;
  const PictureRegion r = visible_region(v, picture_w, picture_h);
  const double fx = limited(static_cast<double>(px - box.x) / box.w, 0.0, 1.0);
  const double fy = limited(static_cast<double>(py - box.y) / box.h, 0.0, 1.0);
  const double anchor_x = r.x + fx * r.w, anchor_y = r.y + fy * r.h;
  ZoomView next;
  next.zoom = limited(v.zoom * factor, 1.0, kMaxZoom);
  next.x = anchor_x - fx * (picture_w / next.zoom);
  next.y = anchor_y - fy * (picture_h / next.zoom);
  return clamp_view(next, picture_w, picture_h);
}

ZoomView pan_by(const ZoomView& view, const SDL_Rect& box, int picture_w, int picture_h, int dx,
                int dy) {
  const ZoomView v = clamp_view(view, picture_w, picture_h);
  if (box.w <= 0 || box.h <= 0) return v;
  const PictureRegion r = visible_region(v, picture_w, picture_h);
  ZoomView next = v;
  next.x -= dx * r.w / box.w;
  next.y -= dy * r.h / box.h;
  return clamp_view(next, picture_w, picture_h);
}

ZoomCopy zoom_copy_rects(const ZoomView& view, const SDL_Rect& box, int picture_w, int picture_h) {
  const PictureRegion r = visible_region(view, picture_w, picture_h);
  ZoomCopy copy;
  if (picture_w <= 0 || picture_h <= 0 || r.w <= 0 || r.h <= 0) return copy;
  const int x0 = static_cast<int>(std::floor(r.x)), y0 = static_cast<int>(std::floor(r.y));
  const int x1 = std::min(picture_w, static_cast<int>(std::ceil(r.x + r.w)));
  const int y1 = std::min(picture_h, static_cast<int>(std::ceil(r.y + r.h)));
  copy.source = {x0, y0, x1 - x0, y1 - y0};
  const double sx = box.w / r.w, sy = box.h / r.h;
  copy.target = {static_cast<float>(box.x + (x0 - r.x) * sx), static_cast<float>(box.y + (y0 - r.y) * sy),
                 static_cast<float>((x1 - x0) * sx), static_cast<float>((y1 - y0) * sy)};
  return copy;
}

SDL_Rect visible_pixels(const ZoomView& view, int picture_w, int picture_h) {
  const PictureRegion r = visible_region(view, picture_w, picture_h);
  if (picture_w <= 0 || picture_h <= 0) return {0, 0, 0, 0};
  const int x0 = static_cast<int>(std::lround(r.x)), y0 = static_cast<int>(std::lround(r.y));
  const int x1 = std::min(picture_w, static_cast<int>(std::lround(r.x + r.w)));
  const int y1 = std::min(picture_h, static_cast<int>(std::lround(r.y + r.h)));
  return {x0, y0, std::max(1, x1 - x0), std::max(1, y1 - y0)};
}

double wheel_zoom_factor(const SDL_MouseWheelEvent& wheel) {
  double notches = wheel.y;
#if SDL_VERSION_ATLEAST(2, 0, 18)
  if (notches == 0 && wheel.preciseY != 0) notches = wheel.preciseY > 0 ? 1 : -1;
#endif
  if (wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
  return std::pow(kWheelZoomStep, notches);
}

SDL_Point wheel_pointer(const SDL_MouseWheelEvent& wheel) {
#if SDL_VERSION_ATLEAST(2, 26, 0)
  return {wheel.mouseX, wheel.mouseY};
#else
  (void)wheel;
  SDL_Point at{0, 0};
  SDL_GetMouseState(&at.x, &at.y);
  return at;
#endif
}
