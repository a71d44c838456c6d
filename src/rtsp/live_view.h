// The live view: one camera's RTSP stream shown in the shared window.
#pragma once

#include <SDL.h>
#include <string>

// Parses the address, negotiates the stream and shows its pictures until
// Escape or window close, then sends TEARDOWN. Failures show "ERR" or "401"
// for 2000 ms and print the same word with a short reason.
void run_live_view(const std::string& address, SDL_Window* window, SDL_Renderer* renderer);
