// The transient message: one process-wide line shown at the top centre of the
// window until its expiry tick. Main thread only.
#pragma once

#include <SDL.h>
#include <cstdint>

// Replaces the message (cut to 127 bytes) and shows it for duration_ms.
void show_toast(const char* text, uint32_t duration_ms);

// Draws the message at scale s if it is showing; sets blend mode and colour.
void draw_toast(SDL_Renderer* renderer, SDL_Window* window, int s);

// The current text and whether it is showing at tick `now` (for tests and callers
// that report the same text elsewhere).
const char* toast_text();
bool toast_showing(uint32_t now);
