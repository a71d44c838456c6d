// The file player's decoding thread: it feeds the recording's units to the
// H.264 decoder (which keeps its own frame threads) and hands the decoded
// pictures to the player through a small bounded queue, each tagged with the
// frame it shows. Seeks go through the queue: everything queued or still in
// the decoder from before the seek is thrown away, so no stale picture can
// follow a seek. After the last unit the decoder is drained into the queue
// and the end is marked behind its last picture; the thread then waits for
// a seek (playing again) or the stop. The unit list may still be growing (the
// recording is indexed in the background): the thread keeps its own copy,
// extended by the player, and waits at its end until the list is complete.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "media/av_handles.h"
#include "recording/recording.h"
#include "recording/resident_pages.h"

// Decoded pictures waiting for the player: enough to ride out a slow picture,
// few enough that a seek or a speed change throws little work away.
constexpr size_t kPictureQueueCapacity = 4;

struct DecodedPicture {
  FramePtr frame;
  int frame_index = 0;   // frame-list index of the picture's first slice
  bool drained = false;  // came out of the decoder after the last unit
};

// Where the decoder goes next after a seek, and the parameter sets it gets first.
struct DecoderSeek {
  uint64_t unit = 0;  // first unit to decode
  int frame = 0;      // frame-list index of that unit
  int64_t sps = -1, pps = -1;  // units sent before it; -1: none
  // Pictures tagged before this frame are decoded but not queued: the
  // playback goes on exactly there, not at the key frame. -1: from the key frame.
  int show_from = -1;
};

struct DecodingThread {
  CodecContextPtr codec;  // the decoding thread's while it runs
  ResidentPages pages;    // the decoding thread's: what it read of the mapped file
  std::thread thread;

  std::mutex mutex;  // guards everything below except the atomics
  std::vector<NalUnit> units;  // what the index holds so far
  bool units_complete = true;  // false: more units come, the end is not the end
  std::condition_variable decoder_wakes;  // room in the queue, a seek, the stop
  std::condition_variable player_wakes;   // a picture or the end
  std::deque<DecodedPicture> queue;
  bool end_queued = false;  // the decoder was drained: nothing follows the queue
  uint64_t generation = 0;  // one more for each seek
  bool seek_pending = false;
  DecoderSeek seek;
  bool stop = false;
  int64_t slices_sent = 0;
  int64_t slices_skipped = 0;  // not decoded while decoding key frames only

  // Key frames only until the first key frame at or after this frame index;
  // -1: every picture is decoded.
  std::atomic<int> key_frames_until{-1};
};

// Takes the opened decoder and starts decoding `units` (a copy is kept) from
// the first one; `complete` false: more follow (extend_decoding_units). The
// bytes they point to must stay mapped until stop_decoding; with `file`, the
// pages read are released as the thread moves on. False when the thread
// cannot be started (the decoder is then released).
bool start_decoding(DecodingThread& dt, CodecContextPtr codec, std::vector<NalUnit> units,
                    bool complete = true, const MappedFile* file = nullptr);

// Appends the units the index added (`count` of them at `units`) and says
// whether the list is now complete; a thread waiting at the end goes on.
void extend_decoding_units(DecodingThread& dt, const NalUnit* units, size_t count, bool complete);

// True between start_decoding and stop_decoding.
bool decoding_started(const DecodingThread& dt);

// Stops the thread, waits for it and releases the decoder and the queued
// pictures. Does nothing when it never started.
void stop_decoding(DecodingThread& dt);

// Throws the queued pictures away and has the decoder flushed, given the
// parameter sets and moved to the seek's unit before it decodes anything else.
void request_seek(DecodingThread& dt, const DecoderSeek& seek);

// What the player sees at the head of the queue.
struct QueueHead {
  bool has_picture = false;
  int frame_index = 0;         // of the oldest picture
  bool newer_waiting = false;  // a second picture is queued behind it
  bool ended = false;          // no picture, and none will come before a seek
};
QueueHead peek_queue(DecodingThread& dt);

// Takes the oldest picture (frame null when there is none).
DecodedPicture take_picture(DecodingThread& dt);

// Waits up to `max_ms` for a picture or the end.
void wait_for_picture(DecodingThread& dt, int max_ms);

// Asks the decoder to decode key frames only (skip_frame = AVDISCARD_NONKEY)
// until the first key frame at or after `frame`, from which it decodes every
// picture again. Ignored while such a request is pending.
void request_key_frames_only(DecodingThread& dt, int frame);

// Withdraws that request: every picture is decoded again from the next key frame.
void cancel_key_frames_only(DecodingThread& dt);

// Slices given to the decoder, and those of them skipped, since the start.
struct DecodingCounts {
  int64_t slices_sent = 0;
  int64_t slices_skipped = 0;
};
DecodingCounts decoding_counts(DecodingThread& dt);
