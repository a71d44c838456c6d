// Pictures over UDP are handed on whole or not at all, and only the server's
// datagrams of the stream's SSRC are taken: the pure rules, packet by packet.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rtsp/depacketizer.h"
#include "rtsp/transport_udp.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One RTP packet of a test stream; `lost_before`: packets went missing just before it.
struct Packet {
  uint32_t timestamp;
  Bytes payload;
  bool marker;
  bool lost_before = false;
};

Bytes rtp_of(const Packet& p, uint16_t sequence) {
  Bytes out = {0x80, static_cast<uint8_t>(p.marker ? 0xE0 : 0x60), static_cast<uint8_t>(sequence >> 8),
               static_cast<uint8_t>(sequence), static_cast<uint8_t>(p.timestamp >> 24),
               static_cast<uint8_t>(p.timestamp >> 16), static_cast<uint8_t>(p.timestamp >> 8),
               static_cast<uint8_t>(p.timestamp), 1, 2, 3, 4};
  out.insert(out.end(), p.payload.begin(), p.payload.end());
  return out;
}

// H.264 units whose last byte names their picture. A slice that starts its
// picture has first_mb_in_slice 0 (its first bit is 1); a later slice does not.
Bytes sps(uint8_t id) { return {0x67, 0x42, id}; }
Bytes first_slice(uint8_t id) { return {0x61, 0x80, id}; }
Bytes later_slice(uint8_t id) { return {0x61, 0x40, id}; }
Bytes stap_a(const Bytes& a, const Bytes& b) {
  Bytes out = {0x78, 0, static_cast<uint8_t>(a.size())};
  out.insert(out.end(), a.begin(), a.end());
  out.insert(out.end(), {0, static_cast<uint8_t>(b.size())});
  out.insert(out.end(), b.begin(), b.end());
  return out;
}
// FU-A fragments of a first slice: the start carries its first byte, the end its picture.
Bytes fu_start() { return {0x7C, 0x81, 0x80, 0x11}; }
Bytes fu_middle() { return {0x7C, 0x01, 0x22}; }
Bytes fu_end(uint8_t id) { return {0x7C, 0x41, id}; }

// H.265 units: a first slice segment (first_slice_segment_in_pic_flag set) and a later one.
Bytes h265_first(uint8_t id) { return {0x02, 0x01, 0x80, id}; }
Bytes h265_later(uint8_t id) { return {0x02, 0x01, 0x00, id}; }

// Depacketises the packets as UDP does and lists the picture of every unit
// handed on (the last byte of each NAL unit, H.265 units split at start codes).
std::vector<int> handed_on(const std::vector<Packet>& packets, VideoCodec codec, uint32_t& dropped) {
  DepacketizerState state;
  state.codec = codec;
  state.whole_pictures = true;
  std::vector<int> pictures;
  auto record = [&pictures, codec](const uint8_t* unit, size_t size) {
    if (codec == VideoCodec::h264) {
      pictures.push_back(unit[size - 1]);
      return;
    }
    for (size_t i = 0; i < size; ++i)
      if (i + 1 == size || (i + 4 < size && unit[i + 1] == 0 && unit[i + 2] == 0 && unit[i + 3] == 0 && unit[i + 4] == 1))
        pictures.push_back(unit[i]);
  };
  NalSinks sinks;
  sinks.feed_nal = record;
  sinks.decode_and_show = record;
  uint16_t sequence = 0;
  for (const Packet& p : packets) {
    if (p.lost_before) {
      note_packet_loss(state);
      ++sequence;
    }
    const Bytes packet = rtp_of(p, sequence++);
    depacketize_rtp(packet.data(), packet.size(), state, sinks);
  }
  dropped = state.pictures_dropped;
  return pictures;
}

TEST(WholePictures, ALossDropsEveryPictureItMayHaveHit) {
  struct Case {
    const char* what;
    VideoCodec codec;
    std::vector<Packet> packets;
    std::vector<int> handed_on;
    uint32_t dropped;
  };
  const Case cases[] = {
      {"whole pictures go on at their marker",
       VideoCodec::h264,
       {{1, sps(1), false}, {1, first_slice(1), false}, {1, later_slice(1), true}, {2, first_slice(2), true}},
       {1, 1, 1, 2},
       0},
      {"a loss inside a picture drops it whole, fragments and all",
       VideoCodec::h264,
       {{1, first_slice(1), false}, {1, fu_start(), false}, {1, fu_end(1), true, true}, {2, first_slice(2), true}},
       {2},
       1},
      {"a loss just before a picture's visible start keeps it",
       VideoCodec::h264,
       {{1, first_slice(1), true}, {2, first_slice(2), true, true}, {3, fu_start(), false}, {3, fu_middle(), false},
        {3, fu_end(3), true}},
       {1, 2, 3},
       0},
      {"parameter sets in a STAP-A start a picture",
       VideoCodec::h264,
       {{1, first_slice(1), true}, {2, stap_a(sps(2), sps(2)), false, true}, {2, first_slice(2), true}},
       {1, 2, 2, 2},
       0},
      {"a loss that took a picture's head drops the rest of it",
       VideoCodec::h264,
       {{1, first_slice(1), true}, {2, later_slice(2), true, true}, {3, first_slice(3), true}},
       {1, 3},
       1},
      {"a lost marker packet: the picture ends at the next timestamp, dropped",
       VideoCodec::h264,
       {{1, first_slice(1), false}, {2, first_slice(2), true, true}},
       {2},
       1},
      {"without markers each picture ends where the next begins",
       VideoCodec::h264,
       {{1, first_slice(1), false}, {1, later_slice(1), false}, {2, first_slice(2), false}, {3, first_slice(3), false}},
       {1, 1, 2},
       0},
      {"H.265: a loss inside an access unit drops it whole",
       VideoCodec::h265,
       {{1, h265_first(1), false}, {1, h265_later(1), true, true}, {2, h265_first(2), true},
        {3, h265_later(3), true, true}, {4, h265_first(4), true}},
       {2, 4},
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint32_t dropped = 0;
    EXPECT_EQ(handed_on(c.packets, c.codec, dropped), c.handed_on);
    EXPECT_EQ(dropped, c.dropped);
  }
}

// A hostile picture of tiny aggregated units: its bytes and the records of
// its units together stay under the cap, and it is dropped whole.
TEST(WholePictures, APictureGrowingPastTheCapIsDroppedWhole) {
  DepacketizerState state;
  state.whole_pictures = true;
  int handed_on = 0;
  NalSinks sinks;
  sinks.feed_nal = [&handed_on](const uint8_t*, size_t) { ++handed_on; };
  sinks.decode_and_show = sinks.feed_nal;
  Bytes tiny_units = {0x78};
  for (int i = 0; i < 460; ++i) tiny_units.insert(tiny_units.end(), {0, 1, 0x06});
  uint16_t sequence = 0;
  size_t largest = 0;
  for (int i = 0; i < 1600; ++i) {
    const Bytes packet = rtp_of({1, tiny_units, false}, sequence++);
    depacketize_rtp(packet.data(), packet.size(), state, sinks);
    largest = std::max(largest, state.access_unit.size() + state.held_units.size() * sizeof(DepacketizerState::HeldUnit));
  }
  for (const Packet& p : {Packet{1, first_slice(1), true}, Packet{2, first_slice(2), true}}) {
    const Bytes packet = rtp_of(p, sequence++);
    depacketize_rtp(packet.data(), packet.size(), state, sinks);
  }
  EXPECT_LE(largest, kMaxFragmentBytes);
  EXPECT_EQ(state.pictures_dropped, 1u);
  EXPECT_EQ(handed_on, 1);  // only the next picture
}

NetAddress address(const char* text, int port) {
  NetAddress a;
  EXPECT_TRUE(net_numeric_address(text, port, a)) << text;
  return a;
}

TEST(UdpServerSide, TakenFromTheSetupAnswer) {
  struct Case {
    const char* transport;
    const char* host;
    int rtp_port;
    int rtcp_port;
    bool ssrc_known;
    uint32_t ssrc;
  };
  const Case cases[] = {
      {"RTP/AVP;unicast;client_port=5000-5001;server_port=6970-6971;ssrc=0A0B0C0D", "192.168.1.20", 6970, 6971, true, 0x0A0B0C0D},
      {"RTP/AVP;unicast;server_port=6970;source=192.168.1.30", "192.168.1.30", 6970, 6971, false, 0},
      {"RTP/AVP;unicast;source=cam.local;server_port=7000-7003;ssrc=xyz", "192.168.1.20", 7000, 7003, false, 0},
      {"RTP/AVP;unicast;source=fe80::5;server_port=7000-7001", "fe80::5", 7000, 7001, false, 0},
      {"RTP/AVP;unicast;client_port=5000-5001", "192.168.1.20", 0, 0, false, 0},
      {"RTP/AVP;unicast;server_port=0-99999", "192.168.1.20", 0, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.transport);
    UdpTransport udp;
    const std::string head = std::string("RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: ") + c.transport + "\r\n\r\n";
    adopt_udp_transport_answer(udp, head, address("192.168.1.20", 554));
    EXPECT_EQ(net_address_text(udp.server_rtp), c.host);
    EXPECT_EQ(net_address_port(udp.server_rtp), c.rtp_port);
    EXPECT_EQ(net_address_port(udp.server_rtcp), c.rtcp_port);
    EXPECT_EQ(udp.ssrc_known, c.ssrc_known);
    EXPECT_EQ(udp.ssrc, c.ssrc_known ? c.ssrc : 0u);
  }
}

TEST(UdpServerSide, OnlyTheServersDatagramsOfTheStreamAreTaken) {
  const Bytes stream = rtp_of({1, first_slice(1), true}, 7);  // SSRC 01020304
  Bytes other_stream = stream;
  other_stream[11] = 9;
  Bytes version_one = stream;
  version_one[0] = 0x40;
  struct Case {
    const char* what;
    NetAddress from;
    Bytes datagram;
    bool taken;
  };
  const Case cases[] = {
      {"the server's RTP port", address("10.0.0.5", 6970), stream, true},
      {"the server's IPv4 address as an IPv6-mapped one", address("::ffff:10.0.0.5", 6970), stream, true},
      {"another port of the server", address("10.0.0.5", 6972), stream, false},
      {"another host at the server's port", address("10.0.0.6", 6970), stream, false},
      {"another stream of the server", address("10.0.0.5", 6970), other_stream, false},
      {"too short for RTP", address("10.0.0.5", 6970), Bytes(11, 0x80), false},
      {"not RTP version 2", address("10.0.0.5", 6970), version_one, false},
  };
  UdpTransport udp;
  adopt_udp_transport_answer(udp, "Transport: RTP/AVP;unicast;server_port=6970-6971\r\n", address("10.0.0.5", 554));
  for (const Case& c : cases)
    EXPECT_EQ(accept_udp_datagram(udp, c.datagram.data(), c.datagram.size(), c.from), c.taken) << c.what;
  const UdpCounts& counts = udp.counts;
  EXPECT_EQ(counts.datagrams, 7u);
  EXPECT_EQ(counts.foreign, 2u);
  EXPECT_EQ(counts.other_ssrc, 1u);
  EXPECT_EQ(counts.not_rtp, 2u);
  EXPECT_TRUE(udp.ssrc_known);  // learnt from the first datagram taken
  EXPECT_EQ(udp.ssrc, 0x01020304u);

  // A server that named no port: any of its ports.
  UdpTransport portless;
  adopt_udp_transport_answer(portless, "Transport: RTP/AVP;unicast\r\n", address("10.0.0.5", 554));
  EXPECT_TRUE(accept_udp_datagram(portless, stream.data(), stream.size(), address("10.0.0.5", 40000)));
  EXPECT_FALSE(accept_udp_datagram(portless, stream.data(), stream.size(), address("10.0.0.7", 40000)));
}

}  // namespace
