// Windows test programs under Wine start Linux programs (the recording maker,
// ffmpeg, ffprobe, the RTSP test server) through tests/support/host_runner.py,
// whose port the Windows test script passes in H264_HOST_RUNNER_PORT.
#pragma once

#include <string>
#include <vector>

// Runs `args` (program first) on the Linux side, waiting for it; its exit
// status, with standard output and error in *output when given. -1 when the
// runner cannot be reached (then *output says why).
int host_run(const std::vector<std::string>& args, std::string* output);

// Starts `args` on the Linux side without waiting, its output going to the
// file `log_path`; its process id, or -1 (with `error` saying why).
long host_spawn(const std::vector<std::string>& args, const std::string& log_path,
                std::string& error);

// Sends signal `number` to a process started by host_spawn; false on failure.
bool host_signal(long pid, int number);
