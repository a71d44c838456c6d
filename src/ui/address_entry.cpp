#include "ui/address_entry.h"

#include "draw/sdl_handles.h"
#include "draw/text.h"
#include "ui/live_view.h"

void handle_address_event(AddressEntry& entry, const SDL_Event& event) {
  if (event.type == SDL_QUIT) {
    entry.finishing = true;
  } else if (event.type == SDL_TEXTINPUT) {
    entry.text += event.text.text;  // its bytes up to the terminating zero
  } else if (event.type == SDL_KEYDOWN) {
    SDL_Keycode key = event.key.keysym.sym;
    if (key == SDLK_ESCAPE) {
      entry.finishing = true;
    } else if (key == SDLK_RETURN) {
      entry.finishing = true;
      entry.accepted = true;
    } else if (key == SDLK_BACKSPACE && !entry.text.empty()) {
      // One byte, even inside a multi-byte character: editing works on bytes.
      entry.text.pop_back();
    }
  } else {
    free_drop_text(event);
  }
}

std::string masked_address(const std::string& text) {
  size_t scheme = text.find("://");
  if (scheme == std::string::npos) return text;
  const size_t start = scheme + 3;
  size_t at = text.find('@', start);
  // Before any "@", a host in brackets is an IPv6 literal whose colons are no
  // password's: the ":" of a port comes after its "]" (while the literal is
  // being typed, nothing is masked).
  size_t from = start;
  if (at == std::string::npos && text.compare(start, 1, "[") == 0) {
    from = text.find(']', start);
    if (from == std::string::npos) return text;
  }
  size_t colon = text.find(':', from);
  if (colon == std::string::npos) return text;
  size_t end;
  if (at != std::string::npos) {
    if (colon > at) return text;  // a user name alone
    end = at;
  } else {
    end = text.find('/', colon);
    if (end == std::string::npos) end = text.size();
    bool all_digits = true;
    for (size_t i = colon + 1; i < end; ++i) all_digits = all_digits && text[i] >= '0' && text[i] <= '9';
    if (all_digits) return text;  // host:port
  }
  std::string shown = text;
  for (size_t i = colon + 1; i < end; ++i) shown[i] = '*';
  return shown;
}

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

void draw_address_frame(SDL_Renderer* renderer, SDL_Window* window, const std::string& text,
                        uint32_t elapsed_ms, const std::string& error) {
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
  const std::string shown = masked_address(text);
  SDL_SetRenderDrawColor(renderer, 200, 230, 255, 255);
  draw_text(renderer, box.x + 8, box.y + 15, shown.c_str(), 2);

  if (address_caret_visible(elapsed_ms)) {
    const SDL_Rect caret{box.x + 8 + text_width(shown.c_str(), 2), box.y + 15, 2, 10};
    SDL_SetRenderDrawColor(renderer, 255, 255, 255, 200);
    SDL_RenderFillRect(renderer, &caret);
  }

  static const char kPrompt[] = "RTSP: Enter / Esc";
  SDL_SetRenderDrawColor(renderer, 150, 180, 220, 200);
  draw_text(renderer, (w - text_width(kPrompt, 2)) / 2, h / 2 - 40, kPrompt, 2);

  // Why the last live view failed, under the field.
  SDL_SetRenderDrawColor(renderer, 255, 120, 100, 255);
  int y = box.y + box.h + 12;
  for (const std::string& line : wrap_text(error, box.w, 2)) {
    draw_text(renderer, box.x, y, line.c_str(), 2);
    y += 14;
  }
}

std::string ask_rtsp_address(SDL_Window* window, SDL_Renderer* renderer, const std::string& initial,
                             const std::string& error) {
  AddressEntry entry;
  entry.text = initial;
  std::string shown_error = error;
  const uint32_t blink_start = SDL_GetTicks();
  SDL_StartTextInput();
  while (true) {
    SDL_Event event;
    while (!entry.finishing && SDL_PollEvent(&event)) handle_address_event(entry, event);
    if (entry.text != initial) shown_error.clear();  // the reason was about the old text
    // A finishing event still gets one last frame.
    draw_address_frame(renderer, window, entry.text, SDL_GetTicks() - blink_start, shown_error);
    SDL_RenderPresent(renderer);
    SDL_Delay(16);
    if (entry.finishing) break;
  }
  SDL_StopTextInput();
  return entry.accepted ? entry.text : std::string();
}

void start_rtsp_view(SDL_Window* window, SDL_Renderer* renderer) {
  std::string address = "rtsp://";
  std::string failure;
  while (true) {
    address = ask_rtsp_address(window, renderer, address, failure);
    if (address.empty()) return;
    failure = run_live_view(address, window, renderer);
    if (failure.empty()) return;
  }
}
