// A live camera's sound through an SDL audio device in queue mode, kept in
// step with the pictures: the sound is the clock. Each chunk is queued at its
// place on the session's media clock (silence fills what was lost, overlaps
// are cut), a short lead of silence rides out the packets' uneven arrival,
// and the media time being heard tells the screen which picture is due.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <vector>

#include "rtsp/live_session.h"

// Silence queued before the first sound of a run, so that a late packet does
// not leave the device without sound to play.
constexpr double kLiveSoundLeadSeconds = 0.12;
// More than this waiting in the queue and the sound would lag behind the
// camera: the queue is dropped and a new run begins.
constexpr double kLiveSoundMostQueuedSeconds = 0.6;
// A chunk further than this from where the queue ends begins a new run.
constexpr double kLiveSoundBreakSeconds = 1.5;
// Smaller gaps and overlaps than this are left as they are.
constexpr double kLiveSoundToleranceSeconds = 0.03;

struct LiveSound {
  SDL_AudioDeviceID device = 0;  // 0: none open
  int rate = 0;                  // of the open device: the decoded sound's
  int channels = 0;
  int buffer_samples = 0;        // the device's buffer, per channel
  bool no_device = false;        // opening failed: the sound stays silent
  bool has_sound = false;        // sound came while this screen showed the camera
  int volume = 100;              // 0..100
  bool muted = false;
  bool running = false;          // a run is queued: the heard time is known
  double queued_end_s = 0;       // media time at the end of what is queued
  uint64_t connection = 0;       // the session connection the times belong to
  std::vector<int16_t> buffer;   // samples at the volume, reused
  uint32_t first_sound_ticks = 0;  // SDL ticks when the first sound was queued; 0 before
  uint64_t samples_queued = 0;     // per channel, sound and silence
  double silence_s = 0;            // silence queued for lost sound or a lead
  double cut_s = 0;                // sound dropped: overlaps and lag cut off
};

// Queues one chunk of the session's sound (opening the device at its format
// on the first chunk, and again when the format changes). Chunks of a new
// connection begin a new run.
void queue_live_sound(LiveSound& sound, const LiveSoundChunk& chunk, uint64_t connection);

// The media time being heard now: the end of what was queued, less what still
// waits and half the device's buffer. False while no run plays (no device,
// nothing queued yet, or the queue ran dry).
bool live_sound_heard(const LiveSound& sound, double& heard_s);

// The seconds still waiting in the queue (0 without a device).
double live_sound_queued_seconds(const LiveSound& sound);

// Mute on / off: muted sound is queued as silence, so the clock goes on.
// Shows "MUTE" or "SOUND" ("NO AUDIO DEVICE" when sound came but no device opened).
void toggle_live_mute(LiveSound& sound);

// Sets the volume (clamped to 0..100); a positive volume unmutes.
void set_live_volume(LiveSound& sound, int volume);

// Closes the device.
void close_live_sound(LiveSound& sound);
