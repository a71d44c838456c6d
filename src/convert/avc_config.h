// The byte layouts an MP4 needs from an Annex-B recording: the decoder
// configuration record (avcC) and length-prefixed samples. Pure functions, no
// FFmpeg, so they are tested directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "recording/recording.h"

// The first SPS (type 7) and the first PPS (type 8) in unit order; null when
// missing. The walk stops as soon as both are found.
struct ParameterSets {
  const NalUnit* sps = nullptr;
  const NalUnit* pps = nullptr;
};
ParameterSets find_parameter_sets(const std::vector<NalUnit>& units);

// First unit of type 5 (IDR slice), or null.
const NalUnit* find_first_idr(const std::vector<NalUnit>& units);

// The AVCDecoderConfigurationRecord with 4-byte length fields, one SPS and one
// PPS. Empty when the SPS is too short to carry profile and level (under 4
// bytes), the PPS is empty, or either is longer than its 16-bit length field.
std::vector<uint8_t> build_avc_config(const NalUnit& sps, const NalUnit& pps);

// Writes the unit's length as 4 bytes big-endian, then its bytes, to `out`,
// which must hold size + 4 bytes.
void write_length_prefixed(const uint8_t* data, uint32_t size, uint8_t* out);

// The nearest whole rate: add 0.5 and truncate (the rate is within 1..120).
int whole_frame_rate(double fps);

// Progress is reported for frames 0, 30, 60, ... and for the last frame.
bool reports_progress_at(int64_t frame, int64_t frame_count);
