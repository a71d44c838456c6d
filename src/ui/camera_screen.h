// The saved cameras: a list to watch one from, or all of them in a grid; the
// address typed can be added under a name, a camera's password kept (only
// when the user asks, protected for the user), a camera removed. Changes are
// written to the settings file at once.
#pragma once

#include <SDL.h>

#include <string>
#include <vector>

#include "ui/grid_view.h"
#include "ui/live_settings.h"

// What the list screen is showing and choosing.
struct CameraList {
  int selected = 0;  // row of the chosen camera
  bool confirm_remove = false;  // "remove? y/n" asked for the chosen camera
};

// One row's text: "<n>  <name>  <address without password>" and "  PASSWORD
// KEPT" when one is kept. The password itself never shows.
std::string camera_row_text(size_t index, const SavedCamera& camera);

// The cameras a grid shows for the saved ones (at most nine, with kept passwords).
std::vector<GridCamera> grid_cameras(const LiveSettings& settings);

// Draws the list (rows, the chosen one marked, the keys) without presenting.
void draw_camera_list(SDL_Renderer* renderer, SDL_Window* window, const LiveSettings& settings,
                      const CameraList& list, const std::string& typed_address);

// Runs the screen until Escape (true: back to the address entry) or a window
// close (false). `typed_address` is what the address field held: "A" adds it.
bool run_camera_screen(SDL_Window* window, SDL_Renderer* renderer, LiveSettings& settings,
                       const std::string& typed_address);
