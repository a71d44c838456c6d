// Start-up and the action loop: one string, the current action, moves the user
// between the start menu, the file player, the conversion and the live view.
#pragma once

#include <SDL.h>

#include <functional>
#include <string>
#include <vector>

#include "player/actions.h"

enum class ActionKind { quit, convert, rtsp, play };

// Empty: quit; the two tokens compared whole and case-sensitively; anything
// else is a recording path.
ActionKind classify_action(const std::string& action);

// The screens the loop leads to; the program's own ones by default. Tests wrap
// them to see which ran.
struct Screens {
  std::function<std::string(SDL_Window*&, SDL_Renderer*&, const char*)> start_menu;
  std::function<std::string(const std::string&, SDL_Window*&, SDL_Renderer*&)> play;
  std::function<std::vector<std::string>(void*)> choose_recordings;
  std::function<void(SDL_Window*, SDL_Renderer*, const std::vector<std::string>&)> convert;
  std::function<void(SDL_Window*, SDL_Renderer*)> rtsp;
};
Screens program_screens();

// Runs the screen for one non-empty action and returns the next action.
// Conversion and live view, when there is no window yet, first create the
// shared 960x600 one.
std::string run_action(const std::string& action, SDL_Window*& window, SDL_Renderer*& renderer,
                       const char* program_path, const Screens& screens);

// The first action: argv[1] unchanged when there is one, else what the start
// menu returns.
std::string first_action(int argc, char** argv, SDL_Window*& window, SDL_Renderer*& renderer,
                         const Screens& screens);

// Runs actions until one is empty, then destroys the renderer and the window.
void run_action_loop(std::string action, SDL_Window*& window, SDL_Renderer*& renderer,
                     const char* program_path, const Screens& screens);

// The whole program: unbuffered output, SDL start-up (1 with a message on
// standard error when SDL cannot start), the first action from argv[1] or the
// start menu, the loop, SDL_Quit. Returns the exit code.
int run_application(int argc, char** argv, const Screens& screens);
