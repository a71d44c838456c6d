// Opening big recordings: camera-like 4K recordings (3840x2160, sensor noise,
// 8 Mbit/s, 25 fps, sound) of about 175 MiB and past 4 GiB, built once into
// a cache folder by repeating a made recording with rising timestamps and
// read once so they are in the system's cache. For each file, side by side
// in one run, the time from starting the program to its first picture and
// its peak resident memory over a few seconds of playback, headless:
//  - this player (the "Resolution:" line it prints at its first picture);
//  - ffplay on the same file (-f h264; its "Created ...x... texture" line at
//    verbose level, printed when its first picture is put on the screen);
//  - with --reference, another build of this player (e.g. the main branch).
// Targets: first picture on the big file at most 0.5 s and at most 0.25x
// ffplay's; memory at most ffplay's + 64 MB; on the 175 MiB file not slower
// than the reference. Then, in this process, seeks to random places of the
// big file once its index is complete: the time from the seek to its
// picture (target at most 150 ms). The machine's load is printed with the
// figures.
//
//   stream_start [--cache DIR] [--reference PLAYER] [--play-seconds S] [--runs N] [--seeks N]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "big_recording.h"
#include "machine_load.h"
#include "player/engine.h"
#include "recording/recording.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The cached file of at least `bytes` bytes, made when missing.
std::string big_file(const std::string& cache, const std::string& source, const char* name,
                     int64_t bytes) {
  const std::string path = cache + "/" + name;
  std::error_code error;
  if (std::filesystem::exists(path, error) &&
      static_cast<int64_t>(std::filesystem::file_size(path, error)) >= bytes) {
    return path;
  }
  Recording one;
  if (read_recording_payload(source, one) != LoadStatus::ok) return "";
  std::printf("writing %s (%.2f GiB)...\n", path.c_str(), bytes / 1073741824.0);
  const std::string partial = path + ".part";
  if (!big_recording::write_repeated(one, big_recording::copies_for(one, bytes), partial, "")) {
    std::remove(partial.c_str());
    return "";
  }
  std::filesystem::rename(partial, path, error);
  return error ? "" : path;
}

// Reads the file once so that every run finds it in the system's cache.
void warm(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  std::vector<char> buffer(size_t{8} << 20);
  while (f && std::fread(buffer.data(), 1, buffer.size(), f) > 0) {
  }
  if (f) std::fclose(f);
}

struct ProgramRun {
  double first_picture_s = -1;  // from the start of the program to its marker line
  long peak_kib = 0;
};

// Runs `args` headless, watching its output for `marker`; after the marker
// it plays on for `play_seconds`, then is asked to quit (SIGTERM), killed
// when it does not.
ProgramRun run_program(const std::vector<std::string>& args, const std::string& marker,
                       double play_seconds) {
  int out[2];
  ProgramRun run;
  if (pipe(out) != 0) return run;
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("SDL_RENDER_DRIVER", "software", 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string seen;
  double stop_at = 60;  // no picture within a minute: give up
  bool alive = true;
  while (alive && seconds_since(t0) < stop_at) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 20) > 0) {
      char buffer[4096];
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0) alive = false;
      if (n > 0) seen.append(buffer, static_cast<size_t>(n));
    }
    if (run.first_picture_s < 0 && seen.find(marker) != std::string::npos) {
      run.first_picture_s = seconds_since(t0);
      stop_at = run.first_picture_s + play_seconds;
    }
    if (seen.size() > (1u << 20)) seen.erase(0, seen.size() - 4096);
  }
  kill(pid, SIGTERM);
  int status = 0;
  struct rusage usage {};
  for (int i = 0; i < 200 && wait4(pid, &status, WNOHANG, &usage) == 0; ++i) {
    usleep(10000);
  }
  if (wait4(pid, &status, WNOHANG, &usage) == 0) {
    kill(pid, SIGKILL);
    wait4(pid, &status, 0, &usage);
  }
  close(out[0]);
  run.peak_kib = usage.ru_maxrss;
  return run;
}

struct Contender {
  const char* name;
  std::vector<std::string> args;  // the file's path is appended
  std::string marker;
};

struct Figures {
  double first_picture_s = -1;  // best of the runs
  long peak_kib = 0;            // largest of the runs
};

Figures measure(const Contender& c, const std::string& file, int runs, double play_seconds) {
  Figures f;
  for (int i = 0; i < runs; ++i) {
    std::vector<std::string> args = c.args;
    args.push_back(file);
    const ProgramRun run = run_program(args, c.marker, play_seconds);
    if (run.first_picture_s >= 0 && (f.first_picture_s < 0 || run.first_picture_s < f.first_picture_s)) {
      f.first_picture_s = run.first_picture_s;
    }
    f.peak_kib = std::max(f.peak_kib, run.peak_kib);
  }
  return f;
}

void compare_opening(const std::vector<Contender>& contenders, const std::string& file, int runs,
                     double play_seconds) {
  std::error_code error;
  std::printf("\n%s: %.2f GiB (load %s)\n", file.c_str(),
              std::filesystem::file_size(file, error) / 1073741824.0, load_average().c_str());
  std::vector<Figures> figures;
  for (const Contender& c : contenders) {
    figures.push_back(measure(c, file, runs, play_seconds));
    std::printf("  %-10s first picture %.3f s, peak resident %.1f MB\n", c.name,
                figures.back().first_picture_s, figures.back().peak_kib * 1024.0 / 1e6);
  }
  for (size_t i = 1; i < contenders.size(); ++i) {
    if (figures[0].first_picture_s <= 0 || figures[i].first_picture_s <= 0) continue;
    std::printf("  ratio first picture %s / %s: %.2f; memory %s - %s: %+.1f MB\n", contenders[0].name,
                contenders[i].name, figures[0].first_picture_s / figures[i].first_picture_s,
                contenders[0].name, contenders[i].name,
                (figures[0].peak_kib - figures[i].peak_kib) * 1024.0 / 1e6);
  }
  std::printf("  (load afterwards %s)\n", load_average().c_str());
}

// Seeks to random places once the whole index is there: from the seek to
// the picture it shows.
void measure_seeks(const std::string& file, int seeks) {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  PlayerState st;
  if (!open_playback(st, file)) return;
  int64_t shown = 0;
  PlaybackOptions options;
  options.on_picture = [&shown](PlayerState&) { ++shown; };
  const auto opened = Clock::now();
  while (playback_running(st) && (shown == 0 || !st.recording.index_complete)) {
    run_playback_step(st, window, renderer, options);
  }
  std::printf("\nseeks on %s: index complete %.2f s after the start (load %s)\n", file.c_str(),
              seconds_since(opened), load_average().c_str());
  std::mt19937 random(23);
  std::uniform_real_distribution<double> place(0.0, st.duration);
  std::vector<double> latencies;
  for (int i = 0; i < seeks && playback_running(st); ++i) {
    const int64_t before = shown;
    const auto t0 = Clock::now();
    seek_to_time(st, place(random));
    while (playback_running(st) && shown == before && seconds_since(t0) < 10) {
      run_playback_step(st, window, renderer, options);
    }
    latencies.push_back(seconds_since(t0) * 1000);
  }
  close_playback(st);
  if (renderer) SDL_DestroyRenderer(renderer);
  if (window) SDL_DestroyWindow(window);
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  std::printf("  %zu seeks: median %.0f ms, slowest %.0f ms (target <= 150 ms) (load %s)\n",
              latencies.size(), latencies[latencies.size() / 2], latencies.back(),
              load_average().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::string cache = big_recording::cache_folder();
  std::string reference;
  double play_seconds = 5;
  int runs = 2, seeks = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--cache")) cache = argv[i + 1];
    if (!std::strcmp(argv[i], "--reference")) reference = argv[i + 1];
    if (!std::strcmp(argv[i], "--play-seconds")) play_seconds = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--seeks")) seeks = std::atoi(argv[i + 1]);
  }
  std::filesystem::create_directories(cache);
  const std::string source = big_recording::camera_4k_source();
  if (source.empty()) {
    std::fprintf(stderr, "cannot make the source recording\n");
    return 1;
  }
  const std::string small = big_file(cache, source, "camera_4k_175mib.264", int64_t{175} << 20);
  const std::string large = big_file(cache, source, "camera_4k_4gib.264", (int64_t{4} << 30) + (int64_t{64} << 20));
  if (small.empty() || large.empty()) {
    std::fprintf(stderr, "cannot write the benchmark recordings into %s\n", cache.c_str());
    return 1;
  }
  warm(small);
  warm(large);

  std::vector<Contender> contenders;
  contenders.push_back({"player", {std::string(H264_TOOLS_DIR) + "/../src/h264player"}, "Resolution: "});
  contenders.push_back({"ffplay", {"ffplay", "-hide_banner", "-nostats", "-loglevel", "verbose", "-f", "h264"},
                        "texture with"});
  if (!reference.empty()) contenders.push_back({"reference", {reference}, "Resolution: "});
  compare_opening(contenders, small, runs, play_seconds);
  compare_opening(contenders, large, runs, play_seconds);

  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("SDL_RENDER_DRIVER", "software", 0);
  av_log_set_level(AV_LOG_QUIET);
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER | SDL_INIT_AUDIO) < 0) return 1;
  measure_seeks(large, seeks);
  SDL_Quit();
  return 0;
}
