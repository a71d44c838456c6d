#include "player/controls.h"

#include "platform/choosers.h"
#include "draw/overlay.h"
#include "draw/toast.h"
#include "draw/widgets.h"
#include "player/actions.h"
#include "player/folder_order.h"
#include "player/screenshot.h"

namespace {

constexpr uint32_t kPauseMessageMs = 1500;
constexpr double kFiveSecondJumpS = 5.0;
constexpr uint32_t kRecordingMessageMs = 2500;
constexpr int kOverlayScale = 2;

void leave_with(PlayerState& st, std::string next_action) {
  st.next_action = std::move(next_action);
  st.leave = true;
}

void toggle_fullscreen(PlayerState& st, SDL_Window* window) {
  const bool was_on = st.fullscreen;
  st.fullscreen = !st.fullscreen;
  if (window) SDL_SetWindowFullscreen(window, was_on ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
}

// The bare picture over the whole window, saved as a screenshot.
void capture_action(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer) {
  if (!renderer || !window || !st.video.texture) return;
  capture_screenshot(renderer, window, st.video.texture.get());
}

// The chooser opens in this recording's folder.
void open_another_recording(PlayerState& st, SDL_Window* window) {
  std::string chosen = choose_recording_in(owner_window_handle(window), folder_of(st.path));
  if (!chosen.empty()) leave_with(st, std::move(chosen));
}

// Jumps by time on the recording's clock, so a jump is five seconds of the
// camera's time whatever its rate did meanwhile.
void seek_by_seconds(PlayerState& st, double seconds) {
  seek_to_time(st, video_position(st) + seconds);
}

// Back to the first frame; from the finished state this plays the recording again.
void play_from_start(PlayerState& st) { seek_to_frame(st, 0); }

void toggle_auto_continue() {
  bool& on = player_preferences().auto_continue;
  on = !on;
  show_toast(on ? "AUTO NEXT ON" : "AUTO NEXT OFF", kPauseMessageMs);
}

// Leaves for a neighbouring recording, naming it; it starts at this speed.
void leave_for_neighbour(PlayerState& st, const char* what, const std::string& path) {
  const std::string text = std::string(what) + file_name_of(path);
  show_toast(text.c_str(), kRecordingMessageMs);
  player_preferences().carried_speed_index = st.speed_index;
  leave_with(st, path);
}

void start_seek_drag(PlayerState& st, SDL_Window* window, int x) {
  st.seek_drag = true;
  st.seek_fraction = progress_fraction_at(x, player_seek_track(window, st.audio.has_audio));
}

void handle_mouse_motion(PlayerState& st, SDL_Window* window, int x) {
  st.last_mouse_motion = SDL_GetTicks();
  st.overlay_visible = true;
  if (st.volume_drag) set_volume_from_x(st, x);
  if (st.seek_drag && window) {
    st.seek_fraction = progress_fraction_at(x, player_seek_track(window, st.audio.has_audio));
  }
}

// The first control under the point, when the overlay shows; true when one took it.
bool press_overlay_control(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer, int x,
                           int y) {
  const OverlayRects& rects = overlay_rects();
  if (rect_contains(rects.slower_button_rect, x, y)) {
    set_speed(st, st.speed_index - 1);
  } else if (rect_contains(rects.faster_button_rect, x, y)) {
    set_speed(st, st.speed_index + 1);
  } else if (rect_contains(rects.screenshot_button_rect, x, y)) {
    capture_action(st, window, renderer);
  } else if (rect_contains(rects.mute_button_rect, x, y)) {
    toggle_mute(st.audio, video_position(st));
  } else if (rect_contains(rects.volume_slider_rect, x, y)) {
    st.volume_drag = true;
    set_volume_from_x(st, x);
  } else if (rect_contains(rects.auto_button_rect, x, y)) {
    toggle_auto_continue();
  } else {
    return false;
  }
  return true;
}

void handle_left_press(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer, int x, int y) {
  if (!window) return;
  if (st.overlay_visible && press_overlay_control(st, window, renderer, x, y)) return;
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  if (on_progress_strip(y, h)) start_seek_drag(st, window, x);
}

void handle_left_release(PlayerState& st) {
  st.volume_drag = false;
  if (!st.seek_drag) return;
  st.seek_drag = false;
  seek_to_time(st, st.duration * static_cast<double>(st.seek_fraction));
}

void handle_drop(PlayerState& st, char* file) {
  if (!file) return;
  leave_with(st, file);
  SDL_free(file);
}

// Keys of the finished state that differ from playback; true when handled.
bool handle_finished_key(PlayerState& st, SDL_Keycode key) {
  switch (key) {
    case SDLK_SPACE: play_from_start(st); return true;
    case SDLK_RIGHT: return true;  // nothing lies ahead of the end
    default: return false;
  }
}

void handle_key_event(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                      SDL_Keycode key) {
  if (st.help_visible) {
    st.help_visible = false;  // any key only closes the help
    return;
  }
  if (st.ended && handle_finished_key(st, key)) return;
  handle_player_key(st, window, renderer, key);
}

}  // namespace

PlayerPreferences& player_preferences() {
  static PlayerPreferences preferences;
  return preferences;
}

int five_second_jump(double fps) { return static_cast<int>(fps * 5.0); }

float progress_fraction_at(int x, const SDL_Rect& track) {
  if (track.w <= 0) return 0.0f;
  const float f = static_cast<float>(x - track.x) / static_cast<float>(track.w);
  return f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : f);
}

SDL_Rect player_seek_track(SDL_Window* window, bool audio_available) {
  int w = 0, h = 0;
  if (window) SDL_GetWindowSize(window, &w, &h);
  return layout_overlay(w, h, kOverlayScale, audio_available).track;
}

void go_to_neighbour_recording(PlayerState& st, int step) {
  const std::string neighbour = neighbour_recording(st.path, step);
  if (neighbour.empty()) {
    show_toast(step > 0 ? "NO NEXT RECORDING" : "NO PREVIOUS RECORDING", kRecordingMessageMs);
    return;
  }
  leave_for_neighbour(st, step > 0 ? "NEXT: " : "PREVIOUS: ", neighbour);
}

void take_carried_speed(PlayerState& st) {
  int& carried = player_preferences().carried_speed_index;
  if (carried >= 0 && carried < kSpeedStepCount) {
    st.speed_index = carried;
    st.speed = kSpeedSteps[carried];
  }
  carried = -1;
}

bool continue_with_next_recording(PlayerState& st) {
  if (!player_preferences().auto_continue) return false;
  const std::string next = neighbour_recording(st.path, 1);
  if (next.empty()) return false;
  leave_for_neighbour(st, "NEXT: ", next);
  return true;
}

bool on_progress_strip(int y, int window_height) {
  return y >= window_height - kProgressStripHeight;
}

int volume_at(int x, const SDL_Rect& slider) {
  if (slider.w <= 0) return -1;
  const int v = (x - slider.x) * 100 / slider.w;
  return v < 0 ? 0 : (v > 100 ? 100 : v);
}

void set_volume_from_x(PlayerState& st, int x) {
  const int volume = volume_at(x, overlay_rects().volume_slider_rect);
  if (volume < 0) return;
  st.audio.volume = volume;
  if (volume > 0 && st.audio.muted) {
    st.audio.muted = false;
    resync_audio(st.audio, video_position(st));
  }
}

void toggle_pause(PlayerState& st) {
  st.paused = !st.paused;
  if (st.paused) show_toast("  ||  ", kPauseMessageMs);
  // Pausing keeps the queued sound; resuming resynchronises before unpausing.
  pause_audio(st.audio, st.paused, video_position(st));
}

void handle_player_key(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                       SDL_Keycode key) {
  switch (key) {
    case SDLK_ESCAPE:
    case SDLK_q: leave_with(st, ""); break;
    case SDLK_SPACE: toggle_pause(st); break;
    case SDLK_c: leave_with(st, kConvertAction); break;
    case SDLK_r: leave_with(st, kRtspAction); break;
    case SDLK_o: open_another_recording(st, window); break;
    case SDLK_f: toggle_fullscreen(st, window); break;
    case SDLK_m: toggle_mute(st.audio, video_position(st)); break;
    case SDLK_s: capture_action(st, window, renderer); break;
    case SDLK_LEFT: seek_by_seconds(st, -kFiveSecondJumpS); break;
    case SDLK_RIGHT: seek_by_seconds(st, kFiveSecondJumpS); break;
    case SDLK_DOWN: set_speed(st, st.speed_index - 1); break;
    case SDLK_UP: set_speed(st, st.speed_index + 1); break;
    case SDLK_HOME: play_from_start(st); break;
    case SDLK_PAGEDOWN: go_to_neighbour_recording(st, 1); break;
    case SDLK_PAGEUP: go_to_neighbour_recording(st, -1); break;
    case SDLK_a: toggle_auto_continue(); break;
    case SDLK_h:
    case SDLK_F1: st.help_visible = true; break;
    default: break;
  }
}

void handle_player_event(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                         const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT: leave_with(st, ""); break;
    case SDL_KEYDOWN: handle_key_event(st, window, renderer, event.key.keysym.sym); break;
    case SDL_MOUSEMOTION: handle_mouse_motion(st, window, event.motion.x); break;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button == SDL_BUTTON_LEFT) {
        handle_left_press(st, window, renderer, event.button.x, event.button.y);
      }
      break;
    case SDL_MOUSEBUTTONUP:
      if (event.button.button == SDL_BUTTON_LEFT) handle_left_release(st);
      break;
    case SDL_DROPFILE: handle_drop(st, event.drop.file); break;
    case SDL_DROPTEXT: SDL_free(event.drop.file); break;
    default: break;
  }
}

void update_overlay_visibility(PlayerState& st, uint32_t now) {
  if (st.paused) {
    st.overlay_visible = true;
    return;
  }
  if (!st.seek_drag && now - st.last_mouse_motion > kOverlayHideAfterMs) {
    st.overlay_visible = false;
  }
}
