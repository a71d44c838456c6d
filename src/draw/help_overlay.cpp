#include "draw/help_overlay.h"

#include "draw/text.h"

namespace {

constexpr const char* kHeading = "KEYS  -  ANY KEY CLOSES";

// Upper case only: the font shows lower case as underlined capitals.
constexpr HelpLine kPlayerLines[] = {
    {"SPACE", "PAUSE / PLAY  -  AT THE END: PLAY AGAIN"},
    {"LEFT RIGHT", "5 S BACK / ON"},
    {"HOME", "FROM THE START"},
    {"UP DOWN", "FASTER / SLOWER"},
    {"PGDN PGUP", "NEXT / PREVIOUS RECORDING IN THE FOLDER"},
    {"A", "AUTO: NEXT RECORDING AT THE END ON / OFF"},
    {"M", "SOUND ON / OFF"},
    {"F", "FULL SCREEN"},
    {"S", "SCREENSHOT"},
    {"O", "OPEN A RECORDING"},
    {"C", "CONVERT TO MP4"},
    {"R", "LIVE STREAM"},
    {"ESC Q", "MENU"},
    {"F1 H", "THIS HELP"},
};

constexpr HelpLine kMenuLines[] = {
    {"O", "OPEN A RECORDING  -  OR DROP ONE ON THE WINDOW"},
    {"C", "CONVERT RECORDINGS TO MP4"},
    {"R", "LIVE STREAM FROM A CAMERA"},
    {"ESC Q", "QUIT"},
    {"F1 H", "THIS HELP"},
};

constexpr HelpLine kLiveLines[] = {
    {"R", "RECORD ON / OFF (.264, A NEW FILE NOW AND THEN)"},
    {"M", "SOUND ON / OFF"},
    {"UP DOWN", "LOUDER / SOFTER"},
    {"S", "SCREENSHOT"},
    {"ESC", "BACK"},
    {"F1 H", "THIS HELP"},
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
  l.line_h = 9 * s;
  const int pad = kPadding * s / 2;
  const int keys_w = widest(lines, true, s);
  int content_w = keys_w + 6 * s + widest(lines, false, s);
  const int heading_w = text_width(kHeading, s);
  if (heading_w > content_w) content_w = heading_w;
  const int content_h = l.line_h * (static_cast<int>(lines.size()) + 2) - 4 * s;
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
  HelpLayout l = layout_at(window_w, window_h, lines, 2);
  if (l.box.w > window_w || l.box.h > window_h) l = layout_at(window_w, window_h, lines, 1);
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
