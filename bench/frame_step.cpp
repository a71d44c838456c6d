// Frame steps back on a camera's recording: 1080p with sensor noise at
// 6 Mbit/s, 25 fps, a key frame every 2 s. Measured in the same run:
//  - the reference: a fresh decoder (two threads, as the stepper's) decoding
//    one whole group from its key frame, the least a first step back into a
//    group can cost when nothing was decoded ahead;
//  - a step back pressed while playing (the pictures just shown are kept),
//    as the player does it: decoding, upload, drawing the 1920 x 1080
//    window headless;
//  - a held key: steps back one per pass of the paused loop, which decodes
//    ahead between them;
//  - a step back into a group of which nothing is kept, at once after a
//    paused seek: the stepper decodes the whole group first;
//  - the same after standing paused long enough to decode it ahead.
// Target: a step back within 100 ms. Each figure is the median of several runs;
// the ratios are against the reference.
//
//   frame_step [--runs N]
extern "C" {
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "player/controls.h"
#include "player/engine.h"
#include "media/nal_packet.h"
#include "player/video_output.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Standard output goes nowhere while it lives.
struct QuietStdout {
  int saved = dup(STDOUT_FILENO);
  QuietStdout() {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      close(null);
    }
  }
  ~QuietStdout() {
    if (saved >= 0) {
      dup2(saved, STDOUT_FILENO);
      close(saved);
    }
  }
};

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string load_average() {
  std::ifstream f("/proc/loadavg");
  std::string one, five;
  f >> one >> five;
  return one + " " + five;
}

bool make_camera_recording(const std::string& path) {
  const std::string cmd = std::string(H264_TOOLS_DIR) + "/make_recording --out " + path +
                          " --width 1920 --height 1080 --fps 25 --gop 50 --noise 8 --bitrate 6000"
                          " --frames 150 > /dev/null";
  return std::system(cmd.c_str()) == 0;
}

// A fresh two-thread decoder decoding the group of key frame `key` (50
// pictures) from its parameter sets to its last picture.
double decode_group_ms(const Recording& rec, int key, int pictures) {
  const Clock::time_point t0 = Clock::now();
  CodecContextPtr codec = open_h264_decoder(2, false).codec;
  FramePtr frame(av_frame_alloc());
  if (!codec || !frame) return -1;
  const int64_t first = rec.frames[static_cast<size_t>(key)];
  const ParameterSets sets = find_parameter_sets_before(rec.units, first);
  int received = 0;
  auto send = [&](const NalUnit& u) {
    PacketPtr packet = make_nal_packet(u.data, static_cast<size_t>(u.size));
    send_packet_taking_waiting_pictures(codec.get(), frame.get(), packet.get(), [&] { ++received; });
    while (avcodec_receive_frame(codec.get(), frame.get()) == 0) ++received;
  };
  send(rec.units[static_cast<size_t>(sets.sps)]);
  send(rec.units[static_cast<size_t>(sets.pps)]);
  const int64_t last = rec.frames[static_cast<size_t>(key + pictures - 1)];
  for (int64_t u = first; u <= last; ++u) {
    if (is_decoded_unit_type(rec.units[static_cast<size_t>(u)].type)) send(rec.units[static_cast<size_t>(u)]);
  }
  send_packet_taking_waiting_pictures(codec.get(), frame.get(), nullptr, [&] { ++received; });
  while (avcodec_receive_frame(codec.get(), frame.get()) == 0) ++received;
  const double ms = ms_since(t0);
  return received >= pictures ? ms : -1;
}

struct StepFigures {
  double first_ms = 0;         // right after playing: the pictures just shown are kept
  double held_ms = 0;          // a held key: one step per pass of the paused loop, median
  double held_max_ms = 0;      // and the slowest of them
  double cold_ms = 0;          // into a group of which nothing is kept (right after a paused seek)
  double after_pause_ms = 0;   // the same after standing paused long enough
  bool pictures_right = true;  // every step showed the picture before
};

double timed_step_back(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer, bool& right) {
  const int before = st.shown_frame;
  const Clock::time_point t0 = Clock::now();
  step_picture(st, window, renderer, -1);
  const double ms = ms_since(t0);
  right = right && st.shown_frame == before - 1;
  return ms;
}

StepFigures time_steps(const std::string& path, SDL_Window* window, SDL_Renderer* renderer,
                       int held_steps) {
  StepFigures f;
  PlayerState st;
  if (!open_playback(st, path)) {
    f.pictures_right = false;
    return f;
  }
  PlaybackOptions options;
  options.pacing = false;
  while (playback_running(st) && st.shown_frame < 99) run_playback_step(st, window, renderer, options);
  // The key pressed while playing: pause and step back at once.
  f.first_ms = timed_step_back(st, window, renderer, f.pictures_right);
  // Held down: key repeats come a pass of the paused loop apart.
  std::vector<double> held;
  for (int i = 0; i < held_steps; ++i) {
    run_playback_step(st, window, renderer, options);
    held.push_back(timed_step_back(st, window, renderer, f.pictures_right));
  }
  f.held_ms = median(held);
  f.held_max_ms = *std::max_element(held.begin(), held.end());
  // A paused seek to the next key frame and a step back at once: the group
  // before is decoded with nothing kept.
  seek_to_frame(st, 100);
  run_playback_step(st, window, renderer, options);  // shows the key frame
  reset_stepper(st.stepper);                         // without its decoding ahead
  int tag = -1;
  const AVFrame* key = stepper_picture_from(st.stepper, 100, &tag);
  f.pictures_right = f.pictures_right && key && tag == 100 && st.shown_frame == 100;
  f.cold_ms = timed_step_back(st, window, renderer, f.pictures_right);
  // Back at the key frame, standing paused until the group before is decoded ahead.
  reset_stepper(st.stepper);
  step_picture(st, window, renderer, 1);
  for (int pass = 0; pass < 1000; ++pass) {
    run_playback_step(st, window, renderer, options);
    if (stepper_decode_ahead(st.stepper, st.shown_frame, 0)) break;
  }
  f.after_pause_ms = timed_step_back(st, window, renderer, f.pictures_right);
  close_playback(st);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
  }
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("SDL_RENDER_DRIVER", "software", 0);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  av_log_set_level(AV_LOG_QUIET);
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER) < 0) {
    std::printf("SDL cannot start: %s\n", SDL_GetError());
    return 1;
  }
  char pattern[] = "/tmp/frame-step-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  const std::string path = dir + "/camera.264";
  std::printf("making 1080p, 25 fps, key frame every 50, sensor noise, 6000 kbit/s, 150 pictures\n");
  if (!make_camera_recording(path)) return 1;
  Recording rec;
  if (read_recording_payload(path, rec) != LoadStatus::ok) return 1;
  rec.units = index_nal_units(rec.payload(), rec.length);
  rec.frames = build_frame_list(rec.units);

  SDL_Window* window = SDL_CreateWindow("H.264 Player", 0, 0, 1920, 1080, SDL_WINDOW_HIDDEN);
  SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE) : nullptr;
  if (!renderer) return 1;
  std::vector<double> reference, first, held, held_max, cold, after_pause;
  bool right = true;
  for (int run = 0; run < runs; ++run) {
    reference.push_back(decode_group_ms(rec, 50, 50));
    StepFigures f;
    {
      QuietStdout quiet;  // the player's "Loaded:" and "Resolution:" lines
      f = time_steps(path, window, renderer, 30);
    }
    first.push_back(f.first_ms);
    held.push_back(f.held_ms);
    held_max.push_back(f.held_max_ms);
    cold.push_back(f.cold_ms);
    after_pause.push_back(f.after_pause_ms);
    right = right && f.pictures_right;
  }
  const double ref = median(reference);
  std::printf("load average %s; medians of %d runs\n", load_average().c_str(), runs);
  std::printf("reference: a fresh decoder decodes one 2 s group (50 pictures) in %.1f ms\n", ref);
  const auto report = [ref](const char* what, double ms) {
    std::printf("%s: %.1f ms (ratio %.3f; target <= 100 ms: %s)\n", what, ms, ms / ref,
                ms <= 100 ? "met" : "NOT met");
  };
  report("step back pressed while playing (the pictures just shown are kept)", median(first));
  report("held key, one step back per pass of the paused loop, median", median(held));
  report("held key, slowest step", median(held_max));
  report("step back into a group of which nothing is kept (at once after a paused seek)", median(cold));
  report("the same after standing paused until the group is decoded ahead", median(after_pause));
  std::printf("every step showed the picture before: %s\n", right ? "yes" : "NO");
  SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);
  std::filesystem::remove_all(dir);
  SDL_Quit();
  return right ? 0 : 1;
}
