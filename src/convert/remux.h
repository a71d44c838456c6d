// Remuxing a recording into an MP4 file without re-encoding the pictures.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "convert/temporary_files.h"
#include "recording/recording.h"

// Called with the fraction done (0..1); an empty one is never called.
using ProgressCallback = std::function<void(float)>;

struct RemuxOptions {
  bool print_frame_rate = true;  // the "Detected FPS" line
  bool sound = true;             // the A-law sound as an AAC track, when there is any
  const std::atomic<bool>* cancel = nullptr;  // set: stop, remove the temporary, fail
};

// What a conversion did. Success means the MP4 holds every picture that can
// be decoded and all the sound that goes with them; what was left out, and
// why, is listed here and said by remux_notes.
struct RemuxResult {
  bool succeeded = false;
  std::string reason;              // why it failed, in a few words
  bool replaced_existing = false;  // a file at the output path was replaced
  bool recording_has_sound = false;
  bool mp4_has_sound = false;
  bool sound_left_out = false;     // the recording's sound, left out as options.sound asked
  int64_t pictures = 0;            // pictures written
  // Pictures that could not be decoded, left out: those before the first key
  // frame (with the sound up to it), and those after a skipped stretch that
  // cut a picture short, up to the next key frame.
  int64_t pictures_before_first_key = 0;
  int64_t pictures_after_skipped = 0;
  std::vector<SkippedStretch> skipped;  // stretches longer than kMaxUnitBytes without a start code
  int readings = 0;  // times the recording was read: 2 when its head could not tell enough
};

// Converts the recording at `input_path` into an MP4 at `output_path`. Reads
// the recording in bounded pieces, once: its head is held (at most 16 MB)
// until the parameter sets, the picture size, a picture header and whether
// there is sound (none within five seconds of pictures: none) are known,
// then everything streams into the MP4. A head
// that cannot tell (no header in it: the rate of pictures without headers
// comes from the whole sound's time span), or sound met only after the MP4
// was started without it, makes it read the file twice instead: a first pass
// learns what the head could not, the second writes. Each picture is one sample
// stamped with its time on the camera's clock (time base 1/90000), the first
// one a key frame at time 0; parameter sets travel in the samples ('avc3');
// the sound becomes an AAC-LC track on the same clock. A recording's sound is
// never left out unless options.sound says so: when it cannot be written the
// conversion fails. The output appears at `output_path` only on success; an
// existing file there survives any failure, and no temporary file is left
// behind. Cancel is looked at before every unit and block of both passes.
RemuxResult convert_to_mp4(const std::string& input_path, const std::string& output_path,
                           const ProgressCallback& progress, const RemuxOptions& options);

// convert_to_mp4, giving only success and (when asked) the reason of a failure.
bool remux_recording(const std::string& input_path, const std::string& output_path,
                     const ProgressCallback& progress, const RemuxOptions& options,
                     std::string* reason);

// The same with default options and no reason.
bool remux_to_mp4(const std::string& input_path, const std::string& output_path,
                  ProgressCallback progress, bool print_frame_rate = true);

// What a successful conversion should tell beyond "OK", in a few words
// joined by "; " ("replaced the existing file; 12 pictures before the first
// key frame left out"); empty when there is nothing to tell.
std::string remux_notes(const RemuxResult& result);

// The result line the converters print: "OK  in -> out\n", with "  (notes)"
// before the newline when remux_notes has any, or "FAILED  in: reason\n".
std::string remux_result_line(const std::string& input, const std::string& output,
                              const RemuxResult& result);

// The input path without the last "." of its file name and what follows, plus
// ".mp4"; a file name without "." gets ".mp4" appended.
std::string mp4_output_path(const std::string& input_path);
