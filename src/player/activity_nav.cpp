#include "player/activity_nav.h"

#include <cmath>

namespace {

// A playback this close after the landing point is still where the jump put it.
constexpr double kLandingSlackS = 0.05;
// While the index grows the activity is measured again each time it reached
// this many parts of the recording further: measuring costs a pass over the
// frames indexed so far.
constexpr double kRemeasureParts = 10.0;

}  // namespace

void measure_playback_activity(PlaybackActivity& activity, const Recording& recording) {
  activity = PlaybackActivity{};
  activity.profile = measure_activity(recording);
  activity.stretches = find_activity_stretches(activity.profile);
  if (!recording.index_complete) {
    activity.reach_s = recording_duration(recording);
    activity.measured_to_s = indexed_time(recording);
  }
}

void remeasure_playback_activity(PlaybackActivity& activity, const Recording& recording,
                                 double duration_s) {
  const std::optional<double> aimed_at = activity.aimed_at;
  const double landed_at = activity.landed_at;
  measure_playback_activity(activity, recording);
  activity.aimed_at = aimed_at;
  activity.landed_at = landed_at;
  // The track shows the estimated length; the part not indexed stays flat.
  if (!recording.index_complete && duration_s > activity.profile.duration) {
    activity.profile.duration = duration_s;
  }
}

bool activity_wants_remeasure(const PlaybackActivity& activity, const Recording& recording,
                              double duration_s) {
  if (recording.index_complete) return std::isfinite(activity.reach_s);
  return indexed_time(recording) >= activity.measured_to_s + duration_s / kRemeasureParts;
}

const std::vector<float>& activity_strip(PlaybackActivity& activity, int width) {
  if (width == activity.strip_width) return activity.strip;
  activity.strip_width = width;
  activity.strip.clear();
  if (width <= 0) return activity.strip;
  const std::vector<float> levels = activity_buckets(activity.profile, width);
  for (size_t i = 0; i < levels.size(); ++i) {
    const double from = activity.profile.duration * static_cast<double>(i) / width;
    activity.strip.push_back(from < activity.reach_s ? activity_strength(levels[i]) : 0.0f);
  }
  return activity.strip;
}

double activity_query_time(const PlaybackActivity& activity, double position) {
  if (activity.aimed_at && position >= activity.landed_at - kLandingSlackS &&
      position < *activity.aimed_at) {
    return *activity.aimed_at;
  }
  return position;
}

void note_activity_jump(PlaybackActivity& activity, double start, double landed) {
  activity.aimed_at = start;
  activity.landed_at = landed;
}
