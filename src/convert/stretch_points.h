// The in- and out-points of a stretch as a command line gives them, placed in
// a chain of recordings: the one named and those that follow it in its folder
// (cameras cut one day into files of a few minutes). Pure.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "player/time_of_day.h"

// Seconds from the recording's first picture ("95", "95.5"), or a time of day
// ("08:04:12", "8:04:12.5").
struct StretchPoint {
  bool time_of_day = false;
  double seconds = 0;  // from the first picture; for a time of day, since midnight
};

// The point written in `text`; nothing for anything else (empty, signs,
// exponents, "4:12", hours past 23, minutes or seconds past 59, more than
// three decimals, trailing characters).
std::optional<StretchPoint> parse_stretch_point(const std::string& text);

// "95.5 s" or "08:04:12" (with ".5" when it has a fraction), as the errors name a point.
std::string describe_stretch_point(const StretchPoint& point);

// What a chain knows of each of its recordings.
struct ChainRecording {
  std::optional<CivilTime> start;  // the start its name gives
  double duration_s = 0;
};

// A place in a chain: the recording and seconds from its first picture.
struct ChainPlace {
  size_t recording = 0;
  double seconds = 0;
};

enum class PlaceOutcome {
  placed,
  past_the_end,    // beyond the last recording of the chain so far
  before_start,    // a time of day before the first recording's start
  no_time_of_day,  // a time of day, and the first recording's name gives no start
};

// Places `point` in `chain` (at least one recording). Seconds run from the
// first recording's first picture on through the following ones, each
// counted from the end of the one before. A time of day is taken on the
// first recording's date (on the next day when that is more than 12 hours
// before its start, so a stretch may cross midnight) and found by the
// recordings' named starts (one without a name's start begins where the one
// before it ends); in a gap between two recordings an in-point goes to the
// start of the later one and an out-point to the end of the earlier one.
// An in-point lies before its recording's end, an out-point up to it.
PlaceOutcome place_stretch_point(const StretchPoint& point, const std::vector<ChainRecording>& chain,
                                 bool out_point, ChainPlace* place);

// True when place `a` comes before place `b`.
bool place_before(const ChainPlace& a, const ChainPlace& b);
