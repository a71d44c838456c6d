#include "convert/batch_screen.h"

#include <cstdio>
#include <system_error>
#include <thread>

#include "convert/remux.h"
#include "draw/sdl_handles.h"
#include "draw/text.h"

namespace {

constexpr Uint32 kFrameDelayMs = 50;
constexpr Uint32 kOutcomeDelayMs = 800;

void clear_screen(SDL_Renderer* renderer) {
  SDL_SetRenderDrawColor(renderer, 20, 20, 30, 255);
  SDL_RenderClear(renderer);
}

void draw_centred_text(SDL_Renderer* renderer, int w, int top, const char* text, int scale) {
  draw_text(renderer, (w - text_width(text, scale)) / 2, top, text, scale);
}

// The conversion cannot be cancelled: quit and close requests are dropped too.
void discard_events() {
  SDL_Event event;
  while (SDL_PollEvent(&event)) free_drop_text(event);
}

void convert_one(const std::string& input, const std::string& output, ConversionStatus& status) {
  ProgressCallback report = [&status](float fraction) { status.progress.store(fraction); };
  status.succeeded = remux_to_mp4(input, output, report);
  status.done.store(true);
}

// Runs one conversion on a worker thread while the screen redraws; false when
// the conversion failed or its thread could not start.
bool convert_with_progress(SDL_Window* window, SDL_Renderer* renderer, const std::string& input,
                           int index, int count) {
  const std::string output = mp4_output_path(input);
  ConversionStatus status;
  std::thread worker;
  try {
    worker = std::thread(convert_one, std::cref(input), std::cref(output), std::ref(status));
  } catch (const std::system_error&) {
    return false;
  }
  const bool drawing = window && renderer;
  while (!status.done.load()) {
    discard_events();
    if (drawing) {
      int w = 0;
      int h = 0;
      SDL_GetWindowSize(window, &w, &h);
      draw_conversion_frame(renderer, w, h, index, count, status.progress.load());
      SDL_RenderPresent(renderer);
    }
    SDL_Delay(kFrameDelayMs);
  }
  worker.join();
  return status.succeeded;
}

void show_outcome(SDL_Window* window, SDL_Renderer* renderer, bool succeeded) {
  if (window && renderer) {
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(window, &w, &h);
    draw_outcome_frame(renderer, w, h, succeeded);
    SDL_RenderPresent(renderer);
  }
  SDL_Delay(kOutcomeDelayMs);
}

}  // namespace

void draw_conversion_frame(SDL_Renderer* renderer, int w, int h, int index, int count,
                           float progress) {
  clear_screen(renderer);

  char counter[64];
  std::snprintf(counter, sizeof counter, "%d/%d", index + 1, count);
  SDL_SetRenderDrawColor(renderer, 200, 200, 200, 255);
  draw_centred_text(renderer, w, h / 2 - 60, counter, 3);

  const int bar_width = 2 * w / 3;
  const SDL_Rect track = {(w - bar_width) / 2, h / 2 - 10, bar_width, 20};
  SDL_SetRenderDrawColor(renderer, 60, 60, 80, 255);
  SDL_RenderFillRect(renderer, &track);
  const int fill_width = static_cast<int>(static_cast<float>(bar_width) * progress);
  if (fill_width > 0) {
    const SDL_Rect fill = {track.x, track.y, fill_width, track.h};
    SDL_SetRenderDrawColor(renderer, 50, 150, 255, 255);
    SDL_RenderFillRect(renderer, &fill);
  }

  char percent[16];
  std::snprintf(percent, sizeof percent, "%d", static_cast<int>(progress * 100.0f));
  SDL_SetRenderDrawColor(renderer, 255, 255, 255, 220);
  draw_centred_text(renderer, w, h / 2 + 20, percent, 2);
}

void draw_outcome_frame(SDL_Renderer* renderer, int w, int h, bool succeeded) {
  clear_screen(renderer);
  if (succeeded) {
    SDL_SetRenderDrawColor(renderer, 100, 255, 100, 255);
  } else {
    SDL_SetRenderDrawColor(renderer, 255, 60, 100, 255);
  }
  draw_centred_text(renderer, w, h / 2 - 10, succeeded ? "OK" : "ER", 4);
}

std::vector<bool> run_batch_conversion_with_results(SDL_Window* window, SDL_Renderer* renderer,
                                                    const std::vector<std::string>& paths) {
  std::vector<bool> results;
  const int count = static_cast<int>(paths.size());
  for (int k = 0; k < count; ++k) {
    const bool succeeded =
        convert_with_progress(window, renderer, paths[static_cast<size_t>(k)], k, count);
    show_outcome(window, renderer, succeeded);
    results.push_back(succeeded);
  }
  return results;
}

void run_batch_conversion(SDL_Window* window, SDL_Renderer* renderer,
                          const std::vector<std::string>& paths) {
  run_batch_conversion_with_results(window, renderer, paths);
}
