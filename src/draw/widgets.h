// Small shared drawing pieces: disc, icons and the control-button look.
// All use the renderer's current colour and blend mode unless stated.
#pragma once

#include <SDL.h>

void fill_circle(SDL_Renderer* renderer, int cx, int cy, int r);
void draw_camera_icon(SDL_Renderer* renderer, SDL_Rect rect);
void draw_speaker_icon(SDL_Renderer* renderer, SDL_Rect rect, bool crossed);
// The play triangle (shown while paused) and the two pause bars (while playing).
void draw_play_icon(SDL_Renderer* renderer, SDL_Rect rect);
void draw_pause_icon(SDL_Renderer* renderer, SDL_Rect rect);

// Blended fill (40, 40, 60, fill_alpha), outline (120, 150, 200, 200), then
// leaves the colour at (255, 255, 255, 220) for the icon.
void draw_control_button(SDL_Renderer* renderer, SDL_Rect rect, Uint8 fill_alpha);

// x <= px < x + w and y <= py < y + h; an all-zero rectangle contains nothing.
bool rect_contains(const SDL_Rect& rect, int px, int py);
