// Builds a recording's indexes (units, frames, each frame's time, the sound
// blocks on the pictures' clock, the stretches left out) from the items of a
// payload walk, in payload order, and hands them on in batches as the walk
// goes: a player can start on the first batch while the rest is indexed.
//
// The records point into `payload`, the whole payload as mapped (the walk
// itself may read the file into windows of its own: only item offsets are
// taken from it). The clock needs the time origin and a rate for pictures
// without a usable timestamp, and both depend on the whole file: the first
// batch fixes estimates from what was walked so far, and the last one, when
// the whole-file figures differ, times every frame and sound block again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recording/frame_clock.h"
#include "recording/frame_rate.h"
#include "recording/payload_walk.h"
#include "recording/recording.h"

// One batch: what the walk added since the previous batch.
struct IndexBatch {
  std::vector<NalUnit> units;        // follow the units of earlier batches
  std::vector<int64_t> frames;       // positions in the whole unit list
  std::vector<uint8_t> frame_kinds;  // per new frame, kFrame* bits
  std::vector<double> frame_times;   // of the new frames; of every frame when `retimed`
  std::vector<AudioBlock> sound;     // new blocks; every block when `retimed`
  std::vector<SkippedStretch> skipped;
  bool retimed = false;              // frame_times and sound replace all earlier ones
  int64_t indexed_bytes = 0;         // payload bytes walked, from its start
  uint32_t time_origin = 0;
  double fps = kDefaultFrameRate;    // estimated until `complete`
  double clock_rate = kDefaultFrameRate;  // the timestamps' own rate so far
  bool complete = false;             // the last batch: the walk ended
  LoadStatus status = LoadStatus::ok;  // with `complete`: why the walk ended early
  std::string messages;              // lines for standard output, in order
};

// The clock's view of one frame, kept so that it can be timed again.
struct ClockFrame {
  uint32_t header_ts = 0;
  bool starts_picture = false;  // the first slice of a picture (frame 0 always is)
  bool has_header = false;      // an "HXVF" header came since the previous picture began
};

// A sound block as walked (timestamp as stamped) and the number of frames before it.
struct ClockSound {
  AudioBlock block;
  int64_t frames_before = 0;
};

// The clock's parameters: fixed by the first batch, settled by the last.
struct ClockParameters {
  uint32_t origin = 0;
  double fallback_rate = kDefaultFrameRate;
  bool operator==(const ClockParameters&) const = default;
};

struct IndexBuilder {
  const uint8_t* payload = nullptr;
  int64_t length = 0;
  int64_t unit_count = 0;
  int64_t frame_count = 0;
  int64_t pictures = 0;
  int64_t indexed_bytes = 0;
  bool any_header = false;
  uint32_t first_header_ts = 0, last_header_ts = 0;
  bool header_pending = false;  // seen, not yet taken by a picture
  uint32_t pending_header_ts = 0;
  bool any_sound = false;
  uint32_t first_sound_ts = 0, last_sound_ts = 0;
  int64_t last_sound_samples = 0;
  bool stretch_open = false;  // the last item was (part of) a skipped stretch
  SkippedStretch stretch;
  LoadStatus failure = LoadStatus::ok;

  std::vector<ClockFrame> frame_log;
  std::vector<ClockSound> sound_log;
  bool timing_fixed = false;
  ClockParameters timing;
  FrameClock clock;
  size_t timed_frames = 0, timed_sounds = 0;
  double last_time = 0;
  // What earlier batches handed on: a settling that changes none of it
  // hands on only what is new.
  std::vector<double> handed_times;
  std::vector<uint32_t> handed_sound_ts;

  IndexBatch pending;  // filled by add_index_item, handed on by take_index_batch
};

// A builder for the payload at `payload`, `length` bytes long.
IndexBuilder start_index_builder(const uint8_t* payload, int64_t length);

// Takes one item of the walk (offsets are payload offsets). False when the
// index cannot take more: more units than unit_limit allows for the payload,
// or more frames than a 32-bit count holds; the builder then says why.
bool add_index_item(IndexBuilder& builder, const StreamItem& item);

// The batch since the last one. Without `complete` it holds only finished
// work (a stretch that may go on stays open) and, when no frame was timed
// yet, fixes the clock's estimates from what was walked; it is empty of
// frames until there is one. With `complete` (the walk ended; `end` says
// how) it settles the rate and origin, and is `retimed` when that changes
// any time handed on before; it prints nothing itself: the "Skipped" and
// "Detected FPS" lines go into `messages`.
IndexBatch take_index_batch(IndexBuilder& builder, bool complete, LoadStatus end = LoadStatus::ok);

// The clock's parameters from the figures walked so far: the first header's
// timestamp as origin (else the first sound block's, else 0); the rate of
// the header timestamps' span, or of the sound's when no picture has a
// header; the default when neither gives one.
ClockParameters estimate_clock_parameters(const IndexBuilder& builder);
