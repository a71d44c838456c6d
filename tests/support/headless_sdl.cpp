#include "headless_sdl.h"

#include <cstdio>
#include <cstdlib>

void set_env_if_unset(const char* name, const char* value) {
#ifdef _WIN32
  if (!std::getenv(name)) _putenv_s(name, value);
#else
  setenv(name, value, 0);
#endif
}

bool init_headless_video() {
  if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
  // Whatever the caller (ctest, a person) chose is kept.
  set_env_if_unset("SDL_VIDEODRIVER", "dummy");
  set_env_if_unset("SDL_RENDER_DRIVER", "software");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER) != 0) {
    std::fprintf(stderr, "headless SDL: SDL_Init failed: %s\n", SDL_GetError());
    return false;
  }
  return true;
}

HeadlessCanvas make_headless_canvas(int w, int h) {
  HeadlessCanvas canvas;
  if (!init_headless_video()) return canvas;
  canvas.window.reset(SDL_CreateWindow("H.264 Player", SDL_WINDOWPOS_UNDEFINED,
                                       SDL_WINDOWPOS_UNDEFINED, w, h, SDL_WINDOW_HIDDEN));
  if (!canvas.window) {
    std::fprintf(stderr, "headless SDL: SDL_CreateWindow failed: %s\n", SDL_GetError());
    return canvas;
  }
  canvas.renderer.reset(SDL_CreateRenderer(canvas.window.get(), -1, SDL_RENDERER_SOFTWARE));
  if (!canvas.renderer) {
    std::fprintf(stderr, "headless SDL: SDL_CreateRenderer failed: %s\n", SDL_GetError());
    canvas.window.reset();
    return canvas;
  }
  canvas.w = w;
  canvas.h = h;
  clear_canvas(canvas.renderer.get(), 0, 0, 0);
  return canvas;
}

void clear_canvas(SDL_Renderer* renderer, Uint8 r, Uint8 g, Uint8 b) {
  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_NONE);
  SDL_SetRenderDrawColor(renderer, r, g, b, 255);
  SDL_RenderClear(renderer);
}

Pixels read_pixels(SDL_Renderer* renderer, int w, int h) {
  Pixels pixels;
  std::vector<Uint8> bytes(static_cast<size_t>(w) * h * 4);
  SDL_Rect all{0, 0, w, h};
  if (SDL_RenderReadPixels(renderer, &all, SDL_PIXELFORMAT_RGBA32, bytes.data(), w * 4) != 0) {
    std::fprintf(stderr, "headless SDL: SDL_RenderReadPixels failed: %s\n", SDL_GetError());
    return pixels;
  }
  pixels.w = w;
  pixels.h = h;
  pixels.rgba = std::move(bytes);
  return pixels;
}

Rgba Pixels::pixel_at(int x, int y) const {
  if (x < 0 || y < 0 || x >= w || y >= h) return {255, 0, 255, 255};
  const Uint8* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

bool Pixels::is(int x, int y, Uint8 r, Uint8 g, Uint8 b) const {
  Rgba p = pixel_at(x, y);
  return p.r == r && p.g == g && p.b == b;
}

bool Pixels::differs(int x, int y, Uint8 r, Uint8 g, Uint8 b) const {
  return !is(x, y, r, g, b);
}

int Pixels::count_not(const SDL_Rect& rect, Uint8 r, Uint8 g, Uint8 b) const {
  int n = 0;
  for (int y = rect.y; y < rect.y + rect.h; ++y)
    for (int x = rect.x; x < rect.x + rect.w; ++x)
      if (differs(x, y, r, g, b)) ++n;
  return n;
}

namespace {

template <typename Match>
SDL_Rect bounds_where(const Pixels& p, Match match) {
  int x0 = p.w, y0 = p.h, x1 = -1, y1 = -1;
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x)
      if (match(x, y)) {
        if (x < x0) x0 = x;
        if (x > x1) x1 = x;
        if (y < y0) y0 = y;
        if (y > y1) y1 = y;
      }
  if (x1 < 0) return {0, 0, 0, 0};
  return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

}  // namespace

SDL_Rect Pixels::bounds_of(Uint8 r, Uint8 g, Uint8 b) const {
  return bounds_where(*this, [&](int x, int y) { return is(x, y, r, g, b); });
}

SDL_Rect Pixels::bounds_not(Uint8 r, Uint8 g, Uint8 b) const {
  return bounds_where(*this, [&](int x, int y) { return differs(x, y, r, g, b); });
}
