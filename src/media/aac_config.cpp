#include "media/aac_config.h"

namespace {

// Most significant bit first, as MPEG-4 writes its configurations.
struct BitReader {
  const std::vector<uint8_t>& bytes;
  size_t bit = 0;
  bool overrun = false;

  uint32_t read(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      if (bit >= bytes.size() * 8) {
        overrun = true;
        return 0;
      }
      value = value << 1 | ((bytes[bit / 8] >> (7 - bit % 8)) & 1);
      ++bit;
    }
    return value;
  }
};

constexpr int kSampleRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int read_object_type(BitReader& bits) {
  int type = static_cast<int>(bits.read(5));
  return type == 31 ? 32 + static_cast<int>(bits.read(6)) : type;
}

// 0 for a reserved index.
int read_sample_rate(BitReader& bits) {
  const uint32_t index = bits.read(4);
  if (index == 15) return static_cast<int>(bits.read(24));
  return index < sizeof kSampleRates / sizeof kSampleRates[0] ? kSampleRates[index] : 0;
}

bool is_general_audio(int type) {
  return (type >= 1 && type <= 4) || type == 6 || type == 7 || type == 17 || (type >= 19 && type <= 23);
}

// GASpecificConfig for a channel configuration other than 0.
void skip_general_audio_config(BitReader& bits, int type) {
  bits.read(1);                // frameLengthFlag
  if (bits.read(1)) bits.read(14);  // dependsOnCoreCoder: coreCoderDelay
  const bool extension = bits.read(1);
  if (type == 6 || type == 20) bits.read(3);  // layerNr
  if (!extension) return;
  if (type == 22) bits.read(16);  // numOfSubFrame, layer_length
  if (type == 17 || type == 19 || type == 20 || type == 23) bits.read(3);  // resilience flags
  bits.read(1);  // extensionFlag3
}

}  // namespace

bool parse_hex_bytes(std::string_view text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = hex_digit(text[i]), low = hex_digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

bool read_audio_specific_config(const std::vector<uint8_t>& bytes, size_t first_bit, size_t& end_bit,
                                AacConfigInfo& info) {
  BitReader bits{bytes, first_bit};
  info = AacConfigInfo{};
  int type = read_object_type(bits);
  info.sample_rate = read_sample_rate(bits);
  info.channels = static_cast<int>(bits.read(4));
  if (type == 5 || type == 29) {
    info.object_type = type;
    read_sample_rate(bits);  // the extension's own rate; the core rate is the one decoded first
    type = read_object_type(bits);
  } else {
    info.object_type = type;
  }
  if (!is_general_audio(type) || info.channels == 0 || info.sample_rate == 0) return false;
  skip_general_audio_config(bits, type);
  if (bits.overrun) return false;
  end_bit = bits.bit;
  return true;
}

bool latm_audio_specific_config(const std::vector<uint8_t>& stream_mux_config,
                                std::vector<uint8_t>& audio_specific_config, int& subframes) {
  BitReader bits{stream_mux_config};
  if (bits.read(1) != 0) return false;  // audioMuxVersion 1 carries lengths this reader does not take
  bits.read(1);                         // allStreamsSameTimeFraming
  subframes = static_cast<int>(bits.read(6)) + 1;
  const uint32_t programs = bits.read(4), layers = bits.read(3);
  if (bits.overrun || programs != 0 || layers != 0) return false;
  const size_t start = bits.bit;
  size_t end = 0;
  AacConfigInfo info;
  if (!read_audio_specific_config(stream_mux_config, start, end, info)) return false;
  BitReader copy{stream_mux_config, start};
  audio_specific_config.assign((end - start + 7) / 8, 0);
  for (size_t i = 0; i < end - start; ++i)
    audio_specific_config[i / 8] |= static_cast<uint8_t>(copy.read(1) << (7 - i % 8));
  return true;
}
