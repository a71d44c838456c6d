// What the real FFmpeg tools say about a file, for checking converted MP4s.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Runs a shell command; its standard output and error together. Sets *status
// to the exit status (or -1 when it could not run).
std::string run_command(const std::string& command, int* status = nullptr);

// A path quoted for the shell.
std::string shell_quoted(const std::string& path);

struct StreamFacts {
  int stream_count = 0;
  std::string codec_type, codec_name;
  int width = 0, height = 0;
  int64_t frames_decoded = -1;  // -count_frames
  int time_base_num = 0, time_base_den = 0;
  int64_t duration_ts = -1;
  std::string format_name, major_brand;
};

// ffprobe's view of the file's streams (the first stream's details).
StreamFacts probe_streams(const std::string& path);

struct PacketFacts {
  int64_t pts = 0, dts = 0, duration = 0;
  int64_t size = 0;
  bool key = false;
};

// Every packet of the first stream in file order, timestamps in its time base.
std::vector<PacketFacts> probe_packets(const std::string& path);

// Everything `ffmpeg -v error -i path -f null -` prints while decoding the file.
std::string decode_errors(const std::string& path);

// The payload of the file's "avcC" box; empty when there is none.
std::vector<uint8_t> avcc_box_payload(const std::string& path);

// The picture sizes ffmpeg decodes, "WxH" each, in order of first appearance.
std::vector<std::string> decoded_picture_sizes(const std::string& path);

struct SoundFacts {
  bool present = false;
  std::string codec_name, profile;
  int sample_rate = 0, channels = 0;
  double start_s = -1, duration_s = -1;
};
// ffprobe's view of the first sound stream.
SoundFacts probe_sound(const std::string& path);

// The first sound stream decoded by ffmpeg to 8 kHz mono 16-bit samples.
std::vector<int16_t> decoded_sound(const std::string& path);

// Positions in seconds where a tone starts after at least 100 ms of quiet, in
// 8 kHz samples.
std::vector<double> tone_onsets(const std::vector<int16_t>& samples);

// The same placed on the file's timeline: sample i is heard at i / 8000 s,
// with silence before the track starts (the encoder's priming is not counted).
std::vector<int16_t> decoded_sound_on_timeline(const std::string& path);
