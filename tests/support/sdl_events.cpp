#include "sdl_events.h"

#include <gtest/gtest.h>

namespace {

bool push(SDL_Event& event) {
  if (SDL_PushEvent(&event) > 0) return true;
  ADD_FAILURE() << "SDL_PushEvent: " << SDL_GetError();
  return false;
}

}  // namespace

SDL_Event key_event(SDL_Keycode key) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.state = SDL_PRESSED;
  e.key.keysym.sym = key;
  e.key.keysym.scancode = SDL_GetScancodeFromKey(key);
  return e;
}

void push_key(SDL_Keycode key) {
  SDL_Event e = key_event(key);
  push(e);
}

void push_quit() {
  SDL_Event e{};
  e.type = SDL_QUIT;
  push(e);
}

void push_drop(const std::string& path) {
  SDL_Event e{};
  e.type = SDL_DROPFILE;
  e.drop.file = SDL_strdup(path.c_str());
  if (!push(e)) SDL_free(e.drop.file);  // nobody else will free it
}

void push_mouse_button(bool down, int x, int y, Uint8 button, Uint8 clicks) {
  SDL_Event e{};
  e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
  e.button.button = button;
  e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.button.clicks = clicks;
  e.button.x = x;
  e.button.y = y;
  push(e);
}

void push_mouse_motion(int x, int y) {
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION;
  e.motion.x = x;
  e.motion.y = y;
  push(e);
}

void push_mouse_wheel(int notches, int x, int y) {
  SDL_Event e{};
  e.type = SDL_MOUSEWHEEL;
  e.wheel.y = notches;
  e.wheel.preciseY = static_cast<float>(notches);
  e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
  e.wheel.mouseX = x;
  e.wheel.mouseY = y;
  push(e);
}

void drop_pending_events() {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT) SDL_free(e.drop.file);
  }
}
