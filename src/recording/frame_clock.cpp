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

RecordingClock build_recording_clock(const uint8_t* payload, size_t length,
                                     const std::vector<NalUnit>& units,
                                     const std::vector<int64_t>& frames, uint32_t origin,
                                     double rate) {
  RecordingClock out;
  out.frame_times.reserve(frames.size());
  FrameClock clock = start_frame_clock(origin, rate);
  size_t block_size = 0;
  size_t block = next_camera_block(payload, length, 0, &block_size);
  // Blocks up to `position` move the clock (video) or are placed on it (sound).
  auto take_blocks_before = [&](size_t position) {
    while (block < position) {
      const uint32_t timestamp = read_le32(payload + block + 8);
      if (payload[block + 2] == 'V') {
        note_video_header(clock, timestamp);
      } else if (block_size > kBlockHeaderSize) {
        const double at = clock_time_of(clock, timestamp);
        const auto moved = static_cast<uint32_t>(origin + static_cast<uint32_t>(
                                                              static_cast<int64_t>(std::llround(at * 1000.0))));
        out.sound.push_back({payload + block + 20,
                             static_cast<int32_t>(block_size - kBlockHeaderSize - 4), moved});
      }
      // Only a valid sound block is passed whole, as the sound scan does.
      const bool whole = block_size > kBlockHeaderSize;
      block = next_camera_block(payload, length, block + (whole ? block_size : 1), &block_size);
    }
  };
  double time = 0.0;
  for (size_t k = 0; k < frames.size(); ++k) {
    const NalUnit& unit = units[static_cast<size_t>(frames[k])];
    take_blocks_before(static_cast<size_t>(unit.data - payload));
    if (k == 0 || starts_picture(unit)) time = next_picture_time(clock);
    out.frame_times.push_back(time);
  }
  take_blocks_before(SIZE_MAX);
  out.rate = clock_rate(clock);
  return out;
}
