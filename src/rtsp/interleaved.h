// Reading RTP and RTCP packets interleaved in the RTSP connection ("$",
// channel, 16-bit length, data), skipping the RTSP messages (answers to
// keep-alives) that arrive between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rtsp/depacketizer_state.h"
#include "rtsp/net_socket.h"

struct InterleavedFrame {
  int channel = -1;
  std::vector<uint8_t> data;      // one RTP (or RTCP) packet
  std::string skipped_message;    // head of an RTSP message found in the stream and skipped
};

// Reads one interleaved frame; true with its channel and data. False when this
// turn has none: a time-out before its first byte, a closed connection, a zero
// length, a frame still short at its deadline (twice the receive time-out from
// its first byte: a pause in the middle of a frame is ridden out, the bytes
// already read are kept), or four bytes that are not "$". An RTSP message in
// the stream (such as the answer to a keep-alive) is skipped whole, head and
// Content-Length body, and its head kept in `skipped_message`; other stray
// bytes are dropped four at a time.
bool read_interleaved_frame(NetSocket& socket, InterleavedFrame& frame);

// Depacketises the frame when it is on channel 0 (video RTP); drops others.
void handle_interleaved_frame(const InterleavedFrame& frame, DepacketizerState& state,
                              const NalSinks& sinks);
