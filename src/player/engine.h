// The file player: plays one recording in the shared window.
#pragma once

#include <SDL.h>
#include <string>

// Plays `path`, creating the window and renderer from the first picture when
// they are null. Returns the next action: empty (back to the menu), a path,
// "__CONVERT__" or "__RTSP__".
std::string play_recording(const std::string& path, SDL_Window*& window, SDL_Renderer*& renderer);
