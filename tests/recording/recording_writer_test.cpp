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

TEST(RecordingWriter, HeadersNeverReadAsStartCodes) {
  struct Case {
    uint32_t length, timestamp;
    int64_t max_move;
  };
  // Little-endian 0x01, 0x0100, 0x010000 and 0x01000000 put 00 00 01 next to
  // the length field's or the timestamp's zero bytes.
  const Case cases[] = {{500, 1000, 0},       {500, 1, 2},          {500, 0x100, 2},
                        {500, 0x10000, 2},    {500, 0x1000000, 1},  {500, 0x1000080, 129},
                        {65536, 1000, 0},     {0x10000, 0x10001, 2}, {164, 0x102, 2},
                        {500, 0xFFFFFF01, 2}};
  for (const Case& c : cases) {
    std::vector<uint8_t> video, audio;
    const uint32_t video_ts = append_video_header(video, c.length, c.timestamp);
    const uint32_t audio_ts = append_audio_block(audio, c.timestamp, std::vector<uint8_t>(160, 0xD5));
    EXPECT_FALSE(has_start_code(video.data(), video.size())) << c.length << "/" << c.timestamp;
    EXPECT_FALSE(has_start_code(audio.data(), audio.size())) << c.timestamp;
    EXPECT_LE(std::llabs(int64_t{video_ts} - c.timestamp), c.max_move) << c.timestamp;
    EXPECT_LE(std::llabs(int64_t{audio_ts} - c.timestamp), c.max_move) << c.timestamp;
    EXPECT_EQ(read_le32(video.data() + 8), video_ts);
  }
  std::vector<uint8_t> clean;
  EXPECT_EQ(append_video_header(clean, 500, 1000), 1000u);
  EXPECT_EQ(append_audio_block(clean, 1000, {0xD5}), 1000u);
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
  EXPECT_EQ(read_le32(payload.data() + 180 + 16 + 4), 65536u);  // kept as asked
}
