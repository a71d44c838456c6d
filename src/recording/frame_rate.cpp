#include "recording/frame_rate.h"

#include <cmath>
#include <cstdio>

#include "recording/recording.h"

double snap_frame_rate(double rate) {
  static const double kCommonRates[] = {5, 8, 10, 12, 15, 20, 24, 25, 30, 60};
  double best = 0.0;
  double best_difference = 999.0;
  for (double candidate : kCommonRates) {
    const double difference = std::fabs(candidate - rate);
    if (difference < best_difference) {  // strictly smaller: ties keep the lower rate
      best_difference = difference;
      best = candidate;
    }
  }
  return best_difference / best < 0.1 ? best : rate;
}

double estimate_frame_rate(const uint8_t* payload, size_t length, int64_t frame_count,
                           double* duration_s) {
  if (frame_count < 2 || length < 32) return 0.0;
  const size_t first_pos = find_first_hxvf(payload, length);
  if (first_pos == SIZE_MAX) return 0.0;
  const uint32_t first = read_le32(payload + first_pos + 8);
  const uint32_t last = read_le32(payload + find_last_hxvf(payload, length) + 8);
  if (last <= first) return 0.0;  // no wrap-around handling
  const double duration = static_cast<uint32_t>(last - first) / 1000.0;
  if (duration < 1.0) return 0.0;
  const double rate = static_cast<double>(frame_count) / duration;
  if (rate < 1.0 || rate > 120.0) return 0.0;
  if (duration_s) *duration_s = duration;
  return snap_frame_rate(rate);
}

double detect_frame_rate(const uint8_t* payload, size_t length, int64_t frame_count) {
  double duration = 0.0;
  const double rate = estimate_frame_rate(payload, length, frame_count, &duration);
  if (rate == 0.0) return kDefaultFrameRate;
  std::printf("Detected FPS: %.1f (from HXVF timestamps, duration=%.1fs)\n", rate, duration);
  return rate;
}
