// The RTSP address entry screen and the way into the live view.
#pragma once

#include <SDL.h>
#include <string>

// The edited address when confirmed with Return; empty on Escape or close.
std::string ask_rtsp_address(SDL_Window* window, SDL_Renderer* renderer);

// Asks for an address and, when one was confirmed, runs the live view.
void start_rtsp_view(SDL_Window* window, SDL_Renderer* renderer);
