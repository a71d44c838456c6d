// G.711 A-law expansion to signed 16-bit PCM at a volume.
#pragma once

#include <cstdint>
#include <vector>

#include "recording/recording.h"

// ITU-T G.711 A-law, magnitudes 8..32256.
int16_t decode_alaw(uint8_t byte);

// Resizes `samples` to the block's sample count and fills it with the decoded
// samples scaled by volume/100 (0..100, truncated toward zero).
void convert_audio_block(const AudioBlock& block, int volume, std::vector<int16_t>& samples);
