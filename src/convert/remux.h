// Remuxing a recording into an MP4 file without re-encoding.
#pragma once

#include <functional>
#include <string>

// Called with the fraction done (0..1); an empty one is never called.
using ProgressCallback = std::function<void(float)>;

// True when the MP4 was completely written. The output appears at
// `output_path` only on success; an existing file there survives any failure.
// Prints nothing but the frame-rate estimate line, and that only with print_frame_rate.
bool remux_to_mp4(const std::string& input_path, const std::string& output_path,
                  ProgressCallback progress, bool print_frame_rate = true);

// The input path without the last "." of its file name and what follows, plus
// ".mp4"; a file name without "." gets ".mp4" appended.
std::string mp4_output_path(const std::string& input_path);
