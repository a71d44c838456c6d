// The transient message: one process-wide line shown at the top centre of the
// window until its expiry tick. Main thread only.
#pragma once

#include <SDL.h>
#include <cstdint>

// Replaces the message (cut to 127 bytes) and shows it for duration_ms.
void show_toast(const char* text, uint32_t duration_ms);

// Draws the message at scale s if it is showing; sets blend mode and colour.
// A message wider than the window is drawn smaller, down to scale 1, and then
// cut in the middle.
void draw_toast(SDL_Renderer* renderer, SDL_Window* window, int s);

// The current text and whether it is showing at tick `now` (for tests and callers
// that report the same text elsewhere).
const char* toast_text();
bool toast_showing(uint32_t now);

// show_toast and draw_toast with the tick given instead of read from SDL.
void show_toast_at(const char* text, uint32_t duration_ms, uint32_t now);
void draw_toast_at(SDL_Renderer* renderer, SDL_Window* window, int s, uint32_t now);

// The dark box behind a message of this text at scale s in a window w wide:
// the text plus 4s on each side, its line (with descenders) plus 3s above and
// below, 30 pixels from the top.
SDL_Rect toast_box(int window_w, const char* text, int s);
