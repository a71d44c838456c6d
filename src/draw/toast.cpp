#include "draw/toast.h"

#include <cstdio>

#include "draw/text.h"

namespace {

// Process-wide by design: a message set on one screen still shows on the next.
char g_toast_text[128] = {};
uint32_t g_toast_expiry = 0;

constexpr int kBoxTop = 30;
constexpr int kPadX = 8;
constexpr int kPadY = 6;

}  // namespace

void show_toast_at(const char* text, uint32_t duration_ms, uint32_t now) {
  std::snprintf(g_toast_text, sizeof g_toast_text, "%s", text ? text : "");
  g_toast_expiry = now + duration_ms;
}

void show_toast(const char* text, uint32_t duration_ms) {
  show_toast_at(text, duration_ms, SDL_GetTicks());
}

const char* toast_text() { return g_toast_text; }

bool toast_showing(uint32_t now) { return now < g_toast_expiry && g_toast_text[0] != '\0'; }

SDL_Rect toast_box(int window_w, const char* text, int s) {
  int bw = text_width(text, s) + 2 * kPadX;
  return {(window_w - bw) / 2, kBoxTop, bw, 5 * s + 2 * kPadY};
}

void draw_toast_at(SDL_Renderer* renderer, SDL_Window* window, int s, uint32_t now) {
  if (!toast_showing(now)) return;
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  SDL_Rect box = toast_box(w, g_toast_text, s);
  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, 180);
  SDL_RenderFillRect(renderer, &box);
  SDL_SetRenderDrawColor(renderer, 255, 255, 255, 240);
  draw_text(renderer, box.x + kPadX, kBoxTop + kPadY, g_toast_text, s);
}

void draw_toast(SDL_Renderer* renderer, SDL_Window* window, int s) {
  draw_toast_at(renderer, window, s, SDL_GetTicks());
}
