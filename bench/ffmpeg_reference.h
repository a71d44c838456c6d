// FFmpeg's own decoder as the reference the playback benchmarks measure against:
// the player's decoder input written out as one Annex-B stream, and ffmpeg
// timing its decode of that stream.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "recording/recording.h"

inline double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The units the player sends to the decoder, as one Annex-B stream.
inline bool write_decoder_units(const std::string& recording, const std::string& out) {
  Recording rec;
  if (read_recording_payload(recording, rec) != LoadStatus::ok) return false;
  FILE* f = std::fopen(out.c_str(), "wb");
  if (!f) return false;
  static const uint8_t start[4] = {0, 0, 0, 1};
  for (const NalUnit& u : index_nal_units(rec.payload(), rec.length)) {
    if (u.type != 1 && u.type != 5 && u.type != 7 && u.type != 8) continue;
    std::fwrite(start, 1, 4, f);
    std::fwrite(u.data, 1, static_cast<size_t>(u.size), f);
  }
  return std::fclose(f) == 0;
}

struct FfmpegRun {
  double seconds = -1;         // the whole command, process start to exit
  double decode_seconds = -1;  // its own -benchmark figure: the decoding loop alone
  double cpu_seconds = -1;     // its user time: what decoding costs on all cores
};

inline FfmpegRun time_ffmpeg(const std::string& raw) {
  const std::string report = raw + ".bench";
  const std::string cmd = "ffmpeg -hide_banner -benchmark -threads 4 -f h264 -i " + raw +
                          " -f null - < /dev/null > " + report + " 2>&1";
  FfmpegRun run;
  const auto t0 = std::chrono::steady_clock::now();
  if (std::system(cmd.c_str()) != 0) return run;
  run.seconds = seconds_since(t0);
  FILE* f = std::fopen(report.c_str(), "r");
  char line[512];
  while (f && std::fgets(line, sizeof line, f)) {
    const char* at = std::strstr(line, "rtime=");
    if (at) run.decode_seconds = std::atof(at + 6);
    const char* user = std::strstr(line, "utime=");
    if (user) run.cpu_seconds = std::atof(user + 6);
  }
  if (f) std::fclose(f);
  return run;
}
