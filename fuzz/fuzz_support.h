// Small helpers shared by the fuzz targets (header only: every fuzz/*.cpp is
// a target of its own).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// Stops the run with a message when an invariant does not hold; libFuzzer
// then keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                       \
  do {                                                                              \
    if (!(condition)) {                                                             \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// The code under test prints its progress lines on stdout; a fuzzer run
// would drown in them.
inline void silence_stdout() {
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

// One temporary folder per fuzzing process, removed when it exits.
struct FuzzTempDir {
  std::string path;
  FuzzTempDir() {
    std::string pattern = "/tmp/h264fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    path = pattern;
  }
  ~FuzzTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

inline const std::string& fuzz_temp_dir() {
  static const FuzzTempDir dir;
  return dir.path;
}

inline bool write_whole_file(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}
