#include "recording/recording_file.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "recording/recording.h"
#include "recording/recording_writer.h"

namespace {

// Writes `size` bytes; on failure closes the file and keeps the reason.
bool put(RecordingFile& recording, const uint8_t* data, size_t size) {
  if (!recording.file) return false;
  if (size > 0 && std::fwrite(data, 1, size, recording.file) != size) {
    recording.error = std::string("cannot write ") + recording.path + ": " + std::strerror(errno);
    std::fclose(recording.file);
    recording.file = nullptr;
    return false;
  }
  recording.bytes += size;
  return true;
}

bool start(RecordingFile& recording, std::FILE* file, const std::string& path) {
  recording.file = file;
  recording.path = path;
  recording.bytes = recording.pictures = recording.sound_blocks = recording.sound_samples = 0;
  recording.error.clear();
  std::vector<uint8_t> header;
  append_file_header(header);
  return put(recording, header.data(), header.size());
}

}  // namespace

RecordingFile::~RecordingFile() {
  if (file) std::fclose(file);
}

bool recording_file_open(const RecordingFile& recording) { return recording.file != nullptr; }

bool open_recording_file(RecordingFile& recording, const std::string& path) {
  close_recording_file(recording);
  std::FILE* file = open_file(path, "wb");
  if (!file) {
    recording.error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  return start(recording, file, path);
}

bool open_new_recording_file(RecordingFile& recording, const std::string& path, bool& taken) {
  taken = false;
  const CreateResult created = create_new_file(path);
  if (created == CreateResult::exists) {
    taken = true;
    recording.error = path + " exists";
    return false;
  }
  if (created == CreateResult::failed) {
    recording.error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  return open_recording_file(recording, path);
}

bool write_recorded_picture(RecordingFile& recording, uint32_t time_ms, const uint8_t* units, size_t size) {
  std::vector<uint8_t> header;
  append_video_header(header, static_cast<uint32_t>(size), time_ms);
  if (!put(recording, header.data(), header.size()) || !put(recording, units, size)) return false;
  ++recording.pictures;
  return true;
}

bool write_recorded_sound(RecordingFile& recording, uint32_t time_ms, const uint8_t* alaw, size_t count) {
  std::vector<uint8_t> block;
  for (size_t done = 0; done < count;) {
    const size_t samples = count - done < kMaxSoundBlockSamples ? count - done : kMaxSoundBlockSamples;
    block.clear();
    const uint32_t at = time_ms + static_cast<uint32_t>(done * 1000 / kSoundSampleRate);
    append_audio_block(block, at, std::vector<uint8_t>(alaw + done, alaw + done + samples));
    if (!put(recording, block.data(), block.size())) return false;
    ++recording.sound_blocks;
    recording.sound_samples += samples;
    done += samples;
  }
  return true;
}

bool close_recording_file(RecordingFile& recording) {
  if (!recording.file) return recording.error.empty();
  const bool flushed = std::fflush(recording.file) == 0;
  const bool closed = std::fclose(recording.file) == 0;
  recording.file = nullptr;
  if (flushed && closed) return true;
  recording.error = "cannot finish " + recording.path + ": " + std::strerror(errno);
  return false;
}
