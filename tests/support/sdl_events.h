// Events as SDL would queue them, for tests that drive a screen through its
// event loop.
#pragma once

#include <SDL.h>

#include <string>

// A key press of `key`, with its scan code, as SDL delivers it.
SDL_Event key_event(SDL_Keycode key);

// Push one event each; a push SDL refuses is a test failure. Safe from a
// thread other than the one running the screen.
void push_key(SDL_Keycode key);
void push_quit();
void push_drop(const std::string& path);
// `clicks` is 2 for the second press and release of a double-click.
void push_mouse_button(bool down, int x, int y, Uint8 button = SDL_BUTTON_LEFT, Uint8 clicks = 1);
void push_mouse_motion(int x, int y);
// A wheel turn of `notches` (positive: away from the user) with the pointer at (x, y).
void push_mouse_wheel(int notches, int x, int y);

// Takes every queued event out, freeing the text of drops.
void drop_pending_events();
