// Writing the camera's recording layout: the inverse of the indexes in
// recording.h. The test-recording maker builds its files with these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// G.711 A-law compression of a linear 16-bit sample; decode_alaw gives back
// the middle of the sample's quantisation step.
uint8_t encode_alaw(int16_t sample);

// True when the bytes hold 00 00 01 anywhere: a reader would take it as a
// start code.
bool has_start_code(const uint8_t* bytes, size_t size);

// Appends little-endian 32 bits.
void append_le32(std::vector<uint8_t>& out, uint32_t value);

// Appends the 32-byte file header (never read back).
void append_file_header(std::vector<uint8_t>& out);

// Appends a 16-byte "HXVF" header: magic, the video byte count
// (informational), timestamp, then the unread field (little-endian; 0x10000
// writes 00 00 01 00). Fields are written as given, even where their bytes
// read 00 00 01, as a camera writes them. Returns the timestamp.
uint32_t append_video_header(std::vector<uint8_t>& out, uint32_t video_bytes, uint32_t timestamp,
                             uint32_t unread_field = 0);

// Appends an "HXAF" block: header with length 4 + samples, timestamp, the
// unread field, four filler bytes, then the A-law samples. Returns the timestamp.
uint32_t append_audio_block(std::vector<uint8_t>& out, uint32_t timestamp,
                            const std::vector<uint8_t>& samples, uint32_t unread_field = 0);

// Appends a bare 16-byte "HXAF" header with any length field and nothing
// after it, for malformed blocks. Returns the timestamp.
uint32_t append_audio_header(std::vector<uint8_t>& out, uint32_t length_field, uint32_t timestamp);
