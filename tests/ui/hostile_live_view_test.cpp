// Whole live-view sessions against hostile cameras: exchanges that end with
// "ERR" (an endless head, a 2 GB body, a body cut off), and a camera that,
// after one good picture, sends overrunning RTP headers and a fragmented unit
// that never ends, then trickles bytes. (Lying lengths are the client tests'
// business: after one the stream is out of step, which would spoil the trickle.) The view must keep
// the picture, keep handling the user's keys throughout, and tear down when
// the user leaves.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "draw/toast.h"
#include "encoded_stream.h"
#include "headless_sdl.h"
#include "live_session_fixture.h"
#include "ui/live_view.h"
#include "sdl_events.h"
#include "scripted_server.h"

namespace fs = std::filesystem;

namespace {

const std::string kSdp = "v=0\r\ns=cam\r\nm=video 0 RTP/AVP 96\r\na=control:track1\r\n";

std::vector<std::string> negotiation_answers() {
  return {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n",
          "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: " + std::to_string(kSdp.size()) + "\r\n\r\n" + kSdp,
          "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 99\r\n\r\n", "RTSP/1.0 200 OK\r\nCSeq: 4\r\n\r\n"};
}

std::string rtp(const std::string& payload, char first_byte = char(0x80)) {
  return std::string{first_byte, char(96), 0, 1, 0, 0, 0, 0, 0, 0, 0, 1} + payload;
}

// Parameter sets in one STAP-A, every slice as a single unit packet.
std::string packetise(const EncodedStream& s) {
  std::string stap = {char(24)};
  std::string slices;
  for (const NalUnit& u : s.units) {
    const std::string unit(reinterpret_cast<const char*>(u.data), static_cast<size_t>(u.size));
    if (u.type == 7 || u.type == 8) {
      stap += char(u.size >> 8);
      stap += char(u.size & 0xFF);
      stap += unit;
    } else if (u.type == 1 || u.type == 5) {
      slices += interleaved(0, rtp(unit));
    }
  }
  return interleaved(0, rtp(stap)) + slices;
}

struct LiveRun {
  std::string printed;
};

class HostileLiveView : public LiveSessionTest {
 protected:
  HostileLiveView() : LiveSessionTest(320, 240, "hostile_live") {}
  std::string run(const std::string& address) {
    testing::internal::CaptureStdout();
    run_live_view(address, canvas.window.get(), canvas.renderer.get());
    return testing::internal::GetCapturedStdout();
  }
  size_t screenshot_count() const { return screenshots().size(); }
};

std::unique_ptr<ScriptedServer> start_server(Script script) {
  std::string error;
  auto server = start_scripted_server(std::move(script), error);
  EXPECT_TRUE(server) << "the scripted server did not start: " << error;
  return server;
}

TEST_F(HostileLiveView, ExchangesThatBreakEndWithErr) {
  const auto good = negotiation_answers();
  struct Case {
    const char* what;
    std::vector<std::string> answers;  // after the last, the server floods `flood` or hangs up
    std::string flood;
  };
  const Case cases[] = {
      {"a head that never ends", {good[0], "RTSP/1.0 200 OK\r\nX: "}, std::string(8192, 'h')},
      {"a body of 2 GB", {good[0], "RTSP/1.0 200 OK\r\nContent-Length: 2147483647\r\n\r\n"}, std::string(8192, 'v')},
      {"a body that stops half way", {good[0], "RTSP/1.0 200 OK\r\nContent-Length: 400\r\n\r\nv=0\r\nm=vid"}, ""},
      {"a hang-up inside the SETUP answer", {good[0], good[1], "RTSP/1.0 200 OK\r\nSess"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    show_toast("", 0);
    auto server = start_server([c](ScriptedConnection& conn) {
      for (const std::string& a : c.answers) {
        if (scripted_read_request(conn).empty() || !scripted_send(conn, a)) return;
      }
      while (!c.flood.empty() && scripted_send(conn, c.flood)) {
      }
    });
    ASSERT_TRUE(server);
    const std::string printed = run(scripted_server_url(*server));
    EXPECT_EQ(printed.rfind("ERR: ", 0), 0u) << printed;
    EXPECT_STREQ(toast_text(), "ERR");
  }
}

TEST_F(HostileLiveView, GarbageAfterAPictureKeepsThePictureAndTheKeys) {
  const EncodedStream stream = encode_h264_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 3);
  ASSERT_FALSE(stream.units.empty()) << stream.error;
  std::string garbage;
  garbage += interleaved(0, rtp(std::string(8, '\x41'), char(0x8F)));                         // CSRCs overrun
  garbage += interleaved(0, rtp(std::string("\xBE\xDE\xFF\xFF\x41\x01", 6), char(0x90)));    // extension overruns
  garbage += interleaved(0, rtp(std::string("\x7C\x85", 2) + std::string(1000, 'a')));      // FU-A start...
  const std::string middle = interleaved(0, rtp(std::string("\x7C\x05", 2) + std::string(60000, 'b')));

  std::atomic<int> trickled{0};  // bytes trickled so far
  auto answers = negotiation_answers();
  answers.back() += packetise(stream);
  auto server = start_server([&](ScriptedConnection& c) {
    for (const std::string& a : answers) {
      if (scripted_read_request(c).empty() || !scripted_send(c, a)) return;
    }
    if (!scripted_send(c, garbage)) return;
    for (int i = 0; i < 300; ++i) {  // ... that never ends: 18 MB of middle fragments
      if (!scripted_send(c, middle)) return;
    }
    const std::string frame = interleaved(0, rtp("\x41" + std::string(2000, 'q')));
    // One byte every 300 ms: each receive is within its time-out, a whole
    // frame would take ten minutes. Listening in between paces the bytes and
    // hears the TEARDOWN.
    for (size_t i = 0; scripted_send(c, frame.substr(i % frame.size(), 1)); ++i) {
      ++trickled;
      if (scripted_read_request_within(c, 300).rfind("TEARDOWN", 0) == 0) return;
    }
  });
  ASSERT_TRUE(server);

  // The user presses "s" until the picture has been saved and the camera has
  // trickled for a good while (the view has long read all that came before
  // and now waits inside a frame that would take ten minutes), then leaves.
  std::atomic<size_t> shots{0};
  std::thread user([&] {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(trickled >= 8 && shots > 0) && std::chrono::steady_clock::now() < give_up) {
      push_key(SDLK_s);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      shots = screenshot_count();
    }
    push_key(SDLK_ESCAPE);
  });
  const std::string printed = run(scripted_server_url(*server));
  user.join();
  finish_scripted_server(*server);

  EXPECT_GE(trickled, 8) << "the camera never got to trickle";
  EXPECT_GE(screenshot_count(), 1u) << "no picture was shown\n" << printed;
  EXPECT_EQ(printed.find("ERR"), std::string::npos) << printed;
  EXPECT_NE(server->received.find("TEARDOWN "), std::string::npos) << "the user's Escape was not handled";
}

}  // namespace
