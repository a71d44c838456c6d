#include "ui/live_sound.h"

#include <algorithm>
#include <cstdio>

#include "draw/toast.h"

namespace {

constexpr int kBufferMilliseconds = 32;

double bytes_per_second(const LiveSound& sound) { return 2.0 * sound.rate * sound.channels; }

void drop_queue(LiveSound& sound) {
  if (sound.device) SDL_ClearQueuedAudio(sound.device);
  sound.running = false;
}

bool open_device(LiveSound& sound, int rate, int channels) {
  if (sound.device) SDL_CloseAudioDevice(sound.device);
  sound.device = 0;
  sound.running = false;
  if (SDL_WasInit(SDL_INIT_AUDIO) == 0) SDL_InitSubSystem(SDL_INIT_AUDIO);
  SDL_AudioSpec want{};
  want.freq = rate;
  want.format = AUDIO_S16SYS;
  want.channels = static_cast<Uint8>(channels);
  // A small buffer: the queue's size, and so the heard time, moves in steps of it.
  int samples = 64;
  while (samples < rate * kBufferMilliseconds / 1000) samples *= 2;
  want.samples = static_cast<Uint16>(samples);
  // No changes allowed: SDL converts to whatever the hardware wants.
  sound.device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  sound.rate = rate;
  sound.channels = channels;
  sound.buffer_samples = samples;
  if (!sound.device) {
    std::printf("Audio device open failed: %s\n", SDL_GetError());
    show_toast("NO AUDIO DEVICE", 3000);
    sound.no_device = true;
    return false;
  }
  SDL_PauseAudioDevice(sound.device, 0);  // plays silence until something is queued
  return true;
}

void queue_samples(LiveSound& sound, const int16_t* samples, size_t count, bool silent) {
  if (count == 0) return;
  const int volume = sound.muted ? 0 : sound.volume;
  sound.buffer.resize(count);
  for (size_t i = 0; i < count; ++i)
    sound.buffer[i] = silent ? 0 : static_cast<int16_t>(static_cast<int32_t>(samples[i]) * volume / 100);
  SDL_QueueAudio(sound.device, sound.buffer.data(), static_cast<Uint32>(count * sizeof(int16_t)));
  sound.samples_queued += count / static_cast<size_t>(sound.channels);
}

void queue_silence(LiveSound& sound, double seconds) {
  const size_t frames = static_cast<size_t>(seconds * sound.rate);
  queue_samples(sound, nullptr, frames * static_cast<size_t>(sound.channels), true);
  sound.silence_s += static_cast<double>(frames) / sound.rate;
}

}  // namespace

double live_sound_queued_seconds(const LiveSound& sound) {
  if (!sound.device || sound.rate <= 0) return 0;
  return SDL_GetQueuedAudioSize(sound.device) / bytes_per_second(sound);
}

void queue_live_sound(LiveSound& sound, const LiveSoundChunk& chunk, uint64_t connection) {
  if (chunk.rate <= 0 || chunk.channels <= 0 || chunk.samples.empty()) return;
  sound.has_sound = true;
  if (sound.no_device) return;
  if (!sound.device || chunk.rate != sound.rate || chunk.channels != sound.channels) {
    if (!open_device(sound, chunk.rate, chunk.channels)) return;
  }
  if (connection != sound.connection) {
    sound.connection = connection;
    drop_queue(sound);
  }
  const double queued = live_sound_queued_seconds(sound);
  size_t skip = 0;  // samples per channel cut off the chunk's start
  if (sound.running && queued > kLiveSoundMostQueuedSeconds) {
    sound.cut_s += queued;
    drop_queue(sound);
  }
  if (sound.running && queued > 0) {
    const double gap = chunk.media_s - sound.queued_end_s;
    if (gap > kLiveSoundBreakSeconds || gap < -kLiveSoundBreakSeconds) {
      drop_queue(sound);
    } else if (gap > kLiveSoundToleranceSeconds) {
      queue_silence(sound, gap);  // lost sound: the clock keeps to the camera's times
    } else if (gap < -kLiveSoundToleranceSeconds) {
      skip = static_cast<size_t>(-gap * chunk.rate);  // this much was queued already
    }
  } else {
    sound.running = false;
  }
  if (!sound.running) {
    // A new run: a short lead of silence, then the sound at its own time.
    queue_silence(sound, kLiveSoundLeadSeconds);
    sound.running = true;
  }
  const size_t frames = chunk.samples.size() / static_cast<size_t>(chunk.channels);
  if (skip >= frames) {
    sound.cut_s += static_cast<double>(frames) / chunk.rate;
    return;
  }
  sound.cut_s += static_cast<double>(skip) / chunk.rate;
  queue_samples(sound, chunk.samples.data() + skip * static_cast<size_t>(chunk.channels),
                (frames - skip) * static_cast<size_t>(chunk.channels), false);
  sound.queued_end_s = chunk.media_s + static_cast<double>(frames) / chunk.rate;
  if (sound.first_sound_ticks == 0) sound.first_sound_ticks = SDL_GetTicks() | 1;
}

bool live_sound_heard(const LiveSound& sound, double& heard_s) {
  if (!sound.device || !sound.running || sound.rate <= 0) return false;
  const Uint32 queued = SDL_GetQueuedAudioSize(sound.device);
  if (queued == 0) return false;
  const double in_device = 0.5 * sound.buffer_samples / sound.rate;
  heard_s = sound.queued_end_s - queued / bytes_per_second(sound) - in_device;
  return true;
}

void toggle_live_mute(LiveSound& sound) {
  if (sound.has_sound && sound.no_device) {
    show_toast("NO AUDIO DEVICE", 2000);
    return;
  }
  sound.muted = !sound.muted;
  if (sound.muted && sound.running) {
    // Silent at once, the queue's length (and so the clock) kept.
    const double queued = live_sound_queued_seconds(sound);
    SDL_ClearQueuedAudio(sound.device);
    queue_silence(sound, queued);
  }
  show_toast(sound.muted ? "MUTE" : "SOUND", 1500);
}

void set_live_volume(LiveSound& sound, int volume) {
  sound.volume = std::clamp(volume, 0, 100);
  if (sound.volume > 0) sound.muted = false;
}

void close_live_sound(LiveSound& sound) {
  if (sound.device) SDL_CloseAudioDevice(sound.device);
  sound.device = 0;
  sound.running = false;
}
