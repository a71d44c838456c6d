// Modal file-open dialogs for recordings, and the native owner handle. Their
// texts are in the user's language (chooser_texts.h); the paths they return
// are UTF-8, as every path in the program.
#pragma once

#include <SDL.h>
#include <string>
#include <vector>

// Native handle of the window for a dialog's owner; null without a window.
void* owner_window_handle(SDL_Window* window);

// One recording to play; empty when cancelled or failed. Opens in the last
// folder used.
std::string choose_recording(void* owner);

// The same, opening in `folder` (the last folder used when it is empty).
std::string choose_recording_in(void* owner, const std::string& folder);

// Recordings to convert, in the dialog's order; empty when cancelled or failed.
// Opens in the last folder used.
std::vector<std::string> choose_recordings(void* owner);

// Notes the folder of a recording chosen or played, where the next chooser
// opens. Process-wide, main thread only.
void remember_used_folder(const std::string& recording_path);

// The folder last noted, with its closing separator; empty before any.
const std::string& last_used_folder();

// The OFN_EXPLORER multi-select buffer: "dir\0name\0name\0\0" or "path\0\0".
std::vector<std::string> split_multiselect_result(const char* buffer, size_t size);
