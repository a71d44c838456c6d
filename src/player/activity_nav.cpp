#include "player/activity_nav.h"

namespace {

// A playback this close after the landing point is still where the jump put it.
constexpr double kLandingSlackS = 0.05;

}  // namespace

void measure_playback_activity(PlaybackActivity& activity, const Recording& recording) {
  activity = PlaybackActivity{};
  activity.profile = measure_activity(recording);
  activity.stretches = find_activity_stretches(activity.profile);
}

const std::vector<float>& activity_strip(PlaybackActivity& activity, int width) {
  if (width == activity.strip_width) return activity.strip;
  activity.strip_width = width;
  activity.strip.clear();
  if (width <= 0) return activity.strip;
  for (float level : activity_buckets(activity.profile, width)) {
    activity.strip.push_back(activity_strength(level));
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
