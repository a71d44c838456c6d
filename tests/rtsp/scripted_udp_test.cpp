// Servers that refuse what the client asks first, a relay that sends RTP over
// UDP with packets dropped, duplicated and swapped, and a stream that pauses
// in the middle of an interleaved frame: all scripted on loopback, the media
// a real x264 stream.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "encoded_stream.h"
#include "player/nal_packet.h"
#include "rtsp/depacketizer.h"
#include "rtsp/exchange.h"
#include "rtsp/unit_decoder.h"
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
// fragments of at most 16 bytes (every picture is cut up); one RTP packet per entry.
std::vector<std::string> packetise(const EncodedStream& s, std::vector<int>& picture_of) {
  std::vector<std::string> out;
  uint16_t sequence = 0;
  int picture = -1;
  for (const NalUnit& u : s.units) {
    if (u.type == 1 || u.type == 5) ++picture;
    const uint32_t timestamp = static_cast<uint32_t>(std::max(picture, 0)) * 3600;
    if (u.size <= 16) {
      out.push_back(rtp(sequence++, timestamp, std::string(reinterpret_cast<const char*>(u.data), u.size)));
      picture_of.push_back(picture);
      continue;
    }
    const char indicator = char((u.data[0] & 0xE0) | 28);
    for (int32_t at = 1; at < u.size; at += 16) {
      const int32_t n = std::min<int32_t>(16, u.size - at);
      char header = char(u.data[0] & 0x1F);
      if (at == 1) header |= char(0x80);
      if (at + n == u.size) header |= 0x40;
      out.push_back(rtp(sequence++, timestamp, std::string{indicator, header} +
                                                   std::string(reinterpret_cast<const char*>(u.data + at), n)));
      picture_of.push_back(picture);
    }
  }
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
};

int bind_udp(int& port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

int client_port_of(const std::string& setup) {
  size_t at = setup.find("client_port=");
  return at == std::string::npos ? 0 : std::atoi(setup.c_str() + at + 12);
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
// UDP, and sends the stream with one fragment lost, one packet twice and
// neighbours swapped; it notes the receiver reports on its RTCP port.
TEST(UdpRelay, RoughPacketsStillGiveEveryPictureButTheDamagedOne) {
  constexpr int kFrames = 30;
  EncodedStream stream = encode_h264_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, kFrames);
  ASSERT_FALSE(stream.units.empty()) << stream.error;
  std::vector<int> picture_of;
  const std::vector<std::string> packets = packetise(stream, picture_of);
  // Lose one fragment of picture 12 (a P picture: later ones still decode, concealed).
  size_t lost = 0;
  for (; lost < packets.size() && picture_of[lost] != 12; ++lost) {
  }
  ASSERT_LT(lost + 1, packets.size());
  ++lost;  // the second packet of picture 12
  int rtcp_port = 0;
  const int rtcp_fd = bind_udp(rtcp_port);
  std::atomic<int> reports{0};
  std::string error;
  auto server = start_scripted_server(
      [&](ScriptedConnection& c) {
        for (const std::string& a : {ok(1), ok(2, "", kSdp),
                                     std::string("RTSP/1.0 400 Bad Request\r\nCSeq: 3\r\nSession: 77\r\n\r\n")})
          if (scripted_read_request(c).empty() || !scripted_send(c, a)) return;
        const int client_port = client_port_of(scripted_read_request(c));
        scripted_send(c, ok(4, "Session: 88;timeout=60\r\nTransport: RTP/AVP;unicast;client_port=" +
                                   std::to_string(client_port) + "-" + std::to_string(client_port + 1) +
                                   ";server_port=" + std::to_string(rtcp_port - 1) + "-" + std::to_string(rtcp_port) + "\r\n"));
        scripted_read_request(c);
        scripted_send(c, ok(5, "Session: 88\r\n"));
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(client_port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        auto send_packet = [&](size_t i) {
          sendto(fd, packets[i].data(), packets[i].size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        };
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
          if (i % 11 == 5) send_packet(i);  // sent twice
          if (i % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        close(fd);
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
  std::vector<uint8_t> packet;
  for (int turn = 0; turn < 200 && pictures.count < kFrames - 1; ++turn) {
    receive_udp_datagrams(session.udp);
    uint32_t skipped = 0;
    while (next_udp_packet(session.udp, packet, skipped)) {
      if (skipped > 0) note_packet_loss(state);
      skipped = 0;
      depacketize_rtp(packet.data(), packet.size(), state, pictures.sinks());
    }
  }
  // Every picture but the one whose fragment was lost (the decoder holds none back).
  EXPECT_EQ(pictures.count, kFrames - 1);
  pollfd ready{rtcp_fd, POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 1000), 1) << "no receiver report came";
  char report[512];
  const ssize_t n = recv(rtcp_fd, report, sizeof report, 0);
  ASSERT_GE(n, 8);
  EXPECT_EQ(static_cast<uint8_t>(report[1]), 201);  // RR
  close(rtcp_fd);
  teardown_rtsp(session);
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
