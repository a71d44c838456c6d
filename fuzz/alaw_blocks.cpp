// The audio block scan and the A-law block conversion at every volume: one
// output sample per input byte, each the expanded byte scaled by the volume.
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "recording/alaw.h"
#include "recording/recording.h"

// Input: one byte choosing the volume (0..100), then a payload.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int volume = data[0] % 101;
  const auto blocks = index_audio_blocks(data + 1, size - 1);
  std::vector<int16_t> samples(7, 1234);  // reused like the player's buffer, never pre-sized
  for (const AudioBlock& block : blocks) {
    convert_audio_block(block, volume, samples);
    FUZZ_CHECK(samples.size() == static_cast<size_t>(block.size));
    for (size_t i = 0; i < samples.size(); ++i) {
      const int full = decode_alaw(block.data[i]);
      FUZZ_CHECK(std::abs(full) >= 8 && std::abs(full) <= 32256);
      FUZZ_CHECK(decode_alaw(static_cast<uint8_t>(block.data[i] ^ 0x80)) == -full);
      FUZZ_CHECK(samples[i] == full * volume / 100);
    }
  }
  return 0;
}
