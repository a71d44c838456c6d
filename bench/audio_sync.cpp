// Sound against picture: plays a made recording with sound through the real
// player at real speed, headless (dummy video, software renderer, SDL's dummy
// audio driver unless SDL_AUDIODRIVER says otherwise), and samples at every
// picture the gap between the picture's time and the sound the device has
// reached so far (the end of what was queued less what still waits). Prints the
// largest gap and the drift per minute (least-squares line through the gap);
// the sound keeps step when the gap stays within 0.35 s and the drift is near
// zero. Also prints how many blocks were skipped because the device took its
// queue slower than the picture advanced, and how much silence held the sound
// back after late pictures.
//
//   audio_sync [--minutes M] [--fps F] [--recording FILE.264]
#include <SDL.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/audio_sync.h"
#include "player/engine.h"

namespace {

struct Options {
  double minutes = 10;
  double fps = 30;
  std::string recording;  // empty: make one
};

bool parse_options(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--minutes") == 0 && has_value) {
      options.minutes = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--fps") == 0 && has_value) {
      options.fps = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--recording") == 0 && has_value) {
      options.recording = argv[++i];
    } else {
      return false;
    }
  }
  return options.minutes > 0 && options.fps > 0;
}

// Small pictures: the check is about the clock, not about decoding speed.
bool make_source(const Options& options, const std::string& path) {
  char cmd[1024];
  std::snprintf(cmd, sizeof cmd,
                "%s/make_recording --out %s --width 320 --height 240 --fps %g --duration %g"
                " --audio > /dev/null",
                H264_TOOLS_DIR, path.c_str(), options.fps, options.minutes * 60.0);
  return std::system(cmd) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, options)) {
    std::fprintf(stderr, "usage: audio_sync [--minutes M] [--fps F] [--recording FILE.264]\n");
    return 2;
  }
  std::string path = options.recording;
  char folder[] = "/tmp/audio_sync_XXXXXX";
  if (path.empty()) {
    if (!mkdtemp(folder)) return 1;
    path = std::string(folder) + "/sync.264";
    std::printf("making %.1f min at %g fps with sound...\n", options.minutes, options.fps);
    if (!make_source(options, path)) {
      std::fprintf(stderr, "could not make the recording\n");
      return 1;
    }
  }

  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_RENDER_DRIVER", "software", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
    return 1;
  }
  SDL_InitSubSystem(SDL_INIT_AUDIO);

  std::vector<SyncSample> samples;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  start_sync_recording(samples);
  const auto t0 = std::chrono::steady_clock::now();
  // The player at real speed; Escape ends the finished state as soon as it begins.
  PlaybackOptions playback;
  playback.on_finished = [](PlayerState&) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = SDLK_ESCAPE;
    SDL_PushEvent(&event);
  };
  play_recording_with(path, window, renderer, playback);
  const double wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  stop_sync_recording();

  if (renderer) SDL_DestroyRenderer(renderer);
  if (window) SDL_DestroyWindow(window);
  SDL_Quit();
  if (options.recording.empty()) {
    std::remove(path.c_str());
    rmdir(folder);
  }

  const SyncReport report = summarize_sync(samples);
  if (report.samples == 0) {
    std::fprintf(stderr, "no sound was fed: no audio device or no sound in the recording\n");
    return 1;
  }
  const double played_s = samples.back().video_s;
  std::printf("audio driver: %s\n", SDL_getenv("SDL_AUDIODRIVER"));
  std::printf("pictures sampled: %zu over %.1f s of picture in %.1f s (ratio %.4f)\n",
              report.samples, played_s, wall_s, wall_s / played_s);
  std::printf("largest gap: %.3f s (limit 0.35): sound at most %.3f s behind, %.3f s ahead\n",
              report.max_gap_s, report.most_behind_s, report.most_ahead_s);
  std::printf("mean gap: %+.3f s (positive: sound behind the picture)\n", report.mean_gap_s);
  std::printf("drift: %+.4f s per minute\n", report.drift_s_per_min);
  std::printf("kept in step by %llu blocks skipped and %.2f s of silence\n",
              static_cast<unsigned long long>(report.skipped_blocks), report.silence_s);
  return 0;
}
