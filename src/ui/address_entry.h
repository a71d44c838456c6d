// The RTSP address entry screen and the way into the live view.
#pragma once

#include <SDL.h>
#include <cstdint>
#include <string>
#include <vector>

// The text being edited and how the screen is to end.
struct AddressEntry {
  std::string text = "rtsp://";
  bool finishing = false;  // leave after drawing this frame
  bool accepted = false;   // finished with Return
};

// Applies one event: text input appends its bytes, Backspace drops the last
// byte, Return accepts, Escape and window close cancel; all else is ignored.
void handle_address_event(AddressEntry& entry, const SDL_Event& event);

// The address as the field shows it: the password (from the ":" after the
// user name up to the "@") as asterisks. Before the "@" is typed, text after a
// ":" that is not all digits (a port) is taken for a password being typed.
std::string masked_address(const std::string& text);

// Cuts `text` into lines no wider than `max_width` pixels at scale `s`,
// breaking at spaces where it can (a word wider than a line is cut).
std::vector<std::string> wrap_text(const std::string& text, int max_width, int s);

// True during the first half of every second since the screen opened.
bool address_caret_visible(uint32_t elapsed_ms);

// Draws one frame of the screen (field with the masked text, caret, prompt,
// and `error` under the field when not empty) without presenting.
void draw_address_frame(SDL_Renderer* renderer, SDL_Window* window, const std::string& text,
                        uint32_t elapsed_ms, const std::string& error = "");

// The edited address when confirmed with Return; empty on Escape or close.
// The field starts with `initial` and shows `error` under it until the text changes.
std::string ask_rtsp_address(SDL_Window* window, SDL_Renderer* renderer,
                             const std::string& initial = "rtsp://", const std::string& error = "");

// Asks for an address and runs the live view with it; a live view that fails
// brings the address back with the reason under it, until the user leaves
// the address entry with Escape (or a live view that worked).
void start_rtsp_view(SDL_Window* window, SDL_Renderer* renderer);
