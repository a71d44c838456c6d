// The live view's sound as the clock: how chunks are queued at their place
// on the media clock (silence for lost sound, overlaps cut, a new run for a
// new connection), mute keeping the clock. SDL's dummy audio driver plays.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "headless_sdl.h"
#include "ui/live_sound.h"
#include "ui/live_view.h"

namespace {

LiveSoundChunk chunk(double media_s, double seconds, int rate = 8000, int channels = 1) {
  LiveSoundChunk c;
  c.rate = rate;
  c.channels = channels;
  c.media_s = media_s;
  c.samples.assign(static_cast<size_t>(seconds * rate) * static_cast<size_t>(channels), 1000);
  return c;
}

// SDL's dummy audio driver takes its queue at the real rate.
class LiveSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(make_headless_canvas(32, 32).renderer);
    if (SDL_WasInit(SDL_INIT_AUDIO) == 0) {
      ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0) << SDL_GetError();
    }
  }
  void TearDown() override { close_live_sound(sound); }
  LiveSound sound;
};

}  // namespace

TEST_F(LiveSoundTest, ChunksGoInAtTheirPlaceOnTheClock) {
  queue_live_sound(sound, chunk(10.0, 0.1), 1);
  ASSERT_NE(sound.device, 0u) << "the dummy audio device did not open";
  // A lead of silence before the first sound, then the sound.
  EXPECT_NEAR(sound.silence_s, kLiveSoundLeadSeconds, 0.001);
  double heard = 0;
  ASSERT_TRUE(live_sound_heard(sound, heard));
  EXPECT_LT(heard, 10.0);
  EXPECT_GT(heard, 10.0 - kLiveSoundLeadSeconds - 0.1);
  // Lost sound: 0.2 s missing before the next chunk is filled with silence.
  queue_live_sound(sound, chunk(10.3, 0.1), 1);
  EXPECT_NEAR(sound.silence_s, kLiveSoundLeadSeconds + 0.2, 0.002);
  EXPECT_NEAR(sound.queued_end_s, 10.4, 1e-9);
  // A chunk that overlaps what is queued by 0.05 s is cut by that much.
  queue_live_sound(sound, chunk(10.35, 0.1), 1);
  EXPECT_NEAR(sound.cut_s, 0.05, 0.001);
  EXPECT_NEAR(sound.queued_end_s, 10.45, 1e-9);
  // Muting keeps the clock: the queue's length stays, silent.
  const double queued = live_sound_queued_seconds(sound);
  toggle_live_mute(sound);
  EXPECT_TRUE(sound.muted);
  EXPECT_NEAR(live_sound_queued_seconds(sound), queued, 0.05);
  ASSERT_TRUE(live_sound_heard(sound, heard));
  EXPECT_GT(heard, 10.0 - kLiveSoundLeadSeconds - 0.1);
  // A new connection's times start afresh: a new run with its own lead.
  const double silence = sound.silence_s;
  queue_live_sound(sound, chunk(0.5, 0.1), 2);
  EXPECT_NEAR(sound.queued_end_s, 0.6, 1e-9);
  EXPECT_NEAR(sound.silence_s - silence, kLiveSoundLeadSeconds, 0.002);
  // A jump far from where the queue ends begins a new run too.
  queue_live_sound(sound, chunk(100.0, 0.1), 2);
  EXPECT_NEAR(sound.queued_end_s, 100.1, 1e-9);
}

TEST_F(LiveSoundTest, TheHeardTimeMovesWithTheDeviceAndAFormatChangeReopensIt) {
  queue_live_sound(sound, chunk(1.0, 0.5, 16000, 2), 1);
  ASSERT_NE(sound.device, 0u);
  EXPECT_EQ(sound.rate, 16000);
  EXPECT_EQ(sound.channels, 2);
  double first = 0, later = 0;
  ASSERT_TRUE(live_sound_heard(sound, first));
  SDL_Delay(250);
  ASSERT_TRUE(live_sound_heard(sound, later));
  EXPECT_GT(later - first, 0.1);
  EXPECT_LT(later - first, 0.45);
  queue_live_sound(sound, chunk(1.5, 0.1, 8000, 1), 1);
  EXPECT_EQ(sound.rate, 8000);
  EXPECT_EQ(sound.channels, 1);
  set_live_volume(sound, 140);
  EXPECT_EQ(sound.volume, 100);
  sound.muted = true;
  set_live_volume(sound, 30);
  EXPECT_FALSE(sound.muted);  // a volume above 0 unmutes, as in the file player
}
