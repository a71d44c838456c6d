// Placeholder until the overlay is built; keeps the program linkable.
#include "draw/overlay.h"

OverlayRects& overlay_rects() {
  static OverlayRects rects;
  return rects;
}
void draw_playback_overlay(SDL_Renderer*, SDL_Window*, float, double, double, int, bool, double,
                           bool, int, bool) {}
