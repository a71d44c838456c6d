#include "player/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "draw/overlay.h"
#include "platform/choosers.h"
#include "draw/toast.h"
#include "player/controls.h"

namespace {

constexpr int kDecoderThreads = 4;
constexpr uint32_t kPausedFrameMs = 30;
constexpr uint32_t kFinishedPollMs = 50;

double now_ms() {
  return static_cast<double>(SDL_GetPerformanceCounter()) * 1000.0 /
         static_cast<double>(SDL_GetPerformanceFrequency());
}

OverlayView overlay_view(const PlayerState& st) {
  OverlayView view;
  if (st.seek_drag) {
    view.progress = st.seek_fraction;
    view.position_s = st.duration * static_cast<double>(st.seek_fraction);
  } else {
    view.position_s = video_position(st);
    view.progress = st.duration > 0 ? static_cast<float>(std::min(1.0, view.position_s / st.duration))
                                    : 0.0f;
  }
  view.duration_s = st.duration;
  view.paused = st.paused;
  view.speed = st.speed;
  view.audio_available = st.audio.has_audio;
  view.volume = st.audio.volume;
  view.muted = st.audio.muted;
  view.ended = st.ended;
  view.auto_continue = player_preferences().auto_continue;
  return view;
}

void handle_pending_events(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer) {
  SDL_Event event;
  while (SDL_PollEvent(&event)) handle_player_event(st, window, renderer, event);
}

// Paused without a seek drag: the last picture with the overlay, nothing decoded.
void show_paused_frame(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer) {
  st.overlay_visible = true;
  if (renderer && st.video.texture) {
    const OverlayView view = overlay_view(st);
    draw_video_frame(st.video, window, renderer, &view, true, st.help_visible);
  }
  SDL_Delay(kPausedFrameMs);
}

void sleep_out_slot(PlayerState& st, const PlaybackOptions& options) {
  if (!options.pacing) return;
  const uint32_t wait = pacing_wait_ms(st.pacer, now_ms());
  if (wait > 0) SDL_Delay(wait);
}

// A picture is in the decoder's frame: sound up to the lead-ahead, then the picture.
void show_decoded_picture(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                          const PlaybackOptions& options) {
  feed_audio(st.audio, video_position(st), st.paused, st.speed);
  const OverlayView view = overlay_view(st);
  present_picture(st.video, window, renderer, st.overlay_visible ? &view : nullptr, true,
                  st.help_visible);
  ++st.stats.pictures_shown;
  if (options.on_picture) options.on_picture(st);
  sleep_out_slot(st, options);
}

void decode_next_unit(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                      const PlaybackOptions& options) {
  const NalUnit& unit = st.recording.units[st.nal_cursor];
  ++st.nal_cursor;
  if (is_slice_type(unit.type)) {
    ++st.frame_counter;
    ++st.stats.slices_sent;
  }
  decode_nal_unit(st.video, unit, [&] { show_decoded_picture(st, window, renderer, options); });
}

// The pictures still inside the decoder, shown bare (no overlay, no message),
// converted like any other picture.
void drain_and_show_last_pictures(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                                  const PlaybackOptions& options) {
  restart_pacing(st.pacer, pacing_interval_ms(st.fps, st.speed));
  drain_decoder(st.video, [&] {
    if (!present_picture(st.video, window, renderer, nullptr, false)) return;
    ++st.stats.pictures_drained;
    sleep_out_slot(st, options);
  });
}

// The last picture with the bar, "END" and whatever message or help is up.
void show_finished_frame(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer) {
  st.overlay_visible = true;
  const OverlayView view = overlay_view(st);
  draw_video_frame(st.video, window, renderer, &view, true, st.help_visible);
}

// True while the finished state lasts: nothing asked to leave and no seek
// made the playback run again.
bool still_finished(const PlayerState& st) { return !st.leave && !playback_running(st); }

// The finished state: redrawn while something on it changes (events, an
// expiring message), otherwise idle.
void run_finished_state(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                        const PlaybackOptions& options) {
  // Without a window no key can ever arrive: waiting would never end.
  if (!window) return;
  st.ended = true;
  st.paused = false;
  show_finished_frame(st, window, renderer);
  if (options.on_finished) options.on_finished(st);
  bool message_was_showing = true;
  while (still_finished(st)) {
    bool changed = false;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      handle_player_event(st, window, renderer, event);
      changed = true;
    }
    if (!still_finished(st)) break;
    const bool message_showing = toast_showing(SDL_GetTicks());
    if (changed || message_showing || message_was_showing) {
      show_finished_frame(st, window, renderer);
    }
    message_was_showing = message_showing;
    SDL_Delay(kFinishedPollMs);
  }
  st.ended = false;
  // Played again: the bar stays a while, and with it the title leaves "Finished".
  st.last_mouse_motion = SDL_GetTicks();
}

}  // namespace

bool open_playback(PlayerState& st, const std::string& path) {
  // A click before this playback has drawn its bar must not reach the
  // previous recording's buttons.
  clear_overlay_rects();
  take_carried_speed(st);
  st.path = path;
  if (!load_recording(path, st.recording)) return false;
  remember_used_folder(path);
  st.frame_count = static_cast<int>(st.recording.frames.size());
  st.fps = st.recording.fps;
  st.duration = recording_duration(st.recording);
  if (!setup_video_decoder(st.video, kDecoderThreads, has_split_pictures(st.recording.units))) {
    return false;
  }
  // Sound blocks come with their timestamps on the pictures' clock.
  open_audio_output(st.audio, std::move(st.recording.sound), st.recording.time_origin);
  restart_pacing(st.pacer, pacing_interval_ms(st.fps, st.speed));
  st.last_mouse_motion = SDL_GetTicks();
  return true;
}

void run_playback_step(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                       const PlaybackOptions& options) {
  handle_pending_events(st, window, renderer);
  if (st.leave) return;
  update_overlay_visibility(st, SDL_GetTicks());
  if (st.paused && !st.seek_drag) {
    show_paused_frame(st, window, renderer);
    return;
  }
  if (st.nal_cursor < st.recording.units.size()) decode_next_unit(st, window, renderer, options);
}

bool playback_running(const PlayerState& st) {
  return !st.leave && st.nal_cursor < st.recording.units.size();
}

void finish_playback(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                     const PlaybackOptions& options) {
  drain_and_show_last_pictures(st, window, renderer, options);
  if (continue_with_next_recording(st)) return;
  run_finished_state(st, window, renderer, options);
}

void close_playback(PlayerState& st) {
  close_audio_output(st.audio);
  teardown_video_output(st.video);
  st.recording = Recording{};
}

// Frames past the last one (the position after the last picture was sent)
// lie one interval of the clock's own rate further on each, so the end of
// the last picture is the recording's duration.
double frame_time(const PlayerState& st, int frame) {
  const std::vector<double>& times = st.recording.frame_times;
  if (times.empty() || frame < 0) return frame / st.fps;
  const auto count = static_cast<int>(times.size());
  if (frame < count) return times[static_cast<size_t>(frame)];
  return times.back() + (frame - count + 1) / st.recording.clock_rate;
}

int frame_at_time(const PlayerState& st, double seconds) {
  const std::vector<double>& times = st.recording.frame_times;
  if (st.frame_count <= 0 || seconds <= 0) return 0;
  if (times.empty()) {
    const double frame = std::floor(seconds * st.fps + 1e-9);
    return frame >= st.frame_count ? st.frame_count - 1 : static_cast<int>(frame);
  }
  const auto after = std::upper_bound(times.begin(), times.end(), seconds + 1e-9);
  const auto frame = static_cast<int>(after - times.begin()) - 1;
  return frame < 0 ? 0 : std::min(frame, st.frame_count - 1);
}

double video_position(const PlayerState& st) { return frame_time(st, st.frame_counter); }

std::string speed_message(double speed) {
  char text[72];
  format_speed(text, sizeof text, speed);
  return text;
}

void set_speed(PlayerState& st, int index) {
  if (index < 0 || index >= kSpeedStepCount || index == st.speed_index) return;
  st.speed_index = index;
  st.speed = kSpeedSteps[index];
  restart_pacing(st.pacer, pacing_interval_ms(st.fps, st.speed));
  show_toast(speed_message(st.speed).c_str(), 1500);
  if (speed_plays_sound(st.speed)) {
    resync_audio(st.audio, video_position(st));
  } else {
    clear_audio_queue(st.audio);
  }
}

int find_seek_frame(const std::vector<NalUnit>& units, const std::vector<int64_t>& frames,
                    int target) {
  const int count = static_cast<int>(frames.size());
  if (count == 0) return 0;
  int k = target < 0 ? 0 : (target >= count ? count - 1 : target);
  for (; k >= 0; --k) {
    if (units[static_cast<size_t>(frames[static_cast<size_t>(k)])].type == 5) return k;
  }
  return 0;
}

ParameterSets find_parameter_sets_before(const std::vector<NalUnit>& units, int64_t u) {
  ParameterSets found;
  for (int64_t i = u - 1; i >= 0; --i) {
    const int type = units[static_cast<size_t>(i)].type;
    if (type == 7 && found.sps < 0) found.sps = i;
    if (type == 8 && found.pps < 0) found.pps = i;
    if (found.sps >= 0 && found.pps >= 0) return found;
  }
  return ParameterSets{};
}

void seek_to_frame(PlayerState& st, int target) {
  const Recording& rec = st.recording;
  const int k = find_seek_frame(rec.units, rec.frames, target);
  if (rec.frames.empty()) return;
  const int64_t u = rec.frames[static_cast<size_t>(k)];
  flush_decoder(st.video);
  const ParameterSets sets = find_parameter_sets_before(rec.units, u);
  if (sets.sps >= 0 && sets.pps >= 0) {
    decode_nal_unit(st.video, rec.units[static_cast<size_t>(sets.sps)], nullptr);
    decode_nal_unit(st.video, rec.units[static_cast<size_t>(sets.pps)], nullptr);
  }
  st.nal_cursor = static_cast<uint64_t>(u);
  st.frame_counter = k;
  restart_pacing(st.pacer, pacing_interval_ms(st.fps, st.speed));
  ++st.stats.seeks;
  resync_audio(st.audio, frame_time(st, k));
}

std::string play_recording_with(const std::string& path, SDL_Window*& window,
                                SDL_Renderer*& renderer, const PlaybackOptions& options) {
  PlayerState st;
  st.video.allow_direct_rgb = options.allow_direct_rgb;
  if (!open_playback(st, path)) {
    close_playback(st);
    return "";
  }
  // A seek or a replay from the finished state runs the playback again.
  do {
    while (playback_running(st)) run_playback_step(st, window, renderer, options);
    if (st.leave) break;
    finish_playback(st, window, renderer, options);
  } while (playback_running(st));
  close_playback(st);
  if (options.stats_out) *options.stats_out = st.stats;
  return st.next_action;
}

std::string play_recording(const std::string& path, SDL_Window*& window, SDL_Renderer*& renderer) {
  return play_recording_with(path, window, renderer, PlaybackOptions{});
}
