// Recording inspector: loads a .264 recording of any size exactly as the
// player does, prints the player's own lines, then the audio blocks, the
// time origin and the key-frame positions. With --times, each frame's time on the recording's
// clock too. Exit status 0 on success, 1 on a load error (running out of
// memory included).
#include <cstdio>
#include <new>
#include <string>

#include "app/program_info.h"
#include "recording/recording.h"

namespace {

int print_details(const Recording& recording, bool times) {
  // From the index alone: the payload is mapped, never read whole again.
  long long samples = 0;
  for (const AudioBlock& block : recording.sound) samples += block.size;
  std::printf("Audio blocks: %zu (%lld samples, %.2fs)\n", recording.sound.size(), samples,
              samples / 8000.0);
  std::printf("Time origin: %u ms\n", recording.time_origin);
  std::printf("NAL units: %zu\n", recording.units.size());

  std::string keys;
  size_t key_count = 0;
  for (size_t k = 0; k < recording.frames.size(); ++k) {
    if (recording.units[static_cast<size_t>(recording.frames[k])].type != 5) continue;
    ++key_count;
    keys += (keys.empty() ? "" : " ") + std::to_string(k);
  }
  std::printf("Key frames: %zu [%s]\n", key_count, keys.c_str());
  std::printf("Duration: %.3fs\n", recording_duration(recording));
  if (times) {
    for (size_t k = 0; k < recording.frame_times.size(); ++k) {
      std::printf("Frame %zu: %.3f\n", k, recording.frame_times[k]);
    }
  }
  return 0;
}

int inspect(const std::string& path, bool times) {
  Recording recording;
  if (!load_recording(path, recording)) return 1;
  return print_details(recording, times);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (answer_help_or_version(argc, argv, "inspect_recording",
                             "Usage: inspect_recording [--times] RECORDING.264\n"
                             "Prints what the player reads from a recording: frames, frame rate,\n"
                             "audio blocks, time origin, key frames and duration; --times adds\n"
                             "each frame's time on the camera's clock.\n")) {
    return 0;
  }
  const bool times = argc == 3 && std::string(argv[1]) == "--times";
  if (argc != 2 && !times) {
    std::fprintf(stderr, "usage: %s [--times] RECORDING.264\n",
                 argc > 0 ? argv[0] : "inspect_recording");
    return 2;
  }
  try {
    return inspect(argv[argc - 1], times);
  } catch (const std::bad_alloc&) {
    std::printf("Error: Out of memory\n");
    return 1;
  }
}
