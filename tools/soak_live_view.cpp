// Long run of the live view for leak and growth checks: shows an RTSP stream
// in a window for a given time, printing the process's resident memory every
// few seconds, then saves a screenshot (proof that pictures were shown) and
// leaves with Escape. Meant to run headless (SDL_VIDEODRIVER=dummy) in the
// sanitizer build, whose LeakSanitizer reports any leak at exit.
//   soak_live_view RTSP-URL SECONDS [SAMPLE-SECONDS (10)]
#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/program_info.h"
#include "ui/live_view.h"
#include "soak_memory.h"

namespace {

struct SoakClock {
  uint32_t started = 0;
  uint32_t seconds = 0;
  uint32_t sample_seconds = 10;
  std::vector<long> samples_kb;  // written by the timer thread only
  std::atomic<int> stage{0};     // 0 sampling, 1 screenshot asked, 2 leaving
};

// Runs on SDL's timer thread once a second.
uint32_t tick(uint32_t interval, void* data) {
  auto* clock = static_cast<SoakClock*>(data);
  const uint32_t elapsed = (SDL_GetTicks() - clock->started) / 1000;
  if (elapsed % clock->sample_seconds == 0) {
    clock->samples_kb.push_back(resident_kb());
    std::printf("t=%4us  resident %ld KiB\n", elapsed, clock->samples_kb.back());
  }
  if (elapsed >= clock->seconds && clock->stage == 0) {
    clock->stage = 1;
    push_key(SDLK_s);
  } else if (clock->stage == 1) {
    clock->stage = 2;
    push_key(SDLK_ESCAPE);
  }
  return interval;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (answer_help_or_version(argc, argv, "soak_live_view",
                             "Usage: soak_live_view RTSP-URL SECONDS [SAMPLE-SECONDS]\n"
                             "Runs the live view headless and prints its memory over time.\n")) {
    return 0;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: soak_live_view RTSP-URL SECONDS [SAMPLE-SECONDS]\n");
    return 2;
  }
  SoakClock clock;
  clock.seconds = static_cast<uint32_t>(std::atoi(argv[2]));
  if (argc > 3) clock.sample_seconds = static_cast<uint32_t>(std::max(1, std::atoi(argv[3])));
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) {
    std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
    return 1;
  }
  int status = 1;
  SDL_Window* window = SDL_CreateWindow("soak", 0, 0, 640, 480, 0);
  SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE) : nullptr;
  if (renderer) {
    clock.started = SDL_GetTicks();
    const SDL_TimerID timer = SDL_AddTimer(1000, tick, &clock);
    run_live_view(argv[1], window, renderer);
    SDL_RemoveTimer(timer);
    const uint32_t ran = (SDL_GetTicks() - clock.started) / 1000;
    print_memory_summary("live view", ran, clock.samples_kb);
    status = clock.stage == 2 ? 0 : 1;
    if (status != 0) std::printf("the live view ended before its time\n");
  } else {
    std::fprintf(stderr, "no window or renderer: %s\n", SDL_GetError());
  }
  if (renderer) SDL_DestroyRenderer(renderer);
  if (window) SDL_DestroyWindow(window);
  SDL_Quit();
  return status;
}
