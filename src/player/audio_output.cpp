// Placeholder until sound is built; keeps the program linkable.
#include "player/audio_output.h"

double audio_block_time(const AudioOutput& audio, size_t i) {
  return static_cast<int32_t>(audio.blocks[i].timestamp - audio.time_origin) / 1000.0;
}
size_t find_audio_block_at(const AudioOutput&, double) { return 0; }
void open_audio_output(AudioOutput& audio, std::vector<AudioBlock> blocks, uint32_t time_origin) {
  audio.has_audio = !blocks.empty();
  audio.blocks = std::move(blocks);
  audio.time_origin = time_origin;
}
void feed_audio(AudioOutput&, double, bool, double) {}
void resync_audio(AudioOutput&, double) {}
void toggle_mute(AudioOutput& audio, double) { audio.muted = !audio.muted; }
void pause_audio(AudioOutput&, bool, double) {}
void clear_audio_queue(AudioOutput&) {}
void close_audio_output(AudioOutput&) {}
