// Fast-forward of camera-like recordings: 1080p and 4K pictures with sensor
// noise at a camera's bit rate (25 fps, a key frame every 50), played headless
// at real pacing at 2x, 4x and 8x into a 1920x1080 window (a full-HD screen)
// with the software renderer. Each row prints the achieved speed over the
// asked one (the recording's time over the wall time from the speed change to
// the end; target at least 0.97), the pictures shown, dropped (late, or
// replaced before the screen shows them) and not
// decoded (key frames only), and FFmpeg's own decode-only rate for the file,
// measured in the same run, against the rate the speed needs.
//
//   fast_forward [--seconds S] [--only-4k] [--only-1080p]
extern "C" {
#include <libavutil/log.h>
}

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "player/engine.h"
#include "recording/recording.h"
#include "ffmpeg_reference.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Camera {
  const char* name;
  int width, height, kbps;
};

bool make_camera_recording(const std::string& path, const Camera& camera, double seconds) {
  const std::string cmd = std::string(H264_TOOLS_DIR) + "/make_recording --out " + path +
                          " --width " + std::to_string(camera.width) + " --height " +
                          std::to_string(camera.height) + " --fps 25 --gop 50 --noise 8" +
                          " --bitrate " + std::to_string(camera.kbps) + " --duration " +
                          std::to_string(seconds) + " > /dev/null";
  return std::system(cmd.c_str()) == 0;
}

struct FastRun {
  double achieved_ratio = 0;  // recording time per wall time, over the asked speed
  PlaybackStats stats;
};

// Plays at real pacing, switching to speed step `index` at the first picture.
FastRun play_fast(const std::string& path, int index, SDL_Window* window, SDL_Renderer* renderer) {
  FastRun run;
  Clock::time_point changed{}, ended{};
  double from_s = 0, to_s = 0;
  PlaybackOptions options;
  options.stats_out = &run.stats;
  options.on_picture = [&](PlayerState& st) {
    if (st.speed_index == index) return;
    set_speed(st, index);
    changed = Clock::now();
    from_s = st.clock.media_anchor_s;  // where the clock stood at the change
    to_s = end_time(st);
  };
  options.on_finished = [&](PlayerState&) {
    ended = Clock::now();
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.keysym.sym = SDLK_ESCAPE;  // leaves the finished state
    SDL_PushEvent(&key);
  };
  play_recording_with(path, window, renderer, options);
  const double wall = std::chrono::duration<double>(ended - changed).count();
  if (wall > 0) run.achieved_ratio = (to_s - from_s) / wall / kSpeedSteps[index];
  return run;
}

bool run_camera(const std::string& dir, const Camera& camera, double seconds) {
  const std::string path = dir + "/camera_" + camera.name + ".264";
  std::printf("making %s: %dx%d, 25 fps, key frame every 50, sensor noise, %d kbit/s, %.0f s\n",
              camera.name, camera.width, camera.height, camera.kbps, seconds);
  if (!make_camera_recording(path, camera, seconds)) return false;
  if (!write_decoder_units(path, path + ".h264")) return false;
  const int frames = static_cast<int>(seconds * 25 + 0.5);
  SDL_Window* window = SDL_CreateWindow("H.264 Player", 0, 0, 1920, 1080, SDL_WINDOW_HIDDEN);
  SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE) : nullptr;
  if (!renderer) return false;
  for (int index : {4, 5, 6}) {
    const double speed = kSpeedSteps[index];
    const double ffmpeg_s = time_ffmpeg(path + ".h264").decode_seconds;
    const FastRun run = play_fast(path, index, window, renderer);
    const PlaybackStats& s = run.stats;
    std::printf("%s at %.0fx: achieved/asked %.3f (target >= 0.97); shown %lld, dropped (late, or replaced before a 60 Hz screen shows them) %lld, "
                "not decoded %lld of %d; ffmpeg decodes %.0f pictures/s, the speed needs %.0f\n",
                camera.name, speed, run.achieved_ratio,
                static_cast<long long>(s.pictures_shown + s.pictures_drained),
                static_cast<long long>(s.pictures_dropped),
                static_cast<long long>(s.pictures_skipped), frames,
                ffmpeg_s > 0 ? frames / ffmpeg_s : 0.0, 25 * speed);
  }
  SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 20;
  bool do_1080 = true, do_4k = true;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::atof(argv[++i]);
    if (!std::strcmp(argv[i], "--only-4k")) do_1080 = false;
    if (!std::strcmp(argv[i], "--only-1080p")) do_4k = false;
  }
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("SDL_RENDER_DRIVER", "software", 0);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  av_log_set_level(AV_LOG_QUIET);
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER | SDL_INIT_AUDIO) < 0) {
    std::printf("SDL cannot start: %s\n", SDL_GetError());
    return 1;
  }
  char pattern[] = "/tmp/fast-forward-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  bool ok = true;
  if (do_1080) ok = run_camera(dir, Camera{"1080p", 1920, 1080, 4000}, seconds) && ok;
  if (do_4k) ok = run_camera(dir, Camera{"4K", 3840, 2160, 8000}, seconds) && ok;
  std::filesystem::remove_all(dir);
  SDL_Quit();
  return ok ? 0 : 1;
}
