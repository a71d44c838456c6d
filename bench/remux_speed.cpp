// Conversion speed: builds a recording with sound of at least 512 MiB by
// repeating a made recording's payload (its timestamps shifted so the clock
// runs on) and the same video as a plain Annex-B stream, then times our
// conversion without sound (--no-sound) against
// `ffmpeg -f h264 -framerate F -i raw.h264 -c copy out.mp4`, each in its own
// process, best of two runs, and ours with the sound as AAC too. Prints the
// times, the ratios (target for video alone: at most 0.5) and the peak
// memories (target: at most FFmpeg's + 64 MiB, whatever the file's size).
// Every file it writes is removed at the end.
//
//   remux_speed [--recording FILE.264] [--mib N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/remux.h"
#include "recording/frame_rate.h"
#include "recording/recording.h"

namespace {

bool make_source(const std::string& path) {
  const std::string cmd = std::string(H264_TOOLS_DIR) + "/make_recording --out " + path +
                          " --width 1280 --height 720 --fps 25 --duration 20 --gop 50 --audio > /dev/null";
  return std::system(cmd.c_str()) == 0;
}

// Every camera block in payload order: position and length (16 for a
// header, 16 + L for a sound block).
struct Block {
  size_t at, size;
};
std::vector<Block> camera_blocks(const Recording& r) {
  std::vector<Block> blocks;
  size_t size = 0;
  for (size_t i = next_camera_block(r.payload(), r.length, 0, &size); i != SIZE_MAX;
       i = next_camera_block(r.payload(), r.length, i + size, &size)) {
    blocks.push_back({i, size});
  }
  return blocks;
}

void write_le32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

// Writes `copies` repetitions as a camera recording and as a plain stream
// without block headers. False on a write error.
bool write_big_files(const Recording& one, int copies, const std::string& recording_path,
                     const std::string& raw_path) {
  const std::vector<Block> blocks = camera_blocks(one);
  std::vector<size_t> video;
  for (const Block& b : blocks) {
    if (one.payload()[b.at + 2] == 'V') video.push_back(b.at);
  }
  if (video.size() < 2) return false;
  const uint32_t first = read_le32(one.payload() + video.front() + 8);
  const uint32_t last = read_le32(one.payload() + video.back() + 8);
  const uint32_t period = (last - first) / static_cast<uint32_t>(video.size() - 1) *
                          static_cast<uint32_t>(video.size());
  FILE* rec = std::fopen(recording_path.c_str(), "wb");
  FILE* raw = std::fopen(raw_path.c_str(), "wb");
  bool ok = rec && raw;
  const std::vector<uint8_t> file_header(kFileHeaderSize, 0);
  if (ok) ok = std::fwrite(file_header.data(), 1, file_header.size(), rec) == file_header.size();
  std::vector<uint8_t> copy(one.payload(), one.payload() + one.length);
  for (int c = 0; ok && c < copies; ++c) {
    for (const Block& b : blocks) {
      write_le32(copy.data() + b.at + 8,
                 read_le32(one.payload() + b.at + 8) + period * static_cast<uint32_t>(c));
    }
    ok = std::fwrite(copy.data(), 1, copy.size(), rec) == copy.size();
    size_t from = 0;
    for (const Block& b : blocks) {
      ok = ok && std::fwrite(copy.data() + from, 1, b.at - from, raw) == b.at - from;
      from = b.at + b.size;
    }
    ok = ok && std::fwrite(copy.data() + from, 1, copy.size() - from, raw) == copy.size() - from;
  }
  if (rec && std::fclose(rec) != 0) ok = false;
  if (raw && std::fclose(raw) != 0) ok = false;
  return ok;
}

struct Run {
  double seconds = 0;
  long peak_kib = 0;
  bool ok = false;
};

Run run_process(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  Run run;
  if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    run.peak_kib = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return run;
}

Run best_of(const Run& a, const Run& b) {
  Run best = a.seconds <= b.seconds ? a : b;
  best.ok = a.ok && b.ok;
  best.peak_kib = std::max(a.peak_kib, b.peak_kib);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc == 4 && (!std::strcmp(argv[1], "--convert") || !std::strcmp(argv[1], "--convert-no-sound"))) {
    RemuxOptions options;
    options.print_frame_rate = false;
    options.sound = !std::strcmp(argv[1], "--convert");
    return remux_recording(argv[2], argv[3], {}, options, nullptr) ? 0 : 1;
  }
  std::string source;
  size_t target_mib = 512;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--recording")) source = argv[i + 1];
    if (!std::strcmp(argv[i], "--mib")) target_mib = std::strtoul(argv[i + 1], nullptr, 10);
  }
  const std::string tmp = "/tmp/remux_speed_" + std::to_string(getpid());
  std::vector<std::string> made;
  if (source.empty()) {
    source = tmp + "_source.264";
    made.push_back(source);
    if (!make_source(source)) {
      std::fprintf(stderr, "cannot make the source recording\n");
      return 1;
    }
  }
  Recording one;
  if (read_recording_payload(source, one) != LoadStatus::ok) return 1;
  one.units = index_nal_units(one.payload(), one.length);
  const auto frames_per_copy = build_frame_list(one.units).size();
  // The copies keep one's frame spacing (timestamps shifted by whole periods),
  // so one alone gives the rate the big recording has.
  const int rate = static_cast<int>(
      estimate_frame_rate(one.payload(), one.length, static_cast<int64_t>(frames_per_copy),
                          nullptr) + 0.5);
  const int copies = static_cast<int>(((target_mib << 20) + one.length - 1) / one.length);
  const std::string recording = tmp + ".264", raw = tmp + "_raw.h264";
  const std::string ours_out = tmp + "_ours.mp4", ffmpeg_out = tmp + "_ffmpeg.mp4";
  made.insert(made.end(), {recording, raw, ours_out, ffmpeg_out});
  const bool written = write_big_files(one, copies, recording, raw);
  const auto file_size = written ? std::filesystem::file_size(recording) : 0;
  if (!written || rate <= 0) {
    std::fprintf(stderr, "cannot write the benchmark recording\n");
    for (const auto& f : made) std::remove(f.c_str());
    return 1;
  }
  std::printf("recording: %.1f MiB, %zu frames at %d fps (%d copies of %zu bytes)\n",
              file_size / 1048576.0, frames_per_copy * copies, rate, copies, one.length);

  const std::vector<std::string> ffmpeg = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f",
                                           "h264", "-framerate", std::to_string(rate), "-i",
                                           raw, "-c", "copy", ffmpeg_out};
  std::error_code error;
  const std::string self_path = std::filesystem::read_symlink("/proc/self/exe", error).string();
  const std::vector<std::string> video_only = {self_path, "--convert-no-sound", recording, ours_out};
  const std::vector<std::string> with_sound = {self_path, "--convert", recording, ours_out};
  const Run ours1 = run_process(video_only), ffmpeg1 = run_process(ffmpeg);
  const Run sound1 = run_process(with_sound);
  const Run ours2 = run_process(video_only), ffmpeg2 = run_process(ffmpeg);
  const Run sound2 = run_process(with_sound);
  const Run o = best_of(ours1, ours2), f = best_of(ffmpeg1, ffmpeg2), s = best_of(sound1, sound2);
  const double ffmpeg_mib = f.peak_kib / 1024.0;
  std::printf("ffmpeg -c copy:     %.3f s%s, peak %.1f MiB\n", f.seconds, f.ok ? "" : " FAILED",
              ffmpeg_mib);
  std::printf("ours, video only:   %.3f s%s, peak %.1f MiB (limit ffmpeg + 64 = %.1f MiB)\n",
              o.seconds, o.ok ? "" : " FAILED", o.peak_kib / 1024.0, ffmpeg_mib + 64);
  std::printf("ours, with sound:   %.3f s%s, peak %.1f MiB\n", s.seconds, s.ok ? "" : " FAILED",
              s.peak_kib / 1024.0);
  std::printf("ratio video only / ffmpeg: %.2f (target <= 0.5)\n", o.seconds / f.seconds);
  std::printf("ratio with sound / ffmpeg: %.2f\n", s.seconds / f.seconds);
  for (const auto& file : made) std::remove(file.c_str());
  return o.ok && f.ok && s.ok ? 0 : 1;
}
