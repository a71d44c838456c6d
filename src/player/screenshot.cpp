#include "player/screenshot.h"

#include <cstdio>

#include "draw/sdl_handles.h"
#include "draw/toast.h"
#include "platform/files.h"

std::string screenshot_file_name(const std::tm& t) {
  char name[256];
  std::snprintf(name, sizeof name, "screenshot_%04d%02d%02d_%02d%02d%02d.bmp", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return name;
}

// The name for the current local time; empty when the clock cannot be read.
static std::string screenshot_name_now() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == static_cast<std::time_t>(-1) || !local_time(now, local)) return "";
  return screenshot_file_name(local);
}

// The render target's pixels at the window's size, bytes R, G, B, A per pixel.
// The read is limited to the surface's own size: a target larger than the
// window (high-density displays) must not write past the surface.
static SurfacePtr read_window_pixels(SDL_Renderer* renderer, SDL_Window* window) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  if (w <= 0 || h <= 0) return nullptr;
  SurfacePtr surface(SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ABGR8888));
  if (!surface) return nullptr;
  SDL_Rect area{0, 0, w, h};
  if (SDL_RenderReadPixels(renderer, &area, SDL_PIXELFORMAT_ABGR8888, surface->pixels,
                           surface->pitch) != 0)
    return nullptr;
  return surface;
}

bool save_screenshot(SDL_Renderer* renderer, SDL_Window* window) {
  if (!renderer || !window) return false;
  SurfacePtr surface = read_window_pixels(renderer, window);
  if (!surface) return false;
  std::string name = screenshot_name_now();
  if (name.empty()) return false;
  // SDL_SaveBMP_RW closes the stream in every case; a null stream fails the save.
  SDL_RWops* stream = SDL_RWFromFile(name.c_str(), "wb");
  if (!stream) return false;
  if (SDL_SaveBMP_RW(surface.get(), stream, 1) != 0) {
    std::remove(name.c_str());  // a cut-off image is worse than none
    return false;
  }
  std::printf("Screenshot: %s\n", name.c_str());
  return true;
}

bool capture_screenshot(SDL_Renderer* renderer, SDL_Window* window, SDL_Texture* texture) {
  if (!texture || !renderer || !window) return false;
  SDL_RenderClear(renderer);
  SDL_RenderCopy(renderer, texture, nullptr, nullptr);
  if (!save_screenshot(renderer, window)) return false;
  show_toast("  OK  ", 2000);
  return true;
}
