// Modal file-open dialogs for recordings, and the native owner handle.
#pragma once

#include <SDL.h>
#include <string>
#include <vector>

// Native handle of the window for a dialog's owner; null without a window.
void* owner_window_handle(SDL_Window* window);

// One recording to play; empty when cancelled or failed.
std::string choose_recording(void* owner);

// Recordings to convert, in the dialog's order; empty when cancelled or failed.
std::vector<std::string> choose_recordings(void* owner);

// The OFN_EXPLORER multi-select buffer: "dir\0name\0name\0\0" or "path\0\0".
std::vector<std::string> split_multiselect_result(const char* buffer, size_t size);
