#include "recording/recording_writer.h"

#include <array>
#include <cstring>

uint8_t encode_alaw(int16_t sample) {
  // Work on the 13-bit magnitude the standard quantises; negative samples use
  // the one's complement so -1..-8 share the quietest negative code.
  int value = sample >> 3;
  uint8_t sign_mask = 0xD5;  // positive: sign bit set after the 0x55 inversion
  if (value < 0) {
    sign_mask = 0x55;
    value = -value - 1;
  }
  int segment = 0;
  while (segment < 8 && value >= (0x20 << segment)) ++segment;
  if (segment >= 8) return static_cast<uint8_t>(0x7F ^ sign_mask);
  const int mantissa = segment < 2 ? (value >> 1) & 0x0F : (value >> segment) & 0x0F;
  return static_cast<uint8_t>(((segment << 4) | mantissa) ^ sign_mask);
}

bool has_start_code(const uint8_t* bytes, size_t size) {
  for (size_t i = 0; i + 2 < size; ++i) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) return true;
  }
  return false;
}

void append_le32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void append_file_header(std::vector<uint8_t>& out) {
  static const char kMagic[] = "H264-TEST-RECORDING";
  const size_t start = out.size();
  out.resize(start + 32, 0);
  std::memcpy(out.data() + start, kMagic, sizeof kMagic - 1);
}

namespace {

using BlockHeader = std::array<uint8_t, 16>;

BlockHeader make_block_header(const char* magic, uint32_t length_field, uint32_t timestamp,
                              uint32_t unread_field) {
  BlockHeader header{};
  std::memcpy(header.data(), magic, 4);
  const uint32_t fields[3] = {length_field, timestamp, unread_field};
  for (size_t f = 0; f < 3; ++f) {
    for (size_t b = 0; b < 4; ++b) header[4 + 4 * f + b] = static_cast<uint8_t>(fields[f] >> (8 * b));
  }
  return header;
}

}  // namespace

uint32_t append_video_header(std::vector<uint8_t>& out, uint32_t video_bytes, uint32_t timestamp,
                             uint32_t unread_field) {
  const BlockHeader header = make_block_header("HXVF", video_bytes, timestamp, unread_field);
  out.insert(out.end(), header.begin(), header.end());
  return timestamp;
}

uint32_t append_audio_block(std::vector<uint8_t>& out, uint32_t timestamp,
                            const std::vector<uint8_t>& samples, uint32_t unread_field) {
  const auto length_field = static_cast<uint32_t>(samples.size() + 4);
  const BlockHeader header = make_block_header("HXAF", length_field, timestamp, unread_field);
  out.insert(out.end(), header.begin(), header.end());
  // Four bytes that are not sound.
  static const uint8_t kFiller[4] = {0x10, 0x00, 0x50, 0x00};
  out.insert(out.end(), kFiller, kFiller + 4);
  out.insert(out.end(), samples.begin(), samples.end());
  return timestamp;
}

uint32_t append_audio_header(std::vector<uint8_t>& out, uint32_t length_field, uint32_t timestamp) {
  const BlockHeader header = make_block_header("HXAF", length_field, timestamp, 0);
  out.insert(out.end(), header.begin(), header.end());
  return timestamp;
}
