#include "rtsp/depacketizer.h"

#include <cstring>

#include "rtsp/depacketizer_h264.h"
#include "rtsp/depacketizer_h265.h"
#include "rtsp/exchange.h"

namespace {

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

}  // namespace

void submit_unit(const std::function<void(const uint8_t*, size_t)>& sink, const uint8_t* data,
                 size_t size) {
  if (sink) sink(data, size);
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

bool read_interleaved_frame(NetSocket& socket, InterleavedFrame& frame) {
  frame.channel = -1;
  frame.data.clear();
  frame.skipped_message.clear();
  uint8_t header[4];
  // Nothing at all within the receive time-out is a turn without a frame; once
  // a byte has come, the frame has its whole deadline.
  long first = net_recv(socket, header, sizeof header);
  if (first <= 0) return false;
  const uint64_t deadline = net_message_deadline(socket);
  if (!recv_exact_until(socket, header + first, sizeof header - static_cast<size_t>(first), deadline))
    return false;
  if (header[0] != '$') {
    if (starts_rtsp_message(header)) skip_rtsp_message(socket, header, frame.skipped_message);
    return false;
  }
  size_t length = size_t(header[2]) << 8 | header[3];
  if (length == 0) return false;
  frame.data.assign(length, 0);
  if (!recv_exact_until(socket, frame.data.data(), length, deadline)) {
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

void depacketize_rtp(const uint8_t* packet, size_t size, DepacketizerState& state,
                     const NalSinks& sinks) {
  if (state.codec == VideoCodec::h265)
    depacketize_h265(packet, size, state, sinks);
  else if (state.codec == VideoCodec::h264)
    depacketize_h264(packet, size, state, sinks);
}

void note_packet_loss(DepacketizerState& state) {
  state.fragment_buffer.clear();
  state.in_fragment = false;
  if (state.picture_open) state.picture_damaged = true;
  state.loss_pending = true;
}

uint32_t rtp_timestamp(const uint8_t* packet) {
  return uint32_t(packet[4]) << 24 | uint32_t(packet[5]) << 16 | uint32_t(packet[6]) << 8 | packet[7];
}

bool rtp_marker(const uint8_t* packet) { return (packet[1] & 0x80) != 0; }

void enter_picture(DepacketizerState& state, uint32_t timestamp, bool packet_begins_picture,
                   const NalSinks& sinks) {
  // A picture whose last packet (with the marker) did not come ends when the next one starts.
  if (state.picture_open && timestamp != state.access_unit_timestamp) finish_picture(state, sinks);
  if (!state.picture_open) {
    state.picture_open = true;
    state.access_unit_timestamp = timestamp;
    // Lost packets just before a picture's visible start were the end of the
    // one before (dropped already) or whole pictures; otherwise this one's head.
    state.picture_damaged = state.loss_pending && !packet_begins_picture;
  }
  state.loss_pending = false;
}

void finish_picture(DepacketizerState& state, const NalSinks& sinks) {
  if (state.picture_damaged) {
    ++state.pictures_dropped;
    // A unit being rebuilt belongs to the dropped picture.
    state.fragment_buffer.clear();
    state.in_fragment = false;
  } else if (state.codec == VideoCodec::h265) {
    if (!state.access_unit.empty())
      submit_unit(sinks.decode_and_show, state.access_unit.data(), state.access_unit.size());
  } else {
    for (const DepacketizerState::HeldUnit& unit : state.held_units)
      submit_unit(unit.show ? sinks.decode_and_show : sinks.feed_nal, state.access_unit.data() + unit.offset,
                  unit.size);
  }
  state.access_unit.clear();
  state.held_units.clear();
  state.picture_open = false;
  state.picture_damaged = false;
}

void handle_interleaved_frame(const InterleavedFrame& frame, DepacketizerState& state,
                              const NalSinks& sinks) {
  if (frame.channel != 0) return;
  depacketize_rtp(frame.data.data(), frame.data.size(), state, sinks);
}

int feed_sdp_parameter_sets(const std::string& sdp, const NalSinks& sinks) {
  const bool h265 = video_codec_from_encoding(sdp_video_encoding(sdp)) == VideoCodec::h265;
  int fed = 0;
  for (const std::vector<uint8_t>& unit : h265 ? sprop_h265_parameter_sets(sdp) : sprop_parameter_sets(sdp)) {
    submit_unit(sinks.feed_nal, unit.data(), unit.size());
    ++fed;
  }
  return fed;
}
