// Exporting a stretch of recordings as an MP4 without re-encoding: finding
// where it starts without reading the whole recording, naming the MP4 after
// the recording and the stretch's time of day, and choosing its folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "convert/remux.h"
#include "player/time_of_day.h"

// The camera's clock at a recording's two ends, read from its first and last
// pieces alone.
struct RecordingEnds {
  bool has_headers = false;  // an "HXVF" header in the first piece
  uint32_t first_ts = 0;     // the first header's timestamp
  uint32_t last_ts = 0;      // the last header's (in the last piece)
  double interval_s = 0;     // between the last two headers when they are close; 0 unknown
  int64_t payload_size = 0;
};

// Bytes read at each end (the last piece must hold a header or two).
constexpr int64_t kEndPieceBytes = int64_t{1} << 20;

// Reads the ends of `path`; false with the reason when it cannot be read.
bool read_recording_ends(const std::string& path, RecordingEnds* ends, std::string* reason);

// The recording's length on the camera's clock: from the first header to the
// last one, plus one picture (at 15 per second when unknown); 0 without headers.
double recording_length(const RecordingEnds& ends);

// Where a stretch starts: the key picture at or before its in-point.
struct StretchStart {
  int64_t offset = 0;  // payload offset between the picture before it and its camera blocks
  double time_s = 0;   // its time in seconds from the recording's first picture
};

// Finds the key picture at or before `in_s` (seconds on the camera's clock
// from the first picture) without reading the whole recording: the header
// timestamps are halved in on, then the few seconds before the in-point are
// walked; further back while they hold no key picture. Where the clock runs
// backwards the walk starts earlier, up to the recording's start. With no key
// picture before the in-point the stretch starts at the recording's start
// (its first key picture then opens the MP4). False with the reason when the
// recording cannot be read, has no picture headers to find times by, or was
// cancelled.
bool locate_stretch_start(const std::string& path, double in_s, StretchStart* start,
                          std::string* reason, const std::atomic<bool>* cancel = nullptr);

// The MP4's name: "<first recording's name without extension>_YYYYMMDD_
// HHMMSS-HHMMSS.mp4" with the in-point's date and time of day and the
// out-point's time (its date too, "-YYYYMMDD_HHMMSS", when it falls on
// another day); where either start is unknown, the times in the recordings
// instead: "<name>_tHHMMSS-tHHMMSS.mp4". Characters file systems refuse become "_".
std::string stretch_file_name(const std::string& first_path, const RecordingStart& first_start,
                              double in_s, const RecordingStart& last_start, double out_s);

struct StretchRequest {
  // The in-point's recording, then each following one up to the out-point's.
  std::vector<std::string> inputs;
  double in_s = 0;    // in inputs.front(), seconds from its first picture
  double out_s = -1;  // in inputs.back(); below 0: to its end
  // The key picture at or before in_s, when the caller's index knows it;
  // otherwise locate_stretch_start finds it.
  std::optional<StretchStart> start;
  double planned_s = 0;  // the stretch's length, for the progress (0: unknown)
  // Where the MP4 may go, in order of preference (each without a closing
  // separator; "" the working folder): the first that takes a new file.
  std::vector<std::string> folders;
  std::string name;  // stretch_file_name's; "_2", "_3", ... when it is taken
  RemuxOptions options;
};

struct StretchResult {
  RemuxResult remux;   // remux.succeeded, or the reason
  std::string output;  // the MP4 written
  StretchStart start;  // where it started
};

// Exports the stretch: its start found, a free name in the first folder that
// takes a file, then convert_stretch_to_mp4. Never replaces a file.
StretchResult export_stretch(const StretchRequest& request, const ProgressCallback& progress);

// The line the converter prints for an exported stretch: "OK  in -> out
// (from A s[ of FIRST] to B s[ of LAST]; notes)", A being where the MP4
// starts (the key picture) and B the out-point ("the end" without one), the
// recordings named when the stretch crosses into another; failures as
// remux_result_line.
std::string stretch_result_line(const std::string& input, const StretchRequest& request,
                                const StretchResult& result);
