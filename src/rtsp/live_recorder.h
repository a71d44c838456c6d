// Recording what a camera sends while it is watched: its H.264 units gathered
// into pictures by their RTP time and written with the pictures' times, and
// its sound as 8000 Hz mono A-law (a PCMA stream's bytes as they came; other
// sound converted), into recordings in the camera's own layout. A new file
// begins every `split_minutes` (at the next key picture, so each file starts
// where it can be decoded) and when the stream begins anew after a reconnect;
// nothing received while recording is left out. Runs on the session's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "media/sound_decoder.h"
#include "recording/recording_file.h"

struct LiveRecorderSettings {
  // With `path` set, the first file is that path and later ones add "_2",
  // "_3" before its extension; otherwise files are named
  // "<folder>/<name>_<YYYYMMDD_HHMMSS>.264" by the local time they begin.
  std::string path;
  std::string folder;
  std::string name = "camera";
  uint32_t split_minutes = 0;  // 0: no split by time
};

struct LiveRecorder {
  LiveRecorderSettings settings;
  bool active = false;
  RecordingFile file;
  double file_started_s = 0;  // media time of the current file's first picture or sound
  bool split_due = false;     // a new file begins at the next key picture
  uint32_t files_made = 0;
  std::vector<std::string> finished;  // files closed so far, in order
  std::string error;                  // why recording stopped, when it did by itself
  // The picture being gathered: its units after 00 00 00 01 each.
  std::vector<uint8_t> picture;
  bool picture_open = false;
  uint32_t picture_rtp = 0;
  double picture_s = 0;
  bool picture_key = false;
  bool picture_has_parameter_sets = false;
  bool picture_dropped = false;  // grew past kMaxRecordedPictureBytes: its units are left out
  // The open file holds parameter sets before its pictures: a file begun by
  // the sound, or after a reconnect, gets the newest ones with its first picture.
  bool file_has_parameter_sets = false;
  int64_t pictures_dropped = 0;  // pictures left out for passing kMaxRecordedPictureBytes
  // The newest parameter sets seen (the SDP's or in the stream), written at
  // the start of a file whose first picture lacks them.
  std::vector<uint8_t> sps, pps;
  AlawConverter alaw;
  std::vector<uint8_t> alaw_bytes;
  double sound_end_s = 0;  // media time where the A-law written so far ends
};

// Starts recording with `settings`; the file opens with the first picture or
// sound that comes. False with `recorder.error` when the folder is not usable.
// The most one recorded picture may hold: a sender that never moves its
// RTP time on cannot grow one without bound.
constexpr size_t kMaxRecordedPictureBytes = size_t{32} << 20;

bool start_live_recording(LiveRecorder& recorder, const LiveRecorderSettings& settings);

// Writes what is gathered and closes the file.
void stop_live_recording(LiveRecorder& recorder);

// Notes a parameter set (SPS or PPS) known before the stream brings one (from the SDP).
void recorder_take_parameter_set(LiveRecorder& recorder, const uint8_t* unit, size_t size);

// Takes one H.264 unit with its RTP time and media time (seconds); a unit of
// a new RTP time ends the picture gathered before it.
void recorder_take_unit(LiveRecorder& recorder, const uint8_t* unit, size_t size, uint32_t rtp_time,
                        double media_s);

// Takes sound: `alaw` bytes as they are (PCMA at 8000 Hz mono) or, when null,
// decoded samples (interleaved, `frames` per channel) converted to A-law.
void recorder_take_sound(LiveRecorder& recorder, const uint8_t* alaw, size_t alaw_count, const int16_t* samples,
                         int frames, int rate, int channels, double media_s);

// The stream begins anew (a reconnect): the current file ends and the next
// picture or sound begins a new one.
void recorder_new_stream(LiveRecorder& recorder);

// The name a recording gets: "<folder>/<name>_<YYYYMMDD_HHMMSS>.264" (the
// folder left out when empty, `name` with characters no file name may hold
// replaced by "_").
std::string live_recording_name(const std::string& folder, const std::string& name, const std::tm& local_time);

// The path of the `number`th file (from 1) of a recording asked for by path:
// the path itself, then "x_2.264", "x_3.264" for "x.264".
std::string numbered_recording_path(const std::string& path, uint32_t number);

// The media time as a block header's milliseconds.
uint32_t recording_time_ms(double media_s);
