// What the long-run (soak) programs share: resident-memory figures, and the
// key presses with which they drive the screens they run as a user would.
#pragma once

#include <SDL.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// Queues a key press for the screen's event loop; safe from SDL's timer thread.
inline void push_key(SDL_Keycode key) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = key;
  SDL_PushEvent(&e);
}

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
