#include "player/pacing.h"

#include <algorithm>

double pacing_interval_ms(double fps, double speed) {
  const double rate = fps * speed;
  return rate > 0 ? 1000.0 / rate : 0.0;
}

void clock_wait_for_picture(PlaybackClock& clock, double media_s) {
  clock.started = false;
  clock.media_anchor_s = media_s;
}

void clock_start(PlaybackClock& clock, double media_s, double now_ms) {
  clock.started = true;
  clock.media_anchor_s = media_s;
  clock.wall_anchor_ms = now_ms;
}

void clock_rename_now(PlaybackClock& clock, double media_s, double now_ms) {
  clock.media_anchor_s = media_s;
  clock.wall_anchor_ms = now_ms;
}

double clock_position_s(const PlaybackClock& clock, double now_ms) {
  if (!clock.started || !clock.running) return clock.media_anchor_s;
  return clock.media_anchor_s + (now_ms - clock.wall_anchor_ms) * clock.speed / 1000.0;
}

void clock_set_speed(PlaybackClock& clock, double speed, double now_ms) {
  clock.media_anchor_s = clock_position_s(clock, now_ms);
  clock.wall_anchor_ms = now_ms;
  clock.speed = speed;
}

void clock_set_running(PlaybackClock& clock, bool running, double now_ms) {
  if (running == clock.running) return;
  clock.media_anchor_s = clock_position_s(clock, now_ms);
  clock.wall_anchor_ms = now_ms;
  clock.running = running;
}

double clock_due_ms(const PlaybackClock& clock, double media_s) {
  const double speed = clock.speed > 0 ? clock.speed : 1.0;
  return clock.wall_anchor_ms + (media_s - clock.media_anchor_s) * 1000.0 / speed;
}

PictureVerdict judge_picture(const PlaybackClock& clock, double picture_s, double now_ms,
                             double interval_ms, bool newer_waiting) {
  PictureVerdict verdict;
  if (!clock.started) return verdict;  // the first picture sets the clock
  const double due = clock_due_ms(clock, picture_s);
  if (due - now_ms > kPacingToleranceMs) {
    verdict.action = PictureAction::wait;
    verdict.wait_ms = due - now_ms;
    return verdict;
  }
  verdict.late_ms = std::max(0.0, now_ms - due);
  const bool late = verdict.late_ms > std::max(interval_ms, kPacingToleranceMs);
  if (late && newer_waiting) {
    verdict.action = PictureAction::drop;
  } else {
    verdict.behind = late;
  }
  return verdict;
}

bool replaced_before_screen_shows_it(double since_last_drawn_ms, bool newer_waiting) {
  return newer_waiting && since_last_drawn_ms < kShortestShowMs;
}

bool wants_key_frames_only(double speed) { return speed >= kKeyFramesOnlySpeed; }

bool clock_should_yield(double speed, double late_ms) {
  return speed < kKeyFramesOnlySpeed && late_ms > kClockYieldMs;
}

double catch_up_time_s(const PlaybackClock& clock, double now_ms, double interval_ms) {
  const double lead_ms = std::max(kCatchUpLeadIntervals * interval_ms, kCatchUpLeadMinMs);
  return clock_position_s(clock, now_ms + lead_ms);
}
