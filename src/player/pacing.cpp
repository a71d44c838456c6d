#include "player/pacing.h"

#include <cmath>

double pacing_interval_ms(double fps, double speed) {
  const double rate = fps * speed;
  return rate > 0 ? 1000.0 / rate : 0.0;
}

void restart_pacing(FramePacer& pacer, double interval_ms) {
  pacer.interval_ms = interval_ms;
  pacer.scheduled = false;
  pacer.slot = 0;
}

uint32_t pacing_wait_ms(FramePacer& pacer, double now_ms) {
  if (!pacer.scheduled) {
    pacer.scheduled = true;
    pacer.anchor_ms = now_ms;
    pacer.slot = 0;
  } else {
    ++pacer.slot;
    const double slot_end = pacer.anchor_ms + static_cast<double>(pacer.slot + 1) * pacer.interval_ms;
    if (now_ms > slot_end + kPacingToleranceMs) {
      // Overran its slot: show it at once and let the next picture open
      // a fresh schedule from here.
      pacer.anchor_ms = now_ms;
      pacer.slot = -1;
      return 0;
    }
  }
  const double end = pacer.anchor_ms + static_cast<double>(pacer.slot + 1) * pacer.interval_ms;
  const double wait = std::round(end - now_ms);
  return wait > 0 ? static_cast<uint32_t>(wait) : 0;
}
