// Picture pacing against an exact schedule. Pure: the caller passes the clock.
//
// Each picture owns a slot of 1000 / (fps x speed) ms, kept as a fraction so
// that 33.33 ms slots do not shrink to 33 ms. Slot n of a schedule ends at
// anchor + (n + 1) x interval; after presenting a picture the player sleeps to
// the end of its slot. A picture that overran its slot by more than the sleep
// jitter the schedule absorbs is shown at once and starts a new schedule, so
// late pictures are never dropped and the lost time is never caught up by
// hurrying later pictures.
#pragma once

#include <cstdint>

// Lateness the schedule absorbs (a sleep that woke a little late, a slow
// picture): up to this much past its slot a picture keeps the schedule.
constexpr double kPacingToleranceMs = 2.0;

struct FramePacer {
  double interval_ms = 0;  // length of one picture's slot
  bool scheduled = false;  // false: the next picture starts a new schedule
  double anchor_ms = 0;    // start of slot 0
  int64_t slot = 0;        // slot of the last picture presented
};

// Slot length for a frame rate and speed factor, in milliseconds.
double pacing_interval_ms(double fps, double speed);

// Drops the running schedule (seek, pause, speed change); the next picture
// starts a new one with the given slot length.
void restart_pacing(FramePacer& pacer, double interval_ms);

// To call right after a picture was presented at now_ms. Returns how long to
// sleep before going on, in whole milliseconds rounded to the nearest (0 for a
// late picture).
uint32_t pacing_wait_ms(FramePacer& pacer, double now_ms);
