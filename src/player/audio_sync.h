// Measuring how well the sound keeps step with the picture: samples taken at
// every audio feed (through the feed observer of audio_output.h) and a summary
// of the gap between the picture's time and the sound heard so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SyncSample {
  double video_s;               // the picture's time
  double heard_s;               // recording time of the sound the device has reached
  uint64_t skipped_blocks = 0;  // blocks skipped to keep step so far
  double silence_s = 0;         // silence queued to keep step so far
};

struct SyncReport {
  size_t samples = 0;
  double max_gap_s = 0;        // largest |video - heard|
  double most_behind_s = 0;    // largest video - heard (sound behind the picture), or 0
  double most_ahead_s = 0;     // largest heard - video (sound ahead of the picture), or 0
  double mean_gap_s = 0;       // average of video - heard (positive: sound behind)
  double drift_s_per_min = 0;  // slope of a least-squares line through the gap over video time
  uint64_t skipped_blocks = 0;  // by the last sample
  double silence_s = 0;         // by the last sample
};

// Summary of the samples; all zero for none, no drift for fewer than two distinct times.
SyncReport summarize_sync(const std::vector<SyncSample>& samples);

// Appends a sample to `samples` at every feed of an open device (replacing any
// other feed observer) until stopped; `samples` must outlive the recording.
void start_sync_recording(std::vector<SyncSample>& samples);
void stop_sync_recording();
