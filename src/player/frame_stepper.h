// Pictures for a paused player: the picture a paused seek lands on and the
// frame steps forward and back. A decoder of its own (the playback's decoding
// thread keeps its place) decodes from the key frame before the picture
// wanted and keeps the decoded pictures, so repeated steps back through a
// group cost no decoding: only the first step into a group decodes it, and
// while the player stands paused that work is done ahead in short slices.
//
// Pictures are known by their tag: the frame-list index of their first slice.
// Each kept picture remembers the one decoded just before it from the same
// key frame, so "the picture before" is known without guessing at gaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "media/av_handles.h"
#include "recording/recording.h"

// The key frame a seek to `target` lands on: target clamped to the frames,
// then the nearest IDR frame at or before it (its first slice when the
// picture is cut into slices); 0 when there is none.
int find_seek_frame(const std::vector<NalUnit>& units, const std::vector<int64_t>& frames,
                    int target);

// Positions of the nearest SPS and PPS before unit u, walking back until both
// are known; both -1 when the start is reached first.
struct ParameterSets {
  int64_t sps = -1, pps = -1;
};
ParameterSets find_parameter_sets_before(const std::vector<NalUnit>& units, int64_t u);

struct KeptPicture {
  FramePtr frame;
  int previous = -1;  // tag of the picture decoded just before it from the same key frame; -1: none
  int run_key = -1;   // the key frame its decoding started from; kUnknownRun: not known
  size_t bytes = 0;
};

// The run of a picture handed over from elsewhere (the playback), whose
// predecessor is not known.
constexpr int kUnknownRun = 1 << 30;

struct FrameStepper {
  const std::vector<NalUnit>* units = nullptr;
  const std::vector<int64_t>* frames = nullptr;
  bool split_pictures = false;
  int thread_count = 2;
  size_t budget_bytes = size_t{256} << 20;  // kept pictures beyond this go, the farthest first

  CodecContextPtr codec;  // opened on first use
  FramePtr scratch;

  // The decoding run: from key frame run_key on, in file order.
  bool running = false;
  bool drained = false;    // the units ran out and the decoder gave everything back
  int run_key = -1;
  uint64_t next_unit = 0;
  int next_frame = 0;      // tag of the next slice to send
  int last_received = -1;  // greatest tag out of the decoder in this run
  int previous_in_run = -1;
  int finished_key = -1, finished_until = -1;  // the last request this run finished

  std::map<int, KeptPicture> kept;
  size_t kept_bytes = 0;
  int64_t pictures_decoded = 0;  // out of the decoder since the start, for tests and benchmarks
};

// Prepares the stepper for a recording's units and frames (which must stay in
// place while it is used). Opens nothing yet.
void attach_stepper(FrameStepper& stepper, const std::vector<NalUnit>& units,
                    const std::vector<int64_t>& frames, bool split_pictures);

// Releases the decoder and every kept picture (the units stay attached).
void reset_stepper(FrameStepper& stepper);

// The first picture at or after frame `frame` (the picture a paused seek to
// a key frame shows, or the next one for a forward step); null when there is
// none before the end. *tag receives its tag.
const AVFrame* stepper_picture_from(FrameStepper& stepper, int frame, int* tag);

// The picture shown just before the one tagged `tag`; null when there is none
// (the start of the recording, or pictures that cannot be decoded).
const AVFrame* stepper_picture_before(FrameStepper& stepper, int tag, int* tag_before);

// Works towards stepper_picture_before(tag) needing no decoding, for at most
// `budget_ms` milliseconds. True when it is ready (or can never be).
bool stepper_prepare_before(FrameStepper& stepper, int tag, double budget_ms);

// Decoding ahead while paused on picture `tag`, for at most `budget_ms`: the
// kept pictures before it are completed down to the key frame of its group;
// standing on a key frame, the group before it is decoded. True when there is
// nothing more to do.
bool stepper_decode_ahead(FrameStepper& stepper, int tag, double budget_ms);

// Bytes of a decoded picture's buffers.
size_t picture_bytes(const AVFrame* picture);

// Takes a picture decoded elsewhere (the playback's) as the one tagged `tag`;
// `previous` is the tag of the picture just before it when known, else -1.
void stepper_adopt(FrameStepper& stepper, int tag, FramePtr picture, int previous);
