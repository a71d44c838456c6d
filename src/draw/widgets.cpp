#include "draw/widgets.h"

#include <algorithm>
#include <cmath>

void fill_circle(SDL_Renderer* renderer, int cx, int cy, int r) {
  for (int i = -r; i <= r; ++i) {
    int half = static_cast<int>(std::sqrt(static_cast<double>(r) * r - static_cast<double>(i) * i));
    SDL_RenderDrawLine(renderer, cx - half, cy + i, cx + half, cy + i);
  }
}

void draw_camera_icon(SDL_Renderer* renderer, SDL_Rect rect) {
  int c = rect.w / 5;
  SDL_Rect body{rect.x + c, rect.y + c + 2, rect.w - 2 * c, rect.h - 2 * c - 2};
  SDL_RenderDrawRect(renderer, &body);
  SDL_Rect bump{rect.x + rect.w / 2 - 3, rect.y + c - 1, 6, 3};
  SDL_RenderFillRect(renderer, &bump);
  int k = std::max(body.h / 2, 3);
  SDL_Rect lens{body.x + (body.w - k) / 2, body.y + (body.h - k) / 2, k, k};
  SDL_RenderFillRect(renderer, &lens);
}

void draw_speaker_icon(SDL_Renderer* renderer, SDL_Rect rect, bool crossed) {
  const int x = rect.x, y = rect.y, w = rect.w, h = rect.h;
  const int cy = y + h / 2;
  SDL_Rect magnet{x + w / 6, cy - h / 6, w / 6 + 1, h / 3};
  SDL_RenderFillRect(renderer, &magnet);
  const int ex = magnet.x + magnet.w;
  // The cone widens from the magnet's height towards the mouth.
  const int n = w / 4;
  for (int i = 0; i <= n; ++i) {
    int d = h / 6 + ((h / 4) * i) / std::max(n, 1);
    SDL_RenderDrawLine(renderer, ex + i, cy - d, ex + i, cy + d);
  }
  const int x0 = ex + n + 3;
  if (crossed) {
    const int q = h / 4;
    SDL_RenderDrawLine(renderer, x0, cy - q, x0 + 2 * q, cy + q);
    SDL_RenderDrawLine(renderer, x0, cy + q, x0 + 2 * q, cy - q);
  } else {
    SDL_RenderDrawLine(renderer, x0, cy - h / 6, x0, cy + h / 6);
    SDL_RenderDrawLine(renderer, x0 + 3, cy - h / 4, x0 + 3, cy + h / 4);
  }
}

void draw_play_icon(SDL_Renderer* renderer, SDL_Rect rect) {
  // A triangle pointing right, a third of the button in from each side.
  const int x0 = rect.x + rect.w / 3, top = rect.y + rect.h / 4, bottom = rect.y + rect.h - 1 - rect.h / 4;
  const int half = (bottom - top) / 2;
  for (int i = 0; i <= half; ++i) SDL_RenderDrawLine(renderer, x0 + i, top + i, x0 + i, bottom - i);
}

void draw_pause_icon(SDL_Renderer* renderer, SDL_Rect rect) {
  const int bar_w = std::max(2, rect.w / 6);
  const int top = rect.y + rect.h / 4, h = rect.h - 2 * (rect.h / 4);
  SDL_Rect left{rect.x + rect.w / 2 - bar_w - bar_w / 2, top, bar_w, h};
  SDL_Rect right{rect.x + rect.w / 2 + bar_w / 2 + (bar_w % 2), top, bar_w, h};
  SDL_RenderFillRect(renderer, &left);
  SDL_RenderFillRect(renderer, &right);
}

void draw_control_button(SDL_Renderer* renderer, SDL_Rect rect, Uint8 fill_alpha) {
  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
  SDL_SetRenderDrawColor(renderer, 40, 40, 60, fill_alpha);
  SDL_RenderFillRect(renderer, &rect);
  SDL_SetRenderDrawColor(renderer, 120, 150, 200, 200);
  SDL_RenderDrawRect(renderer, &rect);
  SDL_SetRenderDrawColor(renderer, 255, 255, 255, 220);
}

bool rect_contains(const SDL_Rect& r, int px, int py) {
  // Widened so rectangles reaching past INT_MAX cannot overflow the sum.
  const long long right = static_cast<long long>(r.x) + r.w;
  const long long bottom = static_cast<long long>(r.y) + r.h;
  return px >= r.x && px < right && py >= r.y && py < bottom;
}
