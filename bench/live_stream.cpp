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
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "rtsp/live_session.h"
#include "ui/live_view.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Server {
  pid_t pid = -1;
  int port = 0;
  // Pictures sent on the stream that ended last ("SENT n"); -1 while none has ended.
  std::shared_ptr<std::atomic<int>> sent = std::make_shared<std::atomic<int>>(-1);
  ~Server() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

// Starts the test server (with `more` arguments) and reads its "PORT n" line;
// false when it did not start.
bool start_server(Server& server, const std::string& codec, const std::string& size,
                  const std::vector<std::string>& more = {}) {
  const std::string script = std::string(H264_SOURCE_DIR) + "/tests/support/rtsp_test_server.py";
  std::vector<std::string> args = {"/usr/bin/python3", script, "--codec", codec, "--size", size};
  args.insert(args.end(), more.begin(), more.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const bool spawned = posix_spawn(&server.pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (!spawned) return false;
  FILE* lines = fdopen(out[0], "r");
  char line[256];
  while (lines && std::fgets(line, sizeof line, lines))
    if (std::sscanf(line, "PORT %d", &server.port) == 1) break;
  // The rest of its output ("REQUEST ...") is drained by a thread, which notes "SENT n".
  std::thread([lines, sent = server.sent] {
    char rest[256];
    int n = 0;
    while (lines && std::fgets(rest, sizeof rest, lines))
      if (std::sscanf(rest, "SENT %d", &n) == 1) *sent = n;
    if (lines) std::fclose(lines);
  }).detach();
  return server.port > 0;
}

std::string url_of(const Server& server) { return "rtsp://127.0.0.1:" + std::to_string(server.port) + "/test"; }

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

// Runs the reference client and returns the number after `key` in its output.
double gstreamer_figure(const std::string& arguments, const char* key) {
  const std::string command = "/usr/bin/python3 " + std::string(H264_SOURCE_DIR) +
                              "/bench/gst_rtsp_client.py " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char output[512] = {};
  size_t n = std::fread(output, 1, sizeof output - 1, pipe);
  output[n] = 0;
  pclose(pipe);
  const char* at = std::strstr(output, key);
  return at ? std::atof(at + std::strlen(key)) : -1;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? -1 : values[values.size() / 2];
}

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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
int64_t our_pictures_of_whole_stream(Server& server, bool udp) {
  *server.sent = -1;
  LiveSessionSettings settings;
  settings.prefer_udp = udp;
  LiveLink link;
  link.main_listening = false;
  std::thread worker([&] { run_live_session(url_of(server), settings, link); });
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
  Server server;
  if (!start_server(server, "h264", size,
                    {"--pattern", "snow", "--bitrate", std::to_string(kbps), "--count", std::to_string(pictures)})) {
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
    Server server;
    if (!start_server(server, codec, "320x240")) {
      std::printf("the %s test server did not start\n", codec);
      return 1;
    }
    for (const bool udp : {false, true}) {
      std::vector<double> ours, theirs;
      for (int run = 0; run < 5; ++run) {
        ours.push_back(our_first_picture_ms(url_of(server), udp));
        theirs.push_back(gstreamer_figure(url_of(server) + (udp ? " udp " : " tcp ") + codec + " first", "FIRST_MS "));
      }
      const double a = median(ours), b = median(theirs);
      std::printf("  %s over %s: live view %.1f, GStreamer %.1f, ratio %.2f\n", codec, udp ? "UDP" : "TCP", a, b,
                  b > 0 ? a / b : 0);
    }
  }
  std::printf("CPU share at 1080p25 over TCP, 10 s (%% of one core):\n");
  for (const char* codec : {"h264", "h265"}) {
    Server server;
    if (!start_server(server, codec, "1920x1080")) {
      std::printf("the %s test server did not start\n", codec);
      return 1;
    }
    const double ours = our_cpu_percent(url_of(server), 10);
    const std::string arguments = url_of(server) + " tcp " + codec + " cpu 10";
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
