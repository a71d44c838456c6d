// Digest authentication against GStreamer's RTSP server with only Digest
// switched on: the right password (typed with percent-escapes) brings
// pictures and keeps working for the keep-alive and TEARDOWN; a wrong one or
// none ends with "401".
#include <gtest/gtest.h>

#include <string>

#include "media/nal_packet.h"
#include "rtsp/depacketizer.h"
#include "rtsp/interleaved.h"
#include "rtsp/exchange.h"
#include "media/unit_decoder.h"
#include "rtsp_server_process.h"

namespace {

// Reads turns (a bound on turns, not on time) until `wanted` pictures were
// decoded or an RTSP answer met in the stream was kept in `answer_in_stream`.
int count_pictures(RtspSession& session, int wanted, std::string& answer_in_stream) {
  CodecContextPtr decoder = open_unit_decoder(2);
  FramePtr picture{av_frame_alloc()};
  if (!decoder || !picture) return -1;
  int pictures = 0;
  NalSinks sinks;
  auto send = [&](const uint8_t* data, size_t size) {
    PacketPtr packet = make_nal_packet(data, size);
    if (packet) avcodec_send_packet(decoder.get(), packet.get());
  };
  sinks.feed_nal = send;
  sinks.decode_and_show = [&](const uint8_t* data, size_t size) {
    send(data, size);
    while (avcodec_receive_frame(decoder.get(), picture.get()) == 0) ++pictures;
  };
  DepacketizerState state;
  InterleavedFrame frame;
  for (int turn = 0; turn < 5000 && pictures < wanted && answer_in_stream.empty() &&
                     !session.socket.peer_closed;
       ++turn) {
    bool got = read_interleaved_frame(session.socket, frame);
    answer_in_stream = frame.skipped_message;
    if (got) handle_interleaved_frame(frame, state, sinks);
  }
  return pictures;
}

TEST(RealRtspServerDigest, RightPasswordShowsPicturesWrongOneGets401) {
  RtspTestServerOptions options;
  options.user = "viewer";
  options.password = "p@ss:1";
  options.digest = true;
  std::string error;
  auto server = start_rtsp_test_server(options, error);
  ASSERT_TRUE(server) << "cannot start the GStreamer RTSP server: " << error;

  for (const char* refused : {"viewer:wrong", "Viewer:p%40ss%3A1", ""}) {
    SCOPED_TRACE(refused);
    RtspSession session;
    RtspOutcome outcome = open_rtsp_session(rtsp_test_server_url(*server, refused), session);
    EXPECT_EQ(outcome.message, "401") << outcome.reason;
    EXPECT_FALSE(net_is_open(session.socket));
  }

  RtspSession session;
  RtspOutcome outcome = open_rtsp_session(rtsp_test_server_url(*server, "viewer:p%40ss%3A1"), session);
  ASSERT_TRUE(outcome.ok) << outcome.reason << "\n" << rtsp_test_server_log(*server);
  EXPECT_TRUE(session.digest.active);
  begin_streaming(session, 0);
  std::string answer;
  EXPECT_GE(count_pictures(session, 5, answer), 5);

  // The keep-alive goes out with Digest too, and the server accepts it.
  ASSERT_TRUE(keep_session_alive(session, 3600u * 1000u));
  count_pictures(session, 1 << 30, answer);
  EXPECT_EQ(answer.rfind("RTSP/1.0 200", 0), 0u) << answer;
  teardown_rtsp(session);
  EXPECT_TRUE(wait_for_rtsp_test_server_log(*server, "REQUEST TEARDOWN")) << rtsp_test_server_log(*server);
}

}  // namespace
