#include "recording/frame_clock.h"

#include <cmath>

FrameClock start_frame_clock(uint32_t origin, double fallback_rate) {
  FrameClock clock;
  clock.fallback_rate = fallback_rate > 0 ? fallback_rate : 15.0;
  clock.base_ts = origin;
  return clock;
}

double clock_rate(const FrameClock& clock) {
  if (clock.trusted_steps == 0 || clock.trusted_span <= 0) return clock.fallback_rate;
  const double rate = static_cast<double>(clock.trusted_steps) / clock.trusted_span;
  return rate >= 1.0 && rate <= 120.0 ? rate : clock.fallback_rate;
}

void note_video_header(FrameClock& clock, uint32_t timestamp) {
  clock.has_pending = true;
  clock.pending_ts = timestamp;
}

double clock_time_of(const FrameClock& clock, uint32_t timestamp) {
  // Differences are taken modulo 2^32, so a clock passing 2^32 ms carries on.
  const auto steps = static_cast<int32_t>(timestamp - clock.base_ts);
  return clock.base_time + steps / 1000.0;
}

double next_picture_time(FrameClock& clock) {
  const double spaced = clock.any_picture ? clock.last_time + 1.0 / clock_rate(clock) : 0.0;
  double time = spaced;
  if (clock.has_pending) {
    const double own = clock_time_of(clock, clock.pending_ts);
    const double step = own - clock.last_time;
    const bool trusted = !clock.any_picture ? own >= 0 : step > 0 && step <= kMaxPictureGapS;
    if (trusted) {
      time = own;
      if (clock.any_picture) {
        ++clock.trusted_steps;
        clock.trusted_span += step;
      }
    } else {
      // Count later timestamps from this picture, so one jump costs one interval.
      clock.base_ts = clock.pending_ts;
      clock.base_time = spaced;
    }
    clock.has_pending = false;
  }
  clock.any_picture = true;
  clock.last_time = time;
  return time;
}

bool starts_picture(const NalUnit& slice) { return slice.size < 2 || (slice.data[1] & 0x80) != 0; }

int64_t count_pictures(const std::vector<NalUnit>& units, const std::vector<int64_t>& frames) {
  int64_t pictures = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    pictures += k == 0 || starts_picture(units[static_cast<size_t>(frames[k])]) ? 1 : 0;
  }
  return pictures;
}
