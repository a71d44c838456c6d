#include "player/controls.h"

#include <cstdlib>

#include "platform/choosers.h"
#include "draw/overlay.h"
#include "draw/toast.h"
#include "draw/widgets.h"
#include "player/actions.h"
#include "player/find_and_share.h"
#include "platform/user_folders.h"
#include "recording/folder_order.h"
#include "player/screenshot.h"

namespace {

constexpr uint32_t kPauseMessageMs = 1500;
constexpr double kFiveSecondJumpS = 5.0;
constexpr uint32_t kRecordingMessageMs = 2500;
// A press on the picture that moves further than this is a drag, not a click.
constexpr int kDragThreshold = 4;

void leave_with(PlayerState& st, std::string next_action) {
  st.next_action = std::move(next_action);
  st.leave = true;
}

void toggle_fullscreen(PlayerState& st, SDL_Window* window) {
  const bool was_on = st.fullscreen;
  st.fullscreen = !st.fullscreen;
  if (window) SDL_SetWindowFullscreen(window, was_on ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
}

// The picture shown, at its own size (its visible part when zoomed), beside
// the recording or else in the user's pictures folder.
void capture_action(PlayerState& st) {
  if (!st.video.texture || st.shown_frame < 0) return;
  std::string beside = folder_of(st.path);
  if (beside.size() > 1) beside.pop_back();  // the separator; "/" stays the root
  const std::string name =
      recording_screenshot_name(st.path, st.start, frame_time(st, st.shown_frame));
  capture_picture(st.video.frame.get(), st.video.zoom, {beside, user_pictures_folder()}, name);
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

void start_seek_drag(PlayerState& st, int x) {
  st.seek_drag = true;
  st.seek_fraction = progress_fraction_at(x, overlay_rects().seek_track);
}

// Space, the play button: plays again in the finished state, else pauses or plays.
void play_or_pause(PlayerState& st) {
  if (st.ended) {
    play_from_start(st);
  } else {
    toggle_pause(st);
  }
}

void toggle_time_of_day_size() {
  bool& large = player_preferences().time_of_day_large;
  large = !large;
}

void pan_picture(PlayerState& st, SDL_Window* window, int x, int y) {
  if (st.video.zoom.zoom > 1.0) {
    st.video.zoom = pan_by(st.video.zoom, picture_box_in_window(st.video, window), st.video.width,
                           st.video.height, x - st.last_drag_x, y - st.last_drag_y);
  }
  st.last_drag_x = x;
  st.last_drag_y = y;
}

void handle_mouse_motion(PlayerState& st, SDL_Window* window, int x, int y) {
  st.last_mouse_motion = SDL_GetTicks();
  st.overlay_visible = true;
  if (st.volume_drag) set_volume_from_x(st, x);
  if (st.seek_drag) st.seek_fraction = progress_fraction_at(x, overlay_rects().seek_track);
  if (st.picture_press) {
    if (!st.picture_dragged &&
        (std::abs(x - st.press_x) > kDragThreshold || std::abs(y - st.press_y) > kDragThreshold)) {
      st.picture_dragged = true;
    }
    if (st.picture_dragged) pan_picture(st, window, x, y);
  }
}

// Acts on the control under the point, when the bar shows; a press on the
// picture waits for its release (a click) or motion (a drag).
void handle_left_press(PlayerState& st, SDL_Window* window, int x, int y) {
  if (!window) return;
  const BarTarget target =
      st.overlay_visible ? bar_target_at(overlay_rects(), x, y) : BarTarget::picture;
  switch (target) {
    case BarTarget::picture:
      st.picture_press = true;
      st.picture_dragged = false;
      st.press_x = st.last_drag_x = x;
      st.press_y = st.last_drag_y = y;
      break;
    case BarTarget::play_pause: play_or_pause(st); break;
    case BarTarget::seek: start_seek_drag(st, x); break;
    case BarTarget::slower: set_speed(st, st.speed_index - 1); break;
    case BarTarget::faster: set_speed(st, st.speed_index + 1); break;
    case BarTarget::screenshot: capture_action(st); break;
    case BarTarget::mute: toggle_mute(st.audio, video_position(st)); break;
    case BarTarget::volume:
      st.volume_drag = true;
      set_volume_from_x(st, x);
      break;
    case BarTarget::auto_continue: toggle_auto_continue(); break;
    case BarTarget::skip_quiet: toggle_skip_quiet(st); break;
    case BarTarget::none: break;  // a gap, a label, a margin: nothing
  }
}

// A click on the picture pauses or plays; the second click of a double-click
// undoes that and toggles full screen instead. The finished state has
// nothing to pause.
void click_on_picture(PlayerState& st, SDL_Window* window, int clicks) {
  if (clicks >= 2) {
    toggle_fullscreen(st, window);
    if (!st.ended) toggle_pause(st);
  } else if (!st.ended) {
    toggle_pause(st);
  }
}

void handle_left_release(PlayerState& st, SDL_Window* window, int clicks) {
  st.volume_drag = false;
  if (st.picture_press) {
    st.picture_press = false;
    if (!st.picture_dragged) click_on_picture(st, window, clicks);
  }
  if (!st.seek_drag) return;
  st.seek_drag = false;
  seek_to_time(st, st.duration * static_cast<double>(st.seek_fraction));
}

void handle_wheel(PlayerState& st, SDL_Window* window, const SDL_MouseWheelEvent& wheel) {
  if (!st.video.texture) return;
  const SDL_Point at = wheel_pointer(wheel);
  st.video.zoom = zoom_at(st.video.zoom, picture_box_in_window(st.video, window), st.video.width,
                          st.video.height, at.x, at.y, wheel_zoom_factor(wheel));
}

void handle_drop(PlayerState& st, char* file) {
  if (!file) return;
  leave_with(st, file);
  SDL_free(file);
}

// Keys of the finished state that differ from playback; true when handled.
bool handle_finished_key(SDL_Keycode key) {
  switch (key) {
    case SDLK_RIGHT: return true;  // nothing lies ahead of the end
    default: return false;
  }
}

void handle_key_event(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                      const SDL_Keysym& key) {
  if (st.help_visible) {
    st.help_visible = false;  // any key only closes the help
    return;
  }
  // The marks' keys go by their place on the keyboard too: on many layouts
  // the keys beside P carry other letters, and [ ] need a modifier.
  SDL_Keycode sym = key.sym;
  if (key.scancode == SDL_SCANCODE_LEFTBRACKET) sym = SDLK_LEFTBRACKET;
  if (key.scancode == SDL_SCANCODE_RIGHTBRACKET) sym = SDLK_RIGHTBRACKET;
  if (st.ended && handle_finished_key(sym)) return;
  handle_player_key(st, window, renderer, sym, key.mod);
}

// A speed key takes the speed back from skipping the quiet.
void change_speed_by_key(PlayerState& st, int step) {
  const bool was_skipping = end_skip_quiet(st);
  set_speed(st, st.speed_index + step);
  if (was_skipping) show_toast(("SKIP QUIET OFF - " + speed_message(st.speed)).c_str(), kPauseMessageMs);
}

}  // namespace

int five_second_jump(double fps) { return static_cast<int>(fps * 5.0); }

float progress_fraction_at(int x, const SDL_Rect& track) {
  if (track.w <= 0) return 0.0f;
  const float f = static_cast<float>(x - track.x) / static_cast<float>(track.w);
  return f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : f);
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
  if (st.paused) {
    show_toast("  ||  ", kPauseMessageMs);
    settle_on_shown_picture(st);
  } else {
    resume_after_shown_picture(st);
  }
  // Pausing keeps the queued sound; resuming resynchronises before unpausing.
  pause_audio(st.audio, st.paused, video_position(st));
}

void step_picture(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer, int direction) {
  if (st.ended) {
    // A step from the finished state examines the end: paused, no longer finished.
    st.reached_end = false;
    st.paused = true;
    settle_on_shown_picture(st);
    pause_audio(st.audio, true, video_position(st));
  } else if (!st.paused) {
    toggle_pause(st);
  }
  int tag = -1;
  const AVFrame* picture =
      direction > 0 ? stepper_picture_from(st.stepper, st.shown_frame + 1, &tag)
                    : stepper_picture_before(st.stepper, st.shown_frame, &tag);
  if (!picture) {
    // Past the last picture indexed so far the next one is not known yet.
    const bool at_index_end = direction > 0 && !st.recording.index_complete &&
                              st.shown_frame + 1 >= st.frame_count;
    if (at_index_end) return show_index_wait(st);
    show_toast(direction > 0 ? "Last picture" : "First picture", 1500);
    return;
  }
  show_stepper_picture(st, window, renderer, picture, tag);
}

void handle_player_key(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                       SDL_Keycode key, Uint16 mod) {
  switch (key) {
    case SDLK_ESCAPE:
      if (!cancel_running_export(st)) leave_with(st, "");
      break;
    case SDLK_q: leave_with(st, ""); break;
    case SDLK_SPACE: play_or_pause(st); break;
    case SDLK_c: leave_with(st, kConvertAction); break;
    case SDLK_r: leave_with(st, kRtspAction); break;
    case SDLK_o: open_another_recording(st, window); break;
    case SDLK_f: toggle_fullscreen(st, window); break;
    case SDLK_m: toggle_mute(st.audio, video_position(st)); break;
    case SDLK_s: capture_action(st); break;
    case SDLK_PERIOD: step_picture(st, window, renderer, 1); break;
    case SDLK_COMMA: step_picture(st, window, renderer, -1); break;
    case SDLK_t: toggle_time_of_day_size(); break;
    case SDLK_0:
    case SDLK_KP_0: st.video.zoom = ZoomView{}; break;
    case SDLK_LEFT: seek_by_seconds(st, -kFiveSecondJumpS); break;
    case SDLK_RIGHT: seek_by_seconds(st, kFiveSecondJumpS); break;
    case SDLK_DOWN: change_speed_by_key(st, -1); break;
    case SDLK_UP: change_speed_by_key(st, 1); break;
    case SDLK_n: jump_to_activity(st, (mod & KMOD_SHIFT) ? -1 : 1); break;
    case SDLK_k: toggle_skip_quiet(st); break;
    case SDLK_LEFTBRACKET: mark_stretch_point(st, false); break;
    case SDLK_RIGHTBRACKET: mark_stretch_point(st, true); break;
    case SDLK_BACKSPACE:
    case SDLK_DELETE: clear_stretch_marks(); break;
    case SDLK_e: export_marked_stretch(st); break;
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
    case SDL_KEYDOWN: handle_key_event(st, window, renderer, event.key.keysym); break;
    case SDL_MOUSEMOTION: handle_mouse_motion(st, window, event.motion.x, event.motion.y); break;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button == SDL_BUTTON_LEFT) {
        handle_left_press(st, window, event.button.x, event.button.y);
      }
      break;
    case SDL_MOUSEBUTTONUP:
      if (event.button.button == SDL_BUTTON_LEFT) handle_left_release(st, window, event.button.clicks);
      break;
    case SDL_MOUSEWHEEL: handle_wheel(st, window, event.wheel); break;
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
