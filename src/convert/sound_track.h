// The recording's A-law sound as an AAC-LC track (8 kHz mono), placed on the
// pictures' clock: each block starts at its own time, small timing jitter is
// absorbed, gaps become silence and overlaps are cut. The AAC encoding runs
// on a thread of its own, off the path that copies the pictures: the caller
// hands blocks over and writes the packets that come back into the MP4.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/av_handles.h"

constexpr int kSoundRate = 8000;
constexpr int kSoundBitRate = 24000;  // plenty for speech at 8 kHz, mono

// Samples handed to the encoder and not yet encoded, at most: a copying
// thread that runs this far ahead waits for the encoder.
constexpr size_t kMaxSoundBacklog = size_t{kSoundRate} * 60;

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

// A placed block on its way to the encoder: silence, then A-law samples.
struct SoundInput {
  int64_t silence = 0;
  std::vector<uint8_t> alaw;
};

struct SoundTrack {
  AVStream* stream = nullptr;
  int64_t next = -1;  // track position after the last placed sample (the caller's side)
  CodecContextPtr encoder;
  FramePtr frame;
  PacketPtr packet;
  AVRational encoder_time_base{1, kSoundRate};
  std::thread worker;

  std::mutex mutex;  // guards the five below
  std::condition_variable wakes;  // input, output taken, the finish
  std::deque<SoundInput> inputs;
  size_t backlog = 0;              // samples in `inputs`
  std::deque<PacketPtr> encoded;   // AAC packets waiting to be written, in the encoder's time base
  bool finishing = false;          // no more input: encode the rest and drain
  bool failed = false;             // the encoder refused something

  // The encoding thread's own.
  std::vector<float> pending;  // samples not yet in a frame
  int64_t encoded_until = 0;   // track position of pending[0]

  SoundTrack() = default;
  SoundTrack(const SoundTrack&) = delete;
  SoundTrack& operator=(const SoundTrack&) = delete;
  ~SoundTrack();  // stops the encoding thread if it still runs
};

// Opens the AAC encoder, adds its stream to `output` (before the header is
// written) and starts the encoding thread. False with *reason set when that
// fails.
bool open_sound_track(SoundTrack& track, AVFormatContext* output, std::string* reason);

// Places one A-law block stamped `time_s` on the pictures' clock and hands it
// to the encoder, then writes the packets the encoder has finished. False
// when encoding or writing failed.
bool add_sound_block(SoundTrack& track, AVFormatContext* output, const uint8_t* alaw,
                     int64_t count, double time_s);

// Encodes what is left, waits for the encoder and writes every packet.
// False on failure.
bool finish_sound_track(SoundTrack& track, AVFormatContext* output);
