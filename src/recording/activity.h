// Where something happens in a recording, read from its index alone: an
// encoder spends more bytes on a picture the more it differs from the one
// before, so the sizes of the predicted (non-key) pictures against their
// usual size show how much the picture changes, without decoding anything.
//
// What the sizes can show depends on the encoder having room to spend more:
// a camera's fixed-quality (variable-rate) mode has it, and so does a bit
// rate that a still scene stays under (cameras keep a lowest quantiser); a
// constant bit rate that a still scene already fills keeps every second the
// same size, and an
// encoder that raises its quantiser as the picture gets busier can spend
// fewer bytes on a noisy picture with something moving in it. There the
// level stays near 1 and nothing is found: the figures miss activity rather
// than invent it.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "recording/recording.h"

// A picture costing this many times the usual size is active: twice the
// bytes means a good part of the picture had to be coded afresh. Sensor noise
// and the camera's on-screen clock cost the same every picture and stay near 1.
constexpr double kActiveLevel = 2.0;

// The level that the strip shows at full strength: an object crossing a
// still scene makes pictures several times their usual size.
constexpr double kFullStrengthLevel = 6.0;

// Levels are the median over this many seconds either side of a picture:
// a single large picture (a brightness jump, the picture after a key frame,
// an encoder's correction) is not activity, movement lasts longer. The
// median keeps the edges of a real stretch where they are.
constexpr double kSmoothingHalfWindowS = 0.3;

// The usual size: per block of this many seconds the kBaselineQuantile of its
// non-key sizes, then the median of those over kBaselineHalfWindowS either
// side. The median, not a lower share, because encoders make some pictures
// far smaller than usual (those just after a key picture, under a
// quality-based rate), and a lower share takes those for the quiet level.
// The long window follows lasting changes (dusk, the noise a camera's gain
// adds) and lets events of up to about its length stand out.
constexpr double kBaselineBlockS = 10.0;
constexpr double kBaselineQuantile = 0.5;
constexpr double kBaselineHalfWindowS = 150.0;

// The usual size is never taken below this share of the median key picture:
// in a clean still scene a predicted picture holds little but the on-screen
// clock, and doubling that is rounding, not an event.
constexpr double kBaselineFloorOfKey = 0.005;

// Active runs shorter than this are blips and are dropped: an encoder
// settling after a brightness jump, at its start or after a key picture
// (refining what it coded coarsely, seen to last up to about 0.7 s), a bird's
// shadow. What a person or a car does in view takes longer.
constexpr double kMinStretchS = 1.0;

// Stretches closer than this are one event (someone stopping at a door).
constexpr double kMergeGapS = 3.0;

// From a jump back within this long after a stretch's start, the previous
// stretch is meant, as a media player's "previous" works.
constexpr double kPreviousSlackS = 1.0;

// Per picture (in the recording's order), its start in seconds on the
// recording's clock and its change level: 1 is the usual, kActiveLevel and
// above is activity, 0 where there is nothing to measure (no predicted
// picture near it). Key pictures take the level of the pictures around them.
struct ActivityProfile {
  std::vector<double> times;
  std::vector<float> levels;
  double duration = 0.0;  // recording_duration
};

// The profile of a loaded recording (units, frames and frame_times as
// load_recording builds them). Empty for a recording without frames.
ActivityProfile measure_activity(const Recording& recording);

// The same from bare picture sizes: per picture its start (rising), its size
// in bytes and whether it is a key picture. Used by measure_activity.
ActivityProfile activity_from_sizes(const std::vector<double>& times,
                                    const std::vector<int64_t>& sizes,
                                    const std::vector<bool>& key, double duration);

// The highest level of the pictures shown in [from, to): the one showing at
// `from` and those starting before `to`; 0 before the first picture.
float activity_between(const ActivityProfile& profile, double from, double to);

// One figure per whole or part second of the duration: activity_between(s, s + 1).
std::vector<float> activity_per_second(const ActivityProfile& profile);

// `count` (>= 0) figures for equal parts of the duration, e.g. one per pixel
// of a seek track of any width.
std::vector<float> activity_buckets(const ActivityProfile& profile, int count);

// 0..1 for drawing: 0 up to the usual level 1, 1 from kFullStrengthLevel,
// rising evenly on a log scale between.
float activity_strength(float level);

struct ActivityStretch {
  double from = 0.0, to = 0.0;  // seconds on the recording's clock, from < to
};

// The stretches of activity in time order: runs of pictures at kActiveLevel
// or above (a run ends where its last picture ends), without runs shorter
// than kMinStretchS, and with gaps under kMergeGapS closed.
std::vector<ActivityStretch> find_activity_stretches(const ActivityProfile& profile);

// The first stretch starting after `t`, or nothing. A player that seeks to
// the key picture before a start lands before it: it should ask from the
// start it jumped to, or it would find the same stretch again.
std::optional<double> next_activity_start(const std::vector<ActivityStretch>& stretches,
                                          double t);

// The last stretch starting before t - kPreviousSlackS, or nothing.
std::optional<double> previous_activity_start(const std::vector<ActivityStretch>& stretches,
                                              double t);

// True when the slice is coded without reference to other pictures: an IDR
// slice, or a slice whose slice_type is I or SI. Reads two Exp-Golomb numbers
// of the slice header within the unit's bytes; false when they do not fit.
bool is_intra_slice(const NalUnit& slice);

// Whether frame-list entry k starts its picture / is an intra slice: from
// what the index read as it walked (no mapped page touched), else from the
// slice's own bytes.
bool frame_starts_picture(const Recording& recording, size_t k);
bool frame_is_intra(const Recording& recording, size_t k);
