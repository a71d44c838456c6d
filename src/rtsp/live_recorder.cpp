#include "rtsp/live_recorder.h"

#include <cmath>
#include <cstdio>

#include "platform/files.h"

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

void append_unit(std::vector<uint8_t>& out, const uint8_t* unit, size_t size) {
  out.insert(out.end(), kStartCode, kStartCode + 4);
  out.insert(out.end(), unit, unit + size);
}

void fail(LiveRecorder& recorder, const std::string& why) {
  recorder.error = why;
  recorder.active = false;
  close_recording_file(recorder.file);
}

// The converted sound the resampler still holds goes into the file it belongs to.
void flush_sound(LiveRecorder& recorder) {
  recorder.alaw_bytes.clear();
  flush_alaw(recorder.alaw, recorder.alaw_bytes);
  if (recorder.alaw_bytes.empty() || !recording_file_open(recorder.file)) return;
  if (!write_recorded_sound(recorder.file, recording_time_ms(recorder.sound_end_s), recorder.alaw_bytes.data(),
                            recorder.alaw_bytes.size()))
    recorder.error = recorder.file.error;
}

void finish_file(LiveRecorder& recorder) {
  flush_sound(recorder);
  if (!recording_file_open(recorder.file)) return;
  const std::string path = recorder.file.path;
  if (!close_recording_file(recorder.file)) {
    fail(recorder, recorder.file.error);
    return;
  }
  recorder.finished.push_back(path);
}

// Opens the next file of the recording; false (recording stopped) when it cannot.
bool open_next_file(LiveRecorder& recorder, double media_s) {
  const uint32_t number = recorder.files_made + 1;
  if (!recorder.settings.path.empty()) {
    if (!open_recording_file(recorder.file, numbered_recording_path(recorder.settings.path, number))) {
      fail(recorder, recorder.file.error);
      return false;
    }
  } else {
    std::tm local{};
    local_time(std::time(nullptr), local);
    const std::string base = live_recording_name(recorder.settings.folder, recorder.settings.name, local);
    bool opened = false;
    // Two files begun in one second (a reconnect) get "_2", "_3" ...
    for (uint32_t attempt = 1; attempt <= 100 && !opened; ++attempt) {
      bool taken = false;
      opened = open_new_recording_file(recorder.file, numbered_recording_path(base, attempt), taken);
      if (!opened && !taken) break;
    }
    if (!opened) {
      fail(recorder, recorder.file.error);
      return false;
    }
  }
  recorder.files_made = number;
  recorder.file_has_parameter_sets = false;
  recorder.file_started_s = media_s;
  recorder.split_due = false;
  return true;
}

bool ensure_file(LiveRecorder& recorder, double media_s) {
  if (!recorder.active) return false;
  return recording_file_open(recorder.file) || open_next_file(recorder, media_s);
}

bool split_time_reached(const LiveRecorder& recorder, double media_s) {
  const uint32_t minutes = recorder.settings.split_minutes;
  return minutes > 0 && recording_file_open(recorder.file) && media_s - recorder.file_started_s >= minutes * 60.0;
}

// Writes the gathered picture, first ending the file when a split is due and
// this picture is a key picture (it then begins the next file).
void write_picture(LiveRecorder& recorder) {
  if (!recorder.picture_open) return;
  recorder.picture_open = false;
  if (recorder.picture.empty()) return;
  if (split_time_reached(recorder, recorder.picture_s)) recorder.split_due = true;
  if (recorder.split_due && recorder.picture_key) finish_file(recorder);
  if (!recorder.active) return;
  if (!ensure_file(recorder, recorder.picture_s)) return;
  std::vector<uint8_t>& bytes = recorder.picture;
  if (recorder.picture_has_parameter_sets) recorder.file_has_parameter_sets = true;
  if (!recorder.file_has_parameter_sets && !recorder.sps.empty() && !recorder.pps.empty()) {
    // A file that begins without parameter sets would not decode on its own.
    std::vector<uint8_t> with_sets;
    append_unit(with_sets, recorder.sps.data(), recorder.sps.size());
    append_unit(with_sets, recorder.pps.data(), recorder.pps.size());
    with_sets.insert(with_sets.end(), bytes.begin(), bytes.end());
    bytes.swap(with_sets);
    recorder.file_has_parameter_sets = true;
  }
  if (!write_recorded_picture(recorder.file, recording_time_ms(recorder.picture_s), bytes.data(), bytes.size()))
    fail(recorder, recorder.file.error);
  bytes.clear();
}

}  // namespace

uint32_t recording_time_ms(double media_s) {
  return static_cast<uint32_t>(static_cast<int64_t>(std::llround(media_s * 1000.0)));
}

std::string live_recording_name(const std::string& folder, const std::string& name, const std::tm& t) {
  std::string safe;
  for (unsigned char c : name) safe += (c < 0x20 || std::string("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string::npos) ? '_' : static_cast<char>(c);
  if (safe.empty()) safe = "camera";
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d_%02d%02d%02d.264", (t.tm_year + 1900) % 10000,
                (t.tm_mon + 1) % 100, t.tm_mday % 100, t.tm_hour % 100, t.tm_min % 100, t.tm_sec % 100);
  if (folder.empty()) return safe + stamp;
  const char last = folder.back();
  return folder + (last == '/' || last == '\\' ? "" : "/") + safe + stamp;
}

std::string numbered_recording_path(const std::string& path, uint32_t number) {
  if (number <= 1) return path;
  const size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  return path.substr(0, dot) + "_" + std::to_string(number) + path.substr(dot);
}

bool start_live_recording(LiveRecorder& recorder, const LiveRecorderSettings& settings) {
  stop_live_recording(recorder);
  recorder.settings = settings;
  recorder.error.clear();
  recorder.finished.clear();
  recorder.files_made = 0;
  recorder.split_due = false;
  recorder.picture.clear();
  recorder.picture_open = false;
  recorder.alaw = AlawConverter{};
  recorder.active = true;
  return true;
}

void stop_live_recording(LiveRecorder& recorder) {
  if (recorder.active) write_picture(recorder);
  recorder.picture.clear();
  recorder.picture_open = false;
  finish_file(recorder);
  recorder.active = false;
}

void recorder_take_parameter_set(LiveRecorder& recorder, const uint8_t* unit, size_t size) {
  if (size == 0) return;
  const int type = unit[0] & 0x1F;
  if (type == 7) recorder.sps.assign(unit, unit + size);
  if (type == 8) recorder.pps.assign(unit, unit + size);
}

void recorder_take_unit(LiveRecorder& recorder, const uint8_t* unit, size_t size, uint32_t rtp_time,
                        double media_s) {
  if (size == 0) return;
  recorder_take_parameter_set(recorder, unit, size);
  if (!recorder.active) return;
  if (recorder.picture_open && rtp_time != recorder.picture_rtp) write_picture(recorder);
  if (!recorder.picture_open) {
    recorder.picture_open = true;
    recorder.picture_rtp = rtp_time;
    recorder.picture_s = media_s;
    recorder.picture_key = false;
    recorder.picture_has_parameter_sets = false;
    recorder.picture_dropped = false;
    recorder.picture.clear();
  }
  if (recorder.picture_dropped) return;
  if (recorder.picture.size() + size + sizeof kStartCode > kMaxRecordedPictureBytes) {
    // Left out whole: a cut picture would not decode either.
    ++recorder.pictures_dropped;
    recorder.picture_dropped = true;
    recorder.picture.clear();
    return;
  }
  const int type = unit[0] & 0x1F;
  if (type == 5) recorder.picture_key = true;
  if (type == 7 || type == 8) recorder.picture_has_parameter_sets = true;
  append_unit(recorder.picture, unit, size);
}

void recorder_take_sound(LiveRecorder& recorder, const uint8_t* alaw, size_t alaw_count, const int16_t* samples,
                         int frames, int rate, int channels, double media_s) {
  if (!recorder.active || !ensure_file(recorder, media_s)) return;
  if (!alaw) {
    recorder.alaw_bytes.clear();
    if (!convert_to_alaw(recorder.alaw, samples, frames, rate, channels, recorder.alaw_bytes)) {
      fail(recorder, "the sound cannot be converted for the recording");
      return;
    }
    alaw = recorder.alaw_bytes.data();
    alaw_count = recorder.alaw_bytes.size();
  }
  if (alaw_count > 0 && !write_recorded_sound(recorder.file, recording_time_ms(media_s), alaw, alaw_count))
    fail(recorder, recorder.file.error);
  recorder.sound_end_s = media_s + static_cast<double>(frames) / rate;
}

void recorder_new_stream(LiveRecorder& recorder) {
  if (!recorder.active) return;
  write_picture(recorder);
  finish_file(recorder);
}
