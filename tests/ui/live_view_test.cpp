// Whole live-view sessions: against GStreamer's RTSP server, against a
// scripted camera, and against nothing at all. The session runs until the
// user leaves, so a helper thread plays the user by pushing events.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "draw/sdl_handles.h"
#include "draw/toast.h"
#include "encoded_stream.h"
#include "headless_sdl.h"
#include "live_session_fixture.h"
#include "ui/live_view.h"
#include "sdl_events.h"
#include "rtsp_server_process.h"
#include "sanitizer_build.h"
#include "scripted_server.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;

SDL_Event left_click(int x, int y) {
  SDL_Event e{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.button = SDL_BUTTON_LEFT;
  e.button.x = x;
  e.button.y = y;
  return e;
}

// An event the live view ignores.
SDL_Event nothing() {
  SDL_Event e{};
  e.type = SDL_USEREVENT;
  return e;
}

SDL_Event window_closed() {
  SDL_Event e{};
  e.type = SDL_QUIT;
  return e;
}

// Plays the user from another thread: pushes `repeat` every 50 ms until
// `done` holds (at most 30 s), then pushes `last` to end the session.
class User {
 public:
  User(SDL_Event repeat, std::function<bool()> done, SDL_Event last)
      : thread_([=, this] {
          auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
          while (!done() && std::chrono::steady_clock::now() < give_up) {
            SDL_Event e = repeat;
            SDL_PushEvent(&e);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
          }
          succeeded_ = done();
          SDL_Event e = last;
          SDL_PushEvent(&e);
        }) {}
  ~User() {
    if (thread_.joinable()) thread_.join();
  }
  // Waits for the thread; true when `done` held before it gave up.
  bool finish() {
    if (thread_.joinable()) thread_.join();
    return succeeded_;
  }

 private:
  std::atomic<bool> succeeded_{false};
  std::thread thread_;
};

class LiveViewTest : public LiveSessionTest {
 protected:
  LiveViewTest() : LiveSessionTest(kWidth, kHeight, "live_view") {}

  // Runs the live view with standard output captured; returns what it printed.
  std::string run(const std::string& address) {
    testing::internal::CaptureStdout();
    run_live_view(address, canvas.window.get(), canvas.renderer.get());
    return testing::internal::GetCapturedStdout();
  }

  std::function<bool()> screenshot_taken() const {
    return [dir = folder] {
      for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".bmp") return true;
      return false;
    };
  }
};

bool near(const uint8_t* rgba, int r, int g, int b, int tolerance) {
  return std::abs(rgba[0] - r) <= tolerance && std::abs(rgba[1] - g) <= tolerance &&
         std::abs(rgba[2] - b) <= tolerance;
}

// The first screenshot, loaded as R, G, B, A bytes.
SurfacePtr load_screenshot(const fs::path& file) {
  SurfacePtr loaded(SDL_LoadBMP(file.c_str()));
  if (!loaded) return nullptr;
  return SurfacePtr(SDL_ConvertSurfaceFormat(loaded.get(), SDL_PIXELFORMAT_ABGR8888, 0));
}

const uint8_t* pixel(const SDL_Surface* s, int x, int y) {
  return static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * 4;
}

// The test server shows GStreamer's colour bars, 320 x 240: white at the left
// edge, then yellow, ..., blue at the right edge of the upper part. The
// screenshot holds them at the picture's own size (the window is 400 x 300),
// with no camera button over the blue bar.
void expect_colour_bars_without_button(const fs::path& file) {
  SurfacePtr image = load_screenshot(file);
  ASSERT_TRUE(image) << file;
  EXPECT_EQ(image->w, 320);
  EXPECT_EQ(image->h, 240);
  EXPECT_TRUE(near(pixel(image.get(), 10, 60), 255, 255, 255, 30));
  EXPECT_TRUE(near(pixel(image.get(), 68, 60), 255, 255, 0, 30));
  for (SDL_Point at : {SDL_Point{290, 2}, SDL_Point{305, 15}, SDL_Point{318, 28}})
    EXPECT_TRUE(near(pixel(image.get(), at.x, at.y), 0, 0, 255, 30)) << at.x << "," << at.y;
}

std::unique_ptr<RtspServerProcess> start_server(const RtspTestServerOptions& options) {
  std::string error;
  auto server = start_rtsp_test_server(options, error);
  EXPECT_TRUE(server) << "the GStreamer RTSP test server did not start: " << error;
  return server;
}

}  // namespace

TEST_F(LiveViewTest, KeyScreenshotOfTheLivePictureThenEscapeTearsDown) {
  auto server = start_server({});
  ASSERT_TRUE(server);
  User user(key_event(SDLK_s), screenshot_taken(), key_event(SDLK_ESCAPE));
  std::string printed = run(rtsp_test_server_url(*server));
  ASSERT_TRUE(user.finish()) << "no screenshot: no picture was shown\n" << printed;

  EXPECT_EQ(printed.rfind("Screenshot: " + folder.string() + "/camera_127.0.0.1_", 0), 0u) << printed;
  std::vector<fs::path> files = screenshots();
  ASSERT_FALSE(files.empty());
  EXPECT_EQ(std::string(toast_text()), "Saved " + files[0].filename().string());
  ASSERT_FALSE(files.empty());
  expect_colour_bars_without_button(files[0]);
  EXPECT_TRUE(wait_for_rtsp_test_server_log(*server, "REQUEST TEARDOWN"))
      << rtsp_test_server_log(*server);
}

TEST_F(LiveViewTest, CameraButtonScreenshotWithCredentialsThenWindowCloseTearsDown) {
  RtspTestServerOptions options;
  options.user = "admin";
  options.password = "s3cret";
  auto server = start_server(options);
  ASSERT_TRUE(server);
  const SDL_Rect button = live_camera_button_rect(kWidth);
  // Clicks land before the first picture too; they must do nothing then.
  User user(left_click(button.x + 13, button.y + 13), screenshot_taken(), window_closed());
  std::string printed = run(rtsp_test_server_url(*server, "admin:s3cret"));
  ASSERT_TRUE(user.finish()) << "no screenshot: no picture was shown\n" << printed;
  // The title names the camera without the password, and the session was live.
  const std::string title = SDL_GetWindowTitle(canvas.window.get());
  EXPECT_EQ(title, "H.264 Player  [" + rtsp_test_server_url(*server, "admin") + "]  LIVE");
  EXPECT_EQ(title.find("s3cret"), std::string::npos) << title;

  std::vector<fs::path> files = screenshots();
  ASSERT_FALSE(files.empty());
  expect_colour_bars_without_button(files[0]);
  EXPECT_TRUE(wait_for_rtsp_test_server_log(*server, "REQUEST TEARDOWN"))
      << rtsp_test_server_log(*server);
}

TEST_F(LiveViewTest, WrongPasswordGives401) {
  RtspTestServerOptions options;
  options.user = "admin";
  options.password = "s3cret";
  auto server = start_server(options);
  ASSERT_TRUE(server);
  for (const char* credentials : {"admin:wrong", ""}) {
    std::string printed = run(rtsp_test_server_url(*server, credentials));
    EXPECT_EQ(printed.rfind("401: ", 0), 0u) << printed;
    EXPECT_STREQ(toast_text(), "401");
    EXPECT_TRUE(toast_showing(SDL_GetTicks()));
  }
  EXPECT_EQ(rtsp_test_server_log(*server).find("REQUEST SETUP"), std::string::npos);
}

namespace {

// A loopback port that was free a moment ago: nothing listens there. 0 on failure.
int closed_loopback_port() {
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
                     getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
  close(probe);
  return bound ? ntohs(addr.sin_port) : 0;
}

}  // namespace

TEST_F(LiveViewTest, AddressesThatGoNowhereGiveErr) {
  const int closed_port = closed_loopback_port();
  ASSERT_NE(closed_port, 0);
  for (std::string address : {"rtsp://127.0.0.1:" + std::to_string(closed_port) + "/live",
                              std::string("rtsp://"), std::string("http://127.0.0.1/live"),
                              std::string("rtsp://admin:pw@/live"),
                              std::string("rtsp://127.0.0.1:99999/live")}) {
    std::string printed = run(address);
    EXPECT_EQ(printed.rfind("ERR: ", 0), 0u) << address << " -> " << printed;
    EXPECT_GT(printed.size(), 6u) << "no reason given for " << address;
    EXPECT_STREQ(toast_text(), "ERR") << address;
  }
}

namespace {

const char kSdp[] =
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=cam\r\nt=0 0\r\n"
    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:track1\r\n";

std::vector<std::string> negotiation_answers() {
  const std::string sdp = kSdp;
  return {"RTSP/1.0 200 OK\r\nCSeq: 1\r\nPublic: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n",
          "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\nContent-Length: " +
              std::to_string(sdp.size()) + "\r\n\r\n" + sdp,
          "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 4711;timeout=60\r\n\r\n",
          "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 4711\r\n\r\n"};
}

// One RTP packet (version 2, payload type 96) around an H.264 payload.
std::string rtp(uint16_t sequence, const std::string& payload) {
  std::string p = {char(0x80), char(96), char(sequence >> 8), char(sequence & 0xFF),
                   0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};
  return p + payload;
}

// The stream as a camera packs it: parameter sets in one STAP-A, slices cut
// into FU-A fragments of at most 400 bytes, each in its own interleaved frame.
std::string packetise(const EncodedStream& s) {
  std::string out;
  uint16_t sequence = 0;
  std::string stap = {char(24)};
  for (const NalUnit& u : s.units) {
    if (u.type != 7 && u.type != 8) continue;
    stap += char(u.size >> 8);
    stap += char(u.size & 0xFF);
    stap.append(reinterpret_cast<const char*>(u.data), u.size);
  }
  out += interleaved(0, rtp(sequence++, stap));
  for (const NalUnit& u : s.units) {
    if (u.type != 1 && u.type != 5) continue;
    const char indicator = char((u.data[0] & 0xE0) | 28);
    for (int32_t at = 1; at < u.size; at += 400) {
      const int32_t n = std::min<int32_t>(400, u.size - at);
      char header = char(u.data[0] & 0x1F);
      if (at == 1) header |= char(0x80);
      if (at + n == u.size) header |= 0x40;
      std::string fragment = {indicator, header};
      fragment.append(reinterpret_cast<const char*>(u.data + at), n);
      out += interleaved(0, rtp(sequence++, fragment));
    }
    out += interleaved(1, std::string(28, '\x81'));  // a receiver report to skip
  }
  return out;
}

}  // namespace

TEST_F(LiveViewTest, EscapeSendsTeardownWithTheNextSequenceNumber) {
  std::string error;
  // The user leaves as soon as the stream has started.
  auto server = start_scripted_server(
      [](ScriptedConnection& c) {
        for (const std::string& answer : negotiation_answers())
          if (scripted_read_request(c).empty() || !scripted_send(c, answer)) return;
        SDL_Event escape = key_event(SDLK_ESCAPE);
        SDL_PushEvent(&escape);
        scripted_read_until_close(c);
      },
      error);
  ASSERT_TRUE(server) << error;
  std::string printed = run(scripted_server_url(*server, "/cam"));
  finish_scripted_server(*server);
  EXPECT_EQ(printed, "");
  ASSERT_EQ(server->requests.size(), 4u) << server->received;
  const std::string url = "rtsp://127.0.0.1:" + std::to_string(server->port) + "/cam";
  EXPECT_EQ(server->requests[2].rfind("SETUP " + url + "/track1 RTSP/1.0\r\nCSeq: 3\r\n", 0), 0u);
  EXPECT_EQ(server->requests[3].rfind("PLAY " + url + " RTSP/1.0\r\nCSeq: 4\r\n", 0), 0u);
  const std::string teardown =
      "TEARDOWN " + url + " RTSP/1.0\r\nCSeq: 5\r\nSession: 4711\r\n\r\n";
  EXPECT_NE(server->received.find(teardown), std::string::npos) << server->received;
}

// Leaving while the camera has not answered PLAY yet still frees the
// session it has held since SETUP.
TEST_F(LiveViewTest, LeavingBeforeThePlayAnswerStillSendsTeardown) {
  std::string error;
  auto server = start_scripted_server(
      [](ScriptedConnection& c) {
        const std::vector<std::string> answers = negotiation_answers();
        for (size_t i = 0; i + 1 < answers.size(); ++i)
          if (scripted_read_request(c).empty() || !scripted_send(c, answers[i])) return;
        if (scripted_read_request(c).empty()) return;  // PLAY, never answered
        SDL_Event escape = key_event(SDLK_ESCAPE);
        SDL_PushEvent(&escape);
        scripted_read_until_close(c);
      },
      error);
  ASSERT_TRUE(server) << error;
  run(scripted_server_url(*server, "/cam"));
  finish_scripted_server(*server);
  ASSERT_EQ(server->requests.size(), 4u) << server->received;
  const std::string url = "rtsp://127.0.0.1:" + std::to_string(server->port) + "/cam";
  EXPECT_NE(server->received.find("TEARDOWN " + url + " RTSP/1.0\r\nCSeq: 5\r\nSession: 4711\r\n\r\n"),
            std::string::npos)
      << server->received;
}

TEST_F(LiveViewTest, AggregatedParameterSetsAndFragmentedSlicesAreShown) {
  EncodedStream stream = encode_h264_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 10);
  ASSERT_FALSE(stream.units.empty()) << stream.error;
  const std::string media = packetise(stream);
  std::vector<std::string> answers = negotiation_answers();
  answers.back() += media;
  std::string error;
  auto server = start_scripted_server(reply_in_turn(answers), error);
  ASSERT_TRUE(server) << error;

  User user(key_event(SDLK_s), screenshot_taken(), key_event(SDLK_ESCAPE));
  std::string printed = run(scripted_server_url(*server, "/cam"));
  ASSERT_TRUE(user.finish()) << "no picture was shown\n" << printed;
  finish_scripted_server(*server);

  SurfacePtr image = load_screenshot(screenshots()[0]);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->w, 160);
  EXPECT_EQ(image->h, 120);
  EXPECT_TRUE(near(pixel(image.get(), 8, 60), 0x20, 0x60, 0xC0, 14));
  EXPECT_TRUE(near(pixel(image.get(), 152, 60), 0xC0, 0x30, 0x20, 14));
  EXPECT_TRUE(near(pixel(image.get(), 150, 9), 0xC0, 0x30, 0x20, 14));
  EXPECT_NE(server->received.find("TEARDOWN "), std::string::npos);
}

TEST_F(LiveViewTest, ACameraThatHangsUpLeavesTheUserInCharge) {
  std::string error;
  using Clock = std::chrono::steady_clock;
  std::atomic<Clock::rep> hung_up_at{0};
  auto server = start_scripted_server(
      [&hung_up_at](ScriptedConnection& c) {
        for (const std::string& answer : negotiation_answers())
          if (scripted_read_request(c).empty() || !scripted_send(c, answer)) break;
        // The connection closes when the script returns.
        hung_up_at = Clock::now().time_since_epoch().count();
      },
      error);
  ASSERT_TRUE(server) << error;
  // The user leaves a while after the hang-up, once the view has seen it.
  auto seen_hang_up = [&hung_up_at] {
    Clock::rep at = hung_up_at.load();
    return at != 0 && Clock::now().time_since_epoch().count() - at >
                          Clock::duration(std::chrono::milliseconds(700)).count();
  };
  User user(nothing(), seen_hang_up, key_event(SDLK_ESCAPE));
  std::string printed = run(scripted_server_url(*server, "/cam"));
  EXPECT_TRUE(user.finish());
  // Said once; no failure.
  EXPECT_EQ(printed, "Live view: connection lost, connecting again\n");
  EXPECT_EQ(server->requests.size(), 4u);
}

TEST_F(LiveViewTest, H265AndUdpOnlyServersShowTheirPictures) {
  const struct {
    const char* what;
    const char* codec;
    bool udp_only;
  } cases[] = {{"H.265 over TCP", "h265", false}, {"H.264 from a server that refuses TCP", "h264", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RtspTestServerOptions options;
    options.codec = c.codec;
    options.udp_only = c.udp_only;
    auto server = start_server(options);
    ASSERT_TRUE(server);
    for (const fs::path& old : screenshots()) fs::remove(old);
    User user(key_event(SDLK_s), screenshot_taken(), key_event(SDLK_ESCAPE));
    std::string printed = run(rtsp_test_server_url(*server));
    ASSERT_TRUE(user.finish()) << "no screenshot: no picture was shown\n" << printed;
    std::vector<fs::path> files = screenshots();
    ASSERT_FALSE(files.empty());
    expect_colour_bars_without_button(files[0]);
    EXPECT_TRUE(wait_for_rtsp_test_server_log(*server, "REQUEST TEARDOWN")) << rtsp_test_server_log(*server);
  }
}

// A camera that accepts and never answers, and an address whose accept queue
// is full (the connection attempt is never answered): Escape and the window's
// close still end the view at once, not after the waits of the exchange.
TEST_F(LiveViewTest, EscapeAndCloseActWhileTheCameraNeverAnswers) {
  std::string error;
  auto silent = start_scripted_server([](ScriptedConnection& c) { scripted_read_until_close(c); }, error);
  ASSERT_TRUE(silent) << error;
  // A listener that never accepts, its one-place queue taken by a first connection.
  int full = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(full, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(listen(full, 0), 0);
  ASSERT_EQ(getsockname(full, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(f, reinterpret_cast<sockaddr*>(&addr), len);
    fillers.push_back(f);
  }
  const std::string never_accepts = "rtsp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/live";
  for (const std::string& address : {scripted_server_url(*silent), never_accepts}) {
    for (const bool escape : {true, false}) {
      SCOPED_TRACE(address + (escape ? " / Escape" : " / close"));
      std::thread user([escape] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        escape ? push_key(SDLK_ESCAPE) : push_quit();
      });
      const auto start = std::chrono::steady_clock::now();
      std::string printed = run(address);
      const auto took = std::chrono::steady_clock::now() - start;
      user.join();
      // Well under one 5-second wait of the exchange: the window never froze.
      EXPECT_LT(took, std::chrono::milliseconds(1500)) << printed;
      EXPECT_EQ(printed, "");
    }
  }
  for (int f : fillers) close(f);
  close(full);
}

TEST_F(LiveViewTest, FailuresComeBackWithTheirReason) {
  std::string error;
  auto server = start_scripted_server(
      reply_in_turn({"RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", "RTSP/1.0 503 Service Unavailable\r\nCSeq: 2\r\n\r\n"}),
      error);
  ASSERT_TRUE(server) << error;
  testing::internal::CaptureStdout();
  const std::string failure = run_live_view(scripted_server_url(*server), canvas.window.get(), canvas.renderer.get());
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(failure, "ERR: DESCRIBE answered 503 Service Unavailable");
  EXPECT_EQ(printed, failure + "\n");
}

// The worker wakes the screen only while the screen listens: one left
// behind in a name lookup must not touch the screen (or SDL) after the
// window and SDL are gone. The session itself calls no SDL function.
TEST_F(LiveViewTest, AWorkerLeftBehindWakesNobody) {
  const int closed_port = closed_loopback_port();
  ASSERT_NE(closed_port, 0);
  for (const bool listening : {true, false}) {
    SCOPED_TRACE(listening ? "listening" : "left");
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    LiveLink link;
    int wakes = 0;
    link.wake = [&wakes] { ++wakes; };
    link.main_listening = listening;
    run_live_session("rtsp://127.0.0.1:" + std::to_string(closed_port) + "/live", LiveSessionSettings{}, link);
    EXPECT_TRUE(link.finished);
    EXPECT_TRUE(link.failed);
    EXPECT_EQ(wakes, listening ? 1 : 0);
    EXPECT_EQ(SDL_PeepEvents(nullptr, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT), 0);
  }
}

// With no room for a thread's stack the worker cannot start: the view ends
// at once with the reason, shown and printed, instead of the program ending.
TEST_F(LiveViewTest, AThreadThatCannotStartEndsTheViewWithAReason) {
  if (kAddressSanitizer) GTEST_SKIP() << "the address sanitizer reserves more address space than any such limit";
  auto without_room_for_a_thread = [this] {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    statm >> pages;
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (2 << 20);
    if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
    const std::string failure = run_live_view("rtsp://127.0.0.1:554/live", canvas.window.get(), canvas.renderer.get());
    std::fprintf(stderr, "returned \"%s\", message \"%s\"\n", failure.c_str(), toast_text());
    std::_Exit(failure.rfind("ERR: cannot start the network thread", 0) == 0 && std::string(toast_text()) == "ERR" ? 0 : 1);
  };
  // A fresh process: one forked from this one would reuse the stacks of threads
  // that earlier tests ended.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(without_room_for_a_thread(), testing::ExitedWithCode(0), "returned \"ERR: cannot start the network thread");
}
