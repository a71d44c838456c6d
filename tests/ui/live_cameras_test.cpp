// Whole live screens against GStreamer's RTSP server, headless with SDL's
// dummy audio driver: the sound plays in step with a noisy 720p picture; the
// record key records, and a reconnect begins a new file; a grid of four
// cameras keeps playing while one is stopped and started again, which comes
// back on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "live_session_fixture.h"
#include "recording/recording.h"
#include "rtsp_server_process.h"
#include "sdl_events.h"
#include "ui/grid_view.h"
#include "ui/live_view.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<RtspServerProcess> start_server(const RtspTestServerOptions& options) {
  std::string error;
  auto server = start_rtsp_test_server(options, error);
  EXPECT_TRUE(server) << "the GStreamer RTSP test server did not start: " << error;
  return server;
}


class LiveCamerasTest : public LiveSessionTest {
 protected:
  LiveCamerasTest() : LiveSessionTest(640, 360, "live_cameras") {}
  void SetUp() override {
    LiveSessionTest::SetUp();
    if (SDL_WasInit(SDL_INIT_AUDIO) == 0) {
      ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0) << SDL_GetError();
    }
  }
  // Runs the live view for `seconds` (then Escape); what it did.
  LiveViewStats watch_for(const std::string& address, int seconds, LiveViewOptions options = {}) {
    LiveViewStats stats;
    options.stats_out = &stats;
    std::thread user([seconds] {
      std::this_thread::sleep_for(std::chrono::seconds(seconds));
      push_key(SDLK_ESCAPE);
    });
    testing::internal::CaptureStdout();
    run_live_view_with(address, canvas.window.get(), canvas.renderer.get(), options);
    printed = testing::internal::GetCapturedStdout();
    user.join();
    return stats;
  }
  std::vector<fs::path> recordings() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.path().extension() == ".264") found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
  }
  std::string printed;
};

struct Contents {
  int pictures = 0;
  int64_t sound_samples = 0;
};

Contents contents_of(const fs::path& path) {
  Contents c;
  Recording recording;
  testing::internal::CaptureStdout();
  const bool loaded = load_recording(path.string(), recording);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(loaded) << path;
  c.pictures = static_cast<int>(recording.frames.size());
  for (const AudioBlock& block : recording.sound) c.sound_samples += block.size;
  return c;
}

}  // namespace

TEST_F(LiveCamerasTest, TheSoundPlaysInStepWithTheNoisyPicture) {
  struct Case {
    const char* sound;
    bool udp, sound_first;
    const char* codec;
    int rate;
  } cases[] = {{"aac", false, false, "AAC", 16000}, {"pcma", true, true, "PCMA", 8000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec);
    RtspTestServerOptions options;
    options.sound = c.sound;
    options.sound_first = c.sound_first;
    options.size = "1280x720";
    options.pattern = "snow";
    options.bitrate_kbps = 3000;
    auto server = start_server(options);
    ASSERT_TRUE(server);
    LiveViewOptions view;
    view.session.prefer_udp = c.udp;
    const LiveViewStats stats = watch_for(rtsp_test_server_url(*server), 7, view);
    EXPECT_EQ(stats.info.sound_codec, c.codec) << printed;
    EXPECT_EQ(stats.info.sound_rate, c.rate);
    EXPECT_GT(stats.pictures_shown, 60) << printed;
    // Several seconds of sound decoded, all of it queued (with the silence of a lead).
    EXPECT_GT(stats.sound_samples_decoded, 4 * c.rate);
    EXPECT_GE(stats.sound_samples_queued, static_cast<uint64_t>(stats.sound_samples_decoded) * 9 / 10);
    EXPECT_GT(stats.first_sound_ms, 0u);
    // Once the sender reports place both streams, each picture shows near
    // the sound heard with it (the benchmark holds it to 100 ms).
    ASSERT_GT(stats.sync.samples, 20) << "no picture shown against reported times";
    EXPECT_LT(stats.sync.sum_abs_s / stats.sync.samples, 0.25);
  }
}

TEST_F(LiveCamerasTest, TheRecordKeyRecordsAndAReconnectBeginsANewFile) {
  RtspTestServerOptions options;
  options.sound = "pcma";
  auto first = start_server(options);
  ASSERT_TRUE(first);
  const int port = first->port;
  std::unique_ptr<RtspServerProcess> second;
  std::atomic<bool> restarted{false};
  std::thread user([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    push_key(SDLK_r);  // record
    std::this_thread::sleep_for(std::chrono::seconds(2));
    first.reset();  // the camera is gone
    RtspTestServerOptions again = options;
    again.port = port;
    std::string error;
    second = start_rtsp_test_server(again, error);
    restarted = second != nullptr;
    if (second) wait_for_rtsp_test_server_log(*second, "REQUEST PLAY", 15000);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    push_key(SDLK_r);  // stop
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    push_key(SDLK_ESCAPE);
  });
  LiveViewOptions view;
  view.session = quick_live_settings();
  view.record.folder = folder.string();
  view.name = "porch";
  LiveViewStats stats;
  view.stats_out = &stats;
  testing::internal::CaptureStdout();
  run_live_view_with(rtsp_test_server_url(*first), canvas.window.get(), canvas.renderer.get(), view);
  printed = testing::internal::GetCapturedStdout();
  user.join();
  ASSERT_TRUE(restarted);
  const std::vector<fs::path> files = recordings();
  ASSERT_EQ(files.size(), 2u) << printed;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file);
    EXPECT_EQ(file.filename().string().rfind("porch_", 0), 0u);
    const Contents c = contents_of(file);
    EXPECT_GT(c.pictures, 10);
    EXPECT_GT(c.sound_samples, 8000);
  }
  EXPECT_NE(printed.find("Recording: " + files[0].string()), std::string::npos) << printed;
  EXPECT_FALSE(stats.recording.active);
  EXPECT_EQ(stats.recording.finished.size(), 2u);
}

TEST_F(LiveCamerasTest, AGridKeepsPlayingWhileOneCameraIsGoneAndItComesBack) {
  std::array<std::unique_ptr<RtspServerProcess>, 4> servers;
  std::vector<GridCamera> cameras;
  for (size_t i = 0; i < servers.size(); ++i) {
    RtspTestServerOptions options;
    options.pattern = i == 1 ? "blue" : "smpte";
    if (i == 3) options.sound = "aac";
    servers[i] = start_server(options);
    ASSERT_TRUE(servers[i]);
    cameras.push_back({"CAM " + std::to_string(i + 1), rtsp_test_server_url(*servers[i])});
  }
  const int port = servers[1]->port;
  // What the cells showed: when the camera was stopped, and when it was back.
  std::atomic<int> phase{0};  // 0 starting, 1 all showing, 2 stopped, 3 started again
  std::array<std::atomic<int64_t>, 4> latest{};
  std::array<int64_t, 4> at_stop{}, at_restart{};
  std::array<uint64_t, 4> connections{};
  std::thread operator_thread([&] {
    for (int waited = 0; phase < 1 && waited < 30000; waited += 20) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (phase < 1) return;
    for (size_t i = 0; i < 4; ++i) at_stop[i] = latest[i];
    servers[1].reset();
    phase = 2;
    std::this_thread::sleep_for(std::chrono::seconds(3));  // longer than the silence limit
    for (size_t i = 0; i < 4; ++i) at_restart[i] = latest[i];
    RtspTestServerOptions options;
    options.pattern = "blue";
    options.port = port;
    std::string error;
    servers[1] = start_rtsp_test_server(options, error);
    phase = 3;
  });
  GridOptions options;
  options.session = quick_live_settings();
  const auto started = std::chrono::steady_clock::now();
  options.watch = [&](const std::vector<GridCellStatus>& cells) {
    bool all = cells.size() == 4;
    for (size_t i = 0; i < cells.size(); ++i) {
      latest[i] = cells[i].pictures_shown;
      connections[i] = cells[i].connection;
      all = all && cells[i].pictures_shown > 3;
    }
    if (phase == 0 && all) phase = 1;
    const bool back = phase == 3 && cells[1].connection >= 2 && cells[1].pictures_shown > at_restart[1] + 5;
    return !back && std::chrono::steady_clock::now() - started < std::chrono::seconds(60);
  };
  testing::internal::CaptureStdout();
  const bool open = run_camera_grid(canvas.window.get(), canvas.renderer.get(), cameras, options);
  const std::string grid_output = testing::internal::GetCapturedStdout();
  operator_thread.join();
  EXPECT_TRUE(open);
  ASSERT_EQ(phase.load(), 3) << grid_output;
  ASSERT_TRUE(servers[1]) << "the stopped camera's server did not start again";
  // The other three kept showing pictures while the second was gone, on their first connection.
  for (size_t i : {0u, 2u, 3u}) {
    SCOPED_TRACE(i);
    EXPECT_GT(at_restart[i] - at_stop[i], 25);
    EXPECT_EQ(connections[i], 1u);
  }
  // The second came back on its own with a new connection, and shows again.
  EXPECT_GE(connections[1], 2u);
  EXPECT_GT(latest[1], at_restart[1] + 5);
}
