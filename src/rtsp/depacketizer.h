// Reading RTP packets interleaved in the RTSP connection ("$", channel, 16-bit
// length, data) and turning H.264 payloads (RFC 6184: single NAL unit packets,
// STAP-A, FU-A) back into NAL units. Every unit goes to the decoder on its own;
// access units are not assembled and RTP sequence numbers play no part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rtsp/net_socket.h"

// A unit being rebuilt from FU-A fragments that grows past this is dropped.
constexpr size_t kMaxFragmentBytes = 16 * 1024 * 1024;

// Where finished NAL units go (bytes start with the NAL header; no start code).
// An empty callable is skipped.
struct NalSinks {
  // For units that cannot complete a picture alone (aggregated units, SDP
  // parameter sets): send to the decoder, fetch nothing.
  std::function<void(const uint8_t*, size_t)> feed_nal;
  // For single units and finished fragmented ones: send, then try once to
  // fetch a picture and show it.
  std::function<void(const uint8_t*, size_t)> decode_and_show;
};

// Kept for the whole streaming run; survives dropped frames and time-outs.
struct DepacketizerState {
  std::vector<uint8_t> fragment_buffer;
  bool in_fragment = false;
};

struct InterleavedFrame {
  int channel = -1;
  std::vector<uint8_t> data;      // one RTP (or RTCP) packet
  std::string skipped_message;    // head of an RTSP message found in the stream and skipped
};

// Reads one interleaved frame; true with its channel and data. False when this
// turn has none: a time-out or closed connection (header bytes read so far are
// dropped), a zero length, a frame cut short, or four bytes that are not "$".
// An RTSP message in the stream (such as the answer to a keep-alive) is skipped
// whole, head and Content-Length body, and its head kept in `skipped_message`;
// other stray bytes are dropped four at a time.
bool read_interleaved_frame(NetSocket& socket, InterleavedFrame& frame);

// Offset of the payload in an RTP packet: 12 bytes, the CSRC list, and the
// header extension when the packet is long enough to hold its length word.
// False when the packet is shorter than 12 bytes or has no payload.
bool rtp_payload_offset(const uint8_t* packet, size_t size, size_t& offset);

// Depacketises one channel-0 RTP packet, submitting zero or more NAL units.
void depacketize_h264(const uint8_t* packet, size_t size, DepacketizerState& state,
                      const NalSinks& sinks);

// Depacketises the frame when it is on channel 0 (video RTP); drops others.
void handle_interleaved_frame(const InterleavedFrame& frame, DepacketizerState& state,
                              const NalSinks& sinks);

// Sends the SDP's sprop-parameter-sets to `feed_nal`, so a stream that carries
// its SPS and PPS only in the SDP still decodes; in-band ones replace them
// when they come. Returns how many units were fed.
int feed_sdp_parameter_sets(const std::string& sdp, const NalSinks& sinks);
