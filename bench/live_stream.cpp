// The live view against GStreamer's RTSP server, with GStreamer's own RTSP
// client (bench/gst_rtsp_client.py, FFmpeg's decoders through gst-libav) as
// the reference measured in the same run:
//  - time to the first decoded picture, H.264 and H.265, over TCP and UDP
//    (median of 5 runs each, and our time over GStreamer's);
//  - CPU share of the whole live view (network, decoding, upload and
//    presentation in a 1920x1080 window, software renderer) while showing
//    1080p25, against GStreamer decoding the same stream without showing it;
//  - pictures the live view's worker decoded over UDP against over TCP, on
//    the same camera-like stream (noise at a camera's bit rate, 720p and
//    1080p, each picture counted against what the server sent; target: a
//    ratio of at least 0.98).
// The server runs in its own process; its CPU is not counted.

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_servers.h"
#include "rtsp/live_session.h"
#include "ui/live_view.h"

namespace {

using Clock = std::chrono::steady_clock;

// Ours: the live view's network session until its first picture is handed over.
double our_first_picture_ms(const std::string& url, bool udp) {
  LiveSessionSettings settings;
  settings.prefer_udp = udp;
  LiveLink link;
  const Clock::time_point start = Clock::now();
  std::thread worker([&] { run_live_session(url, settings, link); });
  double ms = -1;
  while (!link.finished && Clock::now() - start < std::chrono::seconds(20)) {
    {
      std::lock_guard<std::mutex> hold(link.lock);
      if (!link.pictures.empty()) {
        ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        break;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  link.cancel = true;
  worker.join();
  return ms;
}

// CPU share of the whole live view showing the stream for `seconds`.
double our_cpu_percent(const std::string& url, int seconds) {
  SDL_Window* window = SDL_CreateWindow("bench", 0, 0, 1920, 1080, SDL_WINDOW_HIDDEN);
  SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE) : nullptr;
  if (!renderer) return -1;
  std::thread user([seconds] {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
  });
  const double cpu_before = cpu_seconds();
  const Clock::time_point start = Clock::now();
  run_live_view(url, window, renderer);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = cpu_seconds() - cpu_before;
  user.join();
  SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);
  return 100 * cpu / wall;
}

// The pictures the live view's worker decodes from one whole stream of a
// server started with --count: the session runs until the server has sent its
// last picture and a second more.
int64_t our_pictures_of_whole_stream(BenchServer& server, bool udp) {
  *server.sent = -1;
  LiveSessionSettings settings;
  settings.prefer_udp = udp;
  LiveLink link;
  link.main_listening = false;
  std::thread worker([&] { run_live_session(bench_server_url(server), settings, link); });
  const Clock::time_point start = Clock::now();
  while (*server.sent < 0 && !link.finished && Clock::now() - start < std::chrono::seconds(60))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  link.cancel = true;
  worker.join();
  return link.pictures_decoded;
}

// UDP against TCP on the same noisy stream at `size` and `kbps`, `pictures` long.
bool compare_udp_with_tcp(const char* size, int kbps, int pictures) {
  BenchServer server;
  if (!start_bench_server(server, {"--codec", "h264", "--size", size, "--pattern", "snow", "--bitrate", std::to_string(kbps), "--count", std::to_string(pictures)})) {
    std::printf("the h264 test server did not start\n");
    return false;
  }
  const int64_t tcp = our_pictures_of_whole_stream(server, false);
  const int tcp_sent = *server.sent;
  const int64_t udp = our_pictures_of_whole_stream(server, true);
  const int udp_sent = *server.sent;
  std::printf("  %s at %d kbit/s: UDP %lld of %d sent, TCP %lld of %d sent, ratio %.3f\n", size, kbps,
              static_cast<long long>(udp), udp_sent, static_cast<long long>(tcp), tcp_sent,
              tcp > 0 ? static_cast<double>(udp) / static_cast<double>(tcp) : 0.0);
  return true;
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    std::printf("SDL did not start: %s\n", SDL_GetError());
    return 1;
  }
  std::printf("(a shared machine: figures vary from run to run)\n");
  std::printf("Time to first picture, median of 5 (ms):\n");
  for (const char* codec : {"h264", "h265"}) {
    BenchServer server;
    if (!start_bench_server(server, {"--codec", codec, "--size", "320x240"})) {
      std::printf("the %s test server did not start\n", codec);
      return 1;
    }
    for (const bool udp : {false, true}) {
      std::vector<double> ours, theirs;
      for (int run = 0; run < 5; ++run) {
        ours.push_back(our_first_picture_ms(bench_server_url(server), udp));
        theirs.push_back(gstreamer_figure(bench_server_url(server) + (udp ? " udp " : " tcp ") + codec + " first", "FIRST_MS "));
      }
      const double a = median(ours), b = median(theirs);
      std::printf("  %s over %s: live view %.1f, GStreamer %.1f, ratio %.2f\n", codec, udp ? "UDP" : "TCP", a, b,
                  b > 0 ? a / b : 0);
    }
  }
  std::printf("CPU share at 1080p25 over TCP, 10 s (%% of one core):\n");
  for (const char* codec : {"h264", "h265"}) {
    BenchServer server;
    if (!start_bench_server(server, {"--codec", codec, "--size", "1920x1080"})) {
      std::printf("the %s test server did not start\n", codec);
      return 1;
    }
    const double ours = our_cpu_percent(bench_server_url(server), 10);
    const std::string arguments = bench_server_url(server) + " tcp " + codec + " cpu 10";
    const double theirs = gstreamer_figure(arguments, "CPU_PERCENT ");
    // The server encodes on the same shared cores and may not keep up with 25 per second.
    const double pictures = gstreamer_figure(arguments, "PICTURES ");
    // Scaled to 25 pictures per second when the server fell short of it.
    const double scale = pictures > 0 && pictures < 250 ? 250.0 / pictures : 1.0;
    std::printf("  %s: live view (decode and show) %.1f, GStreamer (decode only) %.1f, ratio %.2f"
                " (the server delivered %.0f pictures in 10 s; at 25 per second about %.1f and %.1f)\n",
                codec, ours, theirs, theirs > 0 ? ours / theirs : 0, pictures, ours * scale, theirs * scale);
  }
  std::printf("Pictures decoded over UDP against TCP, noisy camera stream of 250 pictures (target >= 0.98):\n");
  if (!compare_udp_with_tcp("1280x720", 4000, 250) || !compare_udp_with_tcp("1920x1080", 8000, 250)) return 1;
  SDL_Quit();
  return 0;
}
