// The client against a scripted server on loopback: exact request bytes, the
// "401" and "ERR" rules, bodies, silence, limits, the interleaved stream and
// the keep-alive.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "rtsp/depacketizer.h"
#include "rtsp/interleaved.h"
#include "rtsp/exchange.h"
#include "scripted_server.h"

namespace {

const std::string kSdp =
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=cam\r\nt=0 0\r\na=control:*\r\n"
    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=1\r\n";

std::string reply(int cseq, const std::string& headers = "", const std::string& body = "") {
  std::string text = "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + headers;
  if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

const std::string kUnauthorized =
    "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n";
const std::string kOptions = reply(1, "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n");
const std::string kDescribe = reply(2, "Content-Type: application/sdp\r\n", kSdp);
const std::string kSetup = reply(3, "Session: ABCD;timeout=30\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n");
const std::string kPlay = reply(4, "Session: ABCD\r\n");

uint32_t now_ms() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::unique_ptr<ScriptedServer> start_server(Script script) {
  std::string error;
  std::unique_ptr<ScriptedServer> server = start_scripted_server(std::move(script), error);
  if (!server) ADD_FAILURE() << error;
  return server;
}

// The address with credentials put in after the scheme.
std::string address_of(const ScriptedServer& server, const std::string& credentials = "") {
  std::string url = scripted_server_url(server);
  if (!credentials.empty()) url.insert(7, credentials + "@");
  return url;
}

TEST(RtspExchange, SendsTheFiveRequestsByteForByte) {
  auto server = start_server(reply_in_turn({kOptions, kDescribe, kSetup, kPlay}));
  ASSERT_TRUE(server);
  RtspSession session;
  RtspOutcome outcome = open_rtsp_session(address_of(*server, "admin:12345"), session);
  ASSERT_TRUE(outcome.ok) << outcome.reason;
  EXPECT_EQ(session.sdp, kSdp);
  const std::string url = scripted_server_url(*server);
  EXPECT_EQ(session.control_url, url + "/trackID=1");
  EXPECT_EQ(session.session_id, "ABCD");
  EXPECT_EQ(session.session_timeout_s, 30);
  EXPECT_EQ(session.keep_alive_method, "OPTIONS");  // GET_PARAMETER is not offered
  teardown_rtsp(session);
  EXPECT_FALSE(net_is_open(session.socket));
  finish_scripted_server(*server);

  const std::string auth = "Authorization: Basic YWRtaW46MTIzNDU=\r\n";
  EXPECT_EQ(server->received,
            "OPTIONS " + url + " RTSP/1.0\r\nCSeq: 1\r\n" + auth + "\r\n" +
            "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 2\r\n" + auth + "Accept: application/sdp\r\n\r\n" +
            "SETUP " + url + "/trackID=1 RTSP/1.0\r\nCSeq: 3\r\n" + auth +
            "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n" +
            "PLAY " + url + " RTSP/1.0\r\nCSeq: 4\r\n" + auth +
            "Session: ABCD\r\nRange: npt=0.000-\r\n\r\n" +
            "TEARDOWN " + url + " RTSP/1.0\r\nCSeq: 5\r\n" + auth + "Session: ABCD\r\n\r\n");
}

TEST(RtspExchange, UnauthorizedAndSessionRules) {
  struct Case {
    const char* what;
    const char* credentials;
    std::vector<std::string> replies;
    const char* message;  // "" for success
    size_t requests;      // how many requests the server heard
  };
  const std::string describe_401_length =
      "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: 401\r\n\r\n" + std::string(401, 'x');
  const std::string not_found = "RTSP/1.0 404 Not Found\r\nCSeq: 2\r\n\r\n";
  const Case cases[] = {
      {"401 on OPTIONS without credentials", "", {kUnauthorized}, "401", 1},
      {"401 on OPTIONS with credentials goes on", "u:p", {kUnauthorized, kDescribe, kSetup, kPlay}, "", 4},
      {"401 on DESCRIBE with credentials", "u:p", {kOptions, kUnauthorized}, "401", 2},
      {"401 elsewhere in the DESCRIBE head is no refusal", "", {kOptions, describe_401_length, kSetup, kPlay}, "", 4},
      {"other error statuses end the run", "", {kOptions, not_found, kSetup, kPlay}, "ERR", 2},
      {"SETUP refused on both transports", "", {kOptions, kDescribe, "RTSP/1.0 454 Session Not Found\r\n\r\n",
                                                "RTSP/1.0 454 Session Not Found\r\n\r\n"}, "ERR", 4},
      {"Session name in another case", "", {kOptions, kDescribe, reply(3, "session: ABCD\r\n")}, "ERR", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto server = start_server(reply_in_turn(c.replies));
    ASSERT_TRUE(server);
    RtspSession session;
    session.exchange_timeout_ms = 1000;
    RtspOutcome outcome = open_rtsp_session(address_of(*server, c.credentials), session);
    EXPECT_EQ(outcome.ok, std::string(c.message).empty()) << outcome.reason;
    EXPECT_EQ(outcome.message, c.message);
    if (outcome.ok) {
      teardown_rtsp(session);
    } else {
      EXPECT_FALSE(net_is_open(session.socket));
      EXPECT_FALSE(outcome.reason.empty());
    }
    finish_scripted_server(*server);
    EXPECT_EQ(server->requests.size(), c.requests);
    // A failed run sends nothing after the request that failed, not even TEARDOWN.
    if (!outcome.ok) {
      EXPECT_EQ(server->received.find("TEARDOWN"), std::string::npos);
    }
  }
}

TEST(RtspExchange, BodyCutShortKeepsItsAnnouncedLengthWithZeros) {
  const std::string partial = "m=video 0 RTP/AVP 96\r\na=control:track7\r\n";
  const std::string describe =
      "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: " + std::to_string(partial.size() + 20) +
      "\r\n\r\n" + partial;
  auto server = start_server(reply_in_turn({kOptions, describe, kSetup, kPlay}));
  ASSERT_TRUE(server);
  RtspSession session;
  session.exchange_timeout_ms = 100;  // the missing 20 bytes never come
  ASSERT_TRUE(open_rtsp_session(address_of(*server), session).ok);
  EXPECT_EQ(session.sdp, partial + std::string(20, '\0'));
  EXPECT_EQ(session.control_url, scripted_server_url(*server) + "/track7");
  teardown_rtsp(session);
}

TEST(RtspExchange, AnswerBodiesAreReadSoTheStreamStartsInStep) {
  const std::string frame = interleaved(0, std::string("\x80\x60\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x41\x9A", 14));
  auto server = start_server(reply_in_turn({reply(1, "", "$abc"), kDescribe, kSetup,
                                            reply(4, "Session: ABCD\r\n", std::string("$\0\0\x05", 4)) + frame}));
  ASSERT_TRUE(server);
  RtspSession session;
  ASSERT_TRUE(open_rtsp_session(address_of(*server), session).ok);
  begin_streaming(session, now_ms());
  InterleavedFrame got;
  ASSERT_TRUE(read_interleaved_frame(session.socket, got));
  EXPECT_EQ(got.channel, 0);
  EXPECT_EQ(std::string(got.data.begin(), got.data.end()), frame.substr(4));
  teardown_rtsp(session);
}

TEST(RtspExchange, SilentServerEndsWithErrAtTheFirstUnansweredRequest) {
  auto server = start_server([](ScriptedConnection& c) {
    while (!scripted_read_request(c).empty()) {
    }
  });
  ASSERT_TRUE(server);
  RtspSession session;
  session.exchange_timeout_ms = 100;
  RtspOutcome outcome = open_rtsp_session(address_of(*server), session);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.message, "ERR");
  EXPECT_FALSE(net_is_open(session.socket));
  finish_scripted_server(*server);
  EXPECT_EQ(outcome.reason, "no answer to OPTIONS");
  ASSERT_EQ(server->requests.size(), 1u);
  EXPECT_EQ(server->requests[0].substr(0, 8), "OPTIONS ");
}

TEST(RtspExchange, OversizedHeadOrSdpEndsWithErr) {
  const std::string endless_head = "RTSP/1.0 200 OK\r\nX-Pad: " + std::string(70000, 'a');
  const std::string huge_sdp = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: 1048577\r\n\r\nv=0\r\n";
  struct Case {
    const char* what;
    std::vector<std::string> replies;
    size_t requests;
  };
  const Case cases[] = {
      {"head over 64 KiB", {endless_head}, 1},
      {"SDP over 1 MiB", {kOptions, huge_sdp}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto server = start_server(reply_in_turn(c.replies));
    ASSERT_TRUE(server);
    RtspSession session;
    RtspOutcome outcome = open_rtsp_session(address_of(*server), session);
    EXPECT_EQ(outcome.message, "ERR");
    EXPECT_FALSE(net_is_open(session.socket));
    finish_scripted_server(*server);
    EXPECT_EQ(server->requests.size(), c.requests);
  }
}

TEST(RtspExchange, UnusableAddressesEndWithErrBeforeSending) {
  // A port nothing listens on: bind one, note it, release it.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  close(fd);
  const std::string closed_port = "rtsp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x";
  for (const std::string& text : {std::string("rtsp://127.0.0.1:70000/x"), std::string("rtsp://127.0.0.1:0/x"),
                                  std::string("rtsp://127.0.0.1:-554/x"), std::string("http://127.0.0.1/x"),
                                  std::string("rtsp://user@/x"), closed_port}) {
    SCOPED_TRACE(text);
    RtspSession session;
    RtspOutcome outcome = open_rtsp_session(text, session);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "ERR");
    EXPECT_FALSE(outcome.reason.empty());
    EXPECT_FALSE(net_is_open(session.socket));
  }
}

// A socket connected to a server that sends `bytes` and then closes.
struct CannedStream {
  std::unique_ptr<ScriptedServer> server;
  NetSocket socket;
};

void open_canned_stream(const std::string& bytes, CannedStream& stream) {
  stream.server = start_server([bytes](ScriptedConnection& c) { scripted_send(c, bytes); });
  ASSERT_TRUE(stream.server);
  std::string error;
  ASSERT_TRUE(net_connect("127.0.0.1", stream.server->port, stream.socket, error)) << error;
  net_set_receive_timeout(stream.socket, 5000);
}

TEST(InterleavedStream, EachTurnReadsOneFrameAndStaysInStep) {
  std::string big(1500, '\0');
  big[0] = '\x80';
  big[12] = '\x41';  // a single slice unit
  const std::string keep_alive_answer =
      "RTSP/1.0 200 OK\r\nCSeq: 7\r\nSession: ABCD\r\nContent-Length: 6\r\n\r\n";
  CannedStream stream;
  open_canned_stream(interleaved(1, "RTCP-SR!") + std::string("$\0\0\0", 4) + "abcd" +
                         keep_alive_answer + std::string("$\0\0\x02xy", 6) + interleaved(0, big) +
                         std::string("$\0\0\x10", 4) + "short",
                     stream);
  InterleavedFrame frame;
  ASSERT_TRUE(read_interleaved_frame(stream.socket, frame));  // RTCP is read whole
  EXPECT_EQ(frame.channel, 1);
  EXPECT_EQ(std::string(frame.data.begin(), frame.data.end()), "RTCP-SR!");

  EXPECT_FALSE(read_interleaved_frame(stream.socket, frame));  // length 0
  EXPECT_FALSE(read_interleaved_frame(stream.socket, frame));  // four stray bytes
  EXPECT_EQ(frame.skipped_message, "");
  EXPECT_FALSE(read_interleaved_frame(stream.socket, frame));  // a whole RTSP message
  EXPECT_EQ(frame.skipped_message, keep_alive_answer);
  EXPECT_FALSE(stream.socket.peer_closed);

  ASSERT_TRUE(read_interleaved_frame(stream.socket, frame));
  EXPECT_EQ(frame.channel, 0);
  ASSERT_EQ(frame.data.size(), 1500u);
  DepacketizerState state;
  std::vector<size_t> sizes;
  NalSinks sinks;
  sinks.decode_and_show = [&](const uint8_t*, size_t n) { sizes.push_back(n); };
  handle_interleaved_frame(frame, state, sinks);
  EXPECT_EQ(sizes, std::vector<size_t>{1488});

  EXPECT_FALSE(read_interleaved_frame(stream.socket, frame));  // cut short by the close
  EXPECT_TRUE(frame.data.empty());
  EXPECT_TRUE(stream.socket.peer_closed);
  EXPECT_FALSE(read_interleaved_frame(stream.socket, frame));
}

TEST(InterleavedStream, BodiesLongerThanOneReadAreSkippedWhole) {
  // Skipped bodies go through a small buffer, many reads for a long one.
  const std::string long_body(10000, 'b');
  const std::string answer = "RTSP/1.0 200 OK\r\nCSeq: 7\r\nContent-Length: 10000\r\n\r\n";
  CannedStream stream;
  open_canned_stream(answer + long_body + interleaved(1, "after") + std::string(9000, 'd') + "tail",
                     stream);
  InterleavedFrame frame;
  EXPECT_FALSE(read_interleaved_frame(stream.socket, frame));
  EXPECT_EQ(frame.skipped_message, answer);
  ASSERT_TRUE(read_interleaved_frame(stream.socket, frame));
  EXPECT_EQ(std::string(frame.data.begin(), frame.data.end()), "after");

  EXPECT_TRUE(discard_exact(stream.socket, 9000));
  uint8_t tail[4] = {};
  ASSERT_TRUE(recv_exact(stream.socket, tail, sizeof tail));
  EXPECT_EQ(std::string(tail, tail + 4), "tail");
  EXPECT_FALSE(discard_exact(stream.socket, 1));  // the server has closed
}

TEST(InterleavedStream, SilenceIsATurnWithoutAFrame) {
  auto server = start_server([](ScriptedConnection& c) { scripted_read_until_close(c); });
  ASSERT_TRUE(server);
  NetSocket socket;
  std::string error;
  ASSERT_TRUE(net_connect("127.0.0.1", server->port, socket, error)) << error;
  net_set_receive_timeout(socket, 50);
  InterleavedFrame frame;
  EXPECT_FALSE(read_interleaved_frame(socket, frame));
  EXPECT_FALSE(socket.peer_closed);  // a time-out is not a closed connection
}

// A server that drops the session when it hears no request for 1.5 s, with a
// session time-out of 1 s announced, and that answers keep-alives inside the
// stream. It streams numbered slices, and after the second keep-alive a last
// IDR slice, then waits for TEARDOWN.
void keep_alive_script(ScriptedConnection& c) {
  const std::string options = reply(1, "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER\r\n");
  for (const std::string& r : {options, kDescribe, reply(3, "Session: abc;timeout=1\r\n"), reply(4)}) {
    if (scripted_read_request(c).empty() || !scripted_send(c, r)) return;
  }
  auto slice = [](uint8_t type, uint8_t number) {
    return interleaved(0, std::string("\x80\x60\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01", 12) +
                              static_cast<char>(0x40 | type) + static_cast<char>(number));
  };
  int answered = 0;
  uint8_t number = 0;
  auto last_heard = std::chrono::steady_clock::now();
  for (;;) {
    std::string request = scripted_read_request_within(c, 40);  // also paces the frames
    if (request.rfind("TEARDOWN", 0) == 0) break;
    if (!request.empty()) {
      last_heard = std::chrono::steady_clock::now();
      std::string cseq = request.substr(request.find("CSeq: ") + 6);
      cseq = cseq.substr(0, cseq.find('\r'));
      scripted_send(c, "RTSP/1.0 200 OK\r\nCSeq: " + cseq + "\r\nSession: abc\r\nContent-Length: 4\r\n\r\n" +
                            std::string("$\0\0\x01", 4));
      if (++answered == 2) scripted_send(c, slice(5, number));
    } else if (std::chrono::steady_clock::now() - last_heard > std::chrono::milliseconds(1500)) {
      return;  // the session is reclaimed: the connection closes
    }
    if (answered < 2) scripted_send(c, slice(1, number++));
  }
  scripted_read_until_close(c);
}

TEST(RtspKeepAlive, KeepsASessionThatTheServerWouldReclaim) {
  auto server = start_server(keep_alive_script);
  ASSERT_TRUE(server);
  RtspSession session;
  session.stream_timeout_ms = 3000;
  ASSERT_TRUE(open_rtsp_session(address_of(*server), session).ok);
  EXPECT_EQ(session.keep_alive_method, "GET_PARAMETER");
  EXPECT_EQ(session.session_timeout_s, 1);

  std::vector<int> numbers;
  bool last_slice = false;
  int skipped = 0;
  DepacketizerState state;
  NalSinks sinks;
  sinks.decode_and_show = [&](const uint8_t* d, size_t n) {
    ASSERT_EQ(n, 2u);
    if ((d[0] & 0x1F) == 5) last_slice = true;
    else numbers.push_back(d[1]);
  };
  InterleavedFrame frame;
  begin_streaming(session, now_ms());
  for (int turn = 0; turn < 500 && !last_slice && !session.socket.peer_closed; ++turn) {
    keep_session_alive(session, now_ms());
    if (read_interleaved_frame(session.socket, frame)) handle_interleaved_frame(frame, state, sinks);
    else if (!frame.skipped_message.empty()) ++skipped;
  }
  EXPECT_TRUE(last_slice);
  EXPECT_FALSE(session.socket.peer_closed);
  EXPECT_EQ(skipped, 2);
  for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int>(i));  // none lost
  teardown_rtsp(session);
  finish_scripted_server(*server);

  ASSERT_GE(server->requests.size(), 6u);
  const std::string url = scripted_server_url(*server);
  EXPECT_EQ(server->requests[4], "GET_PARAMETER " + url + " RTSP/1.0\r\nCSeq: 5\r\nSession: abc\r\n\r\n");
  EXPECT_EQ(server->requests[5], "GET_PARAMETER " + url + " RTSP/1.0\r\nCSeq: 6\r\nSession: abc\r\n\r\n");
  EXPECT_EQ(server->requests.back(), "TEARDOWN " + url + " RTSP/1.0\r\nCSeq: 7\r\nSession: abc\r\n\r\n");
}

}  // namespace

// A camera with an IPv6 address only: the connection is made over IPv6, and
// the UDP ports for its media are IPv6 sockets that also take IPv4 senders.
TEST(IPv6Camera, ConnectsAndBindsItsMediaPortsForIPv6) {
  const int listener = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 addr{};
  addr.sin6_family = AF_INET6;
  addr.sin6_addr = in6addr_loopback;
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0) << "no IPv6 loopback here";
  ASSERT_EQ(listen(listener, 1), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  NetSocket socket;
  std::string error;
  ASSERT_TRUE(net_connect("::1", ntohs(addr.sin6_port), socket, error)) << error;
  const NetAddress peer = net_peer(socket);
  EXPECT_TRUE(net_address_is_ipv6(peer));
  EXPECT_EQ(net_address_text(peer), "::1");
  EXPECT_EQ(net_address_port(peer), ntohs(addr.sin6_port));
  close(listener);

  UdpTransport udp;
  ASSERT_TRUE(open_udp_transport(udp, true, error)) << error;
  NetAddress self;
  ASSERT_TRUE(net_numeric_address("127.0.0.1", net_local_port(udp.rtp), self));
  const uint8_t hello[] = {1, 2, 3};
  ASSERT_TRUE(net_send_datagram(udp.rtcp, self, hello, sizeof hello)) << "an IPv6 socket sends to IPv4";
  uint8_t got[8];
  NetAddress from;
  net_set_receive_timeout(udp.rtp, 1000);
  EXPECT_EQ(net_receive_datagram(udp.rtp, got, sizeof got, from, true), 3);
  NetAddress loopback;
  ASSERT_TRUE(net_numeric_address("127.0.0.1", 0, loopback));
  EXPECT_TRUE(net_same_host(from, loopback)) << net_address_text(from);
  EXPECT_EQ(net_address_port(from), net_local_port(udp.rtcp));
}
