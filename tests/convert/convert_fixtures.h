// Recordings and folders for the conversion tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recording/recording.h"
#include "sanitizer_build.h"
#include "test_recordings.h"

// A recording loaded as the player loads it (indexes and clock), without printing.
Recording load_quietly(const std::string& path);

// Writes a recording made of the units of `source` that `keep` accepts, each
// behind a 4-byte start code, after a 32-byte header.
bool write_filtered_recording(const Recording& source, const std::function<bool(int)>& keep,
                              const std::string& path);

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A new empty folder inside the test temporary folder.
std::string fresh_folder(const std::string& name);

// Names in `folder` that look like left-over temporary MP4s: ".tmp-<pid>-<n>.mp4",
// or any name holding ".tmp-", as earlier converters named them.
std::vector<std::string> temporaries_in(const std::string& folder);

// The progress fractions a conversion reported, in order.
struct ProgressLog {
  std::vector<float> calls;
  std::function<void(float)> callback() {
    return [this](float f) { calls.push_back(f); };
  }
};
