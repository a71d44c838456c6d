#include "big_recordings.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

#include "platform/files.h"
#include "recording/recording.h"
#include "test_recordings.h"

namespace {

void write_le32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

// The payload's bytes, read through the loader's own mapping.
std::vector<uint8_t> payload_of(const std::string& path) {
  Recording r;
  if (read_recording_payload(path, r) != LoadStatus::ok) return {};
  return std::vector<uint8_t>(r.payload(), r.payload() + r.length);
}

struct MemoryFolder {
  std::string path;
  MemoryFolder() {
#ifdef _WIN32
    const std::string shm = "Z:/dev/shm";
#else
    const std::string shm = "/dev/shm";
#endif
    std::error_code error;
    if (!std::filesystem::is_directory(shm, error)) return;
    const std::string candidate = shm + "/h264test-" + std::to_string(std::time(nullptr)) + "-" +
                                  std::to_string(reinterpret_cast<uintptr_t>(this) & 0xfffff);
    if (std::filesystem::create_directory(candidate, error) && !error) path = candidate;
  }
  ~MemoryFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

bool write_all(std::FILE* file, const std::vector<uint8_t>& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

std::string sparse_file_folder() {
  static const MemoryFolder folder;
  return folder.path.empty() ? test_temp_dir() : folder.path;
}

bool write_repeated_recording(const std::string& source, int copies, const std::string& path) {
  const std::vector<uint8_t> payload = payload_of(source);
  std::vector<size_t> blocks;
  size_t size = 0;
  for (size_t i = next_camera_block(payload.data(), payload.size(), 0, &size); i != SIZE_MAX;
       i = next_camera_block(payload.data(), payload.size(), i + size, &size)) {
    blocks.push_back(i);
  }
  // The pictures' span plus one of their intervals.
  std::vector<uint32_t> video;
  for (size_t b : blocks) {
    if (payload[b + 2] == 'V') video.push_back(read_le32(payload.data() + b + 8));
  }
  if (video.size() < 2) return false;
  const uint32_t span = video.back() - video.front();
  const uint32_t period = span + span / static_cast<uint32_t>(video.size() - 1);
  std::FILE* out = open_file(path, "wb");
  if (!out) return false;
  bool ok = write_all(out, std::vector<uint8_t>(kFileHeaderSize, 0));
  std::vector<uint8_t> copy = payload;
  for (int c = 0; ok && c < copies; ++c) {
    for (size_t b : blocks) {
      write_le32(copy.data() + b + 8, read_le32(payload.data() + b + 8) + period * static_cast<uint32_t>(c));
    }
    ok = write_all(out, copy);
  }
  return std::fclose(out) == 0 && ok;
}

bool write_joined_with_hole(const std::string& first, const std::string& second, int64_t second_at,
                            const std::string& path) {
  const std::vector<uint8_t> head = payload_of(first), tail = payload_of(second);
  std::FILE* out = open_file(path, "wb");
  if (!out) return false;
  bool ok = !head.empty() && !tail.empty() && write_all(out, std::vector<uint8_t>(kFileHeaderSize, 0)) &&
            write_all(out, head) && seek_file(out, second_at, SEEK_SET) && write_all(out, tail);
  return std::fclose(out) == 0 && ok;
}
