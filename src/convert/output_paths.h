// Where the MP4s of a batch go: beside their recordings, and never two
// recordings of one batch into one file.
#pragma once

#include <string>
#include <vector>

// One output path per input, in order. Each input gets mp4_output_path's
// name unless an earlier input of the batch already has it or it names one of
// the inputs; then the input's whole file name plus ".mp4" ("a.h264" ->
// "a.h264.mp4"), then "<name>-2.mp4", "<name>-3.mp4", ... Paths are compared
// as the file system may see them: made absolute with "." and ".." folded,
// and ASCII letters equal in either case (Windows and macOS folders do not
// tell them apart).
std::vector<std::string> batch_output_paths(const std::vector<std::string>& inputs);

// The key under which batch_output_paths compares two paths.
std::string path_comparison_key(const std::string& path);
