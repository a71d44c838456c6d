#include "ui/text_field.h"

#include "draw/sdl_handles.h"
#include "draw/text.h"

namespace {

void paste_into(TextQuestion& question) {
  char* clipboard = SDL_GetClipboardText();
  if (!clipboard) return;
  std::string pasted = clipboard;
  SDL_free(clipboard);
  question.text += pasted.substr(0, pasted.find_first_of("\r\n"));
}

}  // namespace

std::vector<std::string> wrap_text(const std::string& text, int max_width, int s) {
  std::vector<std::string> lines;
  std::string line;
  auto fits = [&](const std::string& candidate) { return text_width(candidate.c_str(), s) <= max_width; };
  size_t from = 0;
  while (from < text.size()) {
    size_t space = text.find(' ', from);
    std::string word = text.substr(from, space == std::string::npos ? std::string::npos : space - from);
    from = space == std::string::npos ? text.size() : space + 1;
    std::string joined = line.empty() ? word : line + " " + word;
    if (fits(joined)) {
      line = joined;
      continue;
    }
    if (!line.empty()) lines.push_back(line);
    line.clear();
    // A word wider than a line is cut where it must be.
    for (char c : word) {
      if (!line.empty() && !fits(line + c)) {
        lines.push_back(line);
        line.clear();
      }
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

bool address_caret_visible(uint32_t elapsed_ms) { return (elapsed_ms / 500) % 2 == 0; }

void handle_text_question(TextQuestion& question, const SDL_Event& event) {
  if (event.type == SDL_QUIT) {
    question.finishing = true;
    question.closed = true;
  } else if (event.type == SDL_TEXTINPUT) {
    question.text += event.text.text;
  } else if (event.type == SDL_KEYDOWN) {
    const SDL_Keysym& key = event.key.keysym;
    if (key.sym == SDLK_ESCAPE) {
      question.finishing = true;
    } else if (key.sym == SDLK_RETURN || key.sym == SDLK_KP_ENTER) {
      question.finishing = true;
      question.accepted = true;
    } else if (key.sym == SDLK_BACKSPACE && !question.text.empty()) {
      question.text.pop_back();
    } else if ((key.sym == SDLK_v && (key.mod & KMOD_CTRL)) || (key.sym == SDLK_INSERT && (key.mod & KMOD_SHIFT))) {
      paste_into(question);
    }
  } else {
    free_drop_text(event);
  }
}

SDL_Rect draw_field_frame(SDL_Renderer* renderer, SDL_Window* window, const std::string& shown,
                          uint32_t elapsed_ms) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  SDL_SetRenderDrawColor(renderer, 15, 15, 25, 255);
  SDL_RenderClear(renderer);

  const int box_w = 3 * w / 4;
  const SDL_Rect box{(w - box_w) / 2, h / 2 - 20, box_w, 40};
  SDL_SetRenderDrawColor(renderer, 50, 50, 70, 255);
  SDL_RenderFillRect(renderer, &box);
  SDL_SetRenderDrawColor(renderer, 100, 150, 255, 255);
  SDL_RenderDrawRect(renderer, &box);

  // Long text runs past the box: nothing is clipped or scrolled.
  SDL_SetRenderDrawColor(renderer, 200, 230, 255, 255);
  const int text_y = box.y + (box.h - text_height(2)) / 2;
  draw_text(renderer, box.x + 8, text_y, shown.c_str(), 2);

  if (address_caret_visible(elapsed_ms)) {
    const SDL_Rect caret{box.x + 8 + text_width(shown.c_str(), 2), text_y, 2, text_height(2)};
    SDL_SetRenderDrawColor(renderer, 255, 255, 255, 200);
    SDL_RenderFillRect(renderer, &caret);
  }
  return box;
}

void draw_text_question(SDL_Renderer* renderer, SDL_Window* window, const TextQuestion& question,
                        uint32_t elapsed_ms) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  const int box_w = 3 * w / 4;
  draw_field_frame(renderer, window, question.secret ? std::string(question.text.size(), '*') : question.text,
                   elapsed_ms);
  SDL_SetRenderDrawColor(renderer, 150, 180, 220, 200);
  int y = h / 2 - 40;
  const std::vector<std::string> lines = wrap_text(question.prompt + "  (ENTER / ESC)", box_w, 2);
  const int line_step = text_line_height(2) + 4;
  y -= line_step * (static_cast<int>(lines.size()) - 1);
  for (const std::string& line : lines) {
    draw_text(renderer, (w - text_width(line.c_str(), 2)) / 2, y, line.c_str(), 2);
    y += line_step;
  }
}

bool ask_text(SDL_Window* window, SDL_Renderer* renderer, TextQuestion& question) {
  question.finishing = question.accepted = question.closed = false;
  const uint32_t start = SDL_GetTicks();
  SDL_StartTextInput();
  while (!question.finishing) {
    SDL_Event event;
    while (!question.finishing && SDL_PollEvent(&event)) handle_text_question(question, event);
    draw_text_question(renderer, window, question, SDL_GetTicks() - start);
    SDL_RenderPresent(renderer);
    SDL_Delay(16);
  }
  SDL_StopTextInput();
  return question.accepted;
}
