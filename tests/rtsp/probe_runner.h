// Runs the rtsp_probe tool the build made, for the tests that check it from
// outside (POSIX only: it reads the probe through a pipe).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

// Runs the probe; its exit status, and everything it printed (-1 when it could not run).
inline int run_probe(const std::string& arguments, std::string& output) {
  const std::string probe = std::string(H264_TOOLS_DIR) + "/rtsp_probe";
  if (access(probe.c_str(), X_OK) != 0) {
    output = probe + " is missing: build the rtsp_probe target";
    return -1;
  }
  FILE* pipe = popen((probe + " " + arguments + " 2>/dev/null").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
