// Sound of a recording through an SDL audio device in queue mode. Video is the
// master clock: blocks are queued up to 0.3 s ahead of the picture's position,
// and every discontinuity drops the queue and restarts at the matching block.
#pragma once

#include <SDL.h>
#include <cstdint>
#include <vector>

#include "recording/recording.h"

constexpr double kAudioLeadAhead = 0.3;

// Sound of one second in the device format (8000 Hz, 16-bit, mono).
constexpr uint32_t kAudioBytesPerSecond = 16000;

// A device may take its queue slower than the picture advances (a busy audio
// thread, its own clock): the queue then grows and the sound falls steadily
// behind. A late picture does the opposite: the sound runs on ahead. Each run
// of sound (from the opening or a drop of the queue to the next drop) is
// measured from the lag it settled at (the mean over its first second); while
// the smoothed lag is further behind than that, due blocks are skipped, and
// while it is further ahead, silence is queued. SDL
// reports the queue in device buffers (128 ms here), so single readings jump;
// sampled once per picture they beat slowly against the frame rate, hence the
// long smoothing.
constexpr double kDriftSettleSeconds = 1.0;
constexpr double kDriftSmoothingSeconds = 1.0;  // time constant of the smoothed lag
constexpr double kDriftTolerance = 0.02;        // seconds off the run's start before correcting
// A reading this far from the run's lag is no drift: a block stamped far from
// its neighbours (a damaged file, a camera whose clock jumped) moves the heard
// time by as much. Averaged in, one such reading would hold the sound back by
// minutes of silence; it starts the run afresh instead.
constexpr double kDriftBreakSeconds = 5.0;

struct AudioDrift {
  bool running = false;    // a run is being measured
  double run_start_s = 0;  // video position of the run's first measurement
  double last_video_s = 0;
  int settle_count = 0;  // measurements averaged while settling
  double lag_s = 0;      // picture time minus heard time: the mean while settling, then smoothed
  bool settled = false;
  double baseline_s = 0;  // the mean lag over the run's first second
};

struct AudioOutput {
  SDL_AudioDeviceID device = 0;  // 0: no device
  bool has_audio = false;        // the recording has audio blocks
  std::vector<AudioBlock> blocks;
  uint32_t time_origin = 0;
  uint64_t cursor = 0;  // next block to queue
  int volume = 100;     // 0..100
  bool muted = false;
  std::vector<int16_t> samples;  // reused for every block
  double sound_end_s = 0;        // recording time at the end of the last block queued or skipped
  AudioDrift drift;
  uint64_t skipped_blocks = 0;  // blocks skipped to keep step, over the playback
  double silence_s = 0;         // silence queued to keep step, over the playback
};

// Forgets the current run: the next measurement starts a new one.
void restart_audio_drift(AudioDrift& drift);

// Takes one measurement of the sound heard (recording time) at a video
// position; returns how far the sound has fallen behind the lag its run
// settled at, negative when it is ahead (0 while the run settles). A reading
// more than kDriftBreakSeconds off the run's lag starts a new run.
double measure_audio_drift(AudioDrift& drift, double video_s, double heard_s);

// Sound plays at normal speed only; other speeds are silent.
bool speed_plays_sound(double speed);

// The recording time being heard: the end of what was queued less what still waits.
double heard_seconds(double sound_end_s, uint32_t queued_bytes);

// Seconds of block i from the time origin (the difference read as signed 32-bit).
double audio_block_time(const AudioOutput& audio, size_t i);

// First block whose time is not below t (binary search; the block count when none).
size_t find_audio_block_at(const AudioOutput& audio, double t);

// Takes the blocks and origin; opens the device only when there are blocks
// (second try at SDL's audio subsystem first). Prints "Audio: ..." or
// "Audio device open failed: ..." with "NO AUDIO DEVICE" shown for 3000 ms.
void open_audio_output(AudioOutput& audio, std::vector<AudioBlock> blocks, uint32_t time_origin);

// Appends blocks the index found since (their times follow the earlier
// ones'). The first blocks of a recording that had none open the device as
// open_audio_output does, and the sound starts at `video_position_s`.
void extend_audio_blocks(AudioOutput& audio, std::vector<AudioBlock> blocks, double video_position_s);

// Replaces every block and the time origin (their times were settled anew)
// and resynchronises to `video_position_s`.
void replace_audio_blocks(AudioOutput& audio, std::vector<AudioBlock> blocks, uint32_t time_origin,
                          double video_position_s);

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
// feed_audio call with an open device reports, after queueing, what it saw;
// `user` is passed through.
struct AudioFeedReport {
  double video_position_s;  // as given to feed_audio
  double sound_end_s;       // recording time at the end of what was queued (or skipped)
  uint32_t queued_bytes;    // still waiting in SDL's queue
  uint64_t skipped_blocks;  // over the playback so far
  double silence_s;         // over the playback so far
};
// The recording time being heard is then sound_end_s - queued_bytes / 16000.
using AudioFeedObserver = void (*)(void* user, const AudioFeedReport& report);
void set_audio_feed_observer(AudioFeedObserver observer, void* user);
