#include "rtsp/interleaved.h"

#include <cstring>

#include "rtsp/depacketizer.h"
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

void handle_interleaved_frame(const InterleavedFrame& frame, DepacketizerState& state,
                              const NalSinks& sinks) {
  if (frame.channel != 0) return;
  depacketize_rtp(frame.data.data(), frame.data.size(), state, sinks);
}
