// rtsp_probe against GStreamer's RTSP server in the set-ups cameras use beyond
// H.264 over TCP: H.265, RTP over UDP (asked for, or forced by a server that
// refuses TCP interleaving), and a port whose digits hold "401".
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "rtsp_server_process.h"
#include "probe_runner.h"
#include "scripted_server.h"

namespace {


bool port_is_free(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool free = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return free;
}

// A free port with "401" in its digits: 14010, 24010, ... 64010, 40100, ...
int free_port_with_401() {
  for (int port : {14010, 24010, 34010, 44010, 54010, 64010, 40100, 40101, 40102, 40103})
    if (port_is_free(port)) return port;
  return 0;
}

}  // namespace

TEST(RtspTransports, CodecsAndTransportsAsCamerasServeThem) {
  struct Case {
    const char* what;
    const char* codec;
    bool udp_only;
    bool ask_udp;
    const char* transport;
    const char* codec_line;
  };
  const Case cases[] = {
      {"H.265 over TCP", "h265", false, false, "RTP interleaved over TCP", "Codec: H265\n"},
      {"H.265 over UDP when asked", "h265", false, true, "RTP over UDP", "Codec: H265\n"},
      {"H.264 over UDP when asked", "h264", false, true, "RTP over UDP", "Codec: H264\n"},
      {"H.264 over UDP when TCP is refused", "h264", true, false, "RTP over UDP", "Codec: H264\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RtspTestServerOptions options;
    options.codec = c.codec;
    options.udp_only = c.udp_only;
    std::string error;
    auto server = start_rtsp_test_server(options, error);
    ASSERT_TRUE(server) << "cannot start the GStreamer RTSP server: " << error;
    std::string output;
    const std::string arguments = std::string(c.ask_udp ? "--udp " : "") + rtsp_test_server_url(*server) + " 2";
    EXPECT_EQ(run_probe(arguments, output), 0) << output;
    EXPECT_NE(output.find(c.codec_line), std::string::npos) << output;
    EXPECT_NE(output.find(std::string("Transport: ") + c.transport + "\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Picture size: 320x240\n"), std::string::npos) << output;
    EXPECT_EQ(output.find("Pictures decoded: 0\n"), std::string::npos) << output;
    if (std::string(c.codec) == "h265") {
      EXPECT_NE(output.find("sprop-vps="), std::string::npos) << output;
      EXPECT_NE(output.find("(IRAP slice)"), std::string::npos) << output;
    }
  }
}

TEST(RtspTransports, APortWith401InItIsNoRefusal) {
  RtspTestServerOptions options;
  options.port = free_port_with_401();
  ASSERT_NE(options.port, 0) << "no free port with 401 in it";
  std::string error;
  auto server = start_rtsp_test_server(options, error);
  ASSERT_TRUE(server) << "cannot start the GStreamer RTSP server: " << error;
  std::string output;
  EXPECT_EQ(run_probe(rtsp_test_server_url(*server) + " 1", output), 0) << output;
  EXPECT_NE(output.find(std::to_string(options.port)), std::string::npos) << output;
}

TEST(RtspTransports, ProbeFailsWhenNoPictureCame) {
  const std::string sdp = "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:t\r\n";
  std::string error;
  // The server hangs up right after PLAY.
  auto server = start_scripted_server(
      [sdp](ScriptedConnection& c) {
        const std::string answers[] = {
            "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n",
            "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp,
            "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 9\r\n\r\n", "RTSP/1.0 200 OK\r\nCSeq: 4\r\n\r\n"};
        for (const std::string& a : answers)
          if (scripted_read_request(c).empty() || !scripted_send(c, a)) return;
      },
      error);
  ASSERT_TRUE(server) << error;
  std::string output;
  EXPECT_EQ(run_probe(scripted_server_url(*server) + " 2", output), 1) << output;
  EXPECT_NE(output.find("ERR: no picture was decoded"), std::string::npos) << output;
}

namespace {

// The number the probe printed right after `label`; -1 when it did not print it.
long probe_figure(const std::string& output, const std::string& label) {
  const size_t at = output.find(label);
  return at == std::string::npos ? -1 : std::atol(output.c_str() + at + label.size());
}

// Runs the probe against a server that sends `options.count` pictures and
// checks that every picture sent was decoded, none lost or dropped.
void expect_every_picture_sent_decoded(const RtspTestServerOptions& options, bool udp) {
  std::string error;
  auto server = start_rtsp_test_server(options, error);
  ASSERT_TRUE(server) << "cannot start the GStreamer RTSP server: " << error;
  std::string output;
  // The server encodes on the same shared cores: seconds to spare.
  const int seconds = options.count / 25 + 5;
  const std::string arguments =
      std::string(udp ? "--udp " : "") + rtsp_test_server_url(*server) + " " + std::to_string(seconds);
  EXPECT_EQ(run_probe(arguments, output), 0) << output;
  ASSERT_TRUE(wait_for_rtsp_test_server_log(*server, "SENT ")) << rtsp_test_server_log(*server);
  // The payloader has sent one picture fewer than the source made in every run
  // seen; what counts is what it sent.
  const int sent = rtsp_test_server_pictures_sent(*server);
  EXPECT_GE(sent, options.count - 2) << rtsp_test_server_log(*server);
  EXPECT_EQ(probe_figure(output, "Pictures decoded: "), sent) << output;
  EXPECT_NE(output.find("Picture size: " + options.size + "\n"), std::string::npos) << output;
  if (udp) {
    EXPECT_EQ(probe_figure(output, ", lost: "), 0) << output;
    EXPECT_EQ(probe_figure(output, "Pictures dropped for a lost packet: "), 0) << output;
    // The figures a report wants: the buffer granted and what came.
    for (const char* label : {"UDP receive buffer", "UDP datagrams", "Dropped"}) {
      const size_t at = output.find(label);
      if (at != std::string::npos)
        std::printf("[ figures  ] %s: %s\n", options.size.c_str(), output.substr(at, output.find('\n', at) - at).c_str());
    }
  }
}

}  // namespace

// x264 at a camera's bit rate on noise: each key picture takes hundreds of
// packets in one burst, and every picture sent must be decoded as over TCP.
TEST(RtspTransports, NoisyCameraPicturesOverUdpAllArrive) {
  const struct {
    const char* size;
    int kbps;
  } cases[] = {{"1280x720", 4000}, {"1920x1080", 8000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    RtspTestServerOptions options;
    options.size = c.size;
    options.pattern = "snow";
    options.bitrate_kbps = c.kbps;
    options.count = 50;
    expect_every_picture_sent_decoded(options, true);
  }
}

// Servers that put small units (parameter sets, SEI, whole small pictures)
// into STAP-A packets, as many cameras do: the probe counts what the decoder gives.
TEST(RtspTransports, AggregatedUnitsAreCountedAsTheDecoderSeesThem) {
  const struct {
    const char* size;
    const char* pattern;
    int kbps;
    bool udp;
  } cases[] = {{"320x240", "smpte", 0, false}, {"1280x720", "snow", 4000, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    RtspTestServerOptions options;
    options.size = c.size;
    options.pattern = c.pattern;
    options.bitrate_kbps = c.kbps;
    options.aggregate = true;
    options.count = 50;
    expect_every_picture_sent_decoded(options, c.udp);
  }
}

TEST(RtspTransports, IPv6LiteralsInBrackets) {
  const struct {
    const char* what;
    bool udp;
    const char* credentials;
  } cases[] = {{"over TCP", false, ""}, {"over UDP, with credentials", true, "viewer:s3cret"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RtspTestServerOptions options;
    options.address = "::1";
    if (*c.credentials) {
      options.user = "viewer";
      options.password = "s3cret";
    }
    std::string error;
    auto server = start_rtsp_test_server(options, error);
    ASSERT_TRUE(server) << "cannot start the GStreamer RTSP server on [::1]: " << error;
    const std::string url = rtsp_test_server_url(*server, c.credentials);
    ASSERT_NE(url.find(*c.credentials ? "@[::1]:" : "//[::1]:"), std::string::npos) << url;
    std::string output;
    EXPECT_EQ(run_probe(std::string(c.udp ? "--udp " : "") + url + " 2", output), 0) << output;
    EXPECT_NE(output.find(std::string("Transport: ") + (c.udp ? "RTP over UDP" : "RTP interleaved over TCP")),
              std::string::npos) << output;
    EXPECT_NE(output.find("Control URL: rtsp://[::1]:" + std::to_string(server->port) + "/test/"),
              std::string::npos) << output;
    EXPECT_GT(probe_figure(output, "Pictures decoded: "), 0) << output;
    if (c.udp) {
      EXPECT_EQ(probe_figure(output, "Dropped: "), 0) << output;
    }
  }
}
