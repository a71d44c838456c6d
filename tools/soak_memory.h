// Resident-memory figures for the long-run (soak) programs.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// The process's resident set in KiB (VmRSS), or -1 when it cannot be read.
inline long resident_kb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = -1;
      status >> kb;
      return kb;
    }
    status.ignore(4096, '\n');
  }
  return -1;
}

// Prints first, lowest, highest and last sample, and the growth from the end
// of the first quarter (when caches and pools have filled) to the end.
inline void print_memory_summary(const char* what, unsigned seconds, const std::vector<long>& kb) {
  if (kb.empty()) {
    std::printf("%s: ran %us, no memory samples\n", what, seconds);
    return;
  }
  long low = kb[0], high = kb[0];
  for (long v : kb) {
    low = v < low ? v : low;
    high = v > high ? v : high;
  }
  const long settled = kb[kb.size() / 4];
  std::printf("%s: ran %us, %zu samples, resident KiB first %ld, low %ld, high %ld, last %ld; "
              "growth after the first quarter %+ld KiB\n",
              what, seconds, kb.size(), kb.front(), low, high, kb.back(), kb.back() - settled);
}
