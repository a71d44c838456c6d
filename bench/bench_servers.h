// What the live benchmarks share: GStreamer's RTSP test server in a process
// of its own (its CPU is not counted), GStreamer's RTSP client as the
// reference, and small figures.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

struct BenchServer {
  pid_t pid = -1;
  int port = 0;
  // Pictures sent on the stream that ended last ("SENT n"); -1 while none has ended.
  std::shared_ptr<std::atomic<int>> sent = std::make_shared<std::atomic<int>>(-1);
  BenchServer() = default;
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;
  ~BenchServer() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

// Starts the test server with `arguments` and reads its "PORT n" line; false
// when it did not start.
inline bool start_bench_server(BenchServer& server, const std::vector<std::string>& arguments) {
  const std::string script = std::string(H264_SOURCE_DIR) + "/tests/support/rtsp_test_server.py";
  std::vector<std::string> args = {"/usr/bin/python3", script};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const bool spawned = posix_spawn(&server.pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (!spawned) return false;
  FILE* lines = fdopen(out[0], "r");
  char line[256];
  while (lines && std::fgets(line, sizeof line, lines))
    if (std::sscanf(line, "PORT %d", &server.port) == 1) break;
  // The rest of its output ("REQUEST ...") is drained by a thread, which notes "SENT n".
  std::thread([lines, sent = server.sent] {
    char rest[256];
    int n = 0;
    while (lines && std::fgets(rest, sizeof rest, lines))
      if (std::sscanf(rest, "SENT %d", &n) == 1) *sent = n;
    if (lines) std::fclose(lines);
  }).detach();
  return server.port > 0;
}

inline std::string bench_server_url(const BenchServer& server) {
  return "rtsp://127.0.0.1:" + std::to_string(server.port) + "/test";
}

// Runs the reference client (bench/gst_rtsp_client.py) with `arguments`; what it printed.
inline std::string gstreamer_output(const std::string& arguments) {
  const std::string command = "/usr/bin/python3 " + std::string(H264_SOURCE_DIR) +
                              "/bench/gst_rtsp_client.py " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "";
  char output[512] = {};
  size_t n = std::fread(output, 1, sizeof output - 1, pipe);
  output[n] = 0;
  pclose(pipe);
  return output;
}

// The number after `key` in `output`; -1 when there is none.
inline double figure_in(const std::string& output, const char* key) {
  const size_t at = output.find(key);
  return at == std::string::npos ? -1 : std::atof(output.c_str() + at + std::strlen(key));
}

// The reference client's figure after `key`.
inline double gstreamer_figure(const std::string& arguments, const char* key) {
  return figure_in(gstreamer_output(arguments), key);
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? -1 : values[values.size() / 2];
}

// CPU seconds this process used so far.
inline double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
