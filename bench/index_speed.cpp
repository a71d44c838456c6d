// Index speed: builds a payload of at least 1 GiB from a made recording (real
// encoded video with sound blocks, repeated), runs the whole load-time index
// (NAL units, frame list, audio blocks, time origin, frame-rate scan) and one
// memchr pass that finds every 0x01 byte of the same buffer, and prints GB/s
// and their ratio (target: at most 4). Then loads a file of the same kind in a
// child process and prints its peak memory against the file size.
//
//   index_speed [--recording FILE.264] [--mib N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "recording/frame_rate.h"
#include "recording/recording.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool make_source(const std::string& path) {
  const std::string cmd = std::string(H264_TOOLS_DIR) + "/make_recording --out " + path +
                          " --width 1280 --height 720 --fps 25 --duration 20 --gop 50 --audio"
                          " > /dev/null";
  return std::system(cmd.c_str()) == 0;
}

size_t count_ones_with_memchr(const uint8_t* p, size_t n) {
  size_t count = 0;
  const uint8_t* end = p + n;
  while (p < end) {
    const void* hit = std::memchr(p, 0x01, static_cast<size_t>(end - p));
    if (!hit) break;
    ++count;
    p = static_cast<const uint8_t*>(hit) + 1;
  }
  return count;
}

struct IndexFigures {
  size_t units, frames, blocks;
  uint32_t origin;
  double fps;
};

IndexFigures run_index(const uint8_t* p, size_t n) {
  const auto units = index_nal_units(p, n);
  const auto frames = build_frame_list(units);
  const auto blocks = index_audio_blocks(p, n);
  const uint32_t origin = find_time_origin(p, n, blocks);
  const double fps = estimate_frame_rate(p, n, static_cast<int64_t>(frames.size()), nullptr);
  return {units.size(), frames.size(), blocks.size(), origin, fps};
}

long peak_rss_kib_of_load(const std::string& path) {
  const pid_t pid = fork();
  if (pid == 0) {
    Recording r;
    const bool ok = load_recording(path, r);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  struct rusage usage {};
  getrusage(RUSAGE_CHILDREN, &usage);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::string source;
  size_t target_mib = 1024;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--recording")) source = argv[i + 1];
    if (!std::strcmp(argv[i], "--mib")) target_mib = std::strtoul(argv[i + 1], nullptr, 10);
  }
  const std::string tmp = "/tmp/index_speed_" + std::to_string(getpid());
  if (source.empty()) {
    source = tmp + "_source.264";
    if (!make_source(source)) {
      std::fprintf(stderr, "cannot make the source recording\n");
      return 1;
    }
  }
  Recording one;
  if (read_recording_payload(source, one) != LoadStatus::ok) return 1;

  const size_t target = target_mib << 20;
  std::vector<uint8_t> big;
  big.reserve(target + one.length);
  while (big.size() < target) big.insert(big.end(), one.payload(), one.payload() + one.length);
  std::printf("payload: %.2f GiB from %zu-byte recording\n", big.size() / 1073741824.0, one.length);

  auto t0 = std::chrono::steady_clock::now();
  const size_t ones = count_ones_with_memchr(big.data(), big.size());
  const double memchr_s = seconds_since(t0);
  t0 = std::chrono::steady_clock::now();
  const IndexFigures f = run_index(big.data(), big.size());
  const double index_s = seconds_since(t0);

  std::printf("memchr pass: %.3f s, %.2f GB/s (%zu bytes 0x01)\n", memchr_s,
              big.size() / memchr_s / 1e9, ones);
  std::printf("index:       %.3f s, %.2f GB/s (%zu units, %zu frames, %zu audio blocks, origin %u, "
              "fps %.1f, 0 = default)\n",
              index_s, big.size() / index_s / 1e9, f.units, f.frames, f.blocks, f.origin, f.fps);
  std::printf("ratio index/memchr: %.2f (target <= 4)\n", index_s / memchr_s);

  // Peak memory of loading a file of the same kind (a quarter of the size keeps the disk use low).
  const std::string file = tmp + "_load.264";
  FILE* out = std::fopen(file.c_str(), "wb");
  if (!out) return 1;
  std::vector<uint8_t> header(kFileHeaderSize, 0);
  std::fwrite(header.data(), 1, header.size(), out);
  const size_t file_payload = big.size() / 4;
  std::fwrite(big.data(), 1, file_payload, out);
  std::fclose(out);
  big.clear();
  big.shrink_to_fit();
  const auto units = f.units / 4;
  const long rss = peak_rss_kib_of_load(file);
  const double file_mib = (file_payload + kFileHeaderSize) / 1048576.0;
  const double index_mib = (units * sizeof(NalUnit) * 2 + f.frames / 4 * 8 * 2) / 1048576.0;
  std::printf("load peak: %.1f MiB for a %.1f MiB file (limit %.1f MiB: file + 16 MiB + index ~%.1f MiB)\n",
              rss / 1024.0, file_mib, file_mib + 16 + index_mib, index_mib);
  std::remove(file.c_str());
  if (source.rfind(tmp, 0) == 0) std::remove(source.c_str());
  return 0;
}
