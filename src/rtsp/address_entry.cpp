#include "rtsp/address_entry.h"

#include "draw/sdl_handles.h"
#include "draw/text.h"
#include "rtsp/live_view.h"

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

bool address_caret_visible(uint32_t elapsed_ms) { return (elapsed_ms / 500) % 2 == 0; }

void draw_address_frame(SDL_Renderer* renderer, SDL_Window* window, const std::string& text,
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
  draw_text(renderer, box.x + 8, box.y + 15, text.c_str(), 2);

  if (address_caret_visible(elapsed_ms)) {
    const SDL_Rect caret{box.x + 8 + text_width(text.c_str(), 2), box.y + 15, 2, 10};
    SDL_SetRenderDrawColor(renderer, 255, 255, 255, 200);
    SDL_RenderFillRect(renderer, &caret);
  }

  static const char kPrompt[] = "RTSP: Enter / Esc";
  SDL_SetRenderDrawColor(renderer, 150, 180, 220, 200);
  draw_text(renderer, (w - text_width(kPrompt, 2)) / 2, h / 2 - 40, kPrompt, 2);
}

std::string ask_rtsp_address(SDL_Window* window, SDL_Renderer* renderer) {
  AddressEntry entry;
  const uint32_t blink_start = SDL_GetTicks();
  SDL_StartTextInput();
  while (true) {
    SDL_Event event;
    while (!entry.finishing && SDL_PollEvent(&event)) handle_address_event(entry, event);
    // A finishing event still gets one last frame.
    draw_address_frame(renderer, window, entry.text, SDL_GetTicks() - blink_start);
    SDL_RenderPresent(renderer);
    SDL_Delay(16);
    if (entry.finishing) break;
  }
  SDL_StopTextInput();
  return entry.accepted ? entry.text : std::string();
}

void start_rtsp_view(SDL_Window* window, SDL_Renderer* renderer) {
  std::string address = ask_rtsp_address(window, renderer);
  if (!address.empty()) run_live_view(address, window, renderer);
}
