#include "app/menu.h"

#include "platform/choosers.h"
#include "app/logo.h"
#include "draw/program_name.h"
#include "draw/help_overlay.h"
#include "draw/text.h"
#include "draw/toast.h"
#include "draw/widgets.h"
#include "player/actions.h"
#include "player/video_output.h"

#include <cstdio>

namespace {

constexpr int kLogoWidth = 300;
constexpr Uint32 kFrameMs = 30;

void set_color(SDL_Renderer* renderer, Uint8 r, Uint8 g, Uint8 b, Uint8 a) {
  SDL_SetRenderDrawColor(renderer, r, g, b, a);
}

void apply_command(MenuCommand command, SDL_Window* window, MenuState& state) {
  switch (command) {
    case MenuCommand::none:
      return;
    case MenuCommand::open: {
      std::string path = choose_recording(owner_window_handle(window));
      if (path.empty()) return;  // cancelled: the menu stays
      state.result = path;
      state.done = true;
      return;
    }
    case MenuCommand::convert:
      state.result = kConvertAction;
      state.done = true;
      return;
    case MenuCommand::rtsp:
      state.result = kRtspAction;
      state.done = true;
      return;
    case MenuCommand::quit:
      state.done = true;
      return;
    case MenuCommand::help:
      state.help_visible = true;
      return;
  }
}

void draw_button(SDL_Renderer* renderer, const MenuButton& button, int s) {
  const SDL_Rect& r = button.rect;
  set_color(renderer, 20, 60, 120, 200);
  SDL_RenderFillRect(renderer, &r);
  set_color(renderer, 120, 180, 255, 200);
  SDL_RenderDrawRect(renderer, &r);
  SDL_Rect cap = menu_key_cap(r, s);
  set_color(renderer, 50, 130, 240, 180);
  SDL_RenderFillRect(renderer, &cap);
  set_color(renderer, 255, 255, 255, 240);
  draw_text(renderer, cap.x + 2 * s, cap.y + 2 * s, button.letter, s);
  set_color(renderer, 220, 230, 255, 220);
  draw_text(renderer, cap.x + cap.w + 5 * s, r.y + (r.h - text_height(s)) / 2, button.label, s);
}

std::array<MenuButton, 4> buttons_of(SDL_Window* window) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  return menu_buttons(w, h);
}

}  // namespace

bool create_menu_window(SDL_Window*& window, SDL_Renderer*& renderer) {
  if (!window) {
    // 960 x 600, or smaller with the same shape on a screen that has less room.
    const SDL_Point size = window_size_for_screen({960, 600});
    window = SDL_CreateWindow(kProgramName, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, size.x,
                              size.y, SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
    if (!window) {
      std::printf("Cannot create the window: %s\n", SDL_GetError());
      return false;
    }
    SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  }
  if (!renderer) {
    renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (!renderer) renderer = SDL_CreateRenderer(window, -1, 0);
    if (!renderer) {
      std::printf("Cannot create the renderer: %s\n", SDL_GetError());
      return false;
    }
  }
  return true;
}

std::array<MenuButton, 4> menu_buttons(int window_width, int window_height) {
  static const char* const kLetters[4] = {"O", "C", "R", "Q"};
  static const char* const kLabels[4] = {"Open .264", "Convert MP4", "RTSP Stream", "Quit"};
  const int s = text_scale_for_window(window_width, window_height);
  const int w = 110 * s, h = 19 * s;
  std::array<MenuButton, 4> buttons{};
  for (int i = 0; i < 4; ++i) {
    SDL_Rect rect{(window_width - w) / 2, window_height / 2 - 52 * s + 25 * s * i, w, h};
    buttons[i] = MenuButton{kLetters[i], kLabels[i], rect};
  }
  return buttons;
}

SDL_Rect menu_key_cap(const SDL_Rect& button, int s) {
  const int w = 9 * s, h = 11 * s;
  return SDL_Rect{button.x + 4 * s, button.y + (button.h - h) / 2, w, h};
}

SDL_Rect menu_logo_rect(int window_width, int logo_width, int logo_height) {
  int w = logo_width, h = logo_height;
  int half = window_width / 2;
  if (logo_width > half) {
    float f = static_cast<float>(half) / static_cast<float>(logo_width);
    w = static_cast<int>(static_cast<float>(logo_width) * f);
    h = static_cast<int>(static_cast<float>(logo_height) * f);
  }
  return SDL_Rect{(window_width - w) / 2, 40, w, h};
}

MenuCommand menu_command_for_key(SDL_Keycode key) {
  switch (key) {
    case SDLK_ESCAPE:
    case SDLK_q:
      return MenuCommand::quit;
    case SDLK_c:
      return MenuCommand::convert;
    case SDLK_r:
      return MenuCommand::rtsp;
    case SDLK_o:
      return MenuCommand::open;
    case SDLK_h:
    case SDLK_F1:
      return MenuCommand::help;
    default:
      return MenuCommand::none;
  }
}

MenuCommand menu_command_for_click(const std::array<MenuButton, 4>& buttons, int x, int y) {
  static const MenuCommand kCommands[4] = {MenuCommand::open, MenuCommand::convert,
                                           MenuCommand::rtsp, MenuCommand::quit};
  for (int i = 0; i < 4; ++i) {
    if (rect_contains(buttons[i].rect, x, y)) return kCommands[i];
  }
  return MenuCommand::none;
}

void handle_menu_event(const SDL_Event& event, const std::array<MenuButton, 4>& buttons,
                       SDL_Window* window, MenuState& state) {
  switch (event.type) {
    case SDL_QUIT:
      state.done = true;
      break;
    case SDL_KEYDOWN:
      if (state.help_visible) {
        state.help_visible = false;  // any key only closes the help
        break;
      }
      apply_command(menu_command_for_key(event.key.keysym.sym), window, state);
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button == SDL_BUTTON_LEFT)
        apply_command(menu_command_for_click(buttons, event.button.x, event.button.y), window,
                      state);
      break;
    case SDL_DROPFILE:
      if (event.drop.file) {
        state.result = event.drop.file;
        SDL_free(event.drop.file);
        state.done = true;
      }
      break;
    case SDL_DROPTEXT:
      // Not a file, but SDL hands over the text and expects it freed.
      SDL_free(event.drop.file);
      break;
    default:
      break;
  }
}

void draw_menu(SDL_Renderer* renderer, int window_width, int window_height, SDL_Texture* logo,
               int logo_width, int logo_height) {
  set_color(renderer, 41, 98, 168, 255);
  SDL_RenderClear(renderer);
  if (logo) {
    SDL_Rect dst = menu_logo_rect(window_width, logo_width, logo_height);
    SDL_RenderCopy(renderer, logo, nullptr, &dst);
  }
  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
  const int s = text_scale_for_window(window_width, window_height);
  for (const MenuButton& button : menu_buttons(window_width, window_height))
    draw_button(renderer, button, s);
}

std::string run_start_menu(SDL_Window*& window, SDL_Renderer*& renderer, const char* program_path) {
  if (!window || !renderer) {
    if (!create_menu_window(window, renderer)) return "";
  }
  int logo_w = 0, logo_h = 0;
  TexturePtr logo;
  std::string logo_path = find_logo_path(program_path);
  if (!logo_path.empty()) logo = load_logo_texture(renderer, logo_path, kLogoWidth, &logo_w, &logo_h);
  SDL_SetWindowTitle(window, kProgramName);

  MenuState state;
  while (true) {
    std::array<MenuButton, 4> buttons = buttons_of(window);
    SDL_Event event;
    while (SDL_PollEvent(&event)) handle_menu_event(event, buttons, window, state);

    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    draw_menu(renderer, w, h, logo.get(), logo_w, logo_h);
    if (state.help_visible) draw_help_overlay(renderer, window, menu_help_lines());
    // A failure of the screen before (a recording that cannot be played) shows here.
    draw_toast(renderer, window, 3);
    SDL_RenderPresent(renderer);
    SDL_Delay(kFrameMs);
    if (state.done) break;
  }
  return state.result;
}
