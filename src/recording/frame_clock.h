// The camera's own clock: each picture's time from its "HXVF" timestamp,
// measured from the time origin, with the detected rate filling in where a
// picture has no timestamp of its own or the timestamps cannot be trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "recording/recording.h"

// A step between two pictures' timestamps longer than this is a jump of the
// camera's clock, not a pause in the pictures: that step is rate-spaced.
constexpr double kMaxPictureGapS = 5.0;

// Running state of the clock over a recording read in payload order.
struct FrameClock {
  double fallback_rate = 15.0;  // until the timestamps have measured one
  int64_t trusted_steps = 0;    // steps between pictures taken from their own
  double trusted_span = 0.0;    // timestamps, and the seconds they add up to
  uint32_t base_ts = 0;      // a timestamp and the time it maps to; later
  double base_time = 0.0;    // timestamps count from this pair
  bool any_picture = false;
  double last_time = 0.0;    // the last picture's time
  bool has_pending = false;  // a header seen and not yet taken by a picture
  uint32_t pending_ts = 0;
};

// A clock starting at the time origin (time 0), spacing pictures at
// `fallback_rate` (> 0) until its own timestamps have measured a rate.
FrameClock start_frame_clock(uint32_t origin, double fallback_rate);

// The rate for pictures without a usable timestamp: the trusted steps so far
// per second of them (within 1..120), else the fallback. A jump of the
// camera's clock never enters it, so it stays the camera's real rate.
double clock_rate(const FrameClock& clock);

// An "HXVF" timestamp; the next picture takes it as its own.
void note_video_header(FrameClock& clock, uint32_t timestamp);

// The time in seconds of the next picture: its own timestamp when it has one
// that follows the last picture by more than 0 and at most kMaxPictureGapS,
// else the last time plus one interval at clock_rate (the clock then counts
// from there). The first picture without a timestamp is at 0.
double next_picture_time(FrameClock& clock);

// Where a timestamp read now (a sound block's) falls on the pictures' clock.
double clock_time_of(const FrameClock& clock, uint32_t timestamp);

// True when a slice begins a new picture (first_mb_in_slice == 0); the
// following slices of a picture share its time.
bool starts_picture(const NalUnit& slice);

// Number of pictures among the frames: the first slice and every later one
// that begins a picture.
int64_t count_pictures(const std::vector<NalUnit>& units, const std::vector<int64_t>& frames);
