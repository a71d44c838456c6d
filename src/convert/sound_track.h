// The recording's A-law sound as an AAC-LC track (8 kHz mono), placed on the
// pictures' clock: each block starts at its own time, small timing jitter is
// absorbed, gaps become silence and overlaps are cut.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/av_handles.h"

constexpr int kSoundRate = 8000;
constexpr int kSoundBitRate = 24000;  // plenty for speech at 8 kHz, mono

// Where a block's samples go on the track, in samples from time 0.
struct SoundPlacement {
  int64_t start = 0;    // track position of the first kept sample
  int64_t skip = 0;     // leading samples of the block left out (before 0 or overlapping)
  int64_t silence = 0;  // samples of silence to insert before it
};

// Places a block of `count` samples stamped `time_s` when the track so far
// ends at `next` (-1: nothing placed yet). Within `tolerance` samples of
// `next` it follows on directly; later, silence fills the gap; earlier, its
// overlap is cut. More than `max_gap` samples off either way, it follows on.
SoundPlacement place_sound_block(double time_s, int64_t count, int64_t next, int64_t tolerance,
                                 int64_t max_gap);

struct SoundTrack {
  CodecContextPtr encoder;
  FramePtr frame;
  PacketPtr packet;
  AVStream* stream = nullptr;
  std::vector<float> pending;  // samples not yet in a frame
  int64_t next = -1;           // track position after the last placed sample
  int64_t encoded = 0;         // track position of pending[0]
};

// Opens the AAC encoder and adds its stream to `output` (before the header
// is written). False with *reason set when that fails.
bool open_sound_track(SoundTrack& track, AVFormatContext* output, std::string* reason);

// Adds one A-law block stamped `time_s` on the pictures' clock, writing the
// packets it completes. False when encoding or writing fails.
bool add_sound_block(SoundTrack& track, AVFormatContext* output, const uint8_t* alaw,
                     int64_t count, double time_s);

// Encodes what is left and drains the encoder. False on failure.
bool finish_sound_track(SoundTrack& track, AVFormatContext* output);
