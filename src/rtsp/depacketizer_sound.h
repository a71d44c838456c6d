// Sound RTP payloads back into the units a sound decoder takes: the samples of
// a G.711 packet as they are, AAC access units out of RFC 3640
// ("mpeg4-generic", AU headers, fragmented units) and RFC 3016 ("MP4A-LATM",
// AudioMuxElements with their length bytes, split over packets). Pure: the
// caller hands packets in order and receives units with their RTP times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "rtsp/sdp.h"

// An access unit (or an element gathered over packets) that grows past this is dropped.
constexpr size_t kMaxSoundUnitBytes = 64 * 1024;

// Where units go: the bytes and the RTP time of their first sample.
using SoundUnitSink = std::function<void(const uint8_t* data, size_t size, uint32_t rtp_time)>;

struct SoundDepacketizerState {
  SdpSound sound;  // codec and payload layout, from the SDP
  // A unit gathered over several packets: an RFC 3640 fragment (expected size
  // known from its AU header) or an RFC 3016 element up to the marker.
  std::vector<uint8_t> gathered;
  bool gathering = false;
  uint32_t gathered_time = 0;
  size_t expected_size = 0;  // RFC 3640 fragments only
  uint64_t units = 0;        // units handed on
  uint64_t dropped = 0;      // packets or gathered units that did not read
};

// Depacketises one sound RTP packet (padding removed) as `state.sound` says.
void depacketize_sound(const uint8_t* packet, size_t size, SoundDepacketizerState& state,
                       const SoundUnitSink& sink);

// After packets were lost: a unit being gathered is dropped.
void note_sound_packet_loss(SoundDepacketizerState& state);

// An RFC 3640 AU header section and the units after it, read as a list of
// (offset, size) pairs into the payload and the index step before each unit
// (1 for the first, index-delta + 1 for the others). False when the section
// does not fit the payload. Exposed for tests.
struct AuHeader {
  uint32_t size = 0;
  uint32_t index_step = 1;
};
bool read_au_headers(const uint8_t* payload, size_t size, const SdpSound& sound,
                     std::vector<AuHeader>& headers, size_t& data_offset);
