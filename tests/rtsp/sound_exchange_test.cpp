// The sound track in the control exchange, against a scripted camera: its
// SETUP carries the session and the next interleaved channels (or the
// channels the answer names); a refused sound SETUP, or a codec that does not
// play, leaves the pictures to come alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsp/exchange.h"
#include "scripted_server.h"

namespace {

std::string sdp_with_sound(const std::string& sound) {
  return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=cam\r\nt=0 0\r\n" + sound +
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:video\r\n";
}

std::vector<std::string> answers(const std::string& sdp, const std::vector<std::string>& setups) {
  std::vector<std::string> out = {
      "RTSP/1.0 200 OK\r\nCSeq: 1\r\nPublic: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n",
      "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp};
  out.insert(out.end(), setups.begin(), setups.end());
  out.push_back("RTSP/1.0 200 OK\r\nCSeq: 9\r\nSession: 77\r\n\r\n");  // PLAY
  return out;
}

struct Negotiated {
  RtspOutcome outcome;
  RtspSession session;
  std::vector<std::string> requests;
};

Negotiated negotiate(const std::vector<std::string>& replies) {
  Negotiated n;
  std::string error;
  auto server = start_scripted_server(reply_in_turn(replies), error);
  EXPECT_TRUE(server) << error;
  if (!server) return n;
  n.session.exchange_timeout_ms = 2000;
  n.outcome = open_rtsp_session(scripted_server_url(*server, "/cam"), n.session);
  teardown_rtsp(n.session);
  finish_scripted_server(*server);
  n.requests = server->requests;
  return n;
}

const char kVideoSetup[] = "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 77;timeout=60\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n";

}  // namespace

TEST(SoundExchange, TheSoundTrackIsSetUpOnTheNextChannels) {
  const std::string sdp = sdp_with_sound("m=audio 0 RTP/AVP 8\r\na=control:audio\r\n");
  const Negotiated n = negotiate(answers(
      sdp, {kVideoSetup,
            "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 77\r\nTransport: RTP/AVP/TCP;unicast;interleaved=4-5\r\n\r\n"}));
  ASSERT_TRUE(n.outcome.ok) << n.outcome.reason;
  ASSERT_GE(n.requests.size(), 5u);
  const std::string url = n.session.request_url;
  EXPECT_EQ(n.requests[2].rfind("SETUP " + url + "/video RTSP/1.0\r\n", 0), 0u) << n.requests[2];
  EXPECT_EQ(n.requests[3].rfind("SETUP " + url + "/audio RTSP/1.0\r\n", 0), 0u) << n.requests[3];
  EXPECT_NE(n.requests[3].find("Transport: RTP/AVP/TCP;unicast;interleaved=2-3\r\nSession: 77\r\n"), std::string::npos)
      << n.requests[3];
  EXPECT_EQ(n.requests[4].rfind("PLAY ", 0), 0u);
  EXPECT_TRUE(n.session.sound_set_up);
  EXPECT_EQ(n.session.sound.codec, SoundCodec::pcma);
  EXPECT_EQ(n.session.video_channel, 0);
  EXPECT_EQ(n.session.sound_channel, 4);  // as the answer named it
  EXPECT_EQ(n.session.sound_note, "");
}

TEST(SoundExchange, ARefusedSoundSetupLeavesThePicturesAlone) {
  const std::string sdp = sdp_with_sound("m=audio 0 RTP/AVP 0\r\na=control:audio\r\n");
  const Negotiated n =
      negotiate(answers(sdp, {kVideoSetup, "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 4\r\n\r\n"}));
  ASSERT_TRUE(n.outcome.ok) << n.outcome.reason;
  EXPECT_FALSE(n.session.sound_set_up);
  EXPECT_EQ(n.session.sound_note, "SETUP answered 461 Unsupported Transport for the sound");
  ASSERT_GE(n.requests.size(), 5u);
  EXPECT_EQ(n.requests[4].rfind("PLAY ", 0), 0u);
}

TEST(SoundExchange, SoundThatDoesNotPlayIsNotSetUp) {
  for (const std::string sound : {"m=audio 0 RTP/AVP 97\r\na=rtpmap:97 G726-32/8000\r\na=control:audio\r\n",
                                  "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 MP4A-LATM/16000\r\na=fmtp:97 cpresent=1\r\n"}) {
    SCOPED_TRACE(sound);
    const Negotiated n = negotiate(answers(sdp_with_sound(sound), {kVideoSetup}));
    ASSERT_TRUE(n.outcome.ok) << n.outcome.reason;
    EXPECT_FALSE(n.session.sound_set_up);
    EXPECT_NE(n.session.sound_note.find("is not played"), std::string::npos) << n.session.sound_note;
    ASSERT_GE(n.requests.size(), 4u);
    EXPECT_EQ(n.requests[3].rfind("PLAY ", 0), 0u);  // one SETUP only
  }
  // Asked not to, a session sets no sound up even when it would play.
  Negotiated n;
  std::string error;
  auto server = start_scripted_server(
      reply_in_turn(answers(sdp_with_sound("m=audio 0 RTP/AVP 8\r\n"), {kVideoSetup})), error);
  ASSERT_TRUE(server) << error;
  n.session.want_sound = false;
  n.outcome = open_rtsp_session(scripted_server_url(*server, "/cam"), n.session);
  teardown_rtsp(n.session);
  finish_scripted_server(*server);
  EXPECT_TRUE(n.outcome.ok);
  EXPECT_FALSE(n.session.sound_set_up);
  EXPECT_EQ(server->requests[3].rfind("PLAY ", 0), 0u);
}
