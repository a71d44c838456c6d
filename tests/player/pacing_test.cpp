// Pacing against a clock the test controls: decoding costs and sleep overshoots
// are simulated, so the schedule is checked exactly and without waiting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "player/pacing.h"

namespace {

// A player loop on a simulated clock: each picture costs some decoding time,
// is presented, then the pacer's wait is slept with a small overshoot.
struct SimulatedPlayer {
  double now = 1000.0;
  FramePacer pacer;
  uint32_t seed = 12345;
  std::vector<double> presented;  // presentation times
  std::vector<uint32_t> waits;
  double overshoot_ms = 1.0;  // largest amount a sleep wakes up late

  double random01() {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) / 16777216.0;
  }
  // One picture: decoding cost, presentation, sleep (overshooting a little).
  void picture(double decode_ms) {
    now += decode_ms;
    presented.push_back(now);
    const uint32_t wait = pacing_wait_ms(pacer, now);
    waits.push_back(wait);
    if (wait > 0) now += wait + overshoot_ms * random01();
  }
  // n pictures, each costing a random share (up to half) of the slot.
  void pictures(int n) {
    for (int i = 0; i < n; ++i) picture(0.5 * pacer.interval_ms * random01());
  }
};

struct RateCase {
  double fps;
  double speed;
};

TEST(Pacing, NPicturesTakeNSlotsAtEveryRateAndSpeed) {
  const double rates[] = {30, 15, 24, 25, 12.5, 29.97, 60, 5};
  const double speeds[] = {0.25, 0.5, 1.0, 1.5, 2.0, 4.0, 8.0};
  for (double fps : rates) {
    for (double speed : speeds) {
      SimulatedPlayer p;
      restart_pacing(p.pacer, pacing_interval_ms(fps, speed));
      const int n = 300;
      p.pictures(n);
      // From the first picture on screen to the end of the last one's slot.
      const double taken = p.now - p.presented.front();
      const double expected = n * 1000.0 / (fps * speed);
      EXPECT_NEAR(taken, expected, expected * 0.005)
          << fps << " fps at " << speed << "x";
    }
  }
}

TEST(Pacing, WaitsCarryTheFractionOfAMillisecond) {
  // With free decoding and exact sleeps, 300 pictures at 30 fps wait 10 s in
  // all, not the 9.9 s of 33 ms slots.
  SimulatedPlayer p;
  p.overshoot_ms = 0;
  restart_pacing(p.pacer, pacing_interval_ms(30, 1));
  for (int i = 0; i < 300; ++i) p.picture(0.0);
  uint64_t sum = 0;
  for (uint32_t w : p.waits) {
    EXPECT_TRUE(w == 33 || w == 34) << w;
    sum += w;
  }
  EXPECT_NEAR(static_cast<double>(sum), 10000.0, 1.0);
}

TEST(Pacing, LatePictureIsShownAtOnceAndNoDebtIsCaughtUp) {
  SimulatedPlayer p;
  const double interval = pacing_interval_ms(25, 1);  // 40 ms
  restart_pacing(p.pacer, interval);
  p.pictures(10);
  p.picture(250.0);  // a stall far beyond the slot
  EXPECT_EQ(p.waits.back(), 0u) << "a late picture goes on at once";
  const size_t stalled = p.presented.size() - 1;
  p.pictures(20);
  // The picture after the stall waits out a whole slot of its own.
  EXPECT_GE(p.waits[stalled + 1] + (p.presented[stalled + 1] - p.presented[stalled]),
            interval - 1.0);
  // After the stall the pictures keep their full rate: 20 pictures, 20 slots.
  const double after = p.now - p.presented[stalled];
  EXPECT_NEAR(after, 20 * interval, 20 * interval * 0.02);
}

TEST(Pacing, SlowDecodingRunsAsFastAsItCanWithoutWaiting) {
  SimulatedPlayer p;
  restart_pacing(p.pacer, pacing_interval_ms(30, 8));  // 4.17 ms slots
  for (int i = 0; i < 50; ++i) p.picture(10.0);
  for (size_t i = 1; i < p.waits.size(); ++i) EXPECT_EQ(p.waits[i], 0u) << i;
  EXPECT_NEAR(p.now - p.presented.front(), 49 * 10.0 + p.waits.front() + 0.5, 0.6);
}

TEST(Pacing, ScheduleRestartsAfterSeekPauseOrSpeedChange) {
  SimulatedPlayer p;
  restart_pacing(p.pacer, pacing_interval_ms(30, 1));
  p.pictures(30);
  // A pause: a long time without pictures, then a fresh schedule.
  p.now += 5000.0;
  restart_pacing(p.pacer, pacing_interval_ms(30, 1));
  p.picture(0.0);
  EXPECT_EQ(p.waits.back(), 33u) << "the first picture after a restart gets a whole slot";
  // A speed change to 4x: the next pictures follow the new slot length.
  restart_pacing(p.pacer, pacing_interval_ms(30, 4));
  const double from = p.now;
  p.pictures(120);
  EXPECT_NEAR(p.now - from, 1000.0, 1000.0 * 0.005 + 4.2);
}

}  // namespace
