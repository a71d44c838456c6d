#include "player/playback_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "draw/overlay.h"
#include "draw/toast.h"
#include "player/marks.h"
#include "recording/folder_order.h"

namespace {

// The pictures kept while playing for the first steps back after a pause:
// about 20 at 1080p, 5 at 4K.
constexpr size_t kRecentPicturesBytes = size_t{64} << 20;
// Refreshed every pass while a seek waits for the index.
constexpr uint32_t kWaitingMessageMs = 400;

double now_ms() {
  return static_cast<double>(SDL_GetPerformanceCounter()) * 1000.0 /
         static_cast<double>(SDL_GetPerformanceFrequency());
}

// True when picture `later` is the one right after picture `earlier`.
bool next_picture(const PlayerState& st, int earlier, int later) {
  return earlier >= 0 && later > earlier && picture_number(st, later) == picture_number(st, earlier) + 1;
}

void forget_recent_pictures(PlayerState& st) {
  st.recent.clear();
  st.recent_bytes = 0;
}

// The picture shown and those shown just before it go to the stepper, each
// knowing its predecessor where the tags run on without a gap.
void hand_recent_pictures_to_stepper(PlayerState& st) {
  if (st.shown_frame < 0 || !st.video.frame || !st.video.frame->buf[0]) return;
  FramePtr shown(av_frame_clone(st.video.frame.get()));
  const int before_shown = st.recent.empty() ? -1 : st.recent.back().first;
  stepper_adopt(st.stepper, st.shown_frame, std::move(shown),
                next_picture(st, before_shown, st.shown_frame) ? before_shown : -1);
  for (size_t i = st.recent.size(); i-- > 0;) {
    const int tag = st.recent[i].first;
    const int before = i > 0 ? st.recent[i - 1].first : -1;
    stepper_adopt(st.stepper, tag, std::move(st.recent[i].second),
                  next_picture(st, before, tag) ? before : -1);
  }
  forget_recent_pictures(st);
}

}  // namespace

PlayerPreferences& player_preferences() {
  static PlayerPreferences preferences;
  return preferences;
}

void remember_recent_picture(PlayerState& st, int tag, FramePtr picture) {
  if (tag < 0 || !picture || !picture->buf[0]) return;
  if (!st.recent.empty() && !next_picture(st, st.recent.back().first, tag)) {
    st.recent.clear();
    st.recent_bytes = 0;
  }
  st.recent_bytes += picture_bytes(picture.get());
  st.recent.emplace_back(tag, std::move(picture));
  while (st.recent_bytes > kRecentPicturesBytes && !st.recent.empty()) {
    st.recent_bytes -= picture_bytes(st.recent.front().second.get());
    st.recent.pop_front();
  }
}

void show_stepper_picture(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                          const AVFrame* picture, int tag) {
  if (!st.video.frame) return;
  av_frame_unref(st.video.frame.get());
  if (av_frame_ref(st.video.frame.get(), picture) < 0) return;
  st.shown_frame = tag;
  st.frame_counter = tag;
  st.position_s = frame_time(st, tag);
  st.stepped = true;
  if (!window || !renderer) return;
  const OverlayView view = overlay_view(st);
  SDL_Window* shown_in = window;
  SDL_Renderer* drawn_by = renderer;
  present_picture(st.video, shown_in, drawn_by, st.overlay_visible ? &view : nullptr, true,
                  st.help_visible);
  set_playback_title(window, view);
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

double video_position(const PlayerState& st) { return st.position_s; }

double end_time(const PlayerState& st) { return st.duration > 0 ? st.duration : 0; }

bool index_reaches(const PlayerState& st, double seconds) {
  return st.recording.index_complete || seconds <= indexed_time(st.recording);
}

int index_percent(const PlayerState& st) {
  const Recording& rec = st.recording;
  if (rec.index_complete) return 100;
  return rec.length > 0 ? static_cast<int>(100.0 * static_cast<double>(rec.indexed_bytes) /
                                           static_cast<double>(rec.length))
                        : 0;
}

void show_index_wait(const PlayerState& st) {
  char text[64];
  std::snprintf(text, sizeof text, "WAITING FOR THE INDEX  %d%%", index_percent(st));
  show_toast(text, kWaitingMessageMs);
}

void go_on_with_waiting_seek(PlayerState& st) {
  if (st.pending_seek_s < 0) return;
  if (!index_reaches(st, st.pending_seek_s)) return show_index_wait(st);
  const double target = st.pending_seek_s;
  seek_to_frame(st, frame_at_time(st, target));
}

void seek_to_time(PlayerState& st, double seconds) {
  st.pending_seek_s = seconds < 0 ? 0 : seconds;
  go_on_with_waiting_seek(st);
}


std::string speed_message(double speed) {
  char text[72];
  format_speed(text, sizeof text, speed);
  return text;
}

void set_speed(PlayerState& st, int index) {
  if (index < 0 || index >= kSpeedStepCount || index == st.speed_index) return;
  st.speed_index = index;
  st.speed = kSpeedSteps[index];
  clock_set_speed(st.clock, st.speed, now_ms());
  if (st.decoding && !wants_key_frames_only(st.speed)) cancel_key_frames_only(*st.decoding);
  show_toast(speed_message(st.speed).c_str(), 1500);
  if (speed_plays_sound(st.speed)) {
    resync_audio(st.audio, video_position(st));
  } else {
    clear_audio_queue(st.audio);
  }
}

namespace {

// The decoding thread goes to key frame k (with the parameter sets before
// it) and queues pictures from frame `show_from` on (-1: from k); the clock
// waits for the first of them.
void send_decoder_to(PlayerState& st, int k, int show_from) {
  const Recording& rec = st.recording;
  const int64_t u = rec.frames[static_cast<size_t>(k)];
  const ParameterSets sets = find_parameter_sets_before(rec.units, u);
  if (st.decoding) {
    DecoderSeek seek;
    seek.unit = static_cast<uint64_t>(u);
    seek.frame = k;
    seek.show_from = show_from;
    if (sets.sps >= 0 && sets.pps >= 0) {
      seek.sps = sets.sps;
      seek.pps = sets.pps;
    }
    request_seek(*st.decoding, seek);
  }
  st.nal_cursor = static_cast<uint64_t>(u);
  clock_wait_for_picture(st.clock, frame_time(st, show_from > k ? show_from : k));
  st.reached_end = false;
}

}  // namespace

void seek_to_frame(PlayerState& st, int target) {
  st.pending_seek_s = -1;  // this seek replaces one waiting for the index
  const Recording& rec = st.recording;
  const int k = find_seek_frame(rec.units, rec.frames, target);
  if (rec.frames.empty()) return;
  send_decoder_to(st, k, -1);
  forget_recent_pictures(st);
  st.frame_counter = k;
  st.position_s = frame_time(st, k);
  st.unreachable_frame = -1;
  ++st.stats.seeks;
  resync_audio(st.audio, frame_time(st, k));
}

void settle_on_shown_picture(PlayerState& st) {
  if (st.shown_frame < 0) return;
  st.frame_counter = st.shown_frame;
  st.position_s = frame_time(st, st.shown_frame);
  hand_recent_pictures_to_stepper(st);
}

void resume_after_shown_picture(PlayerState& st) {
  if (st.stepped && st.shown_frame >= 0 && !st.recording.frames.empty()) {
    // From the picture after the one shown; after the last one nothing is
    // queued and the end follows.
    const int next = st.shown_frame + 1;
    const int k = find_seek_frame(st.recording.units, st.recording.frames, next);
    send_decoder_to(st, k, next);
    st.position_s = frame_time(st, st.shown_frame);
  }
  st.stepped = false;
  st.unreachable_frame = -1;
  reset_stepper(st.stepper);  // its pictures and decoder are memory only a pause needs
}

int picture_number(const PlayerState& st, int tag) {
  if (tag < 0) return 0;
  if (st.picture_numbers.empty()) return tag + 1;
  const size_t last = st.picture_numbers.size() - 1;
  return st.picture_numbers[static_cast<size_t>(tag) < last ? static_cast<size_t>(tag) : last];
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
  view.indexed = st.recording.index_complete || st.duration <= 0
                     ? 1.0f
                     : static_cast<float>(std::min(1.0, indexed_time(st.recording) / st.duration));
  view.paused = st.paused;
  view.speed = st.speed;
  view.audio_available = st.audio.has_audio;
  view.volume = st.audio.volume;
  view.muted = st.audio.muted;
  view.ended = st.ended;
  view.auto_continue = player_preferences().auto_continue;
  // Paused, the picture is being examined: its exact time and number.
  view.precise = st.paused && !st.seek_drag && !st.ended;
  view.picture_number = st.shown_frame >= 0 ? picture_number(st, st.shown_frame) : 0;
  const TimeOfDayTexts clock = time_of_day_texts(st.start, view.position_s, view.precise);
  view.time_of_day = clock.bar;
  view.title_time_of_day = clock.title;
  view.time_of_day_large = player_preferences().time_of_day_large;
  view.file_name = file_name_of(st.path);
  if (st.activity.strip_width > 0) view.activity = &st.activity.strip;
  view.activity_from = activity_strength(static_cast<float>(kActiveLevel));
  const MarkFractions marks = marks_on_track(stretch_marks(), st.path, st.duration);
  view.mark_in = marks.in;
  view.mark_out = marks.out;
  view.skip_quiet = player_preferences().skip_quiet;
  view.skip_watching = st.skip.watching;
  return view;
}
