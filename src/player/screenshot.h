// BMP screenshots of the picture a player shows.
#pragma once

#include <SDL.h>
#include <ctime>
#include <string>

// "screenshot_YYYYMMDD_HHMMSS.bmp" for a broken-down local time (tm_year counts
// from 1900, tm_mon from 0). At most 255 bytes whatever the field values.
std::string screenshot_file_name(const std::tm& local_time);

// Reads the renderer's current target at the window's size and writes
// "screenshot_YYYYMMDD_HHMMSS.bmp" in the working folder; prints
// "Screenshot: <name>". False (silently) on any failure.
bool save_screenshot(SDL_Renderer* renderer, SDL_Window* window);

// A player's capture action: nothing without a texture; otherwise redraws the
// bare picture stretched over the window, saves it and on success shows
// "  OK  " for 2000 ms. Nothing is presented. True when a file was written.
bool capture_screenshot(SDL_Renderer* renderer, SDL_Window* window, SDL_Texture* texture);
