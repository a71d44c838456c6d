#include <gtest/gtest.h>

#include <cstdlib>

#include "recording/alaw.h"
#include "recording/recording.h"
#include "recording/recording_writer.h"

namespace {

// Width of the quantisation step the code's segment covers, in 16-bit units.
int alaw_step(uint8_t code) {
  const int segment = ((code ^ 0x55) >> 4) & 7;
  return segment <= 1 ? 16 : 16 << (segment - 1);
}

}  // namespace

TEST(AlawEncoder, EveryCodeSurvivesDecodeThenEncode) {
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(encode_alaw(decode_alaw(static_cast<uint8_t>(code))), code) << "code " << code;
  }
}

TEST(AlawEncoder, EverySampleLandsWithinHalfAStepKeepingSignAndOrder) {
  int previous = -32768 - 1;
  for (int x = -32768; x <= 32767; ++x) {
    const uint8_t code = encode_alaw(static_cast<int16_t>(x));
    const int back = decode_alaw(code);
    ASSERT_LE(std::abs(back - x), alaw_step(code) / 2) << "sample " << x;
    ASSERT_EQ(back > 0, x >= 0) << "sample " << x;
    ASSERT_GE(back, previous) << "sample " << x;
    previous = back;
  }
}

TEST(RecordingWriter, HeadersKeepTheirFieldsAsGivenEvenWhenTheyReadAsStartCodes) {
  struct Case {
    uint32_t length, timestamp, unread;
    bool start_code;
  };
  // Little-endian 0x01, 0x0100, 0x010000 put 00 00 01 next to zero bytes.
  const Case cases[] = {{500, 1000, 0, false}, {500, 0x101, 0, true}, {0x1234, 0x20001, 0, true},
                        {65536, 1000, 0, true}, {500, 1000, 0x10000, true}};
  for (const Case& c : cases) {
    std::vector<uint8_t> video, audio;
    EXPECT_EQ(append_video_header(video, c.length, c.timestamp, c.unread), c.timestamp);
    EXPECT_EQ(append_audio_block(audio, c.timestamp, std::vector<uint8_t>(160, 0xD5), c.unread),
              c.timestamp);
    EXPECT_EQ(read_le32(video.data() + 4), c.length);
    EXPECT_EQ(read_le32(video.data() + 8), c.timestamp);
    EXPECT_EQ(read_le32(video.data() + 12), c.unread);
    EXPECT_EQ(has_start_code(video.data(), video.size()), c.start_code) << c.length << "/" << c.timestamp;
  }
}

TEST(RecordingWriter, BlocksIndexBackToTheirSamplesAndMalformedOnesDoNot) {
  std::vector<uint8_t> payload;
  const std::vector<uint8_t> first(160, 0x9A), second(7, 0x2B);
  append_audio_block(payload, 700, first);
  append_audio_header(payload, 4, 710);      // one byte too short
  append_audio_header(payload, 65536, 720);  // one byte too long
  append_audio_block(payload, 730, second);
  append_audio_header(payload, 1000, 740);   // runs past the end
  const auto blocks = index_audio_blocks(payload.data(), payload.size());
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].timestamp, 700u);
  EXPECT_EQ(blocks[0].size, 160);
  EXPECT_EQ(std::vector<uint8_t>(blocks[0].data, blocks[0].data + 160), first);
  EXPECT_EQ(blocks[1].timestamp, 730u);
  EXPECT_EQ(std::vector<uint8_t>(blocks[1].data, blocks[1].data + 7), second);
  EXPECT_EQ(read_le32(payload.data() + 180 + 16 + 4), 65536u);
}
