// Big recordings for the benchmarks, made quickly: a made recording's
// payload written again and again with its timestamps shifted by whole
// periods, so the camera's clock runs on across the copies; optionally the
// same video as a plain Annex-B stream without the camera's blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "recording/recording.h"

namespace big_recording {

// Every camera block in payload order: position and length (16 for a
// header, 16 + L for a sound block).
struct Block {
  size_t at, size;
};

inline std::vector<Block> camera_blocks(const Recording& r) {
  std::vector<Block> blocks;
  size_t size = 0;
  for (size_t i = next_camera_block(r.payload(), r.length, 0, &size); i != SIZE_MAX;
       i = next_camera_block(r.payload(), r.length, i + size, &size)) {
    blocks.push_back({i, size});
  }
  return blocks;
}

inline void write_le32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

// Writes `copies` repetitions of `one` as a camera recording at
// `recording_path` (without its sound blocks unless `with_sound`) and, unless
// `raw_path` is empty, as a plain stream without block headers. False on a
// write error or without two headers.
inline bool write_repeated(const Recording& one, int64_t copies, const std::string& recording_path,
                           const std::string& raw_path, bool with_sound = true) {
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
  FILE* raw = raw_path.empty() ? nullptr : std::fopen(raw_path.c_str(), "wb");
  bool ok = rec && (raw_path.empty() || raw);
  const std::vector<uint8_t> file_header(kFileHeaderSize, 0);
  if (ok) ok = std::fwrite(file_header.data(), 1, file_header.size(), rec) == file_header.size();
  std::vector<uint8_t> copy(one.payload(), one.payload() + one.length);
  for (int64_t c = 0; ok && c < copies; ++c) {
    for (const Block& b : blocks) {
      write_le32(copy.data() + b.at + 8,
                 read_le32(one.payload() + b.at + 8) + period * static_cast<uint32_t>(c));
    }
    // Everything but the blocks left out, in order.
    const auto write_without = [&](FILE* out, bool keep_headers, bool keep_sound) {
      size_t from = 0;
      for (const Block& b : blocks) {
        const bool sound = copy[b.at + 2] == 'A';
        if (sound ? keep_sound : keep_headers) continue;
        ok = ok && std::fwrite(copy.data() + from, 1, b.at - from, out) == b.at - from;
        from = b.at + b.size;
      }
      ok = ok && std::fwrite(copy.data() + from, 1, copy.size() - from, out) == copy.size() - from;
    };
    write_without(rec, true, with_sound);
    if (raw) write_without(raw, false, false);
  }
  if (rec && std::fclose(rec) != 0) ok = false;
  if (raw && std::fclose(raw) != 0) ok = false;
  return ok;
}

// Where the benchmarks keep their recordings between runs.
inline std::string cache_folder() { return std::string(H264_TOOLS_DIR) + "/../bench-cache"; }

// The camera-like 4K source the big recordings repeat (3840x2160, sensor
// noise, 8 Mbit/s, 25 fps, key frame every 50, sound after its picture,
// 20 s), made once into the cache folder. Empty when it cannot be made.
inline std::string camera_4k_source() {
  const std::string folder = cache_folder();
  const std::string path = folder + "/source_4k.264";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (std::filesystem::exists(path, error)) return path;
  const std::string partial = path + ".part";
  const std::string cmd = std::string(H264_TOOLS_DIR) + "/make_recording --out " + partial +
                          " --width 3840 --height 2160 --fps 25 --duration 20 --gop 50 --noise 12"
                          " --bitrate 8000 --audio --sound-after > /dev/null";
  if (std::system(cmd.c_str()) != 0) return "";
  std::filesystem::rename(partial, path, error);
  return error ? "" : path;
}

// Copies of `one` that make at least `bytes` bytes.
inline int64_t copies_for(const Recording& one, int64_t bytes) {
  const auto length = static_cast<int64_t>(one.length);
  return (bytes + length - 1) / length;
}

}  // namespace big_recording
