// The CPU share of a 2x2 grid of four 1080p25 H.264 cameras (noisy camera
// pictures at 4 Mbit/s, made once by make_recording and served from an MP4 by
// four GStreamer RTSP servers at their own pace, so no encoder competes for
// the cores), against four separate GStreamer decodes of the same streams
// (bench/gst_rtsp_client.py: rtspsrc, avdec_h264, no showing), measured in
// the same run. Ours is the whole grid: four sessions (network,
// depacketising, decoding), upload and drawing into a 1920x1080 window on
// the software renderer. The servers' CPU is not counted on either side.
//
//   camera_grid [SECONDS (15)]
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_servers.h"
#include "ui/grid_view.h"

namespace {

using Clock = std::chrono::steady_clock;

bool make_stream_file(const std::string& folder, std::string& mp4) {
  const std::string recording = folder + "/grid_camera.264";
  mp4 = folder + "/grid_camera.mp4";
  const std::string make = std::string(H264_TOOLS_DIR) + "/make_recording --out " + recording +
                           " --width 1920 --height 1080 --duration 40 --gop 50 --noise 6 --bitrate 4000 > /dev/null";
  const std::string convert = std::string(H264_TOOLS_DIR) + "/convert_mp4 --quiet --no-sound " + recording + " > /dev/null";
  return std::system(make.c_str()) == 0 && std::system(convert.c_str()) == 0;
}

struct GridFigures {
  double cpu_percent = -1;
  std::vector<int64_t> shown, decoded;
};

// Our four sessions alone, decoding without showing (as the reference does);
// their CPU share and the pictures each decoded.
GridFigures our_sessions(const std::vector<std::string>& urls, int seconds) {
  GridFigures figures;
  std::vector<std::unique_ptr<LiveLink>> links;
  std::vector<std::thread> workers;
  const double cpu_start = cpu_seconds();
  const Clock::time_point start = Clock::now();
  for (const std::string& url : urls) {
    links.push_back(std::make_unique<LiveLink>());
    LiveLink* link = links.back().get();
    link->sound_wanted = false;
    link->most_pictures = 1;
    workers.emplace_back([url, link] { run_live_session(url, LiveSessionSettings{}, *link); });
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  figures.cpu_percent = 100 * (cpu_seconds() - cpu_start) / wall;
  for (auto& link : links) {
    figures.decoded.push_back(link->pictures_decoded);
    link->cancel = true;
  }
  for (std::thread& worker : workers) worker.join();
  return figures;
}

GridFigures our_grid(const std::vector<std::string>& urls, int seconds) {
  GridFigures figures;
  SDL_Window* window = SDL_CreateWindow("bench", 0, 0, 1920, 1080, SDL_WINDOW_HIDDEN);
  SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE) : nullptr;
  if (!renderer) return figures;
  std::vector<GridCamera> cameras;
  for (size_t i = 0; i < urls.size(); ++i) cameras.push_back({"CAMERA " + std::to_string(i + 1), urls[i]});
  GridOptions options;
  // Measured from the first picture of every camera, so that connecting is not counted.
  Clock::time_point start{};
  double cpu_start = 0;
  std::vector<int64_t> at_start, decoded_at_start;
  options.watch = [&](const std::vector<GridCellStatus>& cells) {
    bool all = true;
    for (const GridCellStatus& cell : cells) all = all && cell.pictures_shown > 0;
    if (!all) return true;
    if (at_start.empty()) {
      start = Clock::now();
      cpu_start = cpu_seconds();
      for (const GridCellStatus& cell : cells) {
        at_start.push_back(cell.pictures_shown);
        decoded_at_start.push_back(cell.pictures_decoded);
      }
      return true;
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    if (wall < seconds) return true;
    figures.cpu_percent = 100 * (cpu_seconds() - cpu_start) / wall;
    for (size_t i = 0; i < cells.size(); ++i) {
      figures.shown.push_back(cells[i].pictures_shown - at_start[i]);
      figures.decoded.push_back(cells[i].pictures_decoded - decoded_at_start[i]);
    }
    return false;
  };
  run_camera_grid(window, renderer, cameras, options);
  SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);
  return figures;
}

// Four GStreamer clients at once, each in its own process: their summed CPU
// share, and the pictures each decoded.
double gstreamer_grid(const std::vector<std::string>& urls, int seconds, std::vector<double>& pictures) {
  std::vector<std::string> outputs(urls.size());
  std::vector<std::thread> clients;
  for (size_t i = 0; i < urls.size(); ++i)
    clients.emplace_back([&, i] { outputs[i] = gstreamer_output(urls[i] + " tcp h264 cpu " + std::to_string(seconds)); });
  for (std::thread& t : clients) t.join();
  double total = 0;
  pictures.clear();
  for (const std::string& output : outputs) {
    total += std::max(0.0, figure_in(output, "CPU_PERCENT "));
    pictures.push_back(figure_in(output, "PICTURES "));
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 15;
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    std::printf("SDL did not start: %s\n", SDL_GetError());
    return 1;
  }
  std::printf("(a shared machine: figures vary from run to run)\n");
  char folder_template[] = "/tmp/camera_grid_XXXXXX";
  const char* folder = mkdtemp(folder_template);
  std::string mp4;
  if (!folder || !make_stream_file(folder, mp4)) {
    std::printf("the 1080p stream could not be made\n");
    return 1;
  }
  std::vector<std::unique_ptr<BenchServer>> servers;
  std::vector<std::string> urls;
  for (int i = 0; i < 4; ++i) {
    servers.push_back(std::make_unique<BenchServer>());
    if (!start_bench_server(*servers.back(), {"--file", mp4})) {
      std::printf("a test server did not start\n");
      return 1;
    }
    urls.push_back(bench_server_url(*servers.back()));
  }
  // The file plays once: every measure gets fresh servers that start it from the beginning.
  auto restart_servers = [&] {
    servers.clear();
    for (int i = 0; i < 4; ++i) {
      servers.push_back(std::make_unique<BenchServer>());
      start_bench_server(*servers.back(), {"--file", mp4});
      urls[static_cast<size_t>(i)] = bench_server_url(*servers.back());
    }
  };
  auto list = [](const std::vector<int64_t>& counts) {
    std::string text;
    for (int64_t n : counts) text += " " + std::to_string(n);
    return text;
  };
  const GridFigures grid = our_grid(urls, seconds);
  restart_servers();
  const GridFigures sessions = our_sessions(urls, seconds);
  restart_servers();
  std::vector<double> their_pictures;
  const double theirs = gstreamer_grid(urls, seconds, their_pictures);
  std::printf("2x2 grid of 1080p25 H.264 (4 Mbit/s, noisy), %d s, CPU %% of one core:\n", seconds);
  std::printf("  grid (4 sessions, decode, shrink to the cells, upload, draw at 1920x1080, software renderer): %.1f;"
              " pictures decoded:%s, shown:%s (of %d each at 25 per second)\n",
              grid.cpu_percent, list(grid.decoded).c_str(), list(grid.shown).c_str(), 25 * seconds);
  std::printf("  our 4 sessions alone (decode, no showing): %.1f; pictures decoded:%s\n", sessions.cpu_percent,
              list(sessions.decoded).c_str());
  std::printf("  GStreamer, four separate decodes (no showing): %.1f; pictures decoded:", theirs);
  for (double n : their_pictures) std::printf(" %.0f", n);
  std::printf("\n  ratio grid / GStreamer %.2f, sessions alone / GStreamer %.2f\n",
              theirs > 0 ? grid.cpu_percent / theirs : 0, theirs > 0 ? sessions.cpu_percent / theirs : 0);
  std::system(("rm -rf " + std::string(folder)).c_str());
  SDL_Quit();
  return 0;
}
