// The client against hostile and broken servers on loopback: a head that never
// ends, huge Content-Lengths, bodies and connections cut in every state,
// interleave lengths that lie, RTP headers that overrun, fragmented units that
// never end, and a server that trickles its bytes. Each run must end with the
// user's message ("ERR", "401") or keep streaming, never crash or hang, and
// keep its memory within the client's limits: a response head of 64 KiB, an
// SDP of 1 MiB, a frame of 64 KiB and a fragmented unit of 16 MiB (whose
// growing buffer may reserve up to twice that).
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "rtsp/depacketizer.h"
#include "rtsp/interleaved.h"
#include "rtsp/exchange.h"
#include "scripted_server.h"

namespace {

// Growth of the process's peak resident memory that any one hostile run may
// cause: the limits above plus the slack of the allocator and the sanitizers.
constexpr long kMemoryBoundKb = 96 * 1024;

long peak_resident_kb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string reply(int cseq, const std::string& headers = "", const std::string& body = "") {
  std::string text = "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + headers;
  if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

const std::string kSdp = "v=0\r\ns=cam\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=0\r\n";
const std::string kOptions = reply(1, "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n");
const std::string kDescribe = reply(2, "Content-Type: application/sdp\r\n", kSdp);
const std::string kSetup = reply(3, "Session: 77;timeout=60\r\n");
const std::string kPlay = reply(4, "Session: 77\r\n");

std::unique_ptr<ScriptedServer> start_server(Script script) {
  std::string error;
  std::unique_ptr<ScriptedServer> server = start_scripted_server(std::move(script), error);
  if (!server) ADD_FAILURE() << "the scripted server did not start: " << error;
  return server;
}

// Answers the first requests with `replies`, then runs `then`.
Script answer_then(std::vector<std::string> replies, std::function<void(ScriptedConnection&)> then) {
  return [replies, then](ScriptedConnection& c) {
    for (const std::string& r : replies) {
      if (scripted_read_request(c).empty() || !scripted_send(c, r)) return;
    }
    then(c);
  };
}

// Sends `chunk` again and again until the client hangs up.
void flood(ScriptedConnection& c, const std::string& chunk) {
  while (scripted_send(c, chunk)) {
  }
}

// Sends `bytes` one at a time, `gap_ms` apart, then (if it is still there)
// sends `then_forever` one byte at a time until the client hangs up.
void trickle(ScriptedConnection& c, const std::string& bytes, int gap_ms) {
  for (size_t i = 0;; ++i) {
    if (!scripted_send(c, std::string(1, i < bytes.size() ? bytes[i] : 'x'))) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
  }
}

struct StreamResult {
  RtspOutcome outcome;
  std::vector<std::vector<uint8_t>> units;  // every unit handed to the decoder
  size_t largest_fragment_capacity = 0;
  int turns = 0;
};

// Negotiates with the server, then streams as the live view does until the
// connection ends or `max_turns` pass.
StreamResult run_session(ScriptedServer& server, int max_turns, int exchange_timeout_ms = 2000,
                         int stream_timeout_ms = 2000) {
  StreamResult result;
  RtspSession session;
  session.exchange_timeout_ms = exchange_timeout_ms;
  session.stream_timeout_ms = stream_timeout_ms;
  result.outcome = open_rtsp_session(scripted_server_url(server), session);
  if (!result.outcome.ok) {
    EXPECT_FALSE(net_is_open(session.socket)) << "a failed exchange closes its connection";
    return result;
  }
  DepacketizerState state;
  NalSinks sinks;
  auto keep = [&](const uint8_t* d, size_t n) { result.units.emplace_back(d, d + n); };
  sinks.feed_nal = keep;
  sinks.decode_and_show = keep;
  InterleavedFrame frame;
  begin_streaming(session, 0);
  while (result.turns < max_turns && !session.socket.peer_closed) {
    ++result.turns;
    if (read_interleaved_frame(session.socket, frame)) handle_interleaved_frame(frame, state, sinks);
    result.largest_fragment_capacity = std::max(result.largest_fragment_capacity, state.fragment_buffer.capacity());
  }
  teardown_rtsp(session);
  return result;
}

std::string rtp(const std::string& payload, uint8_t first_byte = 0x80) {
  return std::string(1, static_cast<char>(first_byte)) + std::string("\x60\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01", 11) + payload;
}

TEST(HostileServer, HeadThatNeverEndsGivesErrWithinTheHeadLimit) {
  for (size_t answered = 0; answered < 4; ++answered) {
    SCOPED_TRACE(answered);
    const std::vector<std::string> good = {kOptions, kDescribe, kSetup, kPlay};
    auto server = start_server(answer_then({good.begin(), good.begin() + static_cast<long>(answered)},
                                           [](ScriptedConnection& c) {
                                             if (scripted_read_request(c).empty()) return;
                                             scripted_send(c, "RTSP/1.0 200 OK\r\nX-Pad: ");
                                             flood(c, std::string(4096, 'a'));
                                           }));
    ASSERT_TRUE(server);
    const long before = peak_resident_kb();
    const StreamResult result = run_session(*server, 10);
    EXPECT_FALSE(result.outcome.ok);
    EXPECT_EQ(result.outcome.message, "ERR");
    EXPECT_LT(peak_resident_kb() - before, kMemoryBoundKb);
  }
}

TEST(HostileServer, HugeContentLengthsAreRefusedWithoutReservingThem) {
  for (const char* length : {"2147483647", "2000000000", "4294967296", "99999999999999999999"}) {
    SCOPED_TRACE(length);
    auto server = start_server(answer_then(
        {kOptions, std::string("RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: ") + length + "\r\n\r\n"},
        [](ScriptedConnection& c) { flood(c, std::string(4096, 'v')); }));
    ASSERT_TRUE(server);
    const long before = peak_resident_kb();
    const StreamResult result = run_session(*server, 10);
    EXPECT_EQ(result.outcome.message, "ERR");
    EXPECT_LT(peak_resident_kb() - before, kMemoryBoundKb);
  }
}

TEST(HostileServer, ConnectionClosedInEveryState) {
  const std::string describe_head = kDescribe.substr(0, kDescribe.find("\r\n\r\n") + 4);
  const std::string frame = interleaved(0, rtp("\x65\x88\x84\x00\x33"));
  struct Case {
    const char* state;
    std::vector<std::string> replies;  // the last one is sent, then the connection closes
    bool negotiated;
    size_t units;
  };
  const Case cases[] = {
      {"right after accepting", {}, false, 0},
      {"inside the OPTIONS answer", {"RTSP/1.0 200"}, false, 0},
      {"after the OPTIONS answer", {kOptions}, false, 0},
      {"inside the DESCRIBE head", {kOptions, "RTSP/1.0 200 OK\r\nContent-Le"}, false, 0},
      {"inside the DESCRIBE body", {kOptions, describe_head + kSdp.substr(0, 10)}, false, 0},
      {"after the DESCRIBE answer", {kOptions, kDescribe}, false, 0},
      {"inside the SETUP head", {kOptions, kDescribe, "RTSP/1.0 200 OK\r\nSess"}, false, 0},
            // PLAY then has no answer: a stream that was never started is no stream.
      {"after a SETUP head without its blank line", {kOptions, kDescribe, "RTSP/1.0 200 OK\r\nSession: 77\r\n"}, false, 0},
      {"after the SETUP answer", {kOptions, kDescribe, kSetup}, false, 0},
      {"inside the PLAY answer", {kOptions, kDescribe, kSetup, "RTSP/1.0 2"}, false, 0},
      {"inside an interleave header", {kOptions, kDescribe, kSetup, kPlay + frame + "$\0"}, true, 1},
      {"inside a frame", {kOptions, kDescribe, kSetup, kPlay + frame + frame.substr(0, 9)}, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    // The server hangs up right after its last reply.
    auto closing = start_server([replies = c.replies](ScriptedConnection& conn) {
      for (const std::string& r : replies) {
        if (scripted_read_request(conn).empty() || !scripted_send(conn, r)) return;
      }
    });
    ASSERT_TRUE(closing);
    const StreamResult result = run_session(*closing, 1000);
    EXPECT_EQ(result.outcome.ok, c.negotiated) << result.outcome.reason;
    if (!c.negotiated) {
      EXPECT_EQ(result.outcome.message, "ERR");
    }
    EXPECT_LT(result.turns, 1000) << "the closed connection is noticed";
    EXPECT_EQ(result.units.size(), c.units);
  }
}

TEST(HostileServer, LyingLengthsAndOverrunningRtpHeadersAreDroppedInBounds) {
  const std::string slice = rtp("\x41\x9a\x02\x03\x04");
  std::string stream;
  stream += interleaved(0, rtp("", 0x8F) + std::string(8, '\x41'));           // 15 CSRCs in 20 bytes
  stream += interleaved(0, rtp(std::string("\xBE\xDE\xFF\xFF", 4) + "\x41\x01", 0x90));  // extension of 65535 words
  stream += interleaved(0, rtp(std::string(60, '\x41'), 0x9F));             // both at once
  stream += interleaved(0, std::string("\x80\x60", 2));                    // shorter than an RTP header
  stream += interleaved(0, slice);                                         // a good unit
  stream += std::string("$\0\xFF\xFF", 4) + slice + slice;                 // claims 65535, carries 34
  stream += interleaved(0, slice);                                         // eaten by the lie above
  std::string short_claim = interleaved(0, slice);
  short_claim[3] = 3;                                                      // claims 3, carries 17
  stream += short_claim;
  for (int i = 0; i < 8; ++i) stream += interleaved(0, slice);
  auto server = start_server(answer_then({kOptions, kDescribe, kSetup, kPlay + stream}, [](ScriptedConnection&) {}));
  ASSERT_TRUE(server);
  const StreamResult result = run_session(*server, 100000);
  ASSERT_TRUE(result.outcome.ok) << result.outcome.reason;
  EXPECT_LT(result.turns, 100000);
  // The overrunning headers give nothing; the good unit and whatever the
  // reader finds in step after the lies come through whole.
  ASSERT_GE(result.units.size(), 1u);
  const std::vector<uint8_t> good(slice.begin() + 12, slice.end());
  for (const auto& unit : result.units) EXPECT_EQ(unit, good);
}

TEST(HostileServer, FragmentedUnitThatNeverEndsStaysUnderItsCap) {
  // A start fragment, then 20 MB of middle fragments without an end, then
  // one complete fragmented unit.
  const std::string start = interleaved(0, rtp(std::string("\x7C\x85", 2) + std::string(1000, 'a')));
  const std::string middle = interleaved(0, rtp(std::string("\x7C\x05", 2) + std::string(60000, 'b')));
  const std::string whole = interleaved(0, rtp(std::string("\x7C\xC5", 2) + "xyz"));
  auto server = start_server(answer_then({kOptions, kDescribe, kSetup, kPlay + start}, [&](ScriptedConnection& c) {
    for (int i = 0; i < 340; ++i) {
      if (!scripted_send(c, middle)) return;
    }
    scripted_send(c, whole);
  }));
  ASSERT_TRUE(server);
  const long before = peak_resident_kb();
  const StreamResult result = run_session(*server, 1000);
  ASSERT_TRUE(result.outcome.ok);
  ASSERT_EQ(result.units.size(), 1u);
  EXPECT_EQ(result.units[0], (std::vector<uint8_t>{0x65, 'x', 'y', 'z'}));
  EXPECT_LE(result.largest_fragment_capacity, 2 * kMaxFragmentBytes);
  EXPECT_LT(peak_resident_kb() - before, kMemoryBoundKb);
}

TEST(HostileServer, TricklingServerEndsTheExchangeWithErr) {
  // Every byte arrives well within one receive's time-out, but the answer
  // would take 64 KiB of them; the exchange gives up on each answer instead.
  auto server = start_server([](ScriptedConnection& c) {
    if (scripted_read_request(c).empty()) return;
    trickle(c, "RTSP/1.0 200 OK\r\nX-Slow: ", 40);
  });
  ASSERT_TRUE(server);
  const StreamResult result = run_session(*server, 10, /*exchange_timeout_ms=*/200);
  EXPECT_FALSE(result.outcome.ok);
  EXPECT_EQ(result.outcome.message, "ERR");
}

TEST(HostileServer, TrickledFrameIsDroppedSoTheViewerKeepsTurning) {
  const std::string frame = interleaved(0, rtp("\x41" + std::string(1500, 'q')));
  auto server = start_server(answer_then({kOptions, kDescribe, kSetup, kPlay},
                                         [&](ScriptedConnection& c) { trickle(c, frame, 20); }));
  ASSERT_TRUE(server);
  RtspSession session;
  session.stream_timeout_ms = 100;
  ASSERT_TRUE(open_rtsp_session(scripted_server_url(*server), session).ok);
  begin_streaming(session, 0);
  InterleavedFrame got;
  // The turn ends without the frame (it would take 30 s to arrive) and
  // without taking the connection for closed.
  EXPECT_FALSE(read_interleaved_frame(session.socket, got));
  EXPECT_FALSE(session.socket.peer_closed);
  teardown_rtsp(session);
}

TEST(HostileServer, ServerThatStopsReadingCannotBlockTheClient) {
  // The server negotiates, then never reads again: the connection's buffers
  // fill, and every further send must give up after the time-out instead of
  // blocking the viewer for ever.
  std::atomic<bool> client_done{false};
  auto server = start_server(answer_then({kOptions, kDescribe, kSetup, kPlay}, [&](ScriptedConnection&) {
    while (!client_done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }));
  ASSERT_TRUE(server);
  RtspSession session;
  session.stream_timeout_ms = 100;
  ASSERT_TRUE(open_rtsp_session(scripted_server_url(*server), session).ok);
  begin_streaming(session, 0);
  const std::string chunk(64 * 1024, 'k');
  int sent = 0;
  while (sent < 2000 && send_all(session.socket, chunk)) ++sent;  // 125 MB at most
  EXPECT_LT(sent, 2000) << "the buffers never filled";
  // TEARDOWN then goes nowhere, but returns.
  teardown_rtsp(session);
  EXPECT_FALSE(net_is_open(session.socket));
  client_done = true;
}

}  // namespace
