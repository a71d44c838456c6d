// Decoding a camera's sound into signed 16-bit samples: G.711 A-law and
// u-law by table, AAC through FFmpeg's decoder opened with the
// AudioSpecificConfig from the session description. And the way back for
// recordings, which hold 8000 Hz mono A-law: any decoded sound resampled and
// compressed to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/av_handles.h"
#include "media/codecs.h"

struct SwrContext;

// ITU-T G.711 u-law expansion (magnitudes 0..32124).
int16_t decode_ulaw(uint8_t byte);

struct SoundDecoder {
  SoundCodec codec = SoundCodec::none;
  int rate = 0;      // samples per second per channel of what comes out
  int channels = 0;  // interleaved in what comes out
  CodecContextPtr aac;
  FramePtr frame;
  PacketPtr packet;
};

// Opens the decoder for `codec` at the stream's clock rate and channel count
// (G.711) or with `aac_config` (AAC; rate and channels then come from it and
// from the decoded sound). False with `error` when FFmpeg has no AAC decoder
// or the configuration is refused, or for a codec this decoder does not take.
bool open_sound_decoder(SoundDecoder& decoder, SoundCodec codec, int clock_rate, int channels,
                        const std::vector<uint8_t>& aac_config, std::string& error);

// Decodes one unit (a G.711 packet's samples, or one AAC access unit) and
// appends its samples, channels interleaved, to `out`. Returns the samples per
// channel decoded (0 for a unit that does not decode; the decoder stays usable).
int decode_sound_unit(SoundDecoder& decoder, const uint8_t* data, size_t size, std::vector<int16_t>& out);

struct SwrContextDeleter {
  void operator()(SwrContext* context) const;
};
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;

// Sound made fit for a recording: mixed down to mono, resampled to 8000 Hz,
// compressed to A-law.
struct AlawConverter {
  SwrContextPtr resampler;  // made for the input's rate and channels; null at 8000 Hz mono
  int rate = 0, channels = 0;
  std::vector<int16_t> mono;
};

// Converts `frames` samples per channel (interleaved) at `rate` and
// `channels` and appends the A-law bytes to `out` (the resampler keeps a few
// samples back between calls, as filtering needs). False when no resampler
// can be made for that input.
bool convert_to_alaw(AlawConverter& converter, const int16_t* samples, int frames, int rate, int channels,
                     std::vector<uint8_t>& out);

// Appends the samples the resampler still holds back (at the end of the
// sound) and starts it afresh for what may follow.
void flush_alaw(AlawConverter& converter, std::vector<uint8_t>& out);
