// The machine's load, printed beside every figure a benchmark measures.
#pragma once

#include <cstdio>
#include <string>

// The first line of /proc/loadavg (1, 5 and 15 minute averages, runnable and
// total tasks, last process id); "?" where there is none.
inline std::string load_average() {
  FILE* f = std::fopen("/proc/loadavg", "r");
  char line[128] = "?";
  if (f) {
    if (!std::fgets(line, sizeof line, f)) line[0] = 0;
    std::fclose(f);
  }
  std::string text = line;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}
