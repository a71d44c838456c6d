#include "convert_fixtures.h"

#include <atomic>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

Recording load_quietly(const std::string& path) {
  Recording recording;
  testing::internal::CaptureStdout();
  load_recording(path, recording);
  testing::internal::GetCapturedStdout();
  return recording;
}

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

bool write_filtered_recording(const Recording& source, const std::function<bool(int)>& keep,
                              const std::string& path) {
  std::vector<uint8_t> bytes(kFileHeaderSize, 0);
  for (const NalUnit& unit : source.units) {
    if (!keep(unit.type)) continue;
    bytes.insert(bytes.end(), {0, 0, 0, 1});
    bytes.insert(bytes.end(), unit.data, unit.data + unit.size);
  }
  return write_bytes(path, bytes);
}

std::string fresh_folder(const std::string& name) {
  static std::atomic<int> sequence{0};
  const std::string folder = test_temp_dir() + "/" + name + "-" + std::to_string(sequence++);
  std::filesystem::create_directories(folder);
  return folder;
}

std::vector<std::string> temporaries_in(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tmp-") != std::string::npos) names.push_back(name);
  }
  return names;
}
