#include "player/audio_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "draw/toast.h"
#include "recording/alaw.h"

// Samples are converted in the machine's order and handed to SDL as
// little-endian; every target this player is built for is little-endian.
static_assert(SDL_BYTEORDER == SDL_LIL_ENDIAN, "audio samples are queued as AUDIO_S16LSB");

namespace {

constexpr int kSampleRate = 8000;
constexpr Uint16 kBufferSamples = 1024;

// Set only by measuring programs and tests.
AudioFeedObserver feed_observer = nullptr;
void* feed_observer_user = nullptr;

void drop_queue(AudioOutput& audio) {
  SDL_ClearQueuedAudio(audio.device);
  restart_audio_drift(audio.drift);
}

void queue_block(AudioOutput& audio, const AudioBlock& block) {
  convert_audio_block(block, audio.volume, audio.samples);
  SDL_QueueAudio(audio.device, audio.samples.data(),
                 static_cast<Uint32>(audio.samples.size() * sizeof(int16_t)));
}

double block_seconds(const AudioBlock& block) { return static_cast<double>(block.size) / kSampleRate; }

// How far the sound has fallen behind, from what is still queued. An empty
// queue (a start, a late picture that outlasted it, a gap in the recording's
// sound) tells nothing; the run keeps the lag it settled at, so sound that
// resumes early is held back by silence.
double measure_lag_before_feed(AudioOutput& audio, double video_position_s) {
  const uint32_t queued = SDL_GetQueuedAudioSize(audio.device);
  if (queued == 0) return 0;
  return measure_audio_drift(audio.drift, video_position_s, heard_seconds(audio.sound_end_s, queued));
}

// Holds the sound back by `seconds` of silence at the end of the queue, at
// most the lead-ahead at a time: the next feed measures what is still missing.
void queue_silence(AudioOutput& audio, double seconds) {
  audio.samples.assign(static_cast<size_t>(std::min(seconds, kAudioLeadAhead) * kSampleRate), 0);
  SDL_QueueAudio(audio.device, audio.samples.data(),
                 static_cast<Uint32>(audio.samples.size() * sizeof(int16_t)));
  const double queued_s = static_cast<double>(audio.samples.size()) / kSampleRate;
  audio.drift.lag_s += queued_s;  // the picture moves on while it plays
  audio.silence_s += queued_s;
}

// A block stamped far past its successor (a damaged header, a camera clock
// jump) would hold back every block after it until the picture got there.
bool stamped_far_ahead(const AudioOutput& audio, size_t i, double limit) {
  return i + 1 < audio.blocks.size() && audio_block_time(audio, i + 1) <= limit &&
         audio_block_time(audio, i) > limit + kDriftBreakSeconds;
}

// Queues the blocks due by `limit`: silence first while the sound is ahead,
// blocks skipped while it is behind or stamped far ahead of their successor.
void queue_due_blocks(AudioOutput& audio, double limit, double behind) {
  if (behind < -kDriftTolerance) queue_silence(audio, -behind);
  while (audio.cursor < audio.blocks.size()) {
    const bool misplaced = stamped_far_ahead(audio, audio.cursor, limit);
    if (!misplaced && audio_block_time(audio, audio.cursor) > limit) break;
    const AudioBlock& block = audio.blocks[audio.cursor];
    const double length = block_seconds(block);
    if (misplaced) {
      ++audio.skipped_blocks;
      ++audio.cursor;
      continue;  // the sound heard so far ends where it did
    }
    if (behind > kDriftTolerance) {
      behind -= length;
      audio.drift.lag_s -= length;  // the skipped sound is never heard
      ++audio.skipped_blocks;
    } else {
      queue_block(audio, block);
    }
    audio.sound_end_s = audio_block_time(audio, audio.cursor) + length;
    ++audio.cursor;
  }
}

SDL_AudioDeviceID open_device() {
  // Start-up may have failed to bring audio up; this is the second try.
  if (SDL_WasInit(SDL_INIT_AUDIO) == 0) SDL_InitSubSystem(SDL_INIT_AUDIO);
  SDL_AudioSpec want{};
  want.freq = kSampleRate;
  want.format = AUDIO_S16LSB;
  want.channels = 1;
  want.samples = kBufferSamples;
  // No changes allowed: SDL converts to whatever the hardware wants.
  return SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
}

}  // namespace

bool speed_plays_sound(double speed) { return speed >= 0.99 && speed <= 1.01; }

double heard_seconds(double sound_end_s, uint32_t queued_bytes) {
  return sound_end_s - static_cast<double>(queued_bytes) / kAudioBytesPerSecond;
}

double audio_block_time(const AudioOutput& audio, size_t i) {
  return static_cast<int32_t>(audio.blocks[i].timestamp - audio.time_origin) / 1000.0;
}

size_t find_audio_block_at(const AudioOutput& audio, double t) {
  size_t low = 0;
  size_t high = audio.blocks.size();
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (t > audio_block_time(audio, middle)) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

void open_audio_output(AudioOutput& audio, std::vector<AudioBlock> blocks, uint32_t time_origin) {
  audio.device = 0;
  audio.cursor = 0;
  audio.sound_end_s = 0;
  audio.skipped_blocks = 0;
  audio.silence_s = 0;
  restart_audio_drift(audio.drift);
  audio.has_audio = !blocks.empty();
  audio.blocks = std::move(blocks);
  audio.time_origin = time_origin;
  if (!audio.has_audio) return;

  audio.device = open_device();
  if (audio.device == 0) {
    printf("Audio device open failed: %s\n", SDL_GetError());
    show_toast("NO AUDIO DEVICE", 3000);
    return;
  }
  // Blocks stamped before the first picture were recorded before it: playing
  // them first would leave the sound behind the picture by that much for the
  // whole playback, so start where a seek to the beginning would.
  audio.cursor = find_audio_block_at(audio, 0.0);
  SDL_PauseAudioDevice(audio.device, 0);  // plays silence until something is queued
  printf("Audio: %zu HXAF blocks, G.711 A-law %dHz mono\n", audio.blocks.size(), kSampleRate);
}

void extend_audio_blocks(AudioOutput& audio, std::vector<AudioBlock> blocks, double video_position_s) {
  if (blocks.empty()) return;
  if (!audio.has_audio) {
    open_audio_output(audio, std::move(blocks), audio.time_origin);
    resync_audio(audio, video_position_s);
    return;
  }
  audio.blocks.insert(audio.blocks.end(), blocks.begin(), blocks.end());
}

void replace_audio_blocks(AudioOutput& audio, std::vector<AudioBlock> blocks, uint32_t time_origin,
                          double video_position_s) {
  if (!audio.has_audio) {
    audio.time_origin = time_origin;
    extend_audio_blocks(audio, std::move(blocks), video_position_s);
    return;
  }
  audio.blocks = std::move(blocks);
  audio.time_origin = time_origin;
  resync_audio(audio, video_position_s);
}

void restart_audio_drift(AudioDrift& drift) { drift = AudioDrift{}; }

double measure_audio_drift(AudioDrift& drift, double video_s, double heard_s) {
  const double lag = video_s - heard_s;
  if (drift.running && std::fabs(lag - drift.lag_s) > kDriftBreakSeconds) {
    drift.running = false;  // this reading begins the next run
  }
  if (!drift.running) {
    drift = AudioDrift{};
    drift.running = true;
    drift.run_start_s = video_s;
    drift.last_video_s = video_s;
  }
  if (!drift.settled) {
    ++drift.settle_count;
    drift.lag_s += (lag - drift.lag_s) / drift.settle_count;
    drift.last_video_s = video_s;
    if (video_s - drift.run_start_s < kDriftSettleSeconds) return 0;
    drift.settled = true;
    drift.baseline_s = drift.lag_s;
    return 0;
  }
  const double step = video_s > drift.last_video_s ? video_s - drift.last_video_s : 0;
  drift.last_video_s = video_s;
  drift.lag_s += (lag - drift.lag_s) * std::min(1.0, step / kDriftSmoothingSeconds);
  return drift.lag_s - drift.baseline_s;
}

void feed_audio(AudioOutput& audio, double video_position_s, bool paused, double speed) {
  if (audio.device == 0) return;
  if (!audio.muted && !paused && speed_plays_sound(speed)) {
    const double behind = measure_lag_before_feed(audio, video_position_s);
    queue_due_blocks(audio, video_position_s + kAudioLeadAhead, behind);
  }
  if (feed_observer) {
    const AudioFeedReport report{video_position_s, audio.sound_end_s,
                                 SDL_GetQueuedAudioSize(audio.device), audio.skipped_blocks,
                                 audio.silence_s};
    feed_observer(feed_observer_user, report);
  }
}

void resync_audio(AudioOutput& audio, double t) {
  if (audio.device == 0) return;
  drop_queue(audio);
  audio.cursor = find_audio_block_at(audio, t);
}

void toggle_mute(AudioOutput& audio, double video_position_s) {
  if (audio.has_audio && audio.device == 0) {
    show_toast("NO AUDIO DEVICE", 2000);
    return;
  }
  audio.muted = !audio.muted;
  if (audio.muted) {
    clear_audio_queue(audio);
  } else {
    resync_audio(audio, video_position_s);
  }
  show_toast(audio.muted ? "MUTE" : "SOUND", 1500);
}

void pause_audio(AudioOutput& audio, bool paused, double video_position_s) {
  if (audio.device == 0) return;
  if (paused) {
    SDL_PauseAudioDevice(audio.device, 1);  // the queue is kept
    return;
  }
  resync_audio(audio, video_position_s);
  SDL_PauseAudioDevice(audio.device, 0);
}

void clear_audio_queue(AudioOutput& audio) {
  if (audio.device == 0) return;
  drop_queue(audio);
}

void close_audio_output(AudioOutput& audio) {
  if (audio.device == 0) return;
  SDL_CloseAudioDevice(audio.device);
  audio.device = 0;
}

void set_audio_feed_observer(AudioFeedObserver observer, void* user) {
  feed_observer = observer;
  feed_observer_user = user;
}
