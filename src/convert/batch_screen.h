// The batch conversion screen.
#pragma once

#include <SDL.h>
#include <string>
#include <vector>

// Converts each path on a worker thread with a progress screen and an
// "OK"/"ER" outcome; draws nothing when window or renderer is null.
void run_batch_conversion(SDL_Window* window, SDL_Renderer* renderer,
                          const std::vector<std::string>& paths);
