// The AAC configuration a session description carries: hexadecimal bytes of
// an AudioSpecificConfig (RFC 3640 "config=") or of a StreamMuxConfig, out of
// which the AudioSpecificConfig is taken (RFC 3016 "config=" with cpresent=0).
// Pure bit reading, so it is tested directly.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// Reads hexadecimal digits (either letter case) two per byte; false on any
// other character or an odd count. Empty text gives no bytes and true.
bool parse_hex_bytes(std::string_view text, std::vector<uint8_t>& bytes);

// What an AudioSpecificConfig says about the sound.
struct AacConfigInfo {
  int object_type = 0;   // 2: AAC-LC; 5: SBR; 29: PS
  int sample_rate = 0;   // of the core coder
  int channels = 0;      // the channel configuration (0: named in a program element)
};

// Reads an AudioSpecificConfig of the AAC object types a camera sends
// (object types 1-4, 6, 7, 17, 19-23, with the SBR and PS extensions 5 and
// 29) starting at bit `first_bit` of `bytes`; true with its end bit (one past
// its last) and what it says. False when it is cut short, names an unknown
// object type or an unknown sample rate, or needs a program config element
// (channel configuration 0).
bool read_audio_specific_config(const std::vector<uint8_t>& bytes, size_t first_bit, size_t& end_bit,
                                AacConfigInfo& info);

// The AudioSpecificConfig inside a StreamMuxConfig (audioMuxVersion 0, one
// program and layer), copied out to whole bytes (it starts at bit 15 there),
// and the number of subframes per AudioMuxElement. False for another mux
// version or layout, or when the config inside does not read.
bool latm_audio_specific_config(const std::vector<uint8_t>& stream_mux_config,
                                std::vector<uint8_t>& audio_specific_config, int& subframes);
