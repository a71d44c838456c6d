// The client against GStreamer's RTSP server (a live x264 test picture), in
// both set-ups cameras use: parameter sets in the stream, and only in the SDP.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "media/nal_packet.h"
#include "rtsp/depacketizer.h"
#include "rtsp/interleaved.h"
#include "rtsp/exchange.h"
#include "media/unit_decoder.h"
#include "probe_runner.h"
#include "rtsp_server_process.h"

namespace {

std::unique_ptr<RtspServerProcess> start_server(const RtspTestServerOptions& options = {}) {
  std::string error;
  std::unique_ptr<RtspServerProcess> server = start_rtsp_test_server(options, error);
  if (!server) ADD_FAILURE() << "cannot start the GStreamer RTSP server: " << error;
  return server;
}

// Decodes what arrives, the way the live view does, and counts it.
struct Watcher {
  CodecContextPtr decoder = open_unit_decoder(2);
  FramePtr picture{av_frame_alloc()};
  DepacketizerState state;
  std::map<int, int> units_by_type;  // units that came in the stream
  int pictures = 0;
  int damaged_pictures = 0;          // pictures the decoder had to conceal
  int width = 0;
  int height = 0;

  void send(const uint8_t* data, size_t size) {
    PacketPtr packet = make_nal_packet(data, size);
    if (packet) avcodec_send_packet(decoder.get(), packet.get());
  }
  void fetch() {
    while (avcodec_receive_frame(decoder.get(), picture.get()) == 0) {
      ++pictures;
      if (picture->decode_error_flags != 0) ++damaged_pictures;
      width = picture->width;
      height = picture->height;
    }
  }
  NalSinks sinks() {
    NalSinks s;
    s.feed_nal = [this](const uint8_t* d, size_t n) { ++units_by_type[d[0] & 0x1F]; send(d, n); };
    s.decode_and_show = [this](const uint8_t* d, size_t n) {
      ++units_by_type[d[0] & 0x1F];
      send(d, n);
      fetch();
    };
    return s;
  }
  int slices() const {
    auto count = [this](int type) { auto it = units_by_type.find(type); return it == units_by_type.end() ? 0 : it->second; };
    return count(1) + count(5);
  }
  // Reads turns until `wanted` pictures came, `wanted_slices` slices were
  // submitted, or the stream stops (a bound on turns, not on time).
  void watch(RtspSession& session, int wanted, int wanted_slices = 1 << 30) {
    InterleavedFrame frame;
    for (int turn = 0; turn < 5000 && pictures < wanted && slices() < wanted_slices &&
                       !session.socket.peer_closed;
         ++turn) {
      if (read_interleaved_frame(session.socket, frame)) handle_interleaved_frame(frame, state, sinks());
    }
  }
};

TEST(RealRtspServer, ParameterSetsInTheStream) {
  auto server = start_server();
  ASSERT_TRUE(server);
  const std::string url = rtsp_test_server_url(*server);
  RtspSession session;
  RtspOutcome outcome = open_rtsp_session(url, session);
  ASSERT_TRUE(outcome.ok) << outcome.reason;
  EXPECT_NE(session.sdp.find("m=video"), std::string::npos);
  EXPECT_EQ(session.control_url, "rtsp://127.0.0.1:" + std::to_string(server->port) + "/test/stream=0");
  EXPECT_FALSE(session.session_id.empty());
  EXPECT_EQ(session.keep_alive_method, "GET_PARAMETER");

  begin_streaming(session, 0);
  Watcher watcher;
  ASSERT_TRUE(watcher.decoder);
  watcher.watch(session, 25);
  EXPECT_GT(watcher.units_by_type[7], 0);
  EXPECT_GT(watcher.units_by_type[8], 0);
  EXPECT_GE(watcher.pictures, 25);
  // x264's zero-latency tuning cuts each picture into slices: they must be joined, not concealed.
  EXPECT_GT(watcher.slices(), watcher.pictures);
  EXPECT_EQ(watcher.damaged_pictures, 0);
  EXPECT_EQ(watcher.width, 320);
  EXPECT_EQ(watcher.height, 240);

  teardown_rtsp(session);
  EXPECT_TRUE(wait_for_rtsp_test_server_log(*server, "REQUEST TEARDOWN")) << rtsp_test_server_log(*server);
}

TEST(RealRtspServer, ParameterSetsOnlyInTheSdp) {
  RtspTestServerOptions options;
  options.params_in_sdp_only = true;
  auto server = start_server(options);
  ASSERT_TRUE(server);
  RtspSession session;
  RtspOutcome outcome = open_rtsp_session(rtsp_test_server_url(*server), session);
  ASSERT_TRUE(outcome.ok) << outcome.reason;
  begin_streaming(session, 0);

  // Without the SDP's parameter sets the slices cannot be decoded.
  Watcher blind;
  blind.watch(session, 1, 10);
  EXPECT_EQ(blind.slices(), 10);
  EXPECT_EQ(blind.pictures, 0);

  Watcher watcher;
  EXPECT_EQ(feed_sdp_parameter_sets(session.sdp, watcher.sinks()), 2);
  watcher.units_by_type.clear();  // count only what the stream brings
  watcher.watch(session, 25);
  EXPECT_EQ(watcher.units_by_type.count(7) + watcher.units_by_type.count(8), 0u);
  EXPECT_GE(watcher.pictures, 25);
  EXPECT_EQ(watcher.width, 320);
  EXPECT_EQ(watcher.height, 240);
  teardown_rtsp(session);
  EXPECT_TRUE(wait_for_rtsp_test_server_log(*server, "REQUEST TEARDOWN"));
}

TEST(RealRtspServer, BasicAuthentication) {
  RtspTestServerOptions options;
  options.user = "viewer";
  options.password = "s3cret:x";
  auto server = start_server(options);
  ASSERT_TRUE(server);

  RtspSession refused;
  RtspOutcome outcome = open_rtsp_session(rtsp_test_server_url(*server, "viewer:wrong"), refused);
  EXPECT_EQ(outcome.message, "401");
  EXPECT_FALSE(net_is_open(refused.socket));

  RtspSession anonymous;
  outcome = open_rtsp_session(rtsp_test_server_url(*server), anonymous);
  EXPECT_EQ(outcome.message, "401");

  RtspSession session;
  outcome = open_rtsp_session(rtsp_test_server_url(*server, "viewer:s3cret:x"), session);
  ASSERT_TRUE(outcome.ok) << outcome.reason;
  begin_streaming(session, 0);
  Watcher watcher;
  watcher.watch(session, 5);
  EXPECT_GE(watcher.pictures, 5);
  teardown_rtsp(session);
  EXPECT_TRUE(wait_for_rtsp_test_server_log(*server, "REQUEST TEARDOWN"));
}


TEST(RtspProbe, ReportsTheStreamAndFailsWithoutTheRightCredentials) {
  RtspTestServerOptions options;
  options.user = "u";
  options.password = "p";
  options.params_in_sdp_only = true;
  auto server = start_server(options);
  ASSERT_TRUE(server);

  std::string output;
  ASSERT_EQ(run_probe(rtsp_test_server_url(*server, "u:p") + " 1", output), 0) << output;
  EXPECT_NE(output.find("sprop-parameter-sets="), std::string::npos) << output;
  EXPECT_NE(output.find("Control URL: " + rtsp_test_server_url(*server) + "/stream=0\n"), std::string::npos)
      << output;
  EXPECT_NE(output.find("Parameter sets from the SDP: 2\n"), std::string::npos) << output;
  EXPECT_NE(output.find("(IDR slice)"), std::string::npos) << output;
  EXPECT_EQ(output.find("(SPS)"), std::string::npos) << output;
  EXPECT_EQ(output.find("Pictures decoded: 0\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Picture size: 320x240\n"), std::string::npos) << output;

  output.clear();
  EXPECT_EQ(run_probe(rtsp_test_server_url(*server, "u:nope"), output), 1);
  EXPECT_EQ(output.rfind("401: ", 0), 0u) << output;
  output.clear();
  EXPECT_EQ(run_probe("rtsp://127.0.0.1:0/x", output), 1);
  EXPECT_EQ(output.rfind("ERR: ", 0), 0u) << output;
}

}  // namespace
