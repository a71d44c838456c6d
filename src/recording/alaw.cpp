#include "recording/alaw.h"

int16_t decode_alaw(uint8_t byte) {
  const int a = byte ^ 0x55;
  int t = (a & 0x0F) << 4;
  const int segment = (a >> 4) & 7;
  if (segment == 0) {
    t += 8;
  } else if (segment == 1) {
    t += 0x108;
  } else {
    t = (t + 0x108) << (segment - 1);
  }
  return static_cast<int16_t>((a & 0x80) ? t : -t);
}

void convert_audio_block(const AudioBlock& block, int volume, std::vector<int16_t>& samples) {
  const size_t count = block.size > 0 ? static_cast<size_t>(block.size) : 0;
  samples.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const int32_t s = decode_alaw(block.data[i]);
    samples[i] = static_cast<int16_t>(s * volume / 100);
  }
}
