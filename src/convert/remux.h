// Remuxing a recording into an MP4 file without re-encoding the pictures.
#pragma once

#include <atomic>
#include <functional>
#include <string>

// Called with the fraction done (0..1); an empty one is never called.
using ProgressCallback = std::function<void(float)>;

// The reason remux_recording gives when it stopped on its cancel flag.
constexpr const char* kCancelledReason = "cancelled";

struct RemuxOptions {
  bool print_frame_rate = true;  // the "Detected FPS" line, printed when the file is read
  bool sound = true;             // the A-law sound as an AAC track, when there is any
  const std::atomic<bool>* cancel = nullptr;  // set: stop, remove the temporary, fail
};

// True when the MP4 was completely written. Reads the recording in bounded
// pieces. Each picture is one sample stamped with its time on the camera's
// clock (time base 1/90000), parameter sets travel in the samples ('avc3'),
// and the sound becomes an AAC-LC track on the same clock. The output appears
// at `output_path` only on success; an existing file there survives any
// failure, and no temporary file is left behind. On failure *reason (when
// given) says why in a few words.
bool remux_recording(const std::string& input_path, const std::string& output_path,
                     const ProgressCallback& progress, const RemuxOptions& options,
                     std::string* reason);

// The same with default options and no reason.
bool remux_to_mp4(const std::string& input_path, const std::string& output_path,
                  ProgressCallback progress, bool print_frame_rate = true);

// The input path without the last "." of its file name and what follows, plus
// ".mp4"; a file name without "." gets ".mp4" appended.
std::string mp4_output_path(const std::string& input_path);

// Removes temporary MP4s (".tmp-<pid>-<n>.mp4") in `folder` whose process no
// longer runs. Returns how many it removed.
int remove_stale_temporaries(const std::string& folder);

// Names the temporary file being written by this process, for a signal
// handler to remove (see remove_active_temporaries); thread-safe.
void remove_active_temporaries();
