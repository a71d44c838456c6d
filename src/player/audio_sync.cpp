#include "player/audio_sync.h"

#include <algorithm>
#include <cmath>

#include "player/audio_output.h"

namespace {

void record_feed(void* samples, const AudioFeedReport& report) {
  static_cast<std::vector<SyncSample>*>(samples)->push_back(
      {report.video_position_s, heard_seconds(report.sound_end_s, report.queued_bytes),
       report.skipped_blocks, report.silence_s});
}

}  // namespace

SyncReport summarize_sync(const std::vector<SyncSample>& samples) {
  SyncReport report;
  report.samples = samples.size();
  if (samples.empty()) return report;
  report.skipped_blocks = samples.back().skipped_blocks;
  report.silence_s = samples.back().silence_s;
  double sum_x = 0, sum_y = 0;
  for (const SyncSample& s : samples) {
    const double gap = s.video_s - s.heard_s;
    report.max_gap_s = std::max(report.max_gap_s, std::fabs(gap));
    report.most_behind_s = std::max(report.most_behind_s, gap);
    report.most_ahead_s = std::max(report.most_ahead_s, -gap);
    sum_x += s.video_s;
    sum_y += gap;
  }
  const double n = static_cast<double>(samples.size());
  const double mean_x = sum_x / n;
  report.mean_gap_s = sum_y / n;
  double sxx = 0, sxy = 0;
  for (const SyncSample& s : samples) {
    const double dx = s.video_s - mean_x;
    sxx += dx * dx;
    sxy += dx * (s.video_s - s.heard_s - report.mean_gap_s);
  }
  if (sxx > 0) report.drift_s_per_min = sxy / sxx * 60.0;
  return report;
}

void start_sync_recording(std::vector<SyncSample>& samples) {
  set_audio_feed_observer(record_feed, &samples);
}

void stop_sync_recording() { set_audio_feed_observer(nullptr, nullptr); }
