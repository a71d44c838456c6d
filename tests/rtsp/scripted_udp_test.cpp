// Servers that refuse what the client asks first, a relay that sends RTP over
// UDP with packets dropped, duplicated and swapped, a 4K key picture's burst,
// strangers sending to the client's UDP ports, and a stream that pauses in
// the middle of an interleaved frame: all scripted on loopback, the media a
// real x264 stream.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "encoded_stream.h"
#include "media/nal_packet.h"
#include "rtsp/depacketizer.h"
#include "rtsp/interleaved.h"
#include "rtsp/exchange.h"
#include "media/unit_decoder.h"
#include "scripted_server.h"

namespace {

const std::string kSdp =
    "v=0\r\ns=cam\r\nt=0 0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=1\r\n";

std::string ok(int cseq, const std::string& headers = "", const std::string& body = "") {
  std::string text = "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + headers;
  if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

std::string rtp(uint16_t sequence, uint32_t timestamp, const std::string& payload) {
  std::string p = {char(0x80), char(96), char(sequence >> 8), char(sequence & 0xFF),
                   char(timestamp >> 24), char(timestamp >> 16), char(timestamp >> 8), char(timestamp),
                   0x12, 0x34, 0x56, 0x78};
  return p + payload;
}

// The stream as a camera packs it: each unit whole when small, else FU-A
// fragments of at most `largest` bytes, and the marker on the last packet of
// each picture; one RTP packet per entry.
std::vector<std::string> packetise(const EncodedStream& s, std::vector<int>& picture_of, int32_t largest = 16) {
  std::vector<std::string> out;
  uint16_t sequence = 0;
  int picture = -1;
  for (const NalUnit& u : s.units) {
    if (u.type == 1 || u.type == 5) ++picture;
    const uint32_t timestamp = static_cast<uint32_t>(std::max(picture, 0)) * 3600;
    if (u.size <= largest) {
      out.push_back(rtp(sequence++, timestamp, std::string(reinterpret_cast<const char*>(u.data), u.size)));
      picture_of.push_back(std::max(picture, 0));
      continue;
    }
    const char indicator = char((u.data[0] & 0xE0) | 28);
    for (int32_t at = 1; at < u.size; at += largest) {
      const int32_t n = std::min<int32_t>(largest, u.size - at);
      char header = char(u.data[0] & 0x1F);
      if (at == 1) header |= char(0x80);
      if (at + n == u.size) header |= 0x40;
      out.push_back(rtp(sequence++, timestamp, std::string{indicator, header} +
                                                   std::string(reinterpret_cast<const char*>(u.data + at), n)));
      picture_of.push_back(std::max(picture, 0));
    }
  }
  for (size_t i = 0; i < out.size(); ++i)
    if (i + 1 == out.size() || picture_of[i + 1] != picture_of[i]) out[i][1] = char(out[i][1] | 0x80);
  return out;
}

// Decodes what the client hands on, as the live view does.
struct Pictures {
  CodecContextPtr decoder = open_unit_decoder(1);
  FramePtr frame{av_frame_alloc()};
  int count = 0;
  NalSinks sinks() {
    NalSinks s;
    s.feed_nal = [this](const uint8_t* d, size_t n) { send(d, n); };
    s.decode_and_show = [this](const uint8_t* d, size_t n) {
      send(d, n);
      while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) ++count;
    };
    return s;
  }
  void send(const uint8_t* d, size_t n) {
    PacketPtr packet = make_nal_packet(d, n);
    if (packet) avcodec_send_packet(decoder.get(), packet.get());
  }
  // The pictures the decoder still holds at the end of the stream.
  void drain() {
    avcodec_send_packet(decoder.get(), nullptr);
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) ++count;
  }
};

// Answers OPTIONS, DESCRIBE, a SETUP asking for TCP with 461, the one asking
// for UDP naming `ports` (and `more_transport`, such as ";ssrc=..."), and
// PLAY; then runs `send` with the client's RTP port and reads until the
// client leaves.
Script udp_camera(const ScriptedUdpPorts& ports, const std::string& more_transport,
                  std::function<void(int client_port)> send) {
  return [&ports, more_transport, send](ScriptedConnection& c) {
    for (const std::string& a : {ok(1), ok(2, "", kSdp)})
      if (scripted_read_request(c).empty() || !scripted_send(c, a)) return;
    std::string setup = scripted_read_request(c);
    if (setup.find("interleaved") != std::string::npos) {
      if (!scripted_send(c, "RTSP/1.0 461 Unsupported transport\r\nCSeq: 3\r\n\r\n")) return;
      setup = scripted_read_request(c);
    }
    const int client_port = client_port_of(setup);
    scripted_send(c, ok(4, "Session: 88;timeout=60\r\nTransport: RTP/AVP;unicast;client_port=" +
                               std::to_string(client_port) + "-" + std::to_string(client_port + 1) +
                               ";server_port=" + std::to_string(ports.rtp_port) + "-" +
                               std::to_string(ports.rtp_port + 1) + more_transport + "\r\n"));
    scripted_read_request(c);
    scripted_send(c, ok(5, "Session: 88\r\n"));
    send(client_port);
    scripted_read_until_close(c);
  };
}

// Receives over UDP as the live view does until `wanted` pictures came or
// `seconds` passed (a turn ends whenever the socket has nothing queued, so
// turns are not counted), then takes what the decoder still holds.
void receive_pictures(RtspSession& session, DepacketizerState& state, Pictures& pictures, int wanted,
                      int seconds) {
  const uint64_t end = net_now_ms() + 1000u * static_cast<uint64_t>(seconds);
  while (pictures.count < wanted && net_now_ms() < end) receive_udp_turn(session.udp, state, pictures.sinks());
  pictures.drain();
}

}  // namespace

TEST(RefusingServers, EachRefusalNamesItsMethodCodeAndReason) {
  const std::string sdp_answer = ok(2, "", kSdp);
  const std::string refused_461 = "RTSP/1.0 461 Unsupported transport\r\nCSeq: 3\r\n\r\n";
  const struct {
    const char* what;
    std::vector<std::string> answers;
    const char* reason;
  } cases[] = {
      {"DESCRIBE answered 503", {ok(1), "RTSP/1.0 503 Service Unavailable\r\nCSeq: 2\r\n\r\n"},
       "DESCRIBE answered 503 Service Unavailable"},
      {"neither transport", {ok(1), sdp_answer, refused_461, refused_461}, "SETUP answered 461 Unsupported transport"},
      {"an unsupported codec", {ok(1), ok(2, "", "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\n")},
       "unsupported codec JPEG"},
      {"PLAY refused", {ok(1), sdp_answer, ok(3, "Session: 5\r\n"), "RTSP/1.0 455 Method Not Valid in This State\r\n\r\n"},
       "PLAY answered 455 Method Not Valid in This State"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    auto server = start_scripted_server(reply_in_turn(c.answers), error);
    ASSERT_TRUE(server) << error;
    RtspSession session;
    session.exchange_timeout_ms = 2000;
    RtspOutcome outcome = open_rtsp_session(scripted_server_url(*server), session);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "ERR");
    EXPECT_EQ(outcome.reason, c.reason);
    EXPECT_FALSE(net_is_open(session.socket));
  }
}

// A relay that answers the TCP SETUP with 400 and a Session header, serves
// UDP, and sends the stream with one fragment lost, some packets twice and
// neighbours swapped; it notes the receiver reports on its RTCP port.
TEST(UdpRelay, RoughPacketsStillGiveEveryPictureButTheDamagedOne) {
  constexpr int kFrames = 30;
  EncodedStream stream = encode_noisy_h264_stream(320, 240, kFrames, "1M", "2M");
  ASSERT_FALSE(stream.units.empty()) << stream.error;
  std::vector<int> picture_of;
  const std::vector<std::string> packets = packetise(stream, picture_of, 200);
  // Lose one fragment of picture 12 (a P picture: later ones still decode, concealed).
  size_t lost = 0;
  for (; lost < packets.size() && picture_of[lost] != 12; ++lost) {
  }
  ++lost;  // the second packet of picture 12
  ASSERT_TRUE(lost + 1 < packets.size() && picture_of[lost] == 12 && picture_of[lost + 1] == 12);
  ScriptedUdpPorts ports;
  ASSERT_TRUE(open_scripted_udp_ports(ports)) << "no free UDP port pair on loopback";
  std::atomic<int> sent_twice{0};
  std::string error;
  auto server = start_scripted_server(
      [&](ScriptedConnection& c) {
        for (const std::string& a : {ok(1), ok(2, "", kSdp),
                                     std::string("RTSP/1.0 400 Bad Request\r\nCSeq: 3\r\nSession: 77\r\n\r\n")})
          if (scripted_read_request(c).empty() || !scripted_send(c, a)) return;
        const int client_port = client_port_of(scripted_read_request(c));
        scripted_send(c, ok(4, "Session: 88;timeout=60\r\nTransport: RTP/AVP;unicast;client_port=" +
                                   std::to_string(client_port) + "-" + std::to_string(client_port + 1) +
                                   ";server_port=" + std::to_string(ports.rtp_port) + "-" +
                                   std::to_string(ports.rtp_port + 1) + "\r\n"));
        scripted_read_request(c);
        scripted_send(c, ok(5, "Session: 88\r\n"));
        auto send_packet = [&](size_t i) { scripted_send_datagram(ports.rtp_fd, client_port, packets[i]); };
        for (size_t i = 0; i < packets.size(); ++i) {
          if (i == lost) continue;
          if (i % 7 == 3 && i + 1 < packets.size() && i + 1 != lost) {  // neighbours swapped, apart in time
            send_packet(i + 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            send_packet(i);
            ++i;
          } else {
            send_packet(i);
          }
          if (i % 11 == 5) {  // sent twice
            send_packet(i);
            ++sent_twice;
          }
          if (i % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        scripted_read_until_close(c);
      },
      error);
  ASSERT_TRUE(server) << error;
  RtspSession session;
  RtspOutcome outcome = open_rtsp_session(scripted_server_url(*server), session);
  ASSERT_TRUE(outcome.ok) << outcome.reason;
  EXPECT_TRUE(session.over_udp);
  EXPECT_EQ(session.session_id, "88");
  Pictures pictures;
  DepacketizerState state;
  begin_streaming(session, 0);
  net_set_receive_timeout(session.udp.rtp, 300);
  send_receiver_report(session.udp);
  receive_pictures(session, state, pictures, kFrames - 1, 20);
  // Every picture but the one whose fragment was lost, which is dropped whole.
  EXPECT_EQ(pictures.count, kFrames - 1);
  EXPECT_EQ(state.pictures_dropped, 1u);
  EXPECT_EQ(session.udp.counts.lost, 1u);
  EXPECT_EQ(session.udp.counts.late_or_duplicate, static_cast<uint64_t>(sent_twice));
  EXPECT_EQ(session.udp.counts.packets, packets.size() - 1);
  pollfd ready{ports.rtcp_fd, POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 1000), 1) << "no receiver report came";
  char report[512];
  const ssize_t n = recv(ports.rtcp_fd, report, sizeof report, 0);
  ASSERT_GE(n, 8);
  EXPECT_EQ(static_cast<uint8_t>(report[1]), 201);  // RR
  teardown_rtsp(session);
}

// A 4K camera's first key picture (about 1.5 MB, over 1000 packets) comes as
// one burst, and the pictures after it 40 ms apart: every one arrives and
// decodes, none lost.
TEST(UdpCameraSizes, A4kKeyPictureBurstArrivesWhole) {
  constexpr int kFrames = 6;
  EncodedStream stream = encode_noisy_h264_stream(3840, 2160, kFrames, "8M", "48M");
  ASSERT_FALSE(stream.units.empty()) << stream.error;
  std::vector<int> picture_of;
  const std::vector<std::string> packets = packetise(stream, picture_of, 1400);
  const auto key_packets = std::count(picture_of.begin(), picture_of.end(), 0);
  ASSERT_GT(key_packets, 1000) << "the key picture is smaller than a 4K camera's";
  ScriptedUdpPorts ports;
  ASSERT_TRUE(open_scripted_udp_ports(ports)) << "no free UDP port pair on loopback";
  std::string error;
  auto server = start_scripted_server(udp_camera(ports, "", [&](int client_port) {
    for (size_t i = 0; i < packets.size(); ++i) {
      scripted_send_datagram(ports.rtp_fd, client_port, packets[i]);
      if (i + 1 < packets.size() && picture_of[i + 1] != picture_of[i])
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  }), error);
  ASSERT_TRUE(server) << error;
  RtspSession session;
  session.prefer_udp = true;
  RtspOutcome outcome = open_rtsp_session(scripted_server_url(*server), session);
  ASSERT_TRUE(outcome.ok) << outcome.reason;
  ASSERT_TRUE(session.over_udp);
  begin_streaming(session, 0);
  net_set_receive_timeout(session.udp.rtp, 500);
  Pictures pictures;
  DepacketizerState state;
  receive_pictures(session, state, pictures, kFrames, 30);
  std::printf("[ figures  ] 4K key picture of %ld packets; receive buffer granted %d bytes (%d asked)\n",
              static_cast<long>(key_packets), session.udp.receive_buffer_bytes, kUdpReceiveBufferBytes);
  EXPECT_EQ(session.udp.counts.packets, packets.size());
  EXPECT_EQ(session.udp.counts.lost, 0u);
  EXPECT_EQ(state.pictures_dropped, 0u);
  EXPECT_EQ(pictures.count, kFrames);
  teardown_rtsp(session);
}

// Strangers send RTP-looking datagrams with far sequence numbers to the
// client's ports, from another port of the server's host, from another host
// at the server's port number, and the server itself a stream of another
// SSRC and a datagram that is no RTP: all are dropped and counted, and the
// camera's pictures come through untouched, none counted lost.
TEST(UdpStrangers, OnlyTheCamerasPacketsAreTaken) {
  constexpr int kFrames = 10;
  EncodedStream stream = encode_noisy_h264_stream(1280, 720, kFrames, "4M", "8M");
  ASSERT_FALSE(stream.units.empty()) << stream.error;
  std::vector<int> picture_of;
  const std::vector<std::string> packets = packetise(stream, picture_of, 1400);
  const struct {
    const char* what;
    std::string more_transport;
  } cases[] = {{"SSRC named in the SETUP answer", ";ssrc=12345678"},
               {"SSRC learnt from the first packet", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedUdpPorts ports;
    ASSERT_TRUE(open_scripted_udp_ports(ports)) << "no free UDP port pair on loopback";
    const int stranger = bind_scripted_udp("127.0.0.1", 0);
    const int other_host = bind_scripted_udp("127.0.0.2", ports.rtp_port);
    ASSERT_TRUE(stranger >= 0 && other_host >= 0) << "cannot bind the strangers' sockets";
    // A copy of packet `i` with its sequence number moved by `step` and another SSRC when asked.
    auto forged = [&](size_t i, int step, bool other_ssrc) {
      std::string p = packets[i];
      const uint16_t sequence = static_cast<uint16_t>((uint8_t(p[2]) << 8 | uint8_t(p[3])) + step);
      p[2] = char(sequence >> 8);
      p[3] = char(sequence & 0xFF);
      if (other_ssrc) p[8] = char(p[8] ^ 0x5A);
      return p;
    };
    std::string error;
    auto server = start_scripted_server(udp_camera(ports, c.more_transport, [&](int client_port) {
      for (size_t i = 0; i < packets.size(); ++i) {
        const bool learnt = c.more_transport.empty();
        if (!learnt || i > 0) scripted_send_datagram(ports.rtp_fd, client_port, forged(i, 20000, true));
        scripted_send_datagram(stranger, client_port, forged(i, 5000, false));
        scripted_send_datagram(other_host, client_port, forged(i, 30000, false));
        scripted_send_datagram(ports.rtp_fd, client_port, packets[i]);
        if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      scripted_send_datagram(ports.rtp_fd, client_port, "hello");
      scripted_send_datagram(stranger, client_port + 1, forged(0, 0, false));
    }), error);
    ASSERT_TRUE(server) << error;
    RtspSession session;
    session.prefer_udp = true;
    ASSERT_TRUE(open_rtsp_session(scripted_server_url(*server), session).ok);
    begin_streaming(session, 0);
    net_set_receive_timeout(session.udp.rtp, 300);
    Pictures pictures;
    DepacketizerState state;
    receive_pictures(session, state, pictures, kFrames, 20);
    for (int turn = 0; turn < 5; ++turn) receive_udp_turn(session.udp, state, pictures.sinks());
    const UdpCounts& counts = session.udp.counts;
    EXPECT_EQ(pictures.count, kFrames);
    EXPECT_EQ(counts.packets, packets.size());
    EXPECT_EQ(counts.lost, 0u);
    EXPECT_EQ(counts.late_or_duplicate, 0u);
    EXPECT_EQ(counts.foreign, 2 * packets.size());
    EXPECT_EQ(counts.other_ssrc, packets.size() - (c.more_transport.empty() ? 1 : 0));
    EXPECT_EQ(counts.not_rtp, 1u);
    EXPECT_EQ(counts.rtcp_foreign, 1u);
    close(stranger);
    close(other_host);
    teardown_rtsp(session);
  }
}

// A pause of 0.8 s after two header bytes of frame 10, with the receive
// time-out at 0.5 s: the frame is finished when the rest comes, in step.
TEST(InterleavedStall, APauseInsideAFrameKeepsTheBytesAndTheStep) {
  std::vector<std::string> frames;
  for (int i = 0; i < 60; ++i) frames.push_back(interleaved(0, rtp(static_cast<uint16_t>(i), 0, std::string(100, char('a' + i % 26)))));
  std::string error;
  auto server = start_scripted_server(
      [&frames](ScriptedConnection& c) {
        for (const std::string& a : {ok(1), ok(2, "", kSdp), ok(3, "Session: 1\r\n"), ok(4)})
          if (scripted_read_request(c).empty() || !scripted_send(c, a)) return;
        for (size_t i = 0; i < frames.size(); ++i) {
          if (i == 10) {
            scripted_send(c, frames[i].substr(0, 2));
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            scripted_send(c, frames[i].substr(2));
          } else {
            scripted_send(c, frames[i]);
          }
        }
        scripted_read_until_close(c);
      },
      error);
  ASSERT_TRUE(server) << error;
  RtspSession session;
  ASSERT_TRUE(open_rtsp_session(scripted_server_url(*server), session).ok);
  begin_streaming(session, 0);  // 500 ms per receive
  InterleavedFrame frame;
  std::vector<uint16_t> got;
  for (int turn = 0; turn < 200 && got.size() < frames.size(); ++turn)
    if (read_interleaved_frame(session.socket, frame) && frame.channel == 0 && frame.data.size() == 112)
      got.push_back(static_cast<uint16_t>(frame.data[2] << 8 | frame.data[3]));
  ASSERT_EQ(got.size(), frames.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], i);
  teardown_rtsp(session);
}
