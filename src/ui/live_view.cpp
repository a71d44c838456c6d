#include "ui/live_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <thread>

#include "draw/help_overlay.h"
#include "draw/letterbox.h"
#include "draw/text.h"
#include "draw/toast.h"
#include "draw/widgets.h"
#include "platform/files.h"
#include "platform/user_folders.h"
#include "player/screenshot.h"
#include "rtsp/address.h"
#include "ui/live_title.h"

namespace {

constexpr int kButton = 26;
constexpr int kSliderWidth = 56;
constexpr int kBarHeight = 30;
constexpr uint32_t kBarShownMs = 3000;
// Pictures waiting for the sound beyond this are dropped, oldest first.
constexpr size_t kMostPendingPictures = 12;

void draw_waiting_screen(LivePlayer& player, int w, int h) {
  SDL_Renderer* r = player.renderer;
  SDL_SetRenderDrawColor(r, 0, 0, 0, 255);
  SDL_RenderClear(r);
  const char* word = live_state_text(player.state);
  SDL_SetRenderDrawColor(r, 200, 200, 200, 255);
  const int s = text_scale_for_window(w, h) + 1;
  draw_text(r, (w - text_width(word, s)) / 2, (h - text_height(s)) / 2, word, s);
}

void draw_record_icon(SDL_Renderer* r, const SDL_Rect& button, bool recording) {
  SDL_SetRenderDrawColor(r, 230, 40, 40, recording ? 255 : 200);
  fill_circle(r, button.x + button.w / 2, button.y + button.h / 2, recording ? 7 : 6);
  if (recording) return;
  SDL_SetRenderDrawColor(r, 40, 40, 60, 255);
  fill_circle(r, button.x + button.w / 2, button.y + button.h / 2, 3);
}

void draw_volume(SDL_Renderer* r, const SDL_Rect& slider, int volume, bool muted) {
  const SDL_Rect track{slider.x, slider.y + (slider.h - 4) / 2, slider.w, 4};
  SDL_SetRenderDrawColor(r, 80, 80, 80, 200);
  SDL_RenderFillRect(r, &track);
  const int level = volume * slider.w / 100;
  if (level > 0) {
    if (muted)
      SDL_SetRenderDrawColor(r, 130, 130, 130, 220);
    else
      SDL_SetRenderDrawColor(r, 50, 130, 240, 230);
    const SDL_Rect filled{track.x, track.y, level, 4};
    SDL_RenderFillRect(r, &filled);
  }
  SDL_SetRenderDrawColor(r, 255, 255, 255, 240);
  fill_circle(r, track.x + level, track.y + 2, 5);
}

std::string elapsed_text(uint32_t ms) {
  const uint32_t s = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u", s / 60, s % 60);
  return text;
}

bool bar_visible(const LivePlayer& player) {
  if (player.recording.active) return true;
  return player.last_mouse_motion != 0 && SDL_GetTicks() - player.last_mouse_motion < kBarShownMs;
}

// The status bar: the state and what the stream carries at the left, REC and
// its time at the right.
void draw_bar(LivePlayer& player) {
  SDL_Renderer* r = player.renderer;
  const SDL_Rect& bar = player.controls.bar;
  SDL_SetRenderDrawColor(r, 0, 0, 0, 140);
  SDL_RenderFillRect(r, &bar);
  std::string left = live_state_text(player.state);
  if (!player.info.codec_name.empty()) left += "  " + player.info.codec_name;
  if (!player.info.sound_codec.empty())
    left += "  " + player.info.sound_codec + " " + std::to_string(player.info.sound_rate) + " HZ";
  if (player.sound.muted) left += "  MUTE";
  const int y = bar.y + (bar.h - text_height(2)) / 2;
  SDL_SetRenderDrawColor(r, 230, 230, 230, 230);
  draw_text(r, bar.x + 10, y, left.c_str(), 2);
  if (!player.recording.active) return;
  const std::string rec = "REC " + elapsed_text(SDL_GetTicks() - player.recording_since);
  const int x = bar.x + bar.w - 10 - text_width(rec.c_str(), 2);
  SDL_SetRenderDrawColor(r, 240, 60, 60, 255);
  draw_text(r, x, y, rec.c_str(), 2);
}

void draw_controls(LivePlayer& player) {
  SDL_Renderer* r = player.renderer;
  const LiveControls& c = player.controls;
  draw_control_button(r, c.camera, 180);
  draw_camera_icon(r, c.camera);
  draw_control_button(r, c.record, 180);
  draw_record_icon(r, c.record, player.recording.active);
  if (c.mute.w > 0) {
    draw_control_button(r, c.mute, 180);
    draw_speaker_icon(r, c.mute, player.sound.muted || player.sound.volume == 0);
    draw_volume(r, c.volume, player.sound.volume, player.sound.muted);
  }
  if (player.recording.active) {
    // Always in sight while recording, whether the bar shows or not.
    SDL_SetRenderDrawColor(r, 240, 40, 40, 255);
    fill_circle(r, 18, 22, 6);
    draw_text(r, 30, 22 - text_height(2) / 2, "REC", 2);
  }
}

bool on_live_control(const LivePlayer& player, int x, int y) {
  const LiveControls& c = player.controls;
  return rect_contains(c.camera, x, y) || rect_contains(c.record, x, y) || rect_contains(c.mute, x, y) ||
         rect_contains(c.volume, x, y);
}

// Where the live picture lies in the window at zoom 1.
SDL_Rect live_picture_box(const LivePlayer& player) {
  int w = 0, h = 0;
  SDL_GetWindowSize(player.window, &w, &h);
  return letterbox_rect(w, h, player.picture.width, player.picture.height, player.picture.sar_num,
                        player.picture.sar_den);
}

bool live_click(LivePlayer& player, int x, int y) {
  const LiveControls& c = player.controls;
  if (rect_contains(c.camera, x, y)) {
    capture_live_screenshot(player);
  } else if (rect_contains(c.record, x, y)) {
    toggle_live_recording(player);
  } else if (rect_contains(c.mute, x, y)) {
    toggle_live_mute(player.sound);
  } else if (rect_contains(c.volume, x, y)) {
    player.volume_drag = true;
    set_live_volume(player.sound, (x - c.volume.x) * 100 / std::max(1, c.volume.w));
  } else {
    return false;
  }
  return true;
}

void redraw(LivePlayer& player) {
  draw_live_frame(player);
  SDL_RenderPresent(player.renderer);
}

bool handle_live_key(LivePlayer& player, SDL_Keycode key) {
  switch (key) {
    case SDLK_ESCAPE: return false;
    case SDLK_s: capture_live_screenshot(player); break;
    case SDLK_r: toggle_live_recording(player); break;
    case SDLK_m: toggle_live_mute(player.sound); break;
    case SDLK_UP:
    case SDLK_DOWN:
      set_live_volume(player.sound, player.sound.volume + (key == SDLK_UP ? 10 : -10));
      show_toast(("VOLUME " + std::to_string(player.sound.volume)).c_str(), 1000);
      break;
    default: return true;
  }
  redraw(player);
  return true;
}

// The start menu that follows does not draw transient messages, so a failure
// is also printed, with its reason.
void report_failure(const std::string& word, const std::string& reason) {
  show_toast(word.c_str(), 2000);
  std::printf("%s: %s\n", word.c_str(), reason.c_str());
}

}  // namespace

bool take_session_news(LivePlayer& player, LiveLink& link) {
  link.wake_pending = false;
  LiveState state;
  std::deque<LivePicture> pictures;
  std::deque<LiveSoundChunk> sound;
  LiveRecordingStatus recording;
  {
    std::lock_guard<std::mutex> hold(link.lock);
    state = link.state;
    pictures.swap(link.pictures);
    sound.swap(link.sound);
    recording = link.recording;
    player.info = link.info;
    player.connection = link.connection;
  }
  bool changed = false;
  if (state != player.state) {
    if (state == LiveState::reconnecting) std::printf("Live view: connection lost, connecting again\n");
    if (state == LiveState::live && player.state == LiveState::reconnecting) std::printf("Live view: live again\n");
    player.state = state;
    changed = true;
    if (state == LiveState::reconnecting && player.picture.texture)
      show_toast(kReconnectingMessage, 24u * 3600u * 1000u);  // until the stream is back
    // Live again: the message goes at once.
    if (state == LiveState::live && std::string(toast_text()) == kReconnectingMessage) show_toast("", 0);
  }
  if (recording.active != player.recording.active || recording.error != player.recording.error ||
      recording.path != player.recording.path) {
    if (recording.active && !player.recording.active) player.recording_since = SDL_GetTicks();
    if (!recording.error.empty() && recording.error != player.recording.error) {
      show_toast("NOT RECORDING", 3000);
      std::printf("Recording: %s\n", recording.error.c_str());
    }
    if (recording.path != player.recording.path && !recording.path.empty())
      std::printf("Recording: %s\n", recording.path.c_str());
    player.recording = recording;
    changed = true;
  }
  if (changed) update_live_title(player);
  if (player.play_sound)
    for (LiveSoundChunk& chunk : sound) queue_live_sound(player.sound, chunk, player.connection);
  for (LivePicture& picture : pictures) player.pending.push_back(std::move(picture));
  while (player.pending.size() > kMostPendingPictures) player.pending.pop_front();
  return changed;
}

namespace {

// Shows the picture due by the sound heard (the newest, without sound);
// true when one was shown.
bool show_due_picture(LivePlayer& player) {
  if (player.pending.empty()) return false;
  double heard = 0;
  const bool playing = live_sound_heard(player.sound, heard);
  std::vector<double> times;
  for (const LivePicture& p : player.pending) times.push_back(p.media_s);
  const int due = due_picture_index(times, playing && player.pictures_wait_for_sound, heard);
  if (due < 0) return false;
  for (int i = 0; i < due; ++i) player.pending.pop_front();
  LivePicture picture = std::move(player.pending.front());
  player.pending.pop_front();
  if (playing) note_av_offset(picture.by_reports ? player.sync : player.sync_by_arrival, picture.media_s - heard);
  return show_live_picture(player, *picture.frame);
}

// How long until the next waiting picture is due by the sound, in ms (at most 50).
int next_wait_ms(const LivePlayer& player) {
  double heard = 0;
  if (player.pending.empty() || !live_sound_heard(player.sound, heard)) return 50;
  const double ahead = player.pending.front().media_s - kPictureDueEarlySeconds - heard;
  return std::clamp(static_cast<int>(ahead * 1000), 1, 50);
}

void collect_stats(const LivePlayer& player, LiveViewStats* stats) {
  if (!stats) return;
  stats->pictures_shown = player.pictures_shown;
  stats->sync = player.sync;
  stats->sync_by_arrival = player.sync_by_arrival;
  stats->first_picture_ms = player.first_picture_ticks ? player.first_picture_ticks - player.started_ticks : 0;
  stats->first_sound_ms = player.sound.first_sound_ticks ? player.sound.first_sound_ticks - player.started_ticks : 0;
  stats->sound_samples_queued = player.sound.samples_queued;
  stats->silence_s = player.sound.silence_s;
  stats->cut_s = player.sound.cut_s;
  stats->info = player.info;
  stats->recording = player.recording;
  if (player.link) stats->sound_samples_decoded = player.link->sound_samples_decoded;
}

}  // namespace

void note_av_offset(AvSyncStats& stats, double offset_s) {
  ++stats.samples;
  stats.sum_s += offset_s;
  stats.sum_abs_s += std::fabs(offset_s);
  stats.max_abs_s = std::max(stats.max_abs_s, std::fabs(offset_s));
}

SDL_Rect live_camera_button_rect(int window_width) { return {window_width - 36, 10, kButton, kButton}; }

LiveControls layout_live_controls(int w, int h, bool has_sound) {
  LiveControls c;
  c.camera = live_camera_button_rect(w);
  c.record = {c.camera.x - kButton - 10, 10, kButton, kButton};
  if (has_sound) {
    c.volume = {c.record.x - 12 - kSliderWidth, 10, kSliderWidth, kButton};
    c.mute = {c.volume.x - 8 - kButton, 10, kButton, kButton};
  }
  c.bar = {0, h - kBarHeight, w, kBarHeight};
  return c;
}

int due_picture_index(const std::vector<double>& times, bool sound_playing, double heard_s) {
  if (times.empty()) return -1;
  const int newest = static_cast<int>(times.size()) - 1;
  if (!sound_playing || times.front() - heard_s > kMostPictureLeadSeconds) return newest;
  // A picture is due from half a picture time before the sound reaches it,
  // so that it shows as near its sound as the screen's steps allow.
  int due = -1;
  for (int i = 0; i <= newest; ++i)
    if (times[static_cast<size_t>(i)] <= heard_s + kPictureDueEarlySeconds) due = i;
  return due;
}

bool show_live_picture(LivePlayer& player, const AVFrame& frame) {
  if (!upload_picture_texture(player.picture, player.renderer, frame)) return false;
  if (player.first_picture_ticks == 0) player.first_picture_ticks = SDL_GetTicks() | 1;
  redraw(player);
  ++player.pictures_shown;
  return true;
}

void draw_live_frame(LivePlayer& player) {
  SDL_Renderer* r = player.renderer;
  int w = 0, h = 0;
  SDL_GetWindowSize(player.window, &w, &h);
  if (player.picture.texture) {
    draw_letterboxed(r, player.picture.texture.get(), player.picture.width, player.picture.height,
                     player.picture.sar_num, player.picture.sar_den, &player.zoom);
  } else {
    draw_waiting_screen(player, w, h);
  }
  player.controls = layout_live_controls(w, h, player.sound.has_sound);
  player.camera_button = player.controls.camera;
  SDL_SetRenderDrawBlendMode(r, SDL_BLENDMODE_BLEND);
  draw_controls(player);
  if (bar_visible(player)) draw_bar(player);
  if (player.help_visible) draw_help_overlay(r, player.window, live_help_lines());
  draw_toast(r, player.window, window_text_scale(player.window));
}

bool capture_live_screenshot(LivePlayer& player) {
  const FramePtr& shown = player.picture.shown;
  if (!player.picture.texture || !shown || !shown->buf[0]) return false;
  RtspAddress address;
  const std::string host = parse_rtsp_address(player.address, address) ? address.host : "stream";
  std::tm local{};
  CivilTime now;
  if (local_time(std::time(nullptr), local)) now = civil_time_of(local);
  now.millisecond = static_cast<int>(SDL_GetTicks() % 1000);
  return capture_picture(shown.get(), player.zoom, {user_pictures_folder(), ""},
                         live_screenshot_name(host, now));
}

bool handle_live_zoom_event(LivePlayer& player, const SDL_Event& event) {
  const int pw = player.picture.width, ph = player.picture.height;
  switch (event.type) {
    case SDL_MOUSEWHEEL: {
      if (!player.picture.texture) return false;
      const SDL_Point at = wheel_pointer(event.wheel);
      player.zoom = zoom_at(player.zoom, live_picture_box(player), pw, ph, at.x, at.y,
                            wheel_zoom_factor(event.wheel));
      return true;
    }
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button != SDL_BUTTON_LEFT || on_live_control(player, event.button.x, event.button.y))
        return false;
      player.dragging = true;
      player.drag_x = event.button.x;
      player.drag_y = event.button.y;
      return false;
    case SDL_MOUSEBUTTONUP:
      if (event.button.button == SDL_BUTTON_LEFT) player.dragging = false;
      return false;
    case SDL_MOUSEMOTION:
      if (!player.dragging || player.zoom.zoom <= 1.0) return false;
      player.zoom = pan_by(player.zoom, live_picture_box(player), pw, ph,
                           event.motion.x - player.drag_x, event.motion.y - player.drag_y);
      player.drag_x = event.motion.x;
      player.drag_y = event.motion.y;
      return true;
    case SDL_KEYDOWN:
      if (event.key.keysym.sym != SDLK_0 && event.key.keysym.sym != SDLK_KP_0) return false;
      player.zoom = ZoomView{};
      return true;
    default:
      return false;
  }
}

void toggle_live_recording(LivePlayer& player) {
  if (!player.link) {
    show_toast("NOT CONNECTED", 2000);
    return;
  }
  const bool on = !player.recording.active;
  LiveRecorderSettings settings = player.record_settings;
  if (settings.name.empty() || settings.name == "camera") {
    RtspAddress address;
    settings.name = !player.name.empty() ? player.name
                    : parse_rtsp_address(player.address, address) ? address.host : "camera";
  }
  request_live_recording(*player.link, on, settings);
  show_toast(on ? "REC" : "RECORDING STOPPED", 1500);
}

void update_live_title(LivePlayer& player) {
  if (!player.window) return;
  std::string title = live_view_title(player.address, player.state);
  if (player.recording.active) title += "  REC";
  SDL_SetWindowTitle(player.window, title.c_str());
}

bool handle_live_event(LivePlayer& player, const SDL_Event& event) {
  if (event.type == SDL_MOUSEMOTION) player.last_mouse_motion = SDL_GetTicks() | 1;
  if (!player.help_visible && handle_live_zoom_event(player, event)) {
    redraw(player);
    return true;
  }
  switch (event.type) {
    case SDL_QUIT:
      return false;
    case SDL_KEYDOWN:
      if (player.help_visible || event.key.keysym.sym == SDLK_F1 || event.key.keysym.sym == SDLK_h) {
        player.help_visible = !player.help_visible;
        redraw(player);
        return true;
      }
      return handle_live_key(player, event.key.keysym.sym);
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button == SDL_BUTTON_LEFT && live_click(player, event.button.x, event.button.y))
        redraw(player);
      return true;
    case SDL_MOUSEBUTTONUP:
      player.volume_drag = false;
      return true;
    case SDL_MOUSEMOTION:
      player.last_mouse_motion = SDL_GetTicks() | 1;
      if (player.volume_drag)
        set_live_volume(player.sound, (event.motion.x - player.controls.volume.x) * 100 /
                                          std::max(1, player.controls.volume.w));
      return true;
    default:
      free_drop_text(event);
      return true;
  }
}

LiveViewEnd show_live_session(LivePlayer& player, std::string& failure) {
  LiveLink& link = *player.link;
  if (player.started_ticks == 0) player.started_ticks = SDL_GetTicks();
  update_live_title(player);
  redraw(player);
  // Redrawn now and then without news, so the transient message and the bar come and go.
  constexpr uint32_t kIdleRedrawMs = 250;
  uint32_t last_draw = SDL_GetTicks();
  LiveViewEnd end = LiveViewEnd::escape;
  while (true) {
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, next_wait_ms(player))) {
      bool stay = handle_live_event(player, event);
      while (stay && SDL_PollEvent(&event)) {
        stay = handle_live_event(player, event);
        if (!stay) break;
      }
      if (!stay) {
        if (event.type == SDL_QUIT) end = LiveViewEnd::closed;
        break;
      }
    }
    if (link.finished) {
      std::lock_guard<std::mutex> hold(link.lock);
      if (link.failed) {
        report_failure(link.failure_word, link.failure_reason);
        failure = link.failure_word + ": " + link.failure_reason;
        end = LiveViewEnd::failed;
      }
      break;
    }
    const bool changed = take_session_news(player, link);
    const bool shown = show_due_picture(player);
    if (shown) last_draw = SDL_GetTicks();
    if ((changed && !shown) || SDL_GetTicks() - last_draw >= kIdleRedrawMs) {
      redraw(player);
      last_draw = SDL_GetTicks();
    }
  }
  close_live_sound(player.sound);
  return end;
}

bool start_live_session(LivePlayer& player, const LiveSessionSettings& settings, std::string& reason) {
  auto link = std::make_shared<LiveLink>();
  // The session wakes the window's event wait when it has news.
  link->wake = [] {
    SDL_Event event{};
    event.type = SDL_USEREVENT;
    SDL_PushEvent(&event);
  };
  try {
    player.worker = std::thread([address = player.address, settings, link] { run_live_session(address, settings, *link); });
  } catch (const std::system_error& error) {
    reason = std::string("cannot start the network thread: ") + error.what();
    return false;
  }
  player.link = link;
  return true;
}

void stop_live_session(LivePlayer& player) {
  if (!player.link) return;
  LiveLink& link = *player.link;
  link.cancel = true;
  for (int waited = 0; waited < 500 && !link.finished; waited += 5) SDL_Delay(5);
  {
    std::lock_guard<std::mutex> hold(link.wake_lock);
    link.main_listening = false;
  }
  if (link.finished) {
    player.worker.join();
  } else {
    player.worker.detach();  // it holds the link until it ends, and tells nobody
    std::printf("Live view: the network worker is still waiting for the name lookup of the camera's"
                " host; it is left to end on its own\n");
  }
  player.link.reset();
}

std::string run_live_view(const std::string& address, SDL_Window* window, SDL_Renderer* renderer) {
  return run_live_view_with(address, window, renderer, LiveViewOptions{});
}

std::string run_live_view_with(const std::string& address, SDL_Window* window, SDL_Renderer* renderer,
                               const LiveViewOptions& options) {
  LivePlayer player;
  player.window = window;
  player.renderer = renderer;
  player.address = address;
  player.name = options.name;
  player.record_settings = options.record;
  player.pictures_wait_for_sound = options.pictures_wait_for_sound;
  player.started_ticks = SDL_GetTicks();
  update_live_title(player);
  std::string failure;
  if (!start_live_session(player, options.session, failure)) {
    report_failure("ERR", failure);
    return "ERR: " + failure;
  }
  const LiveViewEnd end = show_live_session(player, failure);
  if (options.end_out) *options.end_out = end;
  collect_stats(player, options.stats_out);
  stop_live_session(player);
  release_picture_texture(player.picture);
  return end == LiveViewEnd::failed ? failure : "";
}
