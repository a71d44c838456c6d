// Hand-built "HXAF" blocks for exact audio cases: the payload is laid out as a
// camera writes it and indexed by the real scanner, so the records point into it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "recording/recording.h"

struct TestBlockSpec {
  uint32_t timestamp_ms;
  int samples;
  uint8_t fill;                   // every A-law sample of the block...
  std::vector<uint8_t> pattern{};  // ...unless this is given: the samples cycle through it
};

struct TestAudioBlocks {
  std::shared_ptr<std::vector<uint8_t>> payload;  // keeps the records' bytes alive
  std::vector<AudioBlock> blocks;
};

inline void put_le32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline TestAudioBlocks make_test_audio_blocks(const std::vector<TestBlockSpec>& recipes) {
  auto payload = std::make_shared<std::vector<uint8_t>>();
  for (const TestBlockSpec& recipe : recipes) {
    for (char c : {'H', 'X', 'A', 'F'}) payload->push_back(static_cast<uint8_t>(c));
    put_le32(*payload, static_cast<uint32_t>(recipe.samples) + 4);
    put_le32(*payload, recipe.timestamp_ms);
    put_le32(*payload, 0);
    for (uint8_t b : {0x00, 0x01, 0x50, 0x00}) payload->push_back(b);  // not audio
    for (int i = 0; i < recipe.samples; ++i) {
      payload->push_back(recipe.pattern.empty() ? recipe.fill : recipe.pattern[i % recipe.pattern.size()]);
    }
  }
  TestAudioBlocks out;
  out.blocks = index_audio_blocks(payload->data(), payload->size());
  out.payload = std::move(payload);
  return out;
}
