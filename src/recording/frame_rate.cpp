#include "recording/frame_rate.h"

#include <cmath>
#include <cstdio>

#include "recording/recording.h"

double snap_frame_rate(double rate) {
  static const double kCommonRates[] = {5, 8, 10, 12, 12.5, 15, 20, 24, 25, 30, 60};
  double best = 0.0;
  double best_difference = 999.0;
  for (double candidate : kCommonRates) {
    const double difference = std::fabs(candidate - rate);
    if (difference < best_difference) {  // strictly smaller: ties keep the lower rate
      best_difference = difference;
      best = candidate;
    }
  }
  return best_difference / best < kSnapTolerance ? best : rate;
}

double estimate_frame_rate(const uint8_t* payload, size_t length, int64_t frame_count,
                           double* duration_s) {
  if (frame_count < 2 || length < 32) return 0.0;
  const size_t first_pos = find_first_hxvf(payload, length);
  if (first_pos == SIZE_MAX) return 0.0;
  const uint32_t first = read_le32(payload + first_pos + 8);
  const uint32_t last = read_le32(payload + find_last_hxvf(payload, length) + 8);
  return rate_from_span(frame_count, first, last, duration_s);
}

double rate_from_span(int64_t frame_count, uint32_t first, uint32_t last, double* duration_s) {
  if (frame_count < 2 || last <= first) return 0.0;  // no wrap-around handling
  const double duration = static_cast<uint32_t>(last - first) / 1000.0;
  if (duration < 1.0) return 0.0;
  // N pictures span N - 1 intervals.
  const double rate = static_cast<double>(frame_count - 1) / duration;
  if (rate < 1.0 || rate > 120.0) return 0.0;
  if (duration_s) *duration_s = duration;
  return snap_frame_rate(rate);
}

double detect_frame_rate(const uint8_t* payload, size_t length, int64_t frame_count) {
  double duration = 0.0;
  const double rate = estimate_frame_rate(payload, length, frame_count, &duration);
  return report_frame_rate(rate, duration);
}

double report_frame_rate(double rate, double duration_s) {
  if (rate == 0.0) return kDefaultFrameRate;
  std::fputs(frame_rate_line(rate, duration_s, false).c_str(), stdout);
  return rate;
}

std::string frame_rate_line(double rate, double duration_s, bool from_sound) {
  if (rate == 0.0) return "";
  char line[128];
  std::snprintf(line, sizeof line, "Detected FPS: %.1f (from %s, duration=%.1fs)\n", rate,
                from_sound ? "the sound's time span" : "HXVF timestamps", duration_s);
  return line;
}

double rate_from_sound_span(int64_t pictures, uint32_t first, uint32_t last, int64_t last_samples,
                            double* duration_s) {
  if (pictures < 2 || last < first || last_samples < 0) return 0.0;  // no wrap-around handling
  const double duration = static_cast<uint32_t>(last - first) / 1000.0 +
                          static_cast<double>(last_samples) / kSoundSampleRate;
  if (duration < 1.0) return 0.0;
  // Each picture lasts one interval: N pictures fill the span.
  const double rate = static_cast<double>(pictures) / duration;
  if (rate < 1.0 || rate > 120.0) return 0.0;
  if (duration_s) *duration_s = duration;
  return snap_frame_rate(rate);
}

double detect_frame_rate_from_sound(int64_t pictures, uint32_t first, uint32_t last,
                                    int64_t last_samples) {
  double duration = 0.0;
  const double rate = rate_from_sound_span(pictures, first, last, last_samples, &duration);
  if (rate == 0.0) return kDefaultFrameRate;
  std::fputs(frame_rate_line(rate, duration, true).c_str(), stdout);
  return rate;
}
