#include "draw/help_overlay.h"

#include "draw/text.h"

namespace {

constexpr const char* kHeading = "Keys  -  any key closes this";

constexpr HelpLine kPlayerLines[] = {
    {"Space", "pause / play  -  at the end: play again"},
    {". ,", "next / previous picture (pauses)"},
    {"Left Right", "5 s back / on"},
    {"Home", "from the start"},
    {"Up Down", "faster / slower"},
    {"PgDn PgUp", "next / previous recording in the folder"},
    {"N  Shift+N", "next / previous activity"},
    {"K", "skip the quiet: 8x, activity at 1x"},
    {"[  ]", "mark the start / end of a stretch"},
    {"Backspace", "clear the marks"},
    {"E", "export the marked stretch to MP4"},
    {"A", "auto: next recording at the end on / off"},
    {"T", "time of day or elapsed time large"},
    {"Wheel  0", "zoom at the pointer (drag)  -  whole picture"},
    {"Click", "pause / play  -  double-click: full screen"},
    {"M  F  S", "sound  -  full screen  -  screenshot"},
    {"O  C  R", "open  -  convert to MP4  -  live stream"},
    {"Esc Q", "menu"},
    {"F1 H", "this help"},
};

constexpr HelpLine kMenuLines[] = {
    {"O", "open a recording  -  or drop one on the window"},
    {"C", "convert recordings to MP4"},
    {"R", "live stream from a camera"},
    {"Esc Q", "quit"},
    {"F1 H", "this help"},
};

constexpr HelpLine kLiveLines[] = {
    {"R", "record on / off (.264)"},
    {"M", "sound on / off"},
    {"Up Down", "louder / softer"},
    {"S", "screenshot"},
    {"Wheel  0", "zoom (drag moves)  -  whole picture"},
    {"Esc", "back"},
    {"F1 H", "this help"},
};

constexpr int kPadding = 8;  // in text cells

int widest(std::span<const HelpLine> lines, bool keys, int s) {
  int w = 0;
  for (const HelpLine& line : lines) {
    const int lw = text_width(keys ? line.keys : line.action, s);
    if (lw > w) w = lw;
  }
  return w;
}

HelpLayout layout_at(int window_w, int window_h, std::span<const HelpLine> lines, int s) {
  HelpLayout l;
  l.s = s;
  l.line_h = text_line_height(s) + 2 * s;
  const int pad = kPadding * s / 2;
  const int keys_w = widest(lines, true, s);
  int content_w = keys_w + 6 * s + widest(lines, false, s);
  const int heading_w = text_width(kHeading, s);
  if (heading_w > content_w) content_w = heading_w;
  const int content_h = l.line_h * (static_cast<int>(lines.size()) + 2) - 2 * s;
  l.box = {(window_w - content_w) / 2 - pad, (window_h - content_h) / 2 - pad,
           content_w + 2 * pad, content_h + 2 * pad};
  l.keys_x = l.box.x + pad;
  l.action_x = l.keys_x + keys_w + 6 * s;
  l.first_y = l.box.y + pad;
  return l;
}

void draw_line(SDL_Renderer* renderer, int x, int y, const char* text, int s, SDL_Color c) {
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, 180);
  draw_text(renderer, x + 1, y + 1, text, s);
  SDL_SetRenderDrawColor(renderer, c.r, c.g, c.b, c.a);
  draw_text(renderer, x, y, text, s);
}

}  // namespace

std::span<const HelpLine> player_help_lines() { return kPlayerLines; }
std::span<const HelpLine> menu_help_lines() { return kMenuLines; }
std::span<const HelpLine> live_help_lines() { return kLiveLines; }

HelpLayout layout_help(int window_w, int window_h, std::span<const HelpLine> lines) {
  int s = text_scale_for_window(window_w, window_h);
  HelpLayout l = layout_at(window_w, window_h, lines, s);
  while (s > 1 && (l.box.w > window_w || l.box.h > window_h)) l = layout_at(window_w, window_h, lines, --s);
  return l;
}

void draw_help_overlay(SDL_Renderer* renderer, SDL_Window* window,
                       std::span<const HelpLine> lines) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  const HelpLayout l = layout_help(w, h, lines);
  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
  // Dark enough that menu buttons or a busy picture behind do not show through the text.
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, 230);
  SDL_RenderFillRect(renderer, &l.box);
  SDL_SetRenderDrawColor(renderer, 120, 150, 200, 200);
  SDL_RenderDrawRect(renderer, &l.box);
  draw_line(renderer, l.keys_x, l.first_y, kHeading, l.s, {200, 200, 200, 240});
  int y = l.first_y + 2 * l.line_h;
  for (const HelpLine& line : lines) {
    draw_line(renderer, l.keys_x, y, line.keys, l.s, {255, 200, 50, 240});
    draw_line(renderer, l.action_x, y, line.action, l.s, {255, 255, 255, 235});
    y += l.line_h;
  }
}
