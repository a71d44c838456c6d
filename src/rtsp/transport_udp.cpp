#include "rtsp/transport_udp.h"

#include <random>

#include "rtsp/address.h"
#include "rtsp/ascii_case.h"

namespace {

// Largest datagram an RTP packet may be (IPv4 UDP limit).
constexpr size_t kMaxDatagramBytes = 65536;

// The first Transport header's line, or empty.
std::string transport_line(const std::string& head) {
  for (size_t at = find_ignoring_case(head, "transport:"); at != std::string::npos;
       at = find_ignoring_case(head, "transport:", at + 1)) {
    if (at != 0 && head[at - 1] != '\n') continue;
    size_t end = head.find_first_of("\r\n", at);
    return head.substr(at, end == std::string::npos ? std::string::npos : end - at);
  }
  return "";
}

// The value of `name=` in a Transport line, up to ";" or the end.
std::string transport_parameter(const std::string& line, const char* name) {
  size_t at = find_ignoring_case(line, name);
  if (at == std::string::npos) return "";
  size_t start = at + std::char_traits<char>::length(name);
  size_t end = line.find(';', start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void drain_rtcp(UdpTransport& udp) {
  uint8_t scratch[2048];
  const int saved = udp.rtcp.receive_timeout_ms;
  udp.rtcp.receive_timeout_ms = 1;  // what the server sent (sender reports) is only taken away
  for (int i = 0; i < 16 && net_recv(udp.rtcp, scratch, sizeof scratch) >= 0; ++i) {
  }
  udp.rtcp.receive_timeout_ms = saved;
  udp.rtcp.peer_closed = false;  // a datagram socket has no connection to lose
}

}  // namespace

bool open_udp_transport(UdpTransport& udp, std::string& error) {
  if (!net_bind_udp_pair(udp.rtp, udp.rtcp, error)) return false;
  std::random_device random;
  udp.own_ssrc = random();
  udp.reorder = RtpReorder{};
  udp.reception = RtpReception{};
  udp.last_report_ms = 0;
  udp.datagrams = 0;
  return true;
}

std::string udp_transport_request(const UdpTransport& udp) {
  const int port = net_local_port(udp.rtp);
  return "RTP/AVP;unicast;client_port=" + std::to_string(port) + "-" + std::to_string(port + 1);
}

void adopt_udp_transport_answer(UdpTransport& udp, const std::string& head,
                                const std::string& peer_address) {
  const std::string line = transport_line(head);
  const std::string ports = transport_parameter(line, "server_port=");
  udp.server_rtcp_port = 0;
  if (!ports.empty()) {
    size_t dash = ports.find('-');
    int32_t rtp_port = parse_decimal_prefix(ports);
    int32_t rtcp_port = dash == std::string::npos ? rtp_port + 1 : parse_decimal_prefix(std::string_view(ports).substr(dash + 1));
    if (port_is_usable(rtcp_port)) udp.server_rtcp_port = rtcp_port;
  }
  const std::string source = transport_parameter(line, "source=");
  udp.server_address = source.empty() ? peer_address : source;
}

void take_udp_datagram(UdpTransport& udp, const uint8_t* data, size_t size, uint64_t now_ms) {
  ++udp.datagrams;
  if (size < 12 || (data[0] & 0xC0) != 0x80) return;  // not RTP version 2
  note_rtp_received(udp.reception, data, size);
  reorder_push(udp.reorder, data, size, now_ms);
}

void send_receiver_report(UdpTransport& udp) {
  udp.last_report_ms = net_now_ms();
  if (udp.server_rtcp_port == 0 || udp.server_address.empty()) return;
  std::vector<uint8_t> report = make_receiver_report(udp.reception, udp.own_ssrc);
  net_send_to(udp.rtcp, udp.server_address, udp.server_rtcp_port, report.data(), report.size());
}

bool receive_udp_datagrams(UdpTransport& udp) {
  if (net_now_ms() - udp.last_report_ms >= kReceiverReportIntervalMs) send_receiver_report(udp);
  std::vector<uint8_t>& datagram = udp.buffer;
  datagram.resize(kMaxDatagramBytes);
  bool received = false;
  long n = net_recv(udp.rtp, datagram.data(), datagram.size());
  const int saved = udp.rtp.receive_timeout_ms;
  // Once one datagram came, take in the rest of the burst without waiting.
  udp.rtp.receive_timeout_ms = 1;
  for (int taken = 0; n >= 0 && taken < static_cast<int>(kReorderSlots); ++taken) {
    received = true;
    take_udp_datagram(udp, datagram.data(), static_cast<size_t>(n), net_now_ms());
    n = net_recv(udp.rtp, datagram.data(), datagram.size());
  }
  udp.rtp.receive_timeout_ms = saved;
  // A datagram socket has no connection to lose (a cancelled wait is seen by the caller).
  udp.rtp.peer_closed = false;
  drain_rtcp(udp);
  return received;
}

bool next_udp_packet(UdpTransport& udp, std::vector<uint8_t>& packet, uint32_t& lost) {
  return reorder_pop(udp.reorder, packet, net_now_ms(), lost);
}
