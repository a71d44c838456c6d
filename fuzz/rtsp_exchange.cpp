// The whole client side of a session against an arbitrary server: the input
// is everything the camera sends (answers to OPTIONS, DESCRIBE, SETUP and
// PLAY, then the stream). The exchange must end in success or "ERR"/"401"
// within its limits, and a successful one streams until the connection ends.
#include "fuzz_socket.h"
#include "fuzz_support.h"
#include "rtsp/depacketizer.h"
#include "rtsp/interleaved.h"
#include "rtsp/exchange.h"
#include "rtsp/sdp.h"

namespace {

uint64_t checksum = 0;

// Reads and drops what the client sent, as a server that keeps up would, so
// that its keep-alive requests never fill the socket pair.
void drain(int peer) {
  char scratch[4096];
  while (recv(peer, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
  }
}

void touch(const uint8_t* unit, size_t size) {
  FUZZ_CHECK(size > 0 && size <= kMaxFragmentBytes);
  for (size_t i = 0; i < size; ++i) checksum += unit[i];
}

}  // namespace

// Input: one byte choosing whether credentials are given, then the server's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FedSocket fed;
  if (!feed_socket(data + 1, size - 1, fed)) return 0;
  RtspSession session;
  session.socket = std::move(fed.reader);
  session.exchange_timeout_ms = 20;
  session.stream_timeout_ms = 20;
  net_set_receive_timeout(session.socket, session.exchange_timeout_ms);
  net_set_send_timeout(session.socket, session.exchange_timeout_ms);
  session.request_url = "rtsp://127.0.0.1:554/cam";
  session.authorization_line = (data[0] & 1) ? authorization_line("user:secret") : "";

  const RtspOutcome outcome = negotiate_rtsp(session);
  FUZZ_CHECK(session.sdp.size() <= static_cast<size_t>(kMaxDescribeBodyBytes));
  if (!outcome.ok) {
    FUZZ_CHECK(outcome.message == "ERR" || outcome.message == "401");
    FUZZ_CHECK(!net_is_open(session.socket));
    return 0;
  }
  FUZZ_CHECK(!session.session_id.empty());
  FUZZ_CHECK(session.control_url.compare(0, 7, "rtsp://") == 0);
  NalSinks sinks;
  sinks.feed_nal = touch;
  sinks.decode_and_show = touch;
  feed_sdp_parameter_sets(session.sdp, sinks);
  begin_streaming(session, 0);
  DepacketizerState state;
  InterleavedFrame frame;
  uint32_t clock = 0;
  size_t turns = 0;
  while (!session.socket.peer_closed) {
    FUZZ_CHECK(++turns <= size + 1);
    clock += 1000;  // a second per turn: the keep-alive goes out now and then
    keep_session_alive(session, clock);
    drain(fed.peer);
    if (read_interleaved_frame(session.socket, frame)) handle_interleaved_frame(frame, state, sinks);
  }
  teardown_rtsp(session);
  return 0;
}
