#include "draw/toast.h"

#include <cstdio>
#include <string>

#include "draw/text.h"

namespace {

// Process-wide by design: a message set on one screen still shows on the next.
char g_toast_text[128] = {};
uint32_t g_toast_expiry = 0;

constexpr int kBoxTop = 30;
constexpr int kPadCellsX = 4;
constexpr int kPadCellsY = 3;

// The message as it fits a window w wide at scale s: the scale goes down to 1
// first, then the text is cut in the middle.
struct FittedMessage {
  std::string text;
  int s = 1;
};
FittedMessage fit_message(int window_w, const char* text, int s) {
  while (s > 1 && text_width(text, s) + 2 * kPadCellsX * s > window_w) --s;
  if (s < 1) s = 1;
  return {fit_text_width(text, window_w - 2 * kPadCellsX * s, s), s};
}

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
  const FittedMessage m = fit_message(window_w, text, s);
  const int bw = text_width(m.text.c_str(), m.s) + 2 * kPadCellsX * m.s;
  return {(window_w - bw) / 2, kBoxTop, bw, text_line_height(m.s) + 2 * kPadCellsY * m.s};
}

void draw_toast_at(SDL_Renderer* renderer, SDL_Window* window, int s, uint32_t now) {
  if (!toast_showing(now)) return;
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  const FittedMessage m = fit_message(w, g_toast_text, s);
  SDL_Rect box = toast_box(w, g_toast_text, s);
  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, 180);
  SDL_RenderFillRect(renderer, &box);
  SDL_SetRenderDrawColor(renderer, 255, 255, 255, 240);
  draw_text(renderer, box.x + kPadCellsX * m.s, kBoxTop + kPadCellsY * m.s, m.text.c_str(), m.s);
}

void draw_toast(SDL_Renderer* renderer, SDL_Window* window, int s) {
  draw_toast_at(renderer, window, s, SDL_GetTicks());
}
