// Skipping the quiet: a way of playing that runs through the quiet at the top
// speed and plays each stretch of activity at normal speed, with its sound,
// from its start. The decision is pure; the player carries it out.
#pragma once

#include <vector>

#include "recording/activity.h"

// A stretch is played from this long before its start: at the top speed the
// clock moves several tenths of a second between two passes of the player.
constexpr double kSkipLeadS = 0.5;

// A playback sent back this far before the stretch it was playing (a seek
// back) is no longer in it.
constexpr double kSkipRewindSlackS = 0.5;

struct SkipQuietState {
  bool watching = false;   // playing a stretch of activity at normal speed
  double watch_from = 0;   // where that began (the key picture before its start)
  double watch_to = 0;     // the stretch's end
};

enum class SkipMove {
  none,
  go_fast,  // quiet: the top speed
  watch,    // a stretch: normal speed, from seek_to when it is >= 0
};

struct SkipDecision {
  SkipMove move = SkipMove::none;
  double seek_to = -1;   // the stretch's start, when the player came fast and must go back to it
  double watch_to = 0;   // the stretch's end
};

// What to do at `position`, given whether the player now runs fast. A stretch
// is entered from kSkipLeadS before its start; entered fast, the player seeks
// to its start (the key picture before it), where the decoder, which skips
// pictures at the top speed, starts cleanly. Watching lasts to the stretch's end unless the playback
// was sent elsewhere.
SkipDecision decide_skip(const SkipQuietState& state, const std::vector<ActivityStretch>& stretches,
                         double position, bool fast);
