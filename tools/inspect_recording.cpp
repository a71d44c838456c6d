// Recording inspector: loads a .264 recording of any size exactly as the
// player does, prints the player's own lines, then the audio blocks, the
// time origin and the key-frame positions. With --times, each frame's time on
// the recording's clock too. With --activity, how much the picture changes
// per second and one "Activity: FROM-TO" line per stretch of activity. Exit
// status 0 on success, 1 on a load error (running out of
// memory included).
#include <cstdio>
#include <new>
#include <string>

#include "app/program_info.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "recording/activity.h"
#include "recording/recording.h"

namespace {

const char kProgram[] = "inspect_recording";
const char kUsage[] =
    "Usage: inspect_recording [--times | --activity] RECORDING.264\n"
    "Prints what the player reads from a recording: frames, frame rate,\n"
    "audio blocks, time origin, key frames and duration; --times adds\n"
    "each frame's time on the camera's clock; --activity how much the\n"
    "picture changes per second (1 is usual) and each stretch of\n"
    "activity as 'Activity: FROM-TO' in seconds from the start.\n";

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

// Per second its figure (1 is the usual change, kActiveLevel and above is
// activity), then each stretch in seconds from the start, one decimal.
void print_activity(const Recording& recording) {
  const ActivityProfile profile = measure_activity(recording);
  const std::vector<float> seconds = activity_per_second(profile);
  for (size_t s = 0; s < seconds.size(); ++s) std::printf("Second %zu: %.2f\n", s, seconds[s]);
  for (const ActivityStretch& stretch : find_activity_stretches(profile)) {
    std::printf("Activity: %.1f-%.1f\n", stretch.from, stretch.to);
  }
}

int inspect(const std::string& path, bool times, bool activity) {
  Recording recording;
  if (!load_recording(path, recording)) return 1;
  const int status = print_details(recording, times);
  if (activity) print_activity(recording);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  use_utf8_console_output();
  const CommandLine line =
      parse_command_line(program_arguments(argc, argv), {"--times", "--activity"});
  if (const auto status = early_exit_status(line, kProgram, kUsage)) return *status;
  if (line.operands.size() != 1) {
    const char* problem = line.operands.empty() ? "no recording named" : "one recording at a time";
    return refuse_command_line(kProgram, problem, kUsage);
  }
  try {
    return inspect(line.operands.front(), line.has("--times"), line.has("--activity"));
  } catch (const std::bad_alloc&) {
    std::printf("Error: Out of memory\n");
    return 1;
  }
}
