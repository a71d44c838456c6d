// Placeholder until the choosers are built; keeps the program linkable.
#include "app/choosers.h"

void* owner_window_handle(SDL_Window*) { return nullptr; }
std::string choose_recording(void*) { return ""; }
std::vector<std::string> choose_recordings(void*) { return {}; }
std::vector<std::string> split_multiselect_result(const char*, size_t) { return {}; }
