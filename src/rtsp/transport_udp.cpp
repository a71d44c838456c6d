#include "rtsp/transport_udp.h"

#include <random>

#include "rtsp/address.h"
#include "rtsp/ascii_case.h"

namespace {

// Largest datagram an RTP packet may be.
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

// The value of `name=` in a Transport line, up to ";" or the end; the name
// must start a parameter (so "ssrc=" is not found inside another name).
std::string transport_parameter(const std::string& line, const char* name) {
  for (size_t at = find_ignoring_case(line, name); at != std::string::npos;
       at = find_ignoring_case(line, name, at + 1)) {
    if (at != 0 && line[at - 1] != ';' && line[at - 1] != ' ' && line[at - 1] != ':') continue;
    size_t start = at + std::char_traits<char>::length(name);
    size_t end = line.find(';', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  return "";
}

// Reads up to eight hex digits; false when there are none or another character.
bool parse_hex32(const std::string& text, uint32_t& value) {
  if (text.empty() || text.size() > 8) return false;
  value = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

uint32_t ssrc_of(const uint8_t* packet) {
  return uint32_t(packet[8]) << 24 | uint32_t(packet[9]) << 16 | uint32_t(packet[10]) << 8 | packet[11];
}

// True when `from` is the server at `expected`'s port (any port when that is 0).
bool from_server(const NetAddress& from, const NetAddress& expected) {
  if (!net_same_host(from, expected)) return false;
  const int port = net_address_port(expected);
  return port == 0 || net_address_port(from) == port;
}

// The server's sender reports on the RTCP port are kept; strangers'
// datagrams are counted and dropped.
void drain_rtcp(UdpTransport& udp) {
  uint8_t scratch[2048];
  NetAddress from;
  for (int i = 0; i < 64; ++i) {
    const long n = net_receive_datagram(udp.rtcp, scratch, sizeof scratch, from, false);
    if (n < 0) break;
    if (!from_server(from, udp.server_rtcp)) {
      ++udp.counts.rtcp_foreign;
      continue;
    }
    SenderReport report;
    if (find_sender_report(scratch, static_cast<size_t>(n), report) && (!udp.ssrc_known || report.ssrc == udp.ssrc)) {
      udp.last_report = report;
      ++udp.reports;
    }
  }
  udp.rtcp.peer_closed = false;  // a datagram socket has no connection to lose
}

// Hands every packet the window has ready at `now_ms` to `sink`.
void hand_on_ready_packets(UdpTransport& udp, uint64_t now_ms, const RtpPacketSink& sink) {
  std::vector<uint8_t>& packet = udp.ready;
  uint32_t lost = 0;
  while (reorder_pop(udp.reorder, packet, now_ms, lost)) {
    udp.counts.lost += lost;
    ++udp.counts.packets;
    if (sink) sink(packet.data(), packet.size(), lost);
    lost = 0;
  }
}

bool take_datagram(UdpTransport& udp, const uint8_t* data, size_t size, const NetAddress& from,
                   uint64_t now_ms, const RtpPacketSink& sink) {
  if (!accept_udp_datagram(udp, data, size, from)) return false;
  note_rtp_received(udp.reception, data, size);
  const ReorderPush pushed = reorder_push(udp.reorder, data, size, now_ms);
  if (pushed == ReorderPush::late || pushed == ReorderPush::duplicate) ++udp.counts.late_or_duplicate;
  hand_on_ready_packets(udp, now_ms, sink);
  return true;
}

}  // namespace

RtpPacketSink udp_picture_sink(DepacketizerState& state, const NalSinks& sinks) {
  state.whole_pictures = true;
  return [&state, &sinks](const uint8_t* packet, size_t size, uint32_t lost) {
    if (lost > 0) note_packet_loss(state);
    depacketize_rtp(packet, size, state, sinks);
  };
}

bool open_udp_transport(UdpTransport& udp, bool ipv6, std::string& error) {
  if (!net_bind_udp_pair(ipv6, udp.rtp, udp.rtcp, error)) return false;
  std::random_device random;
  udp.own_ssrc = random();
  udp.server_rtp = NetAddress{};
  udp.server_rtcp = NetAddress{};
  udp.ssrc_known = false;
  udp.ssrc = 0;
  udp.reorder = RtpReorder{};
  udp.reception = RtpReception{};
  udp.last_report_ms = 0;
  udp.counts = UdpCounts{};
  udp.receive_buffer_bytes = net_receive_buffer_bytes(udp.rtp);
  return true;
}

std::string udp_transport_request(const UdpTransport& udp) {
  const int port = net_local_port(udp.rtp);
  return "RTP/AVP;unicast;client_port=" + std::to_string(port) + "-" + std::to_string(port + 1);
}

void adopt_udp_transport_answer(UdpTransport& udp, const std::string& head, const NetAddress& peer) {
  const std::string line = transport_line(head);
  const std::string source = transport_parameter(line, "source=");
  NetAddress server = peer;
  NetAddress literal;
  if (net_numeric_address(source, 0, literal)) server = literal;
  int32_t rtp_port = 0, rtcp_port = 0;
  const std::string ports = transport_parameter(line, "server_port=");
  if (!ports.empty()) {
    size_t dash = ports.find('-');
    rtp_port = parse_decimal_prefix(ports);
    rtcp_port = dash == std::string::npos ? rtp_port + 1 : parse_decimal_prefix(std::string_view(ports).substr(dash + 1));
  }
  udp.server_rtp = server;
  net_set_address_port(udp.server_rtp, port_is_usable(rtp_port) ? rtp_port : 0);
  udp.server_rtcp = server;
  net_set_address_port(udp.server_rtcp, port_is_usable(rtcp_port) ? rtcp_port : 0);
  uint32_t ssrc = 0;
  udp.ssrc_known = parse_hex32(transport_parameter(line, "ssrc="), ssrc);
  udp.ssrc = ssrc;
}

bool accept_udp_datagram(UdpTransport& udp, const uint8_t* data, size_t size, const NetAddress& from) {
  ++udp.counts.datagrams;
  if (!from_server(from, udp.server_rtp)) {
    ++udp.counts.foreign;
    return false;
  }
  if (size < 12 || (data[0] & 0xC0) != 0x80) {
    ++udp.counts.not_rtp;
    return false;
  }
  if (!udp.ssrc_known) {
    udp.ssrc_known = true;
    udp.ssrc = ssrc_of(data);
  }
  if (ssrc_of(data) != udp.ssrc) {
    ++udp.counts.other_ssrc;
    return false;
  }
  return true;
}

void send_receiver_report(UdpTransport& udp) {
  udp.last_report_ms = net_now_ms();
  if (net_address_port(udp.server_rtcp) == 0) return;
  std::vector<uint8_t> report = make_receiver_report(udp.reception, udp.own_ssrc);
  net_send_datagram(udp.rtcp, udp.server_rtcp, report.data(), report.size());
}

uint64_t udp_wait_left_ms(const UdpTransport& udp) { return reorder_wait_left_ms(udp.reorder, net_now_ms()); }

bool receive_udp_packets(UdpTransport& udp, bool wait, const RtpPacketSink& sink) {
  if (net_now_ms() - udp.last_report_ms >= kReceiverReportIntervalMs) send_receiver_report(udp);
  std::vector<uint8_t>& datagram = udp.buffer;
  datagram.resize(kMaxDatagramBytes);
  // Packets held at a gap are handed on once their wait is over, so the
  // first wait is no longer than that.
  const int saved = udp.rtp.receive_timeout_ms;
  const uint64_t gap_left = udp_wait_left_ms(udp);
  wait = wait && gap_left > 0;
  if (wait && gap_left != UINT64_MAX && (saved <= 0 || gap_left < static_cast<uint64_t>(saved)))
    udp.rtp.receive_timeout_ms = static_cast<int>(gap_left);
  bool alive = false;
  NetAddress from;
  for (int taken = 0; taken < kMaxDatagramsPerTurn; ++taken) {
    const long n = net_receive_datagram(udp.rtp, datagram.data(), datagram.size(), from, wait);
    if (n < 0) break;
    // Once one datagram came, the rest of the burst is taken without waiting.
    wait = false;
    if (take_datagram(udp, datagram.data(), static_cast<size_t>(n), from, net_now_ms(), sink)) alive = true;
  }
  udp.rtp.receive_timeout_ms = saved;
  // A datagram socket has no connection to lose (a cancelled wait is seen by the caller).
  udp.rtp.peer_closed = false;
  hand_on_ready_packets(udp, net_now_ms(), sink);
  drain_rtcp(udp);
  return alive;
}

bool receive_udp_turn(UdpTransport& udp, DepacketizerState& state, const NalSinks& sinks) {
  return receive_udp_packets(udp, true, udp_picture_sink(state, sinks));
}
