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
