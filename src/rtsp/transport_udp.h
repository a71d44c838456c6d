// RTP over UDP, for servers that will not interleave RTP in the RTSP
// connection: RTP on a local even port, RTCP on the odd one after it, packets
// put back in order within a small window, and receiver reports sent at least
// every kReceiverReportIntervalMs (some servers end sessions that send none).
//
// Only the camera's packets are taken: datagrams must come from the server's
// address and the ports its SETUP answer named, and RTP must belong to the
// stream's SSRC (from the SETUP answer, else the first packet taken). Every
// other datagram is dropped and counted, and is no sign of life.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rtsp/depacketizer.h"
#include "rtsp/media_clock.h"
#include "rtsp/net_socket.h"
#include "rtsp/rtp_reorder.h"

constexpr uint32_t kReceiverReportIntervalMs = 4000;

// Most datagrams one receiving turn takes in; the rest wait in the socket's
// buffer for the next turn (nothing is dropped), so a turn stays short.
constexpr int kMaxDatagramsPerTurn = 2048;

// What came on the ports, for the probe and the tests.
struct UdpCounts {
  uint64_t datagrams = 0;          // every datagram taken in on the RTP port
  uint64_t packets = 0;            // the stream's RTP packets handed on in order
  uint64_t foreign = 0;            // from another address or port than the server's: dropped
  uint64_t other_ssrc = 0;         // from the server, but not the stream's SSRC: dropped
  uint64_t not_rtp = 0;            // shorter than an RTP header or not version 2: dropped
  uint64_t late_or_duplicate = 0;  // came after their turn had passed, or twice: dropped
  uint64_t lost = 0;               // never came, or thrown away by a restart of the window
  uint64_t rtcp_foreign = 0;       // on the RTCP port from a stranger: dropped
};

struct UdpTransport {
  NetSocket rtp;   // even port
  NetSocket rtcp;  // the odd port after it
  // The server's side: its address with the port RTP comes from (0: it named
  // none; any of its ports is taken) and the port RTCP comes from and receiver
  // reports go to (0: none named; no reports are sent).
  NetAddress server_rtp;
  NetAddress server_rtcp;
  bool ssrc_known = false;
  uint32_t ssrc = 0;           // the stream's, once known
  uint32_t own_ssrc = 0;
  RtpReorder reorder;
  RtpReception reception;
  uint64_t last_report_ms = 0;
  UdpCounts counts;
  int receive_buffer_bytes = 0;  // what the system granted the RTP socket
  std::vector<uint8_t> buffer;   // one datagram as received
  std::vector<uint8_t> ready;    // one packet as handed on
  SenderReport last_report;      // the server's newest sender report on the RTCP port
  uint64_t reports = 0;          // sender reports taken so far
};

// Where packets go once they are in order: the packet, and how many were
// lost just before it.
using RtpPacketSink = std::function<void(const uint8_t* packet, size_t size, uint32_t lost_before)>;

// Binds the port pair (IPv6 sockets for a server reached over IPv6) and draws
// the SSRC of the reports; false with `error`.
bool open_udp_transport(UdpTransport& udp, bool ipv6, std::string& error);

// The SETUP request's Transport value for the bound pair: "RTP/AVP;unicast;client_port=a-b".
std::string udp_transport_request(const UdpTransport& udp);

// Takes the server's side from the SETUP answer's Transport header: the ports
// of "server_port=x-y" (y = x + 1 when only x is named), the "source=" address
// when it is a literal, else `peer` (the RTSP connection's peer), and the
// stream's "ssrc=" (hex) when given.
void adopt_udp_transport_answer(UdpTransport& udp, const std::string& head, const NetAddress& peer);

// Checks one datagram that came on the RTP port from `from` and counts it:
// true when it is an RTP packet of the camera's stream (the SSRC is learnt
// from the first one when the SETUP answer named none).
bool accept_udp_datagram(UdpTransport& udp, const uint8_t* data, size_t size, const NetAddress& from);

// One turn of receiving: waits at most the RTP socket's receive time-out (less
// while the window waits at a gap) for a datagram, then takes in every one
// already queued (at most kMaxDatagramsPerTurn) without waiting again, handing
// each packet to the depacketiser as soon as it is in order. Drains the RTCP
// port and sends a receiver report when one is due. Sets
// `state.whole_pictures`: over UDP a picture that lost a packet is dropped
// whole. True when a datagram of the camera's stream came.
bool receive_udp_turn(UdpTransport& udp, DepacketizerState& state, const NalSinks& sinks);

// The same for any stream: datagrams are checked, put in order and handed to
// `sink`. With `wait`, the first datagram is waited for (at most the RTP
// socket's receive time-out, less while the window waits at a gap); without
// it only those already queued are taken. Drains the RTCP port (keeping the
// server's sender reports) and sends a receiver report when one is due. True
// when a datagram of the camera's stream came.
bool receive_udp_packets(UdpTransport& udp, bool wait, const RtpPacketSink& sink);

// The sink that hands a stream's packets to the picture depacketiser, telling
// it of losses (it then drops the pictures they hit); sets
// `state.whole_pictures`. `state` and `sinks` must outlive it.
RtpPacketSink udp_picture_sink(DepacketizerState& state, const NalSinks& sinks);

// How long from now the reordering window waits at most before it hands on
// packets past a gap; UINT64_MAX when nothing is held.
uint64_t udp_wait_left_ms(const UdpTransport& udp);

// Sends a receiver report now (also the first right after PLAY, which opens
// the way through a NAT for the server's packets).
void send_receiver_report(UdpTransport& udp);
