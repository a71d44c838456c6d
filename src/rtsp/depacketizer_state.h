// What the codec depacketisers share: where finished NAL units go, the state
// kept over a streaming run (the unit being rebuilt from fragments, the
// picture being gathered where packets can be lost), and the RTP header
// fields they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "media/codecs.h"

// A unit being rebuilt from fragments (or an H.265 access unit being gathered)
// that grows past this is dropped.
constexpr size_t kMaxFragmentBytes = 16 * 1024 * 1024;

// Where finished NAL units go (bytes start with the NAL header; no start code).
// An empty callable is skipped.
struct NalSinks {
  // For units that cannot complete a picture alone (aggregated units, SDP
  // parameter sets): send to the decoder, fetch nothing.
  std::function<void(const uint8_t*, size_t)> feed_nal;
  // For single units and finished fragmented ones (H.264), or whole access
  // units whose NAL units are joined by 00 00 00 01 (H.265): send, then try
  // once to fetch a picture and show it.
  std::function<void(const uint8_t*, size_t)> decode_and_show;
};

// Kept for the whole streaming run; survives dropped frames and time-outs.
struct DepacketizerState {
  VideoCodec codec = VideoCodec::h264;
  std::vector<uint8_t> fragment_buffer;
  bool in_fragment = false;
  // Where packets can be lost (RTP over UDP), H.264 units are held until
  // their picture is complete (the RTP marker, or the next timestamp), and a
  // picture that lost a packet is dropped whole rather than decoded with a
  // hole in it. H.265 pictures are always gathered, and dropped the same way.
  bool whole_pictures = false;
  // The picture being gathered: H.265 units joined by 00 00 00 01, or H.264
  // units back to back with `held_units` saying where each lies.
  struct HeldUnit {
    size_t offset = 0;
    size_t size = 0;
    bool show = false;  // submitted with decode_and_show, else feed_nal
  };
  std::vector<uint8_t> access_unit;
  std::vector<HeldUnit> held_units;
  uint32_t access_unit_timestamp = 0;
  bool picture_open = false;     // a packet of the picture came, its end not yet
  bool picture_damaged = false;  // it lost a packet (or grew past kMaxFragmentBytes)
  bool loss_pending = false;     // packets were lost just before the next one
  uint32_t pictures_dropped = 0; // gathered pictures dropped as damaged
  // The RTP time of the unit being submitted, for sinks that keep times: the
  // packet's, or the gathered picture's when a whole picture is handed on.
  uint32_t unit_timestamp = 0;
};

// Offset of the payload in an RTP packet: 12 bytes, the CSRC list, and the
// header extension when the packet is long enough to hold its length word.
// False when the packet is shorter than 12 bytes or has no payload.
bool rtp_payload_offset(const uint8_t* packet, size_t size, size_t& offset);

// After a packet was lost: the unit being rebuilt from fragments is dropped
// (later fragments are ignored until the next start). A gathered picture the
// loss may have hit is dropped whole: the one open now, and the one the next
// packet belongs to unless that packet visibly starts it.
void note_packet_loss(DepacketizerState& state);

// The RTP timestamp and the marker bit of a packet of at least 12 bytes.
uint32_t rtp_timestamp(const uint8_t* packet);
bool rtp_marker(const uint8_t* packet);

// Shared by the codec depacketisers, before a packet's units are gathered:
// ends the gathered picture when `timestamp` moved on, and opens the packet's
// picture, damaged when a loss came just before a packet that does not
// visibly start it (`packet_begins_picture`).
void enter_picture(DepacketizerState& state, uint32_t timestamp, bool packet_begins_picture,
                   const NalSinks& sinks);

// Ends the gathered picture: submitted when whole (H.265 as one access unit,
// H.264 unit by unit through each one's sink), dropped and counted when damaged.
void finish_picture(DepacketizerState& state, const NalSinks& sinks);

// Shared by the codec depacketisers: calls `sink` unless it is empty.
void submit_unit(const std::function<void(const uint8_t*, size_t)>& sink, const uint8_t* data,
                 size_t size);

// Shared by the codec depacketisers: appends a fragment to the unit being
// rebuilt, dropping the unit (until the next start) when it would pass
// kMaxFragmentBytes.
void append_fragment(DepacketizerState& state, const uint8_t* data, size_t size);
