// The RTSP address entry screen and the way into the live view.
#pragma once

#include <SDL.h>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/text_field.h"

// The text being edited and how the screen is to end.
struct AddressEntry {
  std::string text = "rtsp://";
  std::vector<std::string> recent;  // the last addresses, newest first (without passwords)
  int recent_index = -1;            // the recent address in the field; -1: the one being typed
  std::string typed;                // the text being typed while a recent one shows
  bool finishing = false;  // leave after drawing this frame
  bool accepted = false;   // finished with Return
  bool cameras = false;    // finished with F2: the saved cameras were asked for
};

// Applies one event: text input and pasted text (Ctrl+V, Shift+Insert) go in
// through insert_into_address, Backspace drops the last byte, Up and Down step
// through the recent addresses, Return accepts, F2 asks for the saved cameras,
// Escape and window close cancel; all else is ignored.
void handle_address_event(AddressEntry& entry, const SDL_Event& event);

// The field's text once `inserted` (typed or pasted) is added at its end.
// Pasted text is cut at its first line break and its surrounding white space
// dropped. A full address (one that starts with a scheme, "rtsp://...")
// replaces a field that holds only the scheme or a part of it, and a field
// that comes to start with the scheme twice ("rtsp://rtsp://") loses one.
std::string insert_into_address(const std::string& field, const std::string& inserted);

// The address to connect to for what the field holds: white space around it
// dropped, "rtsp://" put in front of an address typed without a scheme.
std::string address_to_connect(const std::string& text);

// The address as the field shows it: the password (from the ":" after the
// user name up to the "@") as asterisks. Before the "@" is typed, text after a
// ":" that is not all digits (a port) is taken for a password being typed.
std::string masked_address(const std::string& text);

// Draws one frame of the screen (field with the masked text, caret, prompt,
// `error` under the field when not empty, the recent addresses with the one
// in the field marked, the keys) without presenting.
void draw_address_frame(SDL_Renderer* renderer, SDL_Window* window, const std::string& text,
                        uint32_t elapsed_ms, const std::string& error = "",
                        const std::vector<std::string>& recent = {}, int recent_index = -1);

// How the address entry ended.
enum class AddressAnswer { cancelled, accepted, cameras };

// The edited address when confirmed with Return; empty on Escape or close
// (and on F2, which `answer` tells apart). The field starts with `initial` and
// shows `error` under it until the text changes; Up and Down bring `recent`.
std::string ask_rtsp_address(SDL_Window* window, SDL_Renderer* renderer,
                             const std::string& initial = "rtsp://", const std::string& error = "",
                             const std::vector<std::string>& recent = {}, AddressAnswer* answer = nullptr);

// Asks for an address and runs the live view with it; a live view that fails
// brings the address back with the reason under it, until the user leaves
// the address entry with Escape (or a live view that worked). The field opens
// with the last address used; every address that reads is remembered (never
// its password); a saved camera's kept password is used for its address; F2
// opens the saved cameras.
void start_rtsp_view(SDL_Window* window, SDL_Renderer* renderer);
