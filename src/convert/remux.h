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

// The reason remux_recording gives when it stopped on its cancel flag.
constexpr const char* kCancelledReason = "cancelled";
// The reason given when no new file can be made beside the output path.
constexpr const char* kCannotWriteFolderReason = "cannot write in the output folder";

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
  // Sound of a following recording that held no picture or header to place
  // it by (a stretch across recordings), left out and said so.
  int64_t sound_samples_without_pictures = 0;
  double duration_s = 0;           // the MP4's pictures, from the first one's start to the last one's end
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

// A stretch of one recording, or of several that follow one another in their
// folder, made into one MP4 by convert_stretch_to_mp4.
struct RemuxStretch {
  // Where reading starts in the first recording: a payload offset between two
  // pictures (after one's last unit, before the next one's camera blocks), at
  // or before the key picture the MP4 starts with; 0 is the recording's start.
  int64_t start_offset = 0;
  // The first recording's time of the first picture at or after start_offset,
  // in seconds from its first picture.
  double start_s = 0;
  // The out-point in the last recording, in seconds from its first picture:
  // the pictures from there on are left out and the sound ends there. Below
  // 0: to the last recording's end.
  double end_s = -1;
  // The MP4's expected length in seconds, for the progress; 0 when unknown
  // (then the progress comes only at the end).
  double planned_s = 0;
};

// Converts a stretch: the pictures from start_offset of inputs[0] (the MP4
// starts at the first key picture read, time 0), through every following
// input whole, to the out-point in the last input, with the sound from that
// key picture to the out-point. Each following recording's pictures and
// sound continue where the one before it ends (its last picture's end), so
// the MP4 plays on without a gap or a jump whatever the recordings' own
// clocks say; a following recording's pictures are kept from its first one,
// key or not, since a camera cuts one stream into files. Reads no more of
// the first recording than from start_offset to a little past the out-point
// (for sound written after its picture). Output, temporary and cancel as
// convert_to_mp4; without a key picture in the stretch it fails.
RemuxResult convert_stretch_to_mp4(const std::vector<std::string>& inputs,
                                   const RemuxStretch& stretch, const std::string& output_path,
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
// before the newline when remux_notes has any, "CANCELLED  in\n" when it was
// cancelled, or "FAILED  in: reason\n".
std::string remux_result_line(const std::string& input, const std::string& output,
                              const RemuxResult& result);

// The input path without the last "." of its file name and what follows, plus
// ".mp4"; a file name without "." gets ".mp4" appended.
std::string mp4_output_path(const std::string& input_path);
