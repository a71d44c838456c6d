// The start menu.
#pragma once

#include <SDL.h>
#include <string>

// Shows the menu, creating the shared window (960x600) and renderer when the
// window is null. Returns a path, "__CONVERT__", "__RTSP__" or empty (quit).
std::string run_start_menu(SDL_Window*& window, SDL_Renderer*& renderer, const char* program_path);

// Creates the shared 960x600 window and its renderer as the menu does; false
// (after printing SDL's error) when SDL cannot make them.
bool create_menu_window(SDL_Window*& window, SDL_Renderer*& renderer);
