// Placeholder until the start menu is built; keeps the program linkable.
#include "app/menu.h"

std::string run_start_menu(SDL_Window*&, SDL_Renderer*&, const char*) { return ""; }
bool create_menu_window(SDL_Window*&, SDL_Renderer*&) { return false; }
