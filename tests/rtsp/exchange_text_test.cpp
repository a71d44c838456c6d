// The text side of the control exchange: what is read out of response heads
// and SDP, and when a keep-alive is due.
#include <gtest/gtest.h>

#include <cstdint>

#include "rtsp/exchange.h"
#include "rtsp/sdp.h"

namespace {

TEST(RtspResponseHead, SessionIdentifierAndTimeout) {
  struct Case {
    const char* head;
    const char* id;
    int32_t timeout;
  };
  const Case cases[] = {
      {"RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 12345678\r\n\r\n", "12345678", 0},
      {"RTSP/1.0 200 OK\r\nSession:    abc;timeout=30\r\n\r\n", "abc", 30},
      {"RTSP/1.0 200 OK\r\nSession: abc; Timeout=12\r\n\r\n", "abc", 12},
      {"RTSP/1.0 200 OK\r\nSession: abc\r\nX-Note: timeout=5\r\n\r\n", "abc", 0},
      {"RTSP/1.0 200 OK\r\nSession: abc", "abc", 0},          // head cut short
      {"RTSP/1.0 200 OK\r\nsession: abc\r\n\r\n", "", 0},     // name in another case
      {"RTSP/1.0 200 OK\r\nSession:\r\n\r\n", "", 0},
      {"RTSP/1.0 454 Session Not Found\r\n\r\n", "", 0},
      {"", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    EXPECT_EQ(find_session_id(c.head), c.id);
    EXPECT_EQ(find_session_timeout(c.head), c.timeout);
  }
}

TEST(RtspResponseHead, ContentLength) {
  EXPECT_EQ(find_content_length("RTSP/1.0 200 OK\r\nContent-Length:   42\r\n\r\n"), 42);
  EXPECT_EQ(find_content_length("RTSP/1.0 200 OK\r\nContent-Length: -3\r\n\r\n"), -3);
  EXPECT_EQ(find_content_length("RTSP/1.0 200 OK\r\ncontent-length: 42\r\n\r\n"), 0);
  EXPECT_EQ(find_content_length_any_case("RTSP/1.0 200 OK\r\ncontent-LENGTH: 42\r\n\r\n"), 42);
  EXPECT_EQ(find_content_length("RTSP/1.0 200 OK\r\n\r\n"), 0);
}

TEST(RtspResponseHead, GetParameterIsUsedOnlyWhenPublicListsIt) {
  EXPECT_TRUE(server_offers_get_parameter(
      "RTSP/1.0 200 OK\r\nCSeq: 1\r\nPublic: OPTIONS, DESCRIBE, SETUP, PLAY, GET_PARAMETER\r\n\r\n"));
  EXPECT_TRUE(server_offers_get_parameter("RTSP/1.0 200 OK\r\npublic: GET_PARAMETER\r\n\r\n"));
  EXPECT_FALSE(server_offers_get_parameter(
      "RTSP/1.0 200 OK\r\nPublic: OPTIONS, DESCRIBE, SETUP, PLAY\r\nX-Other: GET_PARAMETER\r\n\r\n"));
  EXPECT_FALSE(server_offers_get_parameter("RTSP/1.0 200 OK\r\nX-Public: GET_PARAMETER\r\n\r\n"));
  EXPECT_FALSE(server_offers_get_parameter(""));
}

TEST(RtspControlUrl, IsChosenFromTheVideoSection) {
  const std::string url = "rtsp://cam:554/live";
  struct Case {
    const char* sdp;
    std::string expected;
  };
  const Case cases[] = {
      {"", url + "/trackID=0"},
      {"v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n", url + "/trackID=0"},
      {"v=0\r\na=control:*\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n", url + "/trackID=1"},
      {"v=0\r\na=control:*\r\nm=audio 0 RTP/AVP 8\r\na=control:trackID=2\r\n", url},
      {"m=video 0 RTP/AVP 96\na=control:rtsp://10.0.0.9/other/track1\n", "rtsp://10.0.0.9/other/track1"},
      {"m=video 0 RTP/AVP 96\r\na=control:RTSP://10.0.0.9/x\r\n", url + "/RTSP://10.0.0.9/x"},
      {"m=video 0 RTP/AVP 96\r\na=control: rtsp://10.0.0.9/x\r\n", url + "/ rtsp://10.0.0.9/x"},
      {"m=video 0 RTP/AVP 96\r\na=control:stream=0", url + "/stream=0"},
      {"m=audio 0 RTP/AVP 8\r\na=control:a\r\nm=video 0 RTP/AVP 96\r\na=control:v\r\n", url + "/v"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sdp);
    EXPECT_EQ(choose_control_url(c.sdp, url), c.expected);
  }
  // The default path "/" gives two slashes after the port; that is what is sent.
  EXPECT_EQ(choose_control_url("m=video 0\r\na=control:track1\r\n", "rtsp://cam:554/"),
            "rtsp://cam:554//track1");
}

TEST(RtspSdp, ParameterSetsComeFromTheVideoSection) {
  const std::string sdp =
      "v=0\r\nm=audio 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=AAAA\r\n"
      "m=video 0 RTP/AVP 96\r\n"
      "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0LAFdoFB+wF,aM48gA==;profile-level-id=42c015\r\n"
      "m=application 0 RTP/AVP 107\r\n";
  std::vector<std::vector<uint8_t>> units = sprop_parameter_sets(sdp);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0], (std::vector<uint8_t>{0x67, 0x42, 0xC0, 0x15, 0xDA, 0x05, 0x07, 0xEC, 0x05}));
  EXPECT_EQ(units[1], (std::vector<uint8_t>{0x68, 0xCE, 0x3C, 0x80}));
}

TEST(RtspSdp, BrokenOrMissingParameterSetsAreLeftOut) {
  EXPECT_TRUE(sprop_parameter_sets("").empty());
  EXPECT_TRUE(sprop_parameter_sets("m=video 0 RTP/AVP 96\r\na=fmtp:96 packetization-mode=1\r\n").empty());
  // An empty entry and one that is not Base64 are skipped; the good one stays.
  std::vector<std::vector<uint8_t>> units =
      sprop_parameter_sets("m=video 0\na=fmtp:96 sprop-parameter-sets=,Z0L!,aM48gA==\n");
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0][0], 0x68);
  // The value ends at the end of the SDP too.
  EXPECT_EQ(sprop_parameter_sets("a=fmtp:96 sprop-parameter-sets=aM48gA==").size(), 1u);
}

TEST(RtspKeepAlive, IsDueAtHalfTheSessionTimeoutAcrossClockWrap) {
  RtspSession session;  // not connected: the request goes nowhere
  session.session_id = "abc";
  EXPECT_EQ(keep_alive_interval_ms(session), 30000u);
  session.session_timeout_s = 65;
  EXPECT_EQ(keep_alive_interval_ms(session), 32500u);
  session.session_timeout_s = 2000000000;  // absurd announcement stays inside 32 bits
  EXPECT_EQ(keep_alive_interval_ms(session), 86400u * 500u);

  session.session_timeout_s = 60;
  const uint32_t start = UINT32_MAX - 100;  // the 32-bit tick counter wraps in between
  begin_streaming(session, start);
  int32_t cseq = session.cseq;
  EXPECT_FALSE(keep_session_alive(session, start + 29999u));
  EXPECT_EQ(session.cseq, cseq);
  EXPECT_TRUE(keep_session_alive(session, start + 30000u));
  EXPECT_EQ(session.cseq, cseq + 1);
  EXPECT_FALSE(keep_session_alive(session, start + 30001u));
  EXPECT_TRUE(keep_session_alive(session, start + 60000u));
}

}  // namespace
