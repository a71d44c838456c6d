// Sound of a recording through an SDL audio device in queue mode. Video is the
// master clock: blocks are queued up to 0.3 s ahead of the picture's position,
// and every discontinuity drops the queue and restarts at the matching block.
#pragma once

#include <SDL.h>
#include <cstdint>
#include <vector>

#include "recording/recording.h"

constexpr double kAudioLeadAhead = 0.3;

struct AudioOutput {
  SDL_AudioDeviceID device = 0;  // 0: no device
  bool has_audio = false;        // the recording has audio blocks
  std::vector<AudioBlock> blocks;
  uint32_t time_origin = 0;
  uint64_t cursor = 0;  // next block to queue
  int volume = 100;     // 0..100
  bool muted = false;
  std::vector<int16_t> samples;  // reused for every block
  uint64_t samples_queued = 0;   // handed to the device since it opened, less what was dropped unplayed
};

// Sound of one second in the device format (8000 Hz, 16-bit, mono).
constexpr uint32_t kAudioBytesPerSecond = 16000;

// Seconds of block i from the time origin (the difference read as signed 32-bit).
double audio_block_time(const AudioOutput& audio, size_t i);

// First block whose time is not below t (binary search; the block count when none).
size_t find_audio_block_at(const AudioOutput& audio, double t);

// Takes the blocks and origin; opens the device only when there are blocks
// (second try at SDL's audio subsystem first). Prints "Audio: ..." or
// "Audio device open failed: ..." with "NO AUDIO DEVICE" shown for 3000 ms.
void open_audio_output(AudioOutput& audio, std::vector<AudioBlock> blocks, uint32_t time_origin);

// Queues blocks up to video_position_s + 0.3 s; only with a device, unmuted,
// not paused and at speed 0.99..1.01.
void feed_audio(AudioOutput& audio, double video_position_s, bool paused, double speed);

// Drops the queue and moves the cursor to time t (no-op without a device).
void resync_audio(AudioOutput& audio, double t);

// Flips mute (or shows "NO AUDIO DEVICE" when there are blocks but no device);
// on unmute resynchronises to video_position_s. Shows "MUTE" / "SOUND".
void toggle_mute(AudioOutput& audio, double video_position_s);

// Pauses or resumes the device (resume resynchronises to video_position_s first).
void pause_audio(AudioOutput& audio, bool paused, double video_position_s);

// Drops the queue without moving the cursor (speeds other than 1x).
void clear_audio_queue(AudioOutput& audio);

// Closes the device if one is open; SDL's audio subsystem stays up for the next playback.
void close_audio_output(AudioOutput& audio);

// Measuring hook for the sync check (none by default: no cost). When set, every
// feed_audio call with an open device reports, after queueing, the video
// position it was given, the seconds of sound handed to the device so far (less
// what was dropped unplayed) and the bytes still waiting in SDL's queue; the
// sound heard so far is queued_total_s - queued_bytes / 16000. `user` is passed through.
using AudioFeedObserver = void (*)(void* user, double video_position_s, double queued_total_s,
                                   uint32_t queued_bytes);
void set_audio_feed_observer(AudioFeedObserver observer, void* user);
