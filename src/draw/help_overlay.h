// The key help shown over a screen in the built-in font: a dark box with one
// line per key, keys in amber, what they do in white.
#pragma once

#include <SDL.h>

#include <span>

struct HelpLine {
  const char* keys;    // e.g. "Left Right"
  const char* action;  // e.g. "5 s back / on"
};

// The keys of the file player, the start menu and the live view.
std::span<const HelpLine> player_help_lines();
std::span<const HelpLine> menu_help_lines();
std::span<const HelpLine> live_help_lines();

// The help box for `lines` centred in a window_w x window_h window: the
// window's text scale, or smaller down to 1 while the box would not fit.
// Pure arithmetic.
struct HelpLayout {
  int s = 2;
  SDL_Rect box{};
  int keys_x = 0;    // pen of the key column
  int action_x = 0;  // pen of the action column
  int first_y = 0;   // top of the heading line
  int line_h = 0;    // distance between lines
};
HelpLayout layout_help(int window_w, int window_h, std::span<const HelpLine> lines);

// Draws the box over whatever is in the frame (blended). Does not present.
void draw_help_overlay(SDL_Renderer* renderer, SDL_Window* window,
                       std::span<const HelpLine> lines);
