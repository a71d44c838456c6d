// Frame-rate estimate from the "HXVF" timestamps and the number of slices.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr double kDefaultFrameRate = 15.0;

// Always within 1..120; 15 for anything implausible. Snaps to a common camera
// rate when within 10 %. Prints "Detected FPS: ..." only when it estimated.
double detect_frame_rate(const uint8_t* payload, size_t length, int64_t frame_count);

// The estimate itself without printing; sets *duration_s when it estimated.
// Returns 0 when the default applies.
double estimate_frame_rate(const uint8_t* payload, size_t length, int64_t frame_count,
                           double* duration_s);

// Nearest common rate within 10 %, else `rate` itself; ties go to the lower rate.
double snap_frame_rate(double rate);
