// Damaged variants of a real recording's bytes (a whole file, header
// included), for tests that prove the inspector, the converter and the player
// survive bad files: cuts at every kind of boundary, flipped bits in slices,
// random payloads, zero-filled stretches and floods of "HXAF" headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using FileBytes = std::vector<uint8_t>;

// Where a cut lands, what it cuts through, and what loading the cut file
// must find: the slices and audio blocks that lie wholly before the cut.
struct RecordingCut {
  std::string kind;
  size_t file_size;  // bytes kept, file header included
  int frames;        // slices whose NAL header byte is kept
  int audio_blocks;  // audio blocks that end before the cut
};

// One cut of each boundary kind the recording has: inside the file header,
// the bare header, one payload byte, inside the first block header, inside
// the first start code, after the parameter sets (before any slice), inside
// the first slice, inside a later block header, inside an audio block, right
// after an audio block, inside a later start code, and one byte short.
std::vector<RecordingCut> boundary_cuts(const FileBytes& file);

// A small real recording with sound (96x64, 30 frames at 10 fps, a key frame
// every 10), made once per process: long enough to hold every kind of boundary.
const FileBytes& damage_source_recording();

// Flips `count` bits inside slice data, only in bytes whose value stays at
// least 2 on both sides of the flip, so no start code is made or broken and
// the unit and frame counts stay as they were.
FileBytes flip_slice_bits(const FileBytes& file, int count, uint32_t seed);

// A 32-byte header followed by `payload_size` pseudo-random bytes; with
// `start_codes`, a 00 00 01 every few hundred bytes cuts them into units of
// random types (random bytes alone hold a start code once in 16 MB).
FileBytes random_recording(size_t payload_size, uint32_t seed, bool start_codes);

// The file with `length` bytes from file offset `at` set to zero.
FileBytes zero_stretch(const FileBytes& file, size_t at, size_t length);

// The file followed by `count` "HXAF" headers: valid one-sample blocks when
// `valid`, else headers whose length field (65536) makes them no blocks.
FileBytes hxaf_flood(const FileBytes& file, size_t count, bool valid);

// The first line of the loader's output ("Loaded: ..." or "Error: ...").
std::string loader_line(const std::string& output);

// Numbers from an inspector or loader output; -1 when the line is missing.
int loaded_frames(const std::string& output);        // "Loaded: %d bytes, %d frames"
int inspected_audio_blocks(const std::string& output);  // "Audio blocks: %zu"
