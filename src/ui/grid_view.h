// Several cameras at once: a grid (one cell, 2x2, or 3x3) of live cameras,
// each with a session of its own that reconnects on its own. A click on a
// cell or its number key shows that camera large, with its sound, recording
// and every key of the live view; Escape there goes back to the grid.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rtsp/live_session.h"
#include "rtsp/live_recorder.h"

// Most cameras a grid shows.
constexpr size_t kMostGridCameras = 9;

// Where each of `count` cameras goes in a window `w` x `h`: the whole window
// for one, 2x2 for two to four, 3x3 for five to nine (more are left out),
// row by row, 2 pixels between cells. Pure arithmetic.
std::vector<SDL_Rect> grid_cells(int w, int h, size_t count);

// The cell under (x, y); -1 when none.
int grid_cell_at(const std::vector<SDL_Rect>& cells, int x, int y);

struct GridCamera {
  std::string name;
  std::string address;  // to connect to (a kept password in it)
};

// What a cell shows, for the watcher below.
struct GridCellStatus {
  LiveState state = LiveState::connecting;
  int64_t pictures_shown = 0;    // a cell shows the newest picture at each drawing
  int64_t pictures_decoded = 0;  // by its session
  uint64_t connection = 0;  // streams begun (1 after the first, 2 after a reconnect ...)
};

struct GridOptions {
  LiveSessionSettings session;    // keep_trying is set for every cell
  LiveRecorderSettings record;    // folder and split; each camera's recordings carry its name
  // Called on the main thread after every drawn frame; false leaves the grid.
  std::function<bool(const std::vector<GridCellStatus>&)> watch;
};

// Shows the cameras (at most kMostGridCameras) until Escape or a window
// close; every session ends with it. False when the window was closed.
bool run_camera_grid(SDL_Window* window, SDL_Renderer* renderer, const std::vector<GridCamera>& cameras,
                     const GridOptions& options);
