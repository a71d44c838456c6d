// RTP over UDP, for servers that will not interleave RTP in the RTSP
// connection: RTP on a local even port, RTCP on the odd one after it, packets
// put back in order within a small window, and receiver reports sent at least
// every kReceiverReportIntervalMs (some servers end sessions that send none).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rtsp/net_socket.h"
#include "rtsp/rtp_reorder.h"

constexpr uint32_t kReceiverReportIntervalMs = 4000;

struct UdpTransport {
  NetSocket rtp;   // even port
  NetSocket rtcp;  // the odd port after it
  std::string server_address;  // where receiver reports go
  int server_rtcp_port = 0;    // 0: the server named none; no reports are sent
  uint32_t own_ssrc = 0;
  RtpReorder reorder;
  RtpReception reception;
  uint64_t last_report_ms = 0;
  uint64_t datagrams = 0;      // every datagram taken in on the RTP port
  std::vector<uint8_t> buffer; // one datagram as received
};

// Binds the port pair and draws the SSRC of the reports; false with `error`.
bool open_udp_transport(UdpTransport& udp, std::string& error);

// The SETUP request's Transport value for the bound pair: "RTP/AVP;unicast;client_port=a-b".
std::string udp_transport_request(const UdpTransport& udp);

// Takes the server's side from the SETUP answer's Transport header: the RTCP
// port of "server_port=x-y" (x + 1 when only x is named) and the "source="
// address, else `peer_address` (the RTSP connection's peer).
void adopt_udp_transport_answer(UdpTransport& udp, const std::string& head,
                                const std::string& peer_address);

// One turn of receiving: waits at most the RTP socket's receive time-out for
// datagrams, takes in the burst that came (without waiting again), drains the
// RTCP port and sends a receiver report when one is due. True when any
// datagram came.
bool receive_udp_datagrams(UdpTransport& udp);

// The next RTP packet in order that is ready, without waiting; `lost` counts
// packets skipped before it. False when none is ready.
bool next_udp_packet(UdpTransport& udp, std::vector<uint8_t>& packet, uint32_t& lost);

// Sends a receiver report now (also the first right after PLAY, which opens
// the way through a NAT for the server's packets).
void send_receiver_report(UdpTransport& udp);

// Takes one datagram (RTP) into the reordering window and the reception
// figures; exposed for the fuzz target and the scripted tests.
void take_udp_datagram(UdpTransport& udp, const uint8_t* data, size_t size, uint64_t now_ms);
