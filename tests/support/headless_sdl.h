// Headless drawing for tests: SDL video on the dummy driver, a hidden window
// with a software renderer, and read-back of what was drawn as RGBA bytes.
#pragma once

#include <SDL.h>
#include <cstdint>
#include <memory>
#include <vector>

// Sets an environment variable unless it is set already.
void set_env_if_unset(const char* name, const char* value);

// Starts SDL video once per process, choosing the dummy video driver and the
// software renderer unless the environment already names others. Never quits
// SDL (other tests in the same process may still draw). False with a message
// on stderr when SDL cannot start.
bool init_headless_video();

struct SdlWindowDeleter {
  void operator()(SDL_Window* w) const { if (w) SDL_DestroyWindow(w); }
};
struct SdlRendererDeleter {
  void operator()(SDL_Renderer* r) const { if (r) SDL_DestroyRenderer(r); }
};
using WindowPtr = std::unique_ptr<SDL_Window, SdlWindowDeleter>;
using RendererPtr = std::unique_ptr<SDL_Renderer, SdlRendererDeleter>;

// A hidden w x h window and its software renderer, cleared to opaque black.
// Declared renderer after window so the renderer is destroyed first.
struct HeadlessCanvas {
  WindowPtr window;
  RendererPtr renderer;
  int w = 0;
  int h = 0;
};

// Calls init_headless_video and makes the canvas; both pointers are null on
// failure (the reason is printed on stderr).
HeadlessCanvas make_headless_canvas(int w, int h);

// Clears the whole canvas to the colour and restores blend mode NONE.
void clear_canvas(SDL_Renderer* renderer, Uint8 r, Uint8 g, Uint8 b);

struct Rgba {
  Uint8 r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Rgba&) const = default;
};

// What the renderer holds right now (before present), row by row, 4 bytes a
// pixel in R, G, B, A order. Empty when reading back fails.
struct Pixels {
  int w = 0;
  int h = 0;
  std::vector<Uint8> rgba;

  // The pixel at (x, y); opaque magenta outside the picture, so a test that
  // strays off the canvas fails instead of reading garbage.
  Rgba pixel_at(int x, int y) const;
  // True when the pixel's red, green and blue equal the given ones (alpha is
  // ignored: window surfaces have none).
  bool is(int x, int y, Uint8 r, Uint8 g, Uint8 b) const;
  // True when the pixel differs from the given background colour.
  bool differs(int x, int y, Uint8 r, Uint8 g, Uint8 b) const;
  // Number of pixels inside rect whose colour differs from the background.
  int count_not(const SDL_Rect& rect, Uint8 r, Uint8 g, Uint8 b) const;
  // Smallest rectangle holding every pixel of exactly this colour (red, green
  // and blue); all zero when there is none.
  SDL_Rect bounds_of(Uint8 r, Uint8 g, Uint8 b) const;
  // Smallest rectangle holding every pixel that differs from the background;
  // all zero when there is none.
  SDL_Rect bounds_not(Uint8 r, Uint8 g, Uint8 b) const;
};

Pixels read_pixels(SDL_Renderer* renderer, int w, int h);
