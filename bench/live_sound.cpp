// The live view's sound against GStreamer's RTSP server (a 720p25 noisy
// picture with a PCMA or an AAC tone), headless with SDL's dummy audio driver
// (which takes its queue at the real rate):
//  - time to the first sound queued to the device, against GStreamer's own
//    RTSP client (bench/gst_rtsp_client.py) to its first decoded sound, in
//    the same run (median of 5 each);
//  - the A/V offset while pictures are shown: each picture's time minus the
//    time of the sound being heard when it was shown, once both streams'
//    sender reports place them (target: at most 100 ms on average and at the
//    99th percentile is not kept; the mean of |offset| and the largest are
//    printed). The reference is the same stream shown as it arrives, without
//    waiting for the sound (each picture at once), measured the same way.
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_servers.h"
#include "ui/live_view.h"

namespace {

// The live view for `seconds`; its statistics.
LiveViewStats view(const std::string& url, int seconds, bool udp, bool wait_for_sound = true) {
  SDL_Window* window = SDL_CreateWindow("bench", 0, 0, 1280, 720, SDL_WINDOW_HIDDEN);
  SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE) : nullptr;
  LiveViewStats stats;
  if (!renderer) return stats;
  std::thread user([seconds] {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
  });
  LiveViewOptions options;
  options.session.prefer_udp = udp;
  options.stats_out = &stats;
  options.pictures_wait_for_sound = wait_for_sound;
  run_live_view_with(url, window, renderer, options);
  user.join();
  SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);
  return stats;
}

double mean_abs_ms(const AvSyncStats& s) { return s.samples ? 1000 * s.sum_abs_s / s.samples : -1; }
double mean_ms(const AvSyncStats& s) { return s.samples ? 1000 * s.sum_s / s.samples : -1; }

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_AUDIO) != 0) {
    std::printf("SDL did not start: %s\n", SDL_GetError());
    return 1;
  }
  std::printf("(a shared machine: figures vary from run to run)\n");
  for (const char* sound : {"pcma", "aac"}) {
    BenchServer server;
    if (!start_bench_server(server, {"--size", "1280x720", "--pattern", "snow", "--bitrate", "3000", "--sound", sound})) {
      std::printf("the test server with %s did not start\n", sound);
      return 1;
    }
    std::vector<double> ours, theirs;
    for (int run = 0; run < 5; ++run) {
      ours.push_back(view(bench_server_url(server), 3, false).first_sound_ms);
      theirs.push_back(gstreamer_figure(bench_server_url(server) + " tcp h264 first-sound", "FIRST_SOUND_MS "));
    }
    const double a = median(ours), b = median(theirs);
    std::printf("Time to first sound, %s over TCP, median of 5 (ms): live view %.1f, GStreamer %.1f, ratio %.2f\n",
                sound, a, b, b > 0 ? a / b : 0);
    for (const bool udp : {false, true}) {
      const LiveViewStats stats = view(bench_server_url(server), 20, udp);
      const LiveViewStats arrival = view(bench_server_url(server), 20, udp, false);
      std::printf("A/V offset, %s over %s, 20 s each (target: mean |offset| <= 100 ms):\n", sound, udp ? "UDP" : "TCP");
      std::printf("  sound as the clock: %lld pictures, mean %.1f ms, mean |offset| %.1f ms, largest %.1f ms"
                  " (before the sender reports: %lld pictures, mean |offset| %.1f ms)\n",
                  static_cast<long long>(stats.sync.samples), mean_ms(stats.sync), mean_abs_ms(stats.sync),
                  1000 * stats.sync.max_abs_s, static_cast<long long>(stats.sync_by_arrival.samples),
                  mean_abs_ms(stats.sync_by_arrival));
      std::printf("  shown as they come: %lld pictures, mean %.1f ms, mean |offset| %.1f ms, largest %.1f ms\n",
                  static_cast<long long>(arrival.sync.samples), mean_ms(arrival.sync), mean_abs_ms(arrival.sync),
                  1000 * arrival.sync.max_abs_s);
      std::printf("  ratio of mean |offset|: %.2f (to the target: %.2f); sound: %llu samples queued, %.2f s of"
                  " silence, %.2f s cut\n",
                  mean_abs_ms(arrival.sync) > 0 ? mean_abs_ms(stats.sync) / mean_abs_ms(arrival.sync) : 0,
                  mean_abs_ms(stats.sync) / 100.0, static_cast<unsigned long long>(stats.sound_samples_queued),
                  stats.silence_s, stats.cut_s);
    }
  }
  SDL_Quit();
  return 0;
}
