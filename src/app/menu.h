// The start menu.
#pragma once

#include <SDL.h>
#include <array>
#include <string>

// Shows the menu, creating the shared window (960x600) and renderer when the
// window is null. Returns a path, kConvertAction, kRtspAction or empty (quit).
std::string run_start_menu(SDL_Window*& window, SDL_Renderer*& renderer, const char* program_path);

// Creates the shared 960x600 window (smaller, same shape, when the screen's
// usable area is smaller) and its renderer as the menu does; false
// (after printing SDL's error) when SDL cannot make them.
bool create_menu_window(SDL_Window*& window, SDL_Renderer*& renderer);

// One of the four menu buttons: its key-cap letter, label and place.
struct MenuButton {
  const char* letter;
  const char* label;
  SDL_Rect rect;
};

// What an event asks the menu to do.
enum class MenuCommand { none, open, convert, rtsp, quit, help };

// Where the menu stands within one visit.
struct MenuState {
  std::string result;
  bool done = false;
  bool help_visible = false;  // the key help is drawn over the menu; any key hides it
};

// The four buttons (Open, Convert, RTSP, Quit) laid out for a W x H window at
// its text scale s (text_scale_for_window): 110s x 19s, centred, the first 52s
// above the middle, 25s apart (220 x 38, 104 and 50 at scale 2).
std::array<MenuButton, 4> menu_buttons(int window_width, int window_height);

// The key cap inside a button at text scale s: 9s x 11s, 4s in, centred vertically.
SDL_Rect menu_key_cap(const SDL_Rect& button, int s);

// Where the logo goes: at its own size, or shrunk to half the window width
// when wider than that; centred, 40 pixels from the top.
SDL_Rect menu_logo_rect(int window_width, int logo_width, int logo_height);

// The command of a key (by key code, so Shift and Caps Lock do not matter).
MenuCommand menu_command_for_key(SDL_Keycode key);

// The command of a left click at (x, y): the button under it, else none.
MenuCommand menu_command_for_click(const std::array<MenuButton, 4>& buttons, int x, int y);

// Applies one event to the state. Later events overwrite the result of earlier
// ones, a quit keeps it. The open command runs the file chooser (modal).
void handle_menu_event(const SDL_Event& event, const std::array<MenuButton, 4>& buttons,
                       SDL_Window* window, MenuState& state);

// Draws one menu frame (background, logo if any, buttons) without presenting.
void draw_menu(SDL_Renderer* renderer, int window_width, int window_height, SDL_Texture* logo,
               int logo_width, int logo_height);
