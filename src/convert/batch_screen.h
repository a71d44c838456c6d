// The batch conversion screen.
#pragma once

#include <SDL.h>

#include <atomic>
#include <string>
#include <vector>

// Shared between the screen and one recording's worker. The worker stores
// `progress` and `done` atomically; it writes `succeeded` before it stores
// `done`, and the screen reads `succeeded` only after joining the worker.
struct ConversionStatus {
  std::atomic<float> progress{0.0f};
  std::atomic<bool> done{false};
  bool succeeded = false;
};

// Converts each path on a worker thread with a progress screen and an
// "OK"/"ER" outcome; draws nothing when window or renderer is null.
void run_batch_conversion(SDL_Window* window, SDL_Renderer* renderer,
                          const std::vector<std::string>& paths);

// The same, returning whether each conversion succeeded, in path order. A
// worker thread that cannot start counts as a failed conversion.
std::vector<bool> run_batch_conversion_with_results(SDL_Window* window, SDL_Renderer* renderer,
                                                    const std::vector<std::string>& paths);

// One progress frame for recording `index` (from 0) of `count` on a W x H
// window: counter, bar track and fill, percentage. Does not present.
void draw_conversion_frame(SDL_Renderer* renderer, int w, int h, int index, int count,
                           float progress);

// The outcome frame: "OK" in green or "ER" in red, centred. Does not present.
void draw_outcome_frame(SDL_Renderer* renderer, int w, int h, bool succeeded);
