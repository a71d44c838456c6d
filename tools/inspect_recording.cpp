// Recording inspector: loads a .264 recording exactly as the player does,
// prints the player's own lines, then the audio blocks, the time origin and
// the key-frame positions. Exit status 0 on success, 1 on a load error.
#include <cstdio>
#include <string>

#include "app/program_info.h"
#include "recording/recording.h"

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (answer_help_or_version(argc, argv, "inspect_recording",
                             "Usage: inspect_recording RECORDING.264\n"
                             "Prints what the player reads from a recording: frames, frame rate,\n"
                             "audio blocks, time origin and key frames.\n")) {
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s RECORDING.264\n", argc > 0 ? argv[0] : "inspect_recording");
    return 2;
  }
  Recording recording;
  if (!load_recording(argv[1], recording)) return 1;

  const auto blocks = index_audio_blocks(recording.payload(), recording.length);
  const uint32_t origin = find_time_origin(recording.payload(), recording.length, blocks);
  long long samples = 0;
  for (const AudioBlock& block : blocks) samples += block.size;
  std::printf("Audio blocks: %zu (%lld samples, %.2fs)\n", blocks.size(), samples, samples / 8000.0);
  std::printf("Time origin: %u ms\n", origin);
  std::printf("NAL units: %zu\n", recording.units.size());

  std::string keys;
  size_t key_count = 0;
  for (size_t k = 0; k < recording.frames.size(); ++k) {
    if (recording.units[static_cast<size_t>(recording.frames[k])].type != 5) continue;
    ++key_count;
    keys += (keys.empty() ? "" : " ") + std::to_string(k);
  }
  std::printf("Key frames: %zu [%s]\n", key_count, keys.c_str());
  return 0;
}
