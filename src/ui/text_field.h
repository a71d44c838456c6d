// Text fields in the window: what every field shares (wrapping lines, the
// caret's blink), and a one-line question: a prompt, a field the user types
// into (Ctrl+V pastes), Return to answer, Escape to cancel. For a camera's
// name or password; a password is drawn as asterisks and never leaves the
// field otherwise.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

// Cuts `text` into lines no wider than `max_width` pixels at scale `s`,
// breaking at spaces where it can (a word wider than a line is cut).
std::vector<std::string> wrap_text(const std::string& text, int max_width, int s);

// True during the first half of every second since the screen opened.
bool address_caret_visible(uint32_t elapsed_ms);

// Clears the window and draws the field: a box across the middle three
// quarters with `shown` in it and the blinking caret after it. Returns the box.
SDL_Rect draw_field_frame(SDL_Renderer* renderer, SDL_Window* window, const std::string& shown,
                          uint32_t elapsed_ms);

struct TextQuestion {
  std::string prompt;
  std::string text;     // starts as the field's content
  bool secret = false;  // drawn as asterisks
  bool finishing = false;
  bool accepted = false;
  bool closed = false;  // the window was closed
};

// Applies one event to the question (text input, Backspace, Ctrl+V or
// Shift+Insert, Return, Escape, window close).
void handle_text_question(TextQuestion& question, const SDL_Event& event);

// Draws the question (prompt above a field with the text, or asterisks, and
// a caret) without presenting.
void draw_text_question(SDL_Renderer* renderer, SDL_Window* window, const TextQuestion& question,
                        uint32_t elapsed_ms);

// Asks until Return (true, the answer in `question.text`), Escape or window
// close (false; `question.closed` tells the close).
bool ask_text(SDL_Window* window, SDL_Renderer* renderer, TextQuestion& question);
