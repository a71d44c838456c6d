// The RTSP address entry screen and the way into the live view.
#pragma once

#include <SDL.h>
#include <cstdint>
#include <string>

// The text being edited and how the screen is to end.
struct AddressEntry {
  std::string text = "rtsp://";
  bool finishing = false;  // leave after drawing this frame
  bool accepted = false;   // finished with Return
};

// Applies one event: text input appends its bytes, Backspace drops the last
// byte, Return accepts, Escape and window close cancel; all else is ignored.
void handle_address_event(AddressEntry& entry, const SDL_Event& event);

// True during the first half of every second since the screen opened.
bool address_caret_visible(uint32_t elapsed_ms);

// Draws one frame of the screen (field, text, caret, prompt) without presenting.
void draw_address_frame(SDL_Renderer* renderer, SDL_Window* window, const std::string& text,
                        uint32_t elapsed_ms);

// The edited address when confirmed with Return; empty on Escape or close.
std::string ask_rtsp_address(SDL_Window* window, SDL_Renderer* renderer);

// Asks for an address and, when one was confirmed, runs the live view.
void start_rtsp_view(SDL_Window* window, SDL_Renderer* renderer);
