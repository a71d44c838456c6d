// Frame-rate estimate from the "HXVF" timestamps and the number of slices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr double kDefaultFrameRate = 15.0;

// Relative distance within which an estimate snaps to a common rate. Timestamps
// in whole milliseconds over a second or more measure a rate to well under 1 %,
// so 5 % absorbs dropped pictures without pulling 13.5 to 12.5 or 15.
constexpr double kSnapTolerance = 0.05;

// Always within 1..120; 15 for anything implausible. `frame_count` pictures
// between the first and last "HXVF" timestamps make frame_count - 1 intervals.
// Snaps to a common camera rate (12.5 among them) when within kSnapTolerance.
// Prints "Detected FPS: ..." only when it estimated.
double detect_frame_rate(const uint8_t* payload, size_t length, int64_t frame_count);

// The estimate itself without printing; sets *duration_s when it estimated.
// Returns 0 when the default applies.
double estimate_frame_rate(const uint8_t* payload, size_t length, int64_t frame_count,
                           double* duration_s);

// The estimate from the numbers alone: `frame_count` pictures between the
// timestamps `first` and `last` (ms). 0 when the default applies.
double rate_from_span(int64_t frame_count, uint32_t first, uint32_t last, double* duration_s);

// For pictures without headers: the rate at which `pictures` pictures fill
// the time the sound spans, from the first block's timestamp `first` to the
// end of the last block (timestamp `last` plus `last_samples` at 8000 Hz).
// Snapped like the header estimate; 0 when the default applies (fewer than 2
// pictures, a span under a second or not increasing, a rate outside 1..120).
double rate_from_sound_span(int64_t pictures, uint32_t first, uint32_t last, int64_t last_samples,
                            double* duration_s);

// rate_from_sound_span, printed as "Detected FPS: %.1f (from the sound's time
// span, duration=%.1fs)" when it estimated; else the default, silently.
double detect_frame_rate_from_sound(int64_t pictures, uint32_t first, uint32_t last,
                                    int64_t last_samples);

// An estimate (0: none) as detect_frame_rate returns and prints it.
double report_frame_rate(double rate, double duration_s);

// The line that reports an estimate: "Detected FPS: %.1f (from HXVF
// timestamps, duration=%.1fs)\n", or "from the sound's time span" with
// `from_sound`; empty for no estimate (rate 0).
std::string frame_rate_line(double rate, double duration_s, bool from_sound);

// Nearest common rate within kSnapTolerance, else `rate` itself; ties go to the lower rate.
double snap_frame_rate(double rate);
