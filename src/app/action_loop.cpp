#include "app/action_loop.h"

#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/choosers.h"
#include "app/menu.h"
#include "ui/batch_screen.h"
#include "player/engine.h"
#include "ui/address_entry.h"

namespace {

void ensure_shared_window(SDL_Window*& window, SDL_Renderer*& renderer) {
  if (!window) create_menu_window(window, renderer);
}

void run_conversion(SDL_Window*& window, SDL_Renderer*& renderer, const Screens& screens) {
  ensure_shared_window(window, renderer);
  const std::vector<std::string> paths = screens.choose_recordings(owner_window_handle(window));
  if (!paths.empty()) screens.convert(window, renderer, paths);
}

void run_live_view(SDL_Window*& window, SDL_Renderer*& renderer, const Screens& screens) {
  ensure_shared_window(window, renderer);
  screens.rtsp(window, renderer);
}

void destroy_shared_window(SDL_Window*& window, SDL_Renderer*& renderer) {
  if (renderer) SDL_DestroyRenderer(renderer);
  if (window) SDL_DestroyWindow(window);
  renderer = nullptr;
  window = nullptr;
}

}  // namespace

ActionKind classify_action(const std::string& action) {
  if (action.empty()) return ActionKind::quit;
  if (action == kConvertAction) return ActionKind::convert;
  if (action == kRtspAction) return ActionKind::rtsp;
  return ActionKind::play;
}

Screens program_screens() {
  Screens screens;
  screens.start_menu = run_start_menu;
  screens.play = play_recording;
  screens.choose_recordings = choose_recordings;
  screens.convert = run_batch_conversion;
  screens.rtsp = start_rtsp_view;
  return screens;
}

std::string run_action(const std::string& action, SDL_Window*& window, SDL_Renderer*& renderer,
                       const char* program_path, const Screens& screens) {
  std::string next = action;
  if (classify_action(next) == ActionKind::play) {
    next = screens.play(next, window, renderer);
    // A path named by the player plays next without passing through the menu.
    if (classify_action(next) == ActionKind::play) return next;
    if (classify_action(next) == ActionKind::quit) {
      return screens.start_menu(window, renderer, program_path);
    }
  }
  switch (classify_action(next)) {
    case ActionKind::convert: run_conversion(window, renderer, screens); break;
    case ActionKind::rtsp: run_live_view(window, renderer, screens); break;
    default: return "";
  }
  return screens.start_menu(window, renderer, program_path);
}

std::string first_action(int argc, char** argv, SDL_Window*& window, SDL_Renderer*& renderer,
                         const Screens& screens) {
  if (argc >= 2) return argv[1];
  return screens.start_menu(window, renderer, argc > 0 ? argv[0] : "");
}

void run_action_loop(std::string action, SDL_Window*& window, SDL_Renderer*& renderer,
                     const char* program_path, const Screens& screens) {
  while (!action.empty()) action = run_action(action, window, renderer, program_path, screens);
  destroy_shared_window(window, renderer);
}

int run_application(int argc, char** argv, const Screens& screens) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // The decoder's own diagnostics (for instance about parameter sets sent in
  // packets of their own) are not for the user: the program reports on
  // standard output and keeps standard error for SDL start-up failures.
  av_log_set_level(AV_LOG_QUIET);
  if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO | SDL_INIT_EVENTS) < 0) {
    std::fprintf(stderr, "SDL init failed: %s\n", SDL_GetError());
    return 1;
  }
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
    std::fprintf(stderr, "SDL audio init failed (continuing without audio): %s\n",
                 SDL_GetError());
  }
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  const char* program_path = argc > 0 ? argv[0] : "";
  run_action_loop(first_action(argc, argv, window, renderer, screens), window, renderer,
                  program_path, screens);
  SDL_Quit();
  return 0;
}
