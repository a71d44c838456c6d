// Writing a recording to a file as it comes, in the camera's own layout: the
// 32-byte file header, then per picture an "HXVF" header with the picture's
// time and its NAL units after 00 00 00 01, and "HXAF" blocks of 8000 Hz
// A-law sound with theirs, in the order they were received. What a camera
// writes to its card, so the player, the inspector and the converter take it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Most samples one "HXAF" block holds (its length field counts 4 more bytes).
constexpr size_t kMaxSoundBlockSamples = 65531;

struct RecordingFile {
  std::FILE* file = nullptr;
  std::string path;
  uint64_t bytes = 0;          // written so far, the file header included
  uint64_t pictures = 0;
  uint64_t sound_blocks = 0;
  uint64_t sound_samples = 0;
  std::string error;           // why the last write failed; the file is closed then
  RecordingFile() = default;
  RecordingFile(const RecordingFile&) = delete;
  RecordingFile& operator=(const RecordingFile&) = delete;
  ~RecordingFile();  // closes an open file
};

// True while a file is open for writing.
bool recording_file_open(const RecordingFile& recording);

// Creates (or replaces) `path` and writes the file header; false with
// `recording.error` when it cannot be written.
bool open_recording_file(RecordingFile& recording, const std::string& path);

// Creates `path` only when no file has that name (a name taken meanwhile
// fails too); otherwise as open_recording_file. `taken` says the name was the
// reason.
bool open_new_recording_file(RecordingFile& recording, const std::string& path, bool& taken);

// Writes one picture: an "HXVF" header with `time_ms` and the byte count,
// then the picture's bytes, which already hold each unit after 00 00 00 01.
// False (the file closed, the reason in `error`) when the write fails.
bool write_recorded_picture(RecordingFile& recording, uint32_t time_ms, const uint8_t* units, size_t size);

// Writes A-law samples as "HXAF" blocks (split at kMaxSoundBlockSamples, each
// block's time moved on by its samples at 8000 Hz). False as above.
bool write_recorded_sound(RecordingFile& recording, uint32_t time_ms, const uint8_t* alaw, size_t count);

// Flushes and closes; false with `error` when the data did not all reach the file.
bool close_recording_file(RecordingFile& recording);
