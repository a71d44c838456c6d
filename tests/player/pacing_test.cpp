// Pacing against a clock the test controls: decoding costs and sleep overshoots
// are simulated, so the schedule is checked exactly and without waiting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "player/pacing.h"

namespace {

// The player's loop on a simulated clock: each picture costs some decoding
// time, then is judged until it is shown or dropped, sleeping as the player
// does (at most 10 ms at a time, waking a little late).
struct SimulatedPlayer {
  double fps = 25, now = 1000.0;
  PlaybackClock clock;
  uint32_t seed = 12345;
  std::vector<double> presented;  // presentation times
  std::vector<int> shown, dropped;
  std::vector<bool> behind;
  double overshoot_ms = 1.0;  // largest amount a sleep wakes up late
  int next = 0;               // next frame to decode

  double random01() {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) / 16777216.0;
  }
  double interval() const { return pacing_interval_ms(fps, clock.speed); }
  // Frame `k`, decoded after `decode_ms`, with `newer` pictures decoded behind it.
  void picture(int k, double decode_ms, bool newer = false) {
    now += decode_ms;
    for (;;) {
      const PictureVerdict v = judge_picture(clock, k / fps, now, interval(), newer);
      if (v.action == PictureAction::wait) {
        now += std::floor(std::min(v.wait_ms, 10.0)) + overshoot_ms * random01();
        continue;
      }
      if (v.action == PictureAction::drop) {
        dropped.push_back(k);
        return;
      }
      if (!clock.started) clock_start(clock, k / fps, now);
      presented.push_back(now);
      shown.push_back(k);
      behind.push_back(v.behind);
      return;
    }
  }
  // n pictures, each costing a random share (up to half) of the slot.
  void pictures(int n) {
    for (int i = 0; i < n; ++i) picture(next++, 0.5 * interval() * random01());
  }
};

TEST(Pacing, NPicturesTakeNSlotsAtEveryRateAndSpeed) {
  const double rates[] = {30, 15, 24, 25, 12.5, 29.97, 60, 5};
  const double speeds[] = {0.25, 0.5, 1.0, 1.5, 2.0, 4.0, 8.0};
  for (double fps : rates) {
    for (double speed : speeds) {
      SimulatedPlayer p;
      p.fps = fps;
      clock_set_speed(p.clock, speed, p.now);
      const int n = 300;
      p.pictures(n);
      // From the first picture on screen to the last: n - 1 slots, nothing dropped.
      const double taken = p.presented.back() - p.presented.front();
      const double expected = (n - 1) * 1000.0 / (fps * speed);
      EXPECT_NEAR(taken, expected, 3.0) << fps << " fps at " << speed << "x";
      EXPECT_TRUE(p.dropped.empty()) << fps << " fps at " << speed << "x";
    }
  }
}

TEST(Pacing, DueTimesCarryTheFractionOfAMillisecond) {
  // 300 pictures at 30 fps take 10 s, not the 9.9 s of 33 ms slots.
  PlaybackClock clock;
  clock_start(clock, 0.0, 500.0);
  EXPECT_DOUBLE_EQ(clock_due_ms(clock, 300 / 30.0), 10500.0);
  EXPECT_NEAR(clock_due_ms(clock, 1 / 30.0), 533.333, 0.001);
  clock_set_speed(clock, 8.0, 500.0);
  EXPECT_NEAR(clock_due_ms(clock, 1 / 30.0), 504.1667, 0.0001);
}

TEST(Pacing, VerdictForEachPicture) {
  PlaybackClock waiting;  // not started: the first picture shows at once
  PlaybackClock running;
  clock_start(running, 10.0, 1000.0);  // recording time 10 s at wall 1000 ms
  const double slot = 40.0;            // 25 fps at 1x
  struct Case {
    const char* what;
    const PlaybackClock* clock;
    double picture_s, now;
    bool newer;
    PictureAction action;
    bool behind;
  } cases[] = {
      {"first picture after a start or seek", &waiting, 12.0, 1000, true, PictureAction::show, false},
      {"early", &running, 10.04, 1000, false, PictureAction::wait, false},
      {"due", &running, 10.04, 1040, true, PictureAction::show, false},
      {"a sleep that woke late", &running, 10.04, 1041.5, true, PictureAction::show, false},
      {"late within a slot", &running, 10.04, 1079, true, PictureAction::show, false},
      {"late by more than a slot, newer waiting", &running, 10.04, 1081, true, PictureAction::drop, false},
      {"late by more than a slot, nothing newer", &running, 10.04, 1081, false, PictureAction::show, true},
      {"far behind, nothing newer", &running, 10.0, 5000, false, PictureAction::show, true},
  };
  for (const Case& c : cases) {
    const PictureVerdict v = judge_picture(*c.clock, c.picture_s, c.now, slot, c.newer);
    EXPECT_EQ(v.action, c.action) << c.what;
    EXPECT_EQ(v.behind, c.behind) << c.what;
  }
  EXPECT_NEAR(judge_picture(running, 10.04, 1000, slot, false).wait_ms, 40.0, 1e-6);
}

TEST(Pacing, FallingBehindSkipsFromTwiceTheSpeedAndMakesTheClockWaitBelow) {
  struct Case {
    double speed, late_ms;
    bool key_frames_only, clock_waits;
  } cases[] = {
      {0.25, 100, false, false}, {0.25, 300, false, true}, {1.0, 60, false, false},
      {1.0, 251, false, true},   {1.5, 400, false, true},  {2.0, 60, true, false},
      {4.0, 400, true, false},   {8.0, 1000, true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wants_key_frames_only(c.speed), c.key_frames_only) << c.speed;
    EXPECT_EQ(clock_should_yield(c.speed, c.late_ms), c.clock_waits) << c.speed << " " << c.late_ms;
  }
  // Full decoding resumes only at a key frame well ahead of the clock.
  PlaybackClock clock;
  clock_set_speed(clock, 8.0, 0.0);
  clock_start(clock, 20.0, 1000.0);
  EXPECT_NEAR(catch_up_time_s(clock, 1000.0, 5.0), 20.0 + 0.040 * 8, 1e-9);
  EXPECT_NEAR(catch_up_time_s(clock, 2000.0, 10.0), 20.0 + 8.0 + 0.080 * 8, 1e-9);
}

TEST(Pacing, LatePictureIsShownAtOnceAndTheScheduleKeepsItsTimes) {
  SimulatedPlayer p;
  p.pictures(10);
  p.picture(p.next++, 250.0);  // a stall far beyond the slot, nothing newer decoded
  EXPECT_TRUE(p.behind.back()) << "shown at once, flagged behind";
  const size_t stalled = p.presented.size() - 1;
  // Pictures decoded while the stall lasted are due already: the ones with a
  // newer one behind them are dropped, the newest is shown.
  for (int i = 0; i < 5; ++i) p.picture(p.next++, 0.0, i < 4);
  EXPECT_EQ(p.dropped.size(), 4u);
  EXPECT_EQ(p.shown.back(), p.next - 1);
  // Afterwards the pictures keep the clock's times: no drift from the stall.
  p.pictures(20);
  const double first = p.presented.front();
  for (size_t i = stalled + 2; i < p.presented.size(); ++i) {
    EXPECT_NEAR(p.presented[i] - first, p.shown[i] * 40.0, 2.0) << "frame " << p.shown[i];
  }
}

TEST(Pacing, SlowDecodingRunsAsFastAsItCanWithoutWaiting) {
  SimulatedPlayer p;
  p.fps = 30;
  clock_set_speed(p.clock, 8.0, p.now);  // 4.17 ms slots
  for (int i = 0; i < 50; ++i) p.picture(i, 10.0);
  ASSERT_EQ(p.presented.size(), 50u);
  EXPECT_NEAR(p.presented.back() - p.presented.front(), 49 * 10.0, 0.01) << "no sleep at all";
  EXPECT_TRUE(p.behind.back()) << "the decoder is behind: time to decode key frames only";
}

TEST(Pacing, ClockStandsWhilePausedWaitsAfterASeekAndKeepsItsPlaceOnASpeedChange) {
  PlaybackClock clock;
  clock_wait_for_picture(clock, 4.0);
  EXPECT_DOUBLE_EQ(clock_position_s(clock, 99999.0), 4.0) << "waiting for the first picture";
  clock_start(clock, 4.0, 1000.0);
  EXPECT_DOUBLE_EQ(clock_position_s(clock, 2000.0), 5.0);
  // Paused at 5 s for ten seconds, then running on from 5 s.
  clock_set_running(clock, false, 2000.0);
  EXPECT_DOUBLE_EQ(clock_position_s(clock, 12000.0), 5.0);
  clock_set_running(clock, true, 12000.0);
  EXPECT_DOUBLE_EQ(clock_position_s(clock, 12500.0), 5.5);
  EXPECT_DOUBLE_EQ(clock_due_ms(clock, 6.0), 13000.0);
  // 4x from 5.5 s on: no jump, then four seconds per second.
  clock_set_speed(clock, 4.0, 12500.0);
  EXPECT_DOUBLE_EQ(clock_position_s(clock, 12500.0), 5.5);
  EXPECT_DOUBLE_EQ(clock_position_s(clock, 13000.0), 7.5);
  // A seek: the clock stands at the key frame until its picture comes.
  clock_wait_for_picture(clock, 2.0);
  EXPECT_DOUBLE_EQ(clock_position_s(clock, 20000.0), 2.0);
  EXPECT_EQ(judge_picture(clock, 2.0, 20000.0, 10.0, true).action, PictureAction::show);
}

}  // namespace
