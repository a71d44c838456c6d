#include "rtsp/depacketizer.h"

#include <cstring>

#include "rtsp/exchange.h"
#include "rtsp/sdp.h"

namespace {

constexpr int kTypeStapA = 24;
constexpr int kTypeFuA = 28;

void submit(const std::function<void(const uint8_t*, size_t)>& sink, const uint8_t* data,
            size_t size) {
  if (sink) sink(data, size);
}

// An RTSP message in the stream is a response ("RTSP/1.0 ...") or one of the
// requests a server may send; anything else out of step is stray bytes.
bool starts_rtsp_message(const uint8_t* bytes) {
  static const char* const kStarts[] = {"RTSP", "ANNO", "GET_", "OPTI", "REDI", "SET_"};
  for (const char* start : kStarts)
    if (std::memcmp(bytes, start, 4) == 0) return true;
  return false;
}

void skip_rtsp_message(NetSocket& socket, const uint8_t* first_four, std::string& head) {
  std::string rest;
  bool complete = read_response_head(socket, rest);
  head.assign(reinterpret_cast<const char*>(first_four), 4);
  head += rest;
  if (!complete) return;
  int32_t length = find_content_length_any_case(head);
  if (length <= 0 || length > kMaxDescribeBodyBytes) return;
  discard_exact(socket, static_cast<size_t>(length));
}

void unpack_stap_a(const uint8_t* payload, size_t size, const NalSinks& sinks) {
  size_t offset = 1;
  while (offset + 2 <= size) {
    size_t unit_size = size_t(payload[offset]) << 8 | payload[offset + 1];
    offset += 2;
    if (offset + unit_size > size) return;  // a size running past the end: drop the rest
    if (unit_size > 0) submit(sinks.feed_nal, payload + offset, unit_size);
    offset += unit_size;
  }
}

void append_fragment(DepacketizerState& state, const uint8_t* data, size_t size) {
  if (state.fragment_buffer.size() + size > kMaxFragmentBytes) {
    // A unit this large is broken or hostile: drop it until the next start.
    state.fragment_buffer.clear();
    state.fragment_buffer.shrink_to_fit();
    state.in_fragment = false;
    return;
  }
  state.fragment_buffer.insert(state.fragment_buffer.end(), data, data + size);
}

void unpack_fu_a(const uint8_t* payload, size_t size, DepacketizerState& state,
                 const NalSinks& sinks) {
  if (size < 2) return;
  const uint8_t indicator = payload[0];
  const uint8_t fu_header = payload[1];
  if (fu_header & 0x80) {
    state.fragment_buffer.clear();
    state.in_fragment = true;
    // The original NAL header: forbidden bit and NRI from the indicator, type from the FU header.
    state.fragment_buffer.push_back(static_cast<uint8_t>((indicator & 0xE0) | (fu_header & 0x1F)));
    append_fragment(state, payload + 2, size - 2);
  } else if (state.in_fragment) {
    append_fragment(state, payload + 2, size - 2);
  }
  if ((fu_header & 0x40) && state.in_fragment) {
    state.in_fragment = false;
    submit(sinks.decode_and_show, state.fragment_buffer.data(), state.fragment_buffer.size());
    state.fragment_buffer.clear();
  }
}

}  // namespace

bool read_interleaved_frame(NetSocket& socket, InterleavedFrame& frame) {
  frame.channel = -1;
  frame.data.clear();
  frame.skipped_message.clear();
  uint8_t header[4];
  if (!recv_exact(socket, header, sizeof header)) return false;  // a trickle counts as a time-out
  if (header[0] != '$') {
    if (starts_rtsp_message(header)) skip_rtsp_message(socket, header, frame.skipped_message);
    return false;
  }
  size_t length = size_t(header[2]) << 8 | header[3];
  if (length == 0) return false;
  frame.data.assign(length, 0);
  if (!recv_exact(socket, frame.data.data(), length)) {
    frame.data.clear();
    return false;
  }
  frame.channel = header[1];
  return true;
}

bool rtp_payload_offset(const uint8_t* packet, size_t size, size_t& offset) {
  if (size < 12) return false;
  size_t header = 12 + 4 * size_t(packet[0] & 0x0F);
  if ((packet[0] & 0x10) && size >= header + 4) {
    size_t words = size_t(packet[header + 2]) << 8 | packet[header + 3];
    header += 4 + 4 * words;
  }
  if (header >= size) return false;
  offset = header;
  return true;
}

void depacketize_h264(const uint8_t* packet, size_t size, DepacketizerState& state,
                      const NalSinks& sinks) {
  size_t offset = 0;
  if (!rtp_payload_offset(packet, size, offset)) return;
  const uint8_t* payload = packet + offset;
  const size_t payload_size = size - offset;
  const int type = payload[0] & 0x1F;
  if (type >= 1 && type <= 23)
    submit(sinks.decode_and_show, payload, payload_size);
  else if (type == kTypeStapA)
    unpack_stap_a(payload, payload_size, sinks);
  else if (type == kTypeFuA)
    unpack_fu_a(payload, payload_size, state, sinks);
  // 0, 25-27 (STAP-B, MTAP), 29 (FU-B) and 30-31 are not supported: dropped.
}

void handle_interleaved_frame(const InterleavedFrame& frame, DepacketizerState& state,
                              const NalSinks& sinks) {
  if (frame.channel != 0) return;
  depacketize_h264(frame.data.data(), frame.data.size(), state, sinks);
}

int feed_sdp_parameter_sets(const std::string& sdp, const NalSinks& sinks) {
  int fed = 0;
  for (const std::vector<uint8_t>& unit : sprop_parameter_sets(sdp)) {
    submit(sinks.feed_nal, unit.data(), unit.size());
    ++fed;
  }
  return fed;
}
