// Placeholder until the transient message is built; keeps the program linkable.
#include "draw/toast.h"

void show_toast(const char*, uint32_t) {}
void draw_toast(SDL_Renderer*, SDL_Window*, int) {}
const char* toast_text() { return ""; }
bool toast_showing(uint32_t) { return false; }
