// The in- and out-points of a stretch to export. They outlive one playback,
// so a stretch may start in one recording and end in a later one of the same
// folder (cameras cut files every few minutes). Main thread only; the rules
// are pure.
#pragma once

#include <optional>
#include <string>

#include "player/time_of_day.h"

struct MarkPoint {
  std::string path;       // the recording, as the player opened it
  double time_s = 0;      // seconds from its first picture
  double duration_s = 0;  // the recording's length
  RecordingStart start;   // its start, for the time of day
};

struct StretchMarks {
  std::optional<MarkPoint> in, out;
};

// The process's marks.
StretchMarks& stretch_marks();

// True when both paths name one recording (the same folder and name, the
// name compared as the folder order compares it).
bool same_recording_path(const std::string& a, const std::string& b);

// True when `a` comes before `b`: earlier in the same recording, or in a
// recording that comes earlier in their folder (by name, as the folder is
// stepped through).
bool mark_before(const MarkPoint& a, const MarkPoint& b);

// Sets the in-point (out_point false) or the out-point at `point`. The other
// mark goes when it is not on its side any more (an out-point at or before
// a new in-point); returns true then.
bool set_mark(StretchMarks& marks, bool out_point, const MarkPoint& point);

// Forgets marks made in another folder than `path`'s.
void keep_marks_of_folder(StretchMarks& marks, const std::string& path);

// Where the marks fall on the track of the recording `path` lasting
// `duration_s`, as fractions 0..1 (-1: not on it). With both marks set, a
// stretch that began in an earlier recording starts at 0 here, one that ends
// in a later recording ends at 1.
struct MarkFractions {
  float in = -1, out = -1;
};
MarkFractions marks_on_track(const StretchMarks& marks, const std::string& path, double duration_s);
