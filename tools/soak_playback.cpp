// Long run of the file player for leak and growth checks: plays a recording
// at 8x with its pacing (as a user who pressed the speed key up to the top),
// printing the process's resident memory every N pictures, then leaves the
// finished state with a key. Meant to run headless (SDL_VIDEODRIVER=dummy,
// SDL_AUDIODRIVER=dummy) in the sanitizer build, whose LeakSanitizer reports
// any leak at exit.
//   soak_playback RECORDING [SAMPLE-EVERY-PICTURES (500)]
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/program_info.h"
#include "player/engine.h"
#include "soak_memory.h"

namespace {

constexpr int kTopSpeedIndex = kSpeedStepCount - 1;  // 8x

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (answer_help_or_version(argc, argv, "soak_playback",
                             "Usage: soak_playback RECORDING [SAMPLE-EVERY-PICTURES]\n"
                             "Plays a recording headless at top speed and prints its memory.\n")) {
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: soak_playback RECORDING [SAMPLE-EVERY-PICTURES]\n");
    return 2;
  }
  const int64_t every = argc > 2 ? std::max(1, std::atoi(argv[2])) : 500;
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) {
    std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
    return 1;
  }
  SDL_InitSubSystem(SDL_INIT_AUDIO);  // optional, as in the player
  std::vector<long> samples;
  PlaybackStats stats;
  PlaybackOptions options;
  options.stats_out = &stats;
  options.on_picture = [&](PlayerState& st) {
    if (st.speed_index != kTopSpeedIndex) set_speed(st, kTopSpeedIndex);
    if (st.stats.pictures_shown % every == 0) {
      samples.push_back(resident_kb());
      std::printf("picture %6lld  resident %ld KiB\n", static_cast<long long>(st.stats.pictures_shown),
                  samples.back());
    }
  };
  bool finished = false;
  options.on_finished = [&](PlayerState&) {
    finished = true;
    push_key(SDLK_ESCAPE);  // Escape leaves the finished state (Space plays again)
  };
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  const uint32_t started = SDL_GetTicks();
  play_recording_with(argv[1], window, renderer, options);
  const unsigned seconds = (SDL_GetTicks() - started) / 1000;
  if (renderer) SDL_DestroyRenderer(renderer);
  if (window) SDL_DestroyWindow(window);
  SDL_Quit();
  std::printf("pictures shown %lld, drained %lld, slices sent %lld\n",
              static_cast<long long>(stats.pictures_shown), static_cast<long long>(stats.pictures_drained),
              static_cast<long long>(stats.slices_sent));
  print_memory_summary("playback at 8x", seconds, samples);
  if (!finished) std::printf("the playback did not reach its end\n");
  return finished ? 0 : 1;
}
