#include "ui/camera_screen.h"

#include <cstdio>

#include "draw/help_overlay.h"
#include "draw/sdl_handles.h"
#include "draw/text.h"
#include "draw/toast.h"
#include "rtsp/address.h"
#include "ui/grid_view.h"
#include "ui/live_view.h"
#include "ui/text_field.h"

namespace {

constexpr int kRowHeight = 18;
constexpr int kTop = 50;

constexpr HelpLine kCameraLines[] = {
    {"ENTER 1-9", "WATCH THE CAMERA"},
    {"G", "ALL CAMERAS IN A GRID"},
    {"A", "ADD THE ADDRESS TYPED"},
    {"P", "KEEP A PASSWORD (ENTER ALONE: FORGET IT)"},
    {"DEL", "REMOVE THE CAMERA"},
    {"S", "RECORDINGS: A NEW FILE EVERY N MINUTES"},
    {"UP DOWN", "CHOOSE"},
    {"ESC", "BACK TO THE ADDRESS"},
    {"F1 H", "THIS HELP"},
};

void save(const LiveSettings& settings) {
  std::string error;
  if (!save_live_settings(settings, error)) {
    std::printf("Settings: %s\n", error.c_str());
    show_toast("NOT SAVED", 2000);
  }
}

LiveViewOptions view_options(const LiveSettings& settings, const SavedCamera& camera) {
  LiveViewOptions options;
  options.name = camera.name;
  options.record.folder = recording_folder(settings);
  options.record.split_minutes = settings.split_minutes;
  return options;
}

// Adds the typed address under a name asked for; its password is not kept.
// False when the window was closed.
bool add_camera(SDL_Window* window, SDL_Renderer* renderer, LiveSettings& settings, const std::string& address,
                CameraList& list) {
  RtspAddress parsed;
  if (!parse_rtsp_address(address, parsed)) {
    show_toast("TYPE AN ADDRESS FIRST", 2000);
    return true;
  }
  TextQuestion question;
  question.prompt = "NAME FOR " + address_without_password(address);
  question.text = parsed.host;
  if (!ask_text(window, renderer, question)) return !question.closed;
  if (question.text.empty()) return true;
  settings.cameras.push_back({question.text, address_without_password(address), ""});
  list.selected = static_cast<int>(settings.cameras.size()) - 1;
  save(settings);
  if (!password_of_address(address).empty()) show_toast("PASSWORD NOT KEPT  -  P KEEPS ONE", 3000);
  return true;
}

// Asks for a password to keep for the chosen camera (empty: forget it).
bool keep_password(SDL_Window* window, SDL_Renderer* renderer, LiveSettings& settings, CameraList& list) {
  SavedCamera& camera = settings.cameras[static_cast<size_t>(list.selected)];
  RtspAddress parsed;
  if (!parse_rtsp_address(camera.address, parsed) || parsed.credentials.empty()) {
    show_toast("THE ADDRESS NAMES NO USER", 2000);
    return true;
  }
  TextQuestion question;
  question.prompt = "PASSWORD OF " + camera.name + ", KEPT FOR YOU ALONE";
  question.secret = true;
  if (!ask_text(window, renderer, question)) return !question.closed;
  camera.password = question.text;
  save(settings);
  show_toast(camera.password.empty() ? "PASSWORD FORGOTTEN" : "PASSWORD KEPT", 2000);
  return true;
}

// Asks how often a recording begins a new file; false when the window was closed.
bool ask_split_minutes(SDL_Window* window, SDL_Renderer* renderer, LiveSettings& settings) {
  TextQuestion question;
  question.prompt = "RECORDINGS: A NEW FILE EVERY HOW MANY MINUTES? (0: NEVER)";
  question.text = std::to_string(settings.split_minutes);
  if (!ask_text(window, renderer, question)) return !question.closed;
  const int32_t minutes = parse_decimal_prefix(question.text);
  if (question.text.find_first_not_of("0123456789 ") != std::string::npos || minutes < 0 || minutes > 24 * 60) {
    show_toast("0 TO 1440 MINUTES", 2000);
    return true;
  }
  settings.split_minutes = static_cast<uint32_t>(minutes);
  save(settings);
  return true;
}

// Watches one camera; false when the window was closed.
bool watch(SDL_Window* window, SDL_Renderer* renderer, const LiveSettings& settings, size_t index) {
  const SavedCamera& camera = settings.cameras[index];
  LiveViewOptions options = view_options(settings, camera);
  LiveViewEnd end = LiveViewEnd::escape;
  options.end_out = &end;
  const std::string failure = run_live_view_with(camera_connect_address(camera), window, renderer, options);
  if (!failure.empty()) show_toast(failure.substr(0, failure.find(':')).c_str(), 2000);
  return end != LiveViewEnd::closed;
}

bool show_grid(SDL_Window* window, SDL_Renderer* renderer, const LiveSettings& settings) {
  if (settings.cameras.empty()) {
    show_toast("NO CAMERAS SAVED", 2000);
    return true;
  }
  GridOptions options;
  options.record.folder = recording_folder(settings);
  options.record.split_minutes = settings.split_minutes;
  return run_camera_grid(window, renderer, grid_cameras(settings), options);
}

// Applies one key; false when the window was closed meanwhile.
bool handle_key(SDL_Window* window, SDL_Renderer* renderer, LiveSettings& settings, CameraList& list,
                const std::string& typed, SDL_Keycode key, bool& leave) {
  const int count = static_cast<int>(settings.cameras.size());
  if (list.confirm_remove) {
    list.confirm_remove = false;
    if (key == SDLK_y && list.selected < count) {
      settings.cameras.erase(settings.cameras.begin() + list.selected);
      list.selected = std::max(0, std::min(list.selected, count - 2));
      save(settings);
    }
    return true;
  }
  int chosen = -1;
  if (key >= SDLK_1 && key <= SDLK_9) chosen = key - SDLK_1;
  if (key == SDLK_RETURN || key == SDLK_KP_ENTER) chosen = list.selected;
  if (chosen >= 0 && chosen < count) return watch(window, renderer, settings, static_cast<size_t>(chosen));
  switch (key) {
    case SDLK_ESCAPE: leave = true; return true;
    case SDLK_UP: list.selected = std::max(0, list.selected - 1); return true;
    case SDLK_DOWN: list.selected = std::max(0, std::min(count - 1, list.selected + 1)); return true;
    case SDLK_g: return show_grid(window, renderer, settings);
    case SDLK_a: return add_camera(window, renderer, settings, typed, list);
    case SDLK_p: return count == 0 || keep_password(window, renderer, settings, list);
    case SDLK_s: return ask_split_minutes(window, renderer, settings);
    case SDLK_DELETE:
    case SDLK_BACKSPACE: list.confirm_remove = count > 0; return true;
    default: return true;
  }
}

}  // namespace

std::string camera_row_text(size_t index, const SavedCamera& camera) {
  std::string row = std::to_string(index + 1) + "  " + camera.name + "  " + address_without_password(camera.address);
  if (!camera.password.empty()) row += "  PASSWORD KEPT";
  return row;
}

std::vector<GridCamera> grid_cameras(const LiveSettings& settings) {
  std::vector<GridCamera> cameras;
  for (const SavedCamera& camera : settings.cameras) {
    if (cameras.size() == kMostGridCameras) break;
    cameras.push_back({camera.name, camera_connect_address(camera)});
  }
  return cameras;
}

void draw_camera_list(SDL_Renderer* renderer, SDL_Window* window, const LiveSettings& settings,
                      const CameraList& list, const std::string& typed_address) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  SDL_SetRenderDrawColor(renderer, 15, 15, 25, 255);
  SDL_RenderClear(renderer);
  SDL_SetRenderDrawColor(renderer, 150, 180, 220, 255);
  draw_text(renderer, 20, 20, "CAMERAS", 3);
  int y = kTop;
  if (settings.cameras.empty()) {
    SDL_SetRenderDrawColor(renderer, 200, 200, 200, 255);
    draw_text(renderer, 20, y, "NONE SAVED YET. A ADDS THE ADDRESS TYPED:", 2);
    draw_text(renderer, 20, y + kRowHeight, address_without_password(typed_address).c_str(), 2);
  }
  for (size_t i = 0; i < settings.cameras.size() && y + kRowHeight < h - 30; ++i, y += kRowHeight) {
    const bool chosen = static_cast<int>(i) == list.selected;
    if (chosen) {
      const SDL_Rect band{10, y - 4, w - 20, kRowHeight};
      SDL_SetRenderDrawColor(renderer, 50, 50, 80, 255);
      SDL_RenderFillRect(renderer, &band);
    }
    SDL_SetRenderDrawColor(renderer, chosen ? 255 : 200, chosen ? 200 : 220, chosen ? 50 : 255, 255);
    draw_text(renderer, 20, y, camera_row_text(i, settings.cameras[i]).c_str(), 2);
  }
  const char* keys = list.confirm_remove ? "REMOVE THIS CAMERA? Y / N"
                                         : "ENTER 1-9: WATCH  G: GRID  A: ADD  P: PASSWORD  DEL: REMOVE  S: SPLIT  ESC: BACK";
  SDL_SetRenderDrawColor(renderer, list.confirm_remove ? 255 : 110, list.confirm_remove ? 120 : 130,
                         list.confirm_remove ? 100 : 160, 255);
  const int s = text_width(keys, 2) + 40 <= w ? 2 : 1;
  draw_text(renderer, 20, h - 10 - text_line_height(s), keys, s);
}

bool run_camera_screen(SDL_Window* window, SDL_Renderer* renderer, LiveSettings& settings,
                       const std::string& typed_address) {
  CameraList list;
  bool leave = false, help = false;
  while (!leave) {
    SDL_SetWindowTitle(window, "H.264 Player  [cameras]");
    SDL_Event event;
    while (!leave && SDL_PollEvent(&event)) {
      if (event.type == SDL_QUIT) return false;
      if (event.type == SDL_KEYDOWN && help) {
        help = false;
      } else if (event.type == SDL_KEYDOWN && (event.key.keysym.sym == SDLK_F1 || event.key.keysym.sym == SDLK_h)) {
        help = true;
      } else if (event.type == SDL_KEYDOWN) {
        if (!handle_key(window, renderer, settings, list, typed_address, event.key.keysym.sym, leave)) return false;
      } else if (event.type == SDL_MOUSEBUTTONDOWN && event.button.button == SDL_BUTTON_LEFT) {
        const int row = (event.button.y - kTop + 4) / kRowHeight;
        if (event.button.y >= kTop - 4 && row >= 0 && row < static_cast<int>(settings.cameras.size())) {
          list.selected = row;
          if (!watch(window, renderer, settings, static_cast<size_t>(row))) return false;
        }
      } else {
        free_drop_text(event);
      }
    }
    draw_camera_list(renderer, window, settings, list, typed_address);
    if (help) draw_help_overlay(renderer, window, kCameraLines);
    draw_toast(renderer, window, window_text_scale(window));
    SDL_RenderPresent(renderer);
    SDL_Delay(16);
  }
  return true;
}
