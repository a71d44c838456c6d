// Activity in the file player: the recording's profile and stretches, the
// strip along the seek track, and where the jumps to the next and previous
// stretch ask from. Pure, apart from the profile it is given.
#pragma once

#include <limits>
#include <optional>
#include <vector>

#include "recording/activity.h"

struct PlaybackActivity {
  ActivityProfile profile;
  std::vector<ActivityStretch> stretches;
  // activity_strength per pixel of a track `strip_width` wide.
  std::vector<float> strip;
  int strip_width = -1;
  // While the index grows: the time it reaches (the strip stays flat past
  // it) and that time when the profile was measured; infinite once complete.
  double reach_s = std::numeric_limits<double>::infinity();
  double measured_to_s = 0;
  // The start of the stretch the last jump aimed at, and the time of the key
  // picture the jump landed on (before that start).
  std::optional<double> aimed_at;
  double landed_at = 0;
};

// Measures the recording's activity and finds its stretches; the strip is
// made when first asked for.
void measure_playback_activity(PlaybackActivity& activity, const Recording& recording);

// Measures again what the index holds now, keeping the last jump: the
// stretches are those found so far, and the strip spans `duration_s` (the
// recording's estimated length) with nothing drawn past the index's reach.
void remeasure_playback_activity(PlaybackActivity& activity, const Recording& recording,
                                 double duration_s);

// True when the index grew enough since the last measure to measure again:
// it completed, or reached another tenth of `duration_s` further.
bool activity_wants_remeasure(const PlaybackActivity& activity, const Recording& recording,
                              double duration_s);

// The strip for a track `width` pixels wide: one figure (activity_strength of
// activity_buckets) per pixel, made again only when the width changes.
const std::vector<float>& activity_strip(PlaybackActivity& activity, int width);

// The time the next / previous stretch is looked for from: the start last
// jumped to while the playback is between where that jump landed and that
// start (a jump lands on the key picture before a start, and asking from
// there would find the same stretch again), else the position.
double activity_query_time(const PlaybackActivity& activity, double position);

// Remembers a jump aimed at `start` that landed at `landed`.
void note_activity_jump(PlaybackActivity& activity, double start, double landed);
