// Decode throughput of the file player with pacing off: made 720p and 1080p
// recordings are decoded, uploaded and drawn (software renderer, headless) as
// fast as they go, and compared with `ffmpeg -threads 4` decoding the same
// units to nowhere, measured in the same run (target ratio: at least 0.9).
// Twice: every picture drawn, and drawing at the screen's rate while the
// decoding thread runs on (what fast-forward does); the CPU time per picture
// of both sides shows what two shared cores allow.
// Rates are pictures per second of the decoding loops: the player's first to
// last picture against ffmpeg's own -benchmark time; whole-run times follow.
// Then a long playback samples the resident memory, which must not grow.
//
//   decode_throughput [--seconds S] [--long-seconds S]
extern "C" {
#include <libavutil/log.h>
}
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "player/engine.h"
#include "recording/recording.h"
#include "ffmpeg_reference.h"

namespace {

bool make_recording(const std::string& path, int w, int h, double seconds) {
  const std::string cmd = std::string(H264_TOOLS_DIR) + "/make_recording --out " + path +
                          " --width " + std::to_string(w) + " --height " + std::to_string(h) +
                          " --fps 25 --gop 50 --audio --duration " + std::to_string(seconds) +
                          " > /dev/null";
  return std::system(cmd.c_str()) == 0;
}

struct PlayerRun {
  double seconds = 0;         // the whole playback: load, decode and draw, finish, tear-down
  double steady_seconds = 0;  // first picture on screen to the last one
  int64_t pictures = 0;
  double main_cpu_seconds = 0;  // the drawing thread's CPU time, first to last picture
  double all_cpu_seconds = 0;   // every thread's
};

double cpu_seconds(int who) {
  struct rusage usage {};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

PlayerRun time_player(const std::string& path, PlaybackOptions options = {}) {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  PlaybackStats stats;
  options.pacing = false;
  options.stats_out = &stats;
  using Clock = std::chrono::steady_clock;
  Clock::time_point first_picture{}, last_picture{};
  double main_cpu0 = 0, all_cpu0 = 0, main_cpu1 = 0, all_cpu1 = 0;
  auto user_on_picture = options.on_picture;
  options.on_picture = [&](PlayerState& st) {
    if (first_picture == Clock::time_point{}) {
      first_picture = Clock::now();
      main_cpu0 = cpu_seconds(RUSAGE_THREAD);
      all_cpu0 = cpu_seconds(RUSAGE_SELF);
    }
    if (user_on_picture) user_on_picture(st);
  };
  options.on_finished = [&](PlayerState&) {
    last_picture = Clock::now();
    main_cpu1 = cpu_seconds(RUSAGE_THREAD);
    all_cpu1 = cpu_seconds(RUSAGE_SELF);
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.keysym.sym = SDLK_ESCAPE;
    SDL_PushEvent(&key);
  };
  const auto t0 = std::chrono::steady_clock::now();
  play_recording_with(path, window, renderer, options);
  PlayerRun run{seconds_since(t0),
                std::chrono::duration<double>(last_picture - first_picture).count(),
                stats.pictures_shown + stats.pictures_drained + stats.pictures_dropped,
                main_cpu1 - main_cpu0,
                all_cpu1 - all_cpu0};
  if (renderer) SDL_DestroyRenderer(renderer);
  if (window) SDL_DestroyWindow(window);
  return run;
}

// The player's decoder alone, one packet per unit, nothing drawn: shows how
// much of a picture's time goes to uploading and drawing.
double decode_only_rate(const std::string& path) {
  Recording rec;
  if (read_recording_payload(path, rec) != LoadStatus::ok) return 0;
  rec.units = index_nal_units(rec.payload(), rec.length);
  VideoOutput video;
  if (!setup_video_decoder(video, 4)) return 0;
  int64_t pictures = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (const NalUnit& unit : rec.units) decode_nal_unit(video, unit, [&] { ++pictures; });
  drain_decoder(video, [&] { ++pictures; });
  const double rate = pictures / seconds_since(t0);
  teardown_video_output(video);
  return rate;
}

long resident_kib() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return -1;
  long pages = 0, resident = 0;
  const int n = std::fscanf(f, "%ld %ld", &pages, &resident);
  std::fclose(f);
  return n == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

bool compare_with_ffmpeg(const std::string& dir, int w, int h, double seconds) {
  const std::string name = dir + "/bench_" + std::to_string(h) + "p";
  if (!make_recording(name + ".264", w, h, seconds)) return false;
  if (!write_decoder_units(name + ".264", name + ".h264")) return false;
  double best_ffmpeg = 1e9, best_ffmpeg_decode = 1e9, best_player = 1e9, best_steady = 1e9;
  double best_iyuv_steady = 1e9, best_screen_steady = 1e9;
  double best_decode_only = 0;
  int64_t pictures = 0;
  FfmpegRun best_f;
  PlayerRun best_run;
  for (int i = 0; i < 3; ++i) {
    best_decode_only = std::max(best_decode_only, decode_only_rate(name + ".264"));
    const FfmpegRun f = time_ffmpeg(name + ".h264");
    if (f.seconds < 0 || f.decode_seconds <= 0) {
      std::printf("ffmpeg could not decode %s.h264\n", name.c_str());
      return false;
    }
    best_ffmpeg = std::min(best_ffmpeg, f.seconds);
    if (f.decode_seconds < best_ffmpeg_decode) best_f = f;
    best_ffmpeg_decode = std::min(best_ffmpeg_decode, f.decode_seconds);
    const PlayerRun run = time_player(name + ".264");
    best_player = std::min(best_player, run.seconds);
    if (run.steady_seconds > 0 && run.steady_seconds < best_steady) best_run = run;
    if (run.steady_seconds > 0) best_steady = std::min(best_steady, run.steady_seconds);
    pictures = run.pictures;
    PlaybackOptions iyuv;
    iyuv.allow_direct_rgb = false;
    const PlayerRun iyuv_run = time_player(name + ".264", iyuv);
    if (iyuv_run.steady_seconds > 0) best_iyuv_steady = std::min(best_iyuv_steady, iyuv_run.steady_seconds);
    PlaybackOptions screen;
    screen.every_picture = false;
    const PlayerRun screen_run = time_player(name + ".264", screen);
    if (screen_run.steady_seconds > 0) {
      best_screen_steady = std::min(best_screen_steady, screen_run.steady_seconds);
    }
  }
  // Steady figures compare the decoding loops: the player's first to last
  // picture against ffmpeg's own -benchmark time. The whole-run figures add
  // start-up and tear-down on both sides; closing SDL's dummy or disk sound
  // device alone takes about 0.27 s, waiting for its thread's sleep.
  const double player_rate = (pictures - 1) / best_steady;
  const double ffmpeg_rate = pictures / best_ffmpeg_decode;
  std::printf("%dx%d: %lld pictures, every one drawn: player %.1f pictures/s, ffmpeg -threads 4 "
              "%.1f pictures/s, ratio %.2f (drawing costs CPU time the decoder needs: see below)\n",
              w, h, static_cast<long long>(pictures), player_rate, ffmpeg_rate,
              player_rate / ffmpeg_rate);
  const double screen_rate = (pictures - 1) / best_screen_steady;
  std::printf("%dx%d: decoding while drawing at the screen's rate (60 Hz, the newest picture): "
              "%.1f pictures/s, ratio %.2f (target >= 0.9)\n",
              w, h, screen_rate, screen_rate / ffmpeg_rate);
  const double iyuv_rate = (pictures - 1) / best_iyuv_steady;
  std::printf("%dx%d: with the IYUV texture that accelerated renderers get, which SDL's software "
              "renderer converts itself: %.1f pictures/s, ratio %.2f\n",
              w, h, iyuv_rate, iyuv_rate / ffmpeg_rate);
  std::printf("%dx%d: whole runs, start-up and tear-down included: player %.2f s, ffmpeg %.2f s, "
              "ratio %.2f\n",
              w, h, best_player, best_ffmpeg, best_ffmpeg / best_player);
  std::printf("%dx%d: the player's decoder alone, nothing drawn: %.1f pictures/s (ratio %.2f)\n",
              w, h, best_decode_only, best_decode_only / ffmpeg_rate);
  // With both cores busy decoding, the drawing thread's CPU time comes out
  // of the decoder's: the rate is bounded by the CPU time per picture.
  std::printf("%dx%d: CPU per picture: ffmpeg %.2f ms; player %.2f ms, of which the drawing "
              "thread %.2f ms (conversion, copy, overlay)\n",
              w, h, 1000 * best_f.cpu_seconds / pictures, 1000 * best_run.all_cpu_seconds / pictures,
              1000 * best_run.main_cpu_seconds / pictures);
  return true;
}

void check_memory(const std::string& dir, double seconds) {
  const std::string path = dir + "/bench_long.264";
  if (!make_recording(path, 640, 360, seconds)) return;
  std::vector<long> samples;
  PlaybackOptions options;
  options.on_picture = [&](PlayerState& st) {
    if (st.stats.pictures_shown % 100 == 0) samples.push_back(resident_kib());
  };
  const PlayerRun run = time_player(path, options);
  if (samples.size() < 4) return;
  const size_t quarter = samples.size() / 4;
  const long early = *std::max_element(samples.begin(), samples.begin() + quarter);
  const long late = *std::max_element(samples.end() - quarter, samples.end());
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("long playback 640x360, %lld pictures: resident %ld KiB in the first quarter, "
              "%ld KiB in the last (growth %+ld KiB); max RSS of the run %ld KiB\n",
              static_cast<long long>(run.pictures), early, late, late - early, usage.ru_maxrss);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 20, long_seconds = 240;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--long-seconds")) long_seconds = std::atof(argv[i + 1]);
  }
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("SDL_RENDER_DRIVER", "software", 0);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  av_log_set_level(AV_LOG_QUIET);  // as the program does: the decoder's notes are not figures
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER | SDL_INIT_AUDIO) < 0) {
    std::printf("SDL cannot start: %s\n", SDL_GetError());
    return 1;
  }
  char pattern[] = "/tmp/decode-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  bool ok = compare_with_ffmpeg(dir, 1280, 720, seconds) &&
            compare_with_ffmpeg(dir, 1920, 1080, seconds);
  if (ok) check_memory(dir, long_seconds);
  std::filesystem::remove_all(dir);
  SDL_Quit();
  return ok ? 0 : 1;
}
