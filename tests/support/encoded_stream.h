// H.264 elementary streams made by ffmpeg's libx264, for tests that feed a
// decoder NAL unit by NAL unit as a camera would send them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recording/recording.h"

struct EncodedStream {
  std::vector<uint8_t> bytes;  // Annex-B stream
  std::vector<NalUnit> units;  // point into `bytes`; empty when encoding failed
  std::string error;           // why there are no units
};

// `frames` pictures of w x h in pixel format `pix_fmt` ("yuv420p", "yuv444p"),
// the left half in colour `left`, the right half in `right` (0xRRGGBB), no
// B-frames, a key frame every `key_interval` pictures with its parameter sets.
EncodedStream encode_h264_stream(int w, int h, const char* pix_fmt, unsigned left, unsigned right,
                                 int frames, int key_interval = 250);

// `frames` camera-like pictures of w x h: a moving test picture under sensor
// noise, at `bit_rate` ("8M") with an encoder buffer of `buffer` ("48M"),
// which lets the first key picture take far more than its share (a 4K one at
// 8M and 48M is about 1.5 MB), as a camera's does. No B-frames, a key frame
// every 25 pictures.
EncodedStream encode_noisy_h264_stream(int w, int h, int frames, const char* bit_rate, const char* buffer);
