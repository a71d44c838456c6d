// The playback control bar drawn over the video, and the playback window title.
#pragma once

#include <SDL.h>

// Rectangles of the overlay's controls, rewritten each time it is drawn and
// hit-tested by the playback controls. Mute and volume are all zero without sound.
struct OverlayRects {
  SDL_Rect slower_button_rect{0, 0, 0, 0};
  SDL_Rect faster_button_rect{0, 0, 0, 0};
  SDL_Rect screenshot_button_rect{0, 0, 0, 0};
  SDL_Rect mute_button_rect{0, 0, 0, 0};
  SDL_Rect volume_slider_rect{0, 0, 0, 0};
};

// Process-wide, main thread only.
OverlayRects& overlay_rects();

void draw_playback_overlay(SDL_Renderer* renderer, SDL_Window* window, float progress,
                           double position_s, double duration_s, int s, bool paused,
                           double speed, bool audio_available, int volume, bool muted);
