#include "player/playback_state.h"

#include <algorithm>
#include <cmath>

#include "draw/overlay.h"
#include "draw/toast.h"

namespace {

double now_ms() {
  return static_cast<double>(SDL_GetPerformanceCounter()) * 1000.0 /
         static_cast<double>(SDL_GetPerformanceFrequency());
}

}  // namespace

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
  const ParameterSets sets = find_parameter_sets_before(rec.units, u);
  if (st.decoding) {
    DecoderSeek seek;
    seek.unit = static_cast<uint64_t>(u);
    seek.frame = k;
    if (sets.sps >= 0 && sets.pps >= 0) {
      seek.sps = sets.sps;
      seek.pps = sets.pps;
    }
    request_seek(*st.decoding, seek);
  }
  st.nal_cursor = static_cast<uint64_t>(u);
  st.frame_counter = k;
  st.position_s = frame_time(st, k);
  clock_wait_for_picture(st.clock, st.position_s);
  st.reached_end = false;
  ++st.stats.seeks;
  resync_audio(st.audio, frame_time(st, k));
}
