// Placeholder until the live view is built; keeps the program linkable.
#include "rtsp/live_view.h"

void run_live_view(const std::string&, SDL_Window*, SDL_Renderer*) {}
