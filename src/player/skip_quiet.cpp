#include "player/skip_quiet.h"

SkipDecision decide_skip(const SkipQuietState& state, const std::vector<ActivityStretch>& stretches,
                         double position, bool fast) {
  SkipDecision decision;
  if (state.watching && position >= state.watch_from - kSkipRewindSlackS &&
      position < state.watch_to) {
    return decision;  // still in the stretch being watched
  }
  for (const ActivityStretch& s : stretches) {
    if (position >= s.from - kSkipLeadS && position < s.to) {
      decision.move = SkipMove::watch;
      decision.seek_to = fast ? s.from : -1;
      decision.watch_to = s.to;
      return decision;
    }
  }
  if (state.watching || !fast) decision.move = SkipMove::go_fast;
  return decision;
}
