#include "ui/address_entry.h"

#include <cctype>
#include <cstdio>

#include "draw/sdl_handles.h"
#include "draw/text.h"
#include "rtsp/address.h"
#include "rtsp/ascii_case.h"
#include "ui/camera_screen.h"
#include "ui/text_field.h"
#include "ui/live_settings.h"
#include "ui/live_view.h"

namespace {

// The length of the scheme and "://" a text starts with ("rtsp://" gives 7);
// 0 when it does not start with one.
size_t scheme_length(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '+' ||
                             text[i] == '-' || text[i] == '.'))
    ++i;
  return i > 0 && text.compare(i, 3, "://") == 0 ? i + 3 : 0;
}

// True when the field holds nothing but "rtsp://" or the start of it.
bool only_scheme(const std::string& field) {
  static const std::string kScheme = "rtsp://";
  return field.size() <= kScheme.size() && starts_with_ignoring_case(kScheme, 0, field);
}

std::string trimmed(const std::string& text) {
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  const size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

void show_recent(AddressEntry& entry, int index) {
  if (entry.recent_index < 0) entry.typed = entry.text;
  entry.recent_index = index;
  entry.text = index < 0 ? entry.typed : entry.recent[static_cast<size_t>(index)];
}

void paste(AddressEntry& entry) {
  char* clipboard = SDL_GetClipboardText();
  if (!clipboard) return;
  entry.text = insert_into_address(entry.text, clipboard);
  SDL_free(clipboard);
  entry.recent_index = -1;
}

void handle_key(AddressEntry& entry, const SDL_Keysym& keysym) {
  const SDL_Keycode key = keysym.sym;
  const bool ctrl = (keysym.mod & KMOD_CTRL) != 0;
  const int recent = static_cast<int>(entry.recent.size());
  if (key == SDLK_ESCAPE) {
    entry.finishing = true;
  } else if (key == SDLK_RETURN) {
    entry.finishing = true;
    entry.accepted = true;
  } else if (key == SDLK_F2) {
    entry.finishing = true;
    entry.cameras = true;
  } else if (key == SDLK_BACKSPACE && !entry.text.empty()) {
    // One byte, even inside a multi-byte character: editing works on bytes.
    entry.text.pop_back();
    entry.recent_index = -1;
  } else if ((key == SDLK_v && ctrl) || (key == SDLK_INSERT && (keysym.mod & KMOD_SHIFT))) {
    paste(entry);
  } else if (key == SDLK_UP && entry.recent_index + 1 < recent) {
    show_recent(entry, entry.recent_index + 1);
  } else if (key == SDLK_DOWN && entry.recent_index >= 0) {
    show_recent(entry, entry.recent_index - 1);
  }
}

}  // namespace

std::string insert_into_address(const std::string& field, const std::string& inserted) {
  std::string piece = inserted;
  if (inserted.size() > 1) {  // pasted, not one typed character: its first line, trimmed
    piece = trimmed(piece);
    piece = trimmed(piece.substr(0, piece.find_first_of("\r\n")));
  }
  std::string text = scheme_length(piece) > 0 && only_scheme(field) ? piece : field + piece;
  // "rtsp://rtsp://...": the scheme typed again after the one the field had.
  const size_t first = scheme_length(text);
  if (first > 0 && scheme_length(text.substr(first)) > 0 && only_scheme(text.substr(0, first)))
    text.erase(0, first);
  return text;
}

std::string address_to_connect(const std::string& text) {
  const std::string address = trimmed(text);
  if (address.empty() || scheme_length(address) > 0) return address;
  return "rtsp://" + address;
}

void handle_address_event(AddressEntry& entry, const SDL_Event& event) {
  if (event.type == SDL_QUIT) {
    entry.finishing = true;
  } else if (event.type == SDL_TEXTINPUT) {
    entry.text = insert_into_address(entry.text, event.text.text);  // its bytes up to the terminating zero
    entry.recent_index = -1;
  } else if (event.type == SDL_KEYDOWN) {
    handle_key(entry, event.key.keysym);
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

void draw_address_frame(SDL_Renderer* renderer, SDL_Window* window, const std::string& text,
                        uint32_t elapsed_ms, const std::string& error, const std::vector<std::string>& recent,
                        int recent_index) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  const SDL_Rect box = draw_field_frame(renderer, window, masked_address(text), elapsed_ms);

  static const char kPrompt[] = "RTSP: Enter / Esc";
  SDL_SetRenderDrawColor(renderer, 150, 180, 220, 200);
  draw_text(renderer, (w - text_width(kPrompt, 2)) / 2, h / 2 - 40, kPrompt, 2);

  // Why the last live view failed, under the field.
  SDL_SetRenderDrawColor(renderer, 255, 120, 100, 255);
  const int line_step = text_line_height(2) + 4;
  int y = box.y + box.h + 12;
  for (const std::string& line : wrap_text(error, box.w, 2)) {
    draw_text(renderer, box.x, y, line.c_str(), 2);
    y += line_step;
  }

  // The last addresses, the one in the field marked, as far as they fit.
  y += 8;
  for (size_t i = 0; i < recent.size() && y + text_line_height(2) < h - 24; ++i, y += line_step) {
    const bool chosen = static_cast<int>(i) == recent_index;
    if (chosen)
      SDL_SetRenderDrawColor(renderer, 255, 200, 50, 255);
    else
      SDL_SetRenderDrawColor(renderer, 110, 130, 160, 255);
    draw_text(renderer, box.x, y, ((chosen ? "> " : "  ") + recent[i]).c_str(), 2);
  }
  static const char kKeys[] = "UP DOWN: LAST ADDRESSES  CTRL+V: PASTE  F2: CAMERAS";
  if (text_width(kKeys, 1) < w) {
    SDL_SetRenderDrawColor(renderer, 110, 130, 160, 255);
    draw_text(renderer, (w - text_width(kKeys, 1)) / 2, h - 4 - text_line_height(1), kKeys, 1);
  }
}

std::string ask_rtsp_address(SDL_Window* window, SDL_Renderer* renderer, const std::string& initial,
                             const std::string& error, const std::vector<std::string>& recent, AddressAnswer* answer) {
  AddressEntry entry;
  entry.text = initial;
  entry.recent = recent;
  std::string shown_error = error;
  const uint32_t blink_start = SDL_GetTicks();
  SDL_SetWindowTitle(window, shown_error.empty() ? "H.264 Player  [RTSP address]"
                                                  : ("H.264 Player  [" + address_without_password(initial) +
                                                     "]  NOT CONNECTED").c_str());
  SDL_StartTextInput();
  while (true) {
    SDL_Event event;
    while (!entry.finishing && SDL_PollEvent(&event)) handle_address_event(entry, event);
    if (entry.text != initial) shown_error.clear();  // the reason was about the old text
    // A finishing event still gets one last frame.
    draw_address_frame(renderer, window, entry.text, SDL_GetTicks() - blink_start, shown_error, entry.recent,
                       entry.recent_index);
    SDL_RenderPresent(renderer);
    SDL_Delay(16);
    if (entry.finishing) break;
  }
  SDL_StopTextInput();
  if (answer)
    *answer = entry.accepted ? AddressAnswer::accepted : entry.cameras ? AddressAnswer::cameras : AddressAnswer::cancelled;
  if (entry.cameras) return entry.text;
  return entry.accepted ? entry.text : std::string();
}

namespace {

// The live view for an address, with what the settings say about it (a
// saved camera's name and kept password, where recordings go).
std::string watch(SDL_Window* window, SDL_Renderer* renderer, const LiveSettings& settings,
                  const std::string& address) {
  LiveViewOptions options;
  std::string connect = address;
  if (const SavedCamera* camera = camera_for_address(settings, address)) {
    options.name = camera->name;
    if (password_of_address(address).empty()) connect = camera_connect_address(*camera);
  }
  options.record.folder = recording_folder(settings);
  options.record.split_minutes = settings.split_minutes;
  return run_live_view_with(connect, window, renderer, options);
}

}  // namespace

void start_rtsp_view(SDL_Window* window, SDL_Renderer* renderer) {
  LiveSettings settings;
  std::string error;
  if (!load_live_settings(settings, error)) std::printf("Settings: %s\n", error.c_str());
  std::string address = settings.recent.empty() ? "rtsp://" : settings.recent.front();
  std::string failure;
  while (true) {
    AddressAnswer answer = AddressAnswer::cancelled;
    const std::string typed = ask_rtsp_address(window, renderer, address, failure, settings.recent, &answer);
    if (answer == AddressAnswer::cameras) {
      address = typed;
      failure.clear();
      if (!run_camera_screen(window, renderer, settings, address_to_connect(typed))) return;
      continue;
    }
    if (typed.empty()) return;
    address = address_to_connect(typed);
    RtspAddress parsed;
    if (parse_rtsp_address(address, parsed)) {
      remember_address(settings, address);
      if (!save_live_settings(settings, error)) std::printf("Settings: %s\n", error.c_str());
    }
    failure = watch(window, renderer, settings, address);
    if (failure.empty()) return;
  }
}
