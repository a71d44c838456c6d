// The UDP receive path from real sockets: the input's datagrams are sent over
// loopback to the transport's RTP and RTCP ports, from the server's ports or
// from strangers, and taken in by receive turns as the live view takes them:
// checked against the server's side, put in order, depacketised (H.264 or
// H.265) and counted. Every datagram that arrives is counted once, strangers'
// datagrams never reach the depacketiser, the window never holds more than
// its slots, units stay within their bound, and receiver reports keep their
// RTCP length fields true.
//
// Input: one byte of flags (bit 0: H.265; bit 1: the SETUP answer names the
// stream's SSRC, DEADBEEF; bit 2: it names no server ports), then records of
// a 16-bit length, one route byte and the datagram. Route bits 0-1: the
// sender (0 the server's RTP port, 1 its RTCP port, 2 another port of the
// server's host, 3 another host at the server's RTP port number); bit 2: to
// the client's RTCP port instead of its RTP port; bit 3: a receive turn
// right after this datagram.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "fuzz_socket.h"
#include "fuzz_support.h"
#include "rtsp/depacketizer.h"
#include "rtsp/transport_udp.h"

namespace {

uint64_t checksum = 0;

void touch(const uint8_t* unit, size_t size) {
  FUZZ_CHECK(size > 0 && size <= kMaxFragmentBytes);
  for (size_t i = 0; i < size; ++i) checksum += unit[i];
}

void check_report(const std::vector<uint8_t>& report) {
  size_t at = 0;
  while (at + 4 <= report.size()) {
    const size_t words = size_t(report[at + 2]) << 8 | report[at + 3];
    at += 4 * (words + 1);
  }
  FUZZ_CHECK(at == report.size());
}

// The client's transport and the four senders, made once per process.
struct Rig {
  UdpTransport udp;
  UdpSenders senders;
  Rig() {
    std::string error;
    if (!open_udp_transport(udp, false, error) || !open_udp_senders(senders)) std::abort();
    net_set_receive_timeout(udp.rtp, 1);
  }
};

// Starts the transport afresh for one input, as a SETUP answer would.
void start_session(Rig& rig, uint8_t flags) {
  UdpTransport& udp = rig.udp;
  drain_udp(udp.rtp);
  drain_udp(udp.rtcp);
  udp.reorder = RtpReorder{};
  udp.reception = RtpReception{};
  udp.counts = UdpCounts{};
  std::string transport = "RTP/AVP;unicast";
  if (!(flags & 4))
    transport += ";server_port=" + std::to_string(rig.senders.server_port) + "-" + std::to_string(rig.senders.server_port + 1);
  if (flags & 2) transport += ";ssrc=DEADBEEF";
  NetAddress server;
  if (!net_numeric_address("127.0.0.1", 554, server)) std::abort();
  adopt_udp_transport_answer(udp, "RTSP/1.0 200 OK\r\nTransport: " + transport + "\r\n\r\n", server);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static Rig rig;
  start_session(rig, data[0]);
  DepacketizerState state;
  state.codec = (data[0] & 1) ? VideoCodec::h265 : VideoCodec::h264;
  NalSinks sinks;
  sinks.feed_nal = touch;
  sinks.decode_and_show = touch;
  const int client_rtp = net_local_port(rig.udp.rtp);
  const bool ports_named = !(data[0] & 4);
  uint64_t sent_to_rtp = 0, strangers_to_rtp = 0, strangers_to_rtcp = 0;
  size_t at = 1;
  while (at + 3 <= size) {
    size_t length = size_t(data[at]) << 8 | data[at + 1];
    const uint8_t route = data[at + 2];
    at += 3;
    if (length > size - at) length = size - at;
    const int sender = route & 3;
    const bool to_rtcp = route & 4;
    if (send_from(rig.senders, sender, client_rtp + (to_rtcp ? 1 : 0), data + at, length)) {
      // Without named ports any port of the server's host is the server's.
      const bool stranger = sender == 3 || (ports_named && sender != (to_rtcp ? 1 : 0));
      if (!to_rtcp) ++sent_to_rtp;
      if (stranger) ++(to_rtcp ? strangers_to_rtcp : strangers_to_rtp);
    }
    at += length;
    if (route & 8) receive_udp_turn(rig.udp, state, sinks);
    FUZZ_CHECK(rig.udp.reorder.held <= kReorderSlots);
  }
  // Everything sent is queued on loopback: turns until none takes anything more.
  for (int turn = 0; turn < 64; ++turn) {
    const uint64_t before = rig.udp.counts.datagrams;
    receive_udp_turn(rig.udp, state, sinks);
    if (rig.udp.counts.datagrams == before) break;
  }
  const UdpCounts& c = rig.udp.counts;
  FUZZ_CHECK(rig.udp.reorder.held <= kReorderSlots);
  FUZZ_CHECK(c.datagrams <= sent_to_rtp);
  FUZZ_CHECK(c.foreign <= strangers_to_rtp);
  FUZZ_CHECK(c.rtcp_foreign <= strangers_to_rtcp);
  // Only datagrams the checks let through are put in order and handed on.
  const uint64_t taken = c.datagrams - c.foreign - c.other_ssrc - c.not_rtp;
  FUZZ_CHECK(c.packets + c.late_or_duplicate <= taken);
  if (c.datagrams == sent_to_rtp) FUZZ_CHECK(c.foreign == strangers_to_rtp);
  check_report(make_receiver_report(rig.udp.reception, 0x11223344));
  return 0;
}
