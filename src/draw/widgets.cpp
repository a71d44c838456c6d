// Placeholder until the widgets are built; keeps the program linkable.
#include "draw/widgets.h"

void fill_circle(SDL_Renderer*, int, int, int) {}
void draw_camera_icon(SDL_Renderer*, SDL_Rect) {}
void draw_speaker_icon(SDL_Renderer*, SDL_Rect, bool) {}
void draw_control_button(SDL_Renderer*, SDL_Rect, Uint8) {}
bool rect_contains(const SDL_Rect& r, int px, int py) {
  return px >= r.x && px < r.x + r.w && py >= r.y && py < r.y + r.h;
}
