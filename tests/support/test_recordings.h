// Test recordings made by build/tools/make_recording, temporary folders and
// small file and process helpers shared by every test program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What to make; each field maps to one option of make_recording.
struct RecordingSpec {
  int width = 320, height = 240;
  double fps = 25;
  double duration_s = 2;  int frames = 0;   // frames > 0 overrides duration
  int gop = 0;                                // 0: round(fps)
  uint32_t first_ts = 1000;
  bool audio = false; int audio_offset_ms = 0; int block_samples = 160;
  bool full_range = false; int mid_gop = 0;
  double size_change_at_s = -1; int width2 = 0, height2 = 0;
  bool no_hxvf = false; int bad_hxaf = 0; int slices = 1;
  int seed = 0;
  // Further make_recording options, as given (the camera's clock and rough bytes).
  std::vector<std::string> extra_args;
};

// The make_recording arguments for `recipe` (without the program name).
std::vector<std::string> recording_arguments(const RecordingSpec& recipe, const std::string& path);

// Runs build/tools/make_recording (H264_TOOLS_DIR) with posix_spawn; returns the path, or
// "" after a gtest ADD_FAILURE with the tool's output. Caches: the same recipe and path is not
// remade within one test process.
std::string make_recording_file(const RecordingSpec& recipe, const std::string& path);

// A fresh per-process temporary folder (removed at exit), for fixtures and outputs.
std::string test_temp_dir();

// Reads a whole file; empty on failure.
std::vector<uint8_t> read_file_bytes(const std::string& path);

// Writes a whole file; false on failure.
bool write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Runs `program` with `args` (posix_spawn, no shell), stdout and stderr
// together into *output when given. Returns the exit status, or -1 when it
// could not be started or did not exit normally.
int run_program(const std::string& program, const std::vector<std::string>& args,
                std::string* output = nullptr);

// Made pictures show their frame number as 16 cells across the top band
// (height max(8, h/10), cell width w/16, most significant bit left, light
// for 1). `gray(x, y)` gives the brightness 0..255 of a pixel of a w x h
// picture (e.g. the Y plane or a screenshot); returns the frame number.
// Pictures 128 pixels wide or more read back reliably after encoding.
int read_frame_number(const std::function<int(int x, int y)>& gray, int width, int height);
