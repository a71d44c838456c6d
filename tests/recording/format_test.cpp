// Edge cases of the recording layout: start codes, audio blocks, time origin,
// frame-rate snapping, A-law extremes and the loader's messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "recording/alaw.h"
#include "recording/frame_rate.h"
#include "recording/recording.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put_le32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes hxvf(uint32_t ts) {
  Bytes b = {'H', 'X', 'V', 'F'};
  put_le32(b, 0);
  put_le32(b, ts);
  put_le32(b, 0);
  return b;
}

Bytes hxaf(uint32_t length_field, uint32_t ts, size_t body_bytes) {
  Bytes b = {'H', 'X', 'A', 'F'};
  put_le32(b, length_field);
  put_le32(b, ts);
  put_le32(b, 0);
  b.insert(b.end(), body_bytes, 0xD5);
  return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct UnitExpectation {
  size_t offset;
  int32_t size;
  int32_t type;
};

struct NalCase {
  const char* name;
  Bytes payload;
  std::vector<UnitExpectation> units;
};

TEST(IndexNalUnits, StartCodeRules) {
  const std::vector<NalCase> cases = {
      {"three-byte code", {0, 0, 1, 0x65, 0xAA}, {{3, 2, 5}}},
      {"four-byte code", {0, 0, 0, 1, 0x67, 0x42, 0x00}, {{4, 3, 7}}},
      {"no start code", {0x41, 0x00, 0x00, 0x02}, {}},
      {"single byte", {0x00}, {}},
      {"code at the very end is not recognised",
       {0, 0, 1, 0x41, 0x10, 0, 0, 1},
       {{3, 5, 1}}},
      {"four-byte code at the end ends the unit before it",
       {0, 0, 1, 0x41, 0x10, 0, 0, 0, 1},
       {{3, 2, 1}}},
      {"empty unit between back-to-back codes is not recorded",
       {0, 0, 1, 0, 0, 1, 0x41, 0x22},
       {{6, 2, 1}}},
      {"extra zeros stay with the unit before",
       {0, 0, 1, 0x41, 0x99, 0, 0, 0, 0, 1, 0x65, 0x88},
       {{3, 3, 1}, {10, 2, 5}}},
      {"leading bytes before the first code are skipped",
       {0xAB, 0xCD, 0, 0, 1, 0x68, 0xCE},
       {{5, 2, 8}}},
      {"type is the low five bits", {0, 0, 1, 0xFC, 0x00}, {{3, 2, 28}}},
  };
  for (const NalCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto units = index_nal_units(c.payload.data(), c.payload.size());
    ASSERT_EQ(units.size(), c.units.size());
    for (size_t i = 0; i < units.size(); ++i) {
      EXPECT_EQ(units[i].data - c.payload.data(), static_cast<ptrdiff_t>(c.units[i].offset));
      EXPECT_EQ(units[i].size, c.units[i].size);
      EXPECT_EQ(units[i].type, c.units[i].type);
    }
  }
}

TEST(IndexNalUnits, BlockHeadersTravelWithTheUnitBeforeThem) {
  const Bytes payload = cat({{0, 0, 0, 1, 0x65, 0x11, 0x22}, hxaf(5 + 4, 7, 9), hxvf(40),
                             {0, 0, 0, 1, 0x41, 0x33}});
  const auto units = index_nal_units(payload.data(), payload.size());
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].size, 3 + 16 + 9 + 16);
  EXPECT_EQ(units[1].type, 1);
  const auto frames = build_frame_list(units);
  EXPECT_EQ(frames, (std::vector<int64_t>{0, 1}));
}

TEST(HasSplitPictures, FirstMacroblockOfEachSlice) {
  const struct {
    const char* name;
    Bytes payload;
    bool split;
  } cases[] = {
      {"whole pictures", {0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x65, 0x88, 0, 0, 1, 0x41, 0x9A}, false},
      {"a slice starting past macroblock 0", {0, 0, 1, 0x65, 0x88, 0, 0, 1, 0x41, 0x5A}, true},
      {"parameter sets do not count", {0, 0, 1, 0x67, 0x00, 0, 0, 1, 0x65, 0x88}, false},
      {"a one-byte slice says nothing", {0, 0, 1, 0x41, 0, 0, 1, 0x65, 0x80}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(has_split_pictures(index_nal_units(c.payload.data(), c.payload.size())), c.split);
  }
}

TEST(IndexAudioBlocks, LengthFieldLimits) {
  struct Case {
    const char* name;
    uint32_t length_field;
    size_t body;
    size_t trailing;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"length 4 is too short", 4, 4, 0, false},
      {"length 5 is the smallest", 5, 5, 0, true},
      {"length 65535 is the largest", 65535, 65535, 0, true},
      {"length 65536 is too long", 65536, 65536, 0, false},
      {"block ending exactly at the payload end", 164, 164, 0, true},
      {"block running one byte past the end", 164, 163, 0, false},
      {"block followed by more bytes", 164, 164, 10, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes payload = hxaf(c.length_field, 1234, c.body);
    payload.insert(payload.end(), c.trailing, 0x00);
    const auto blocks = index_audio_blocks(payload.data(), payload.size());
    if (!c.valid) {
      EXPECT_TRUE(blocks.empty());
      continue;
    }
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].data - payload.data(), 20);
    EXPECT_EQ(blocks[0].size, static_cast<int32_t>(c.length_field - 4));
    EXPECT_EQ(blocks[0].timestamp, 1234u);
  }
}

TEST(IndexAudioBlocks, ValidBlockBytesAreNotScannedAgainButInvalidOnesAre) {
  // A valid block whose samples spell another header: that inner header is skipped.
  Bytes inner = hxaf(9, 99, 5);
  Bytes outer = hxaf(4 + inner.size(), 10, 0);
  outer.resize(20);
  outer.insert(outer.end(), inner.begin(), inner.end());
  auto blocks = index_audio_blocks(outer.data(), outer.size());
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].timestamp, 10u);

  // An invalid header moves on by one byte and finds a block right behind it.
  const Bytes payload = cat({hxaf(4, 1, 0), hxaf(5 + 160, 2, 165)});
  blocks = index_audio_blocks(payload.data(), payload.size());
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].timestamp, 2u);
  EXPECT_EQ(blocks[0].size, 161);
}

TEST(TimeOrigin, FirstVideoHeaderThenFirstAudioBlockThenZero) {
  const Bytes with_both = cat({hxaf(9, 500, 9), hxvf(700), hxvf(800)});
  auto blocks = index_audio_blocks(with_both.data(), with_both.size());
  EXPECT_EQ(find_time_origin(with_both.data(), with_both.size(), blocks), 700u);

  const Bytes audio_only = cat({{0, 0, 1, 0x65}, hxaf(9, 500, 9)});
  blocks = index_audio_blocks(audio_only.data(), audio_only.size());
  EXPECT_EQ(find_time_origin(audio_only.data(), audio_only.size(), blocks), 500u);

  const Bytes neither = {0, 0, 1, 0x65, 1, 2, 3};
  EXPECT_EQ(find_time_origin(neither.data(), neither.size(), {}), 0u);

  // A header whose 16 bytes would run past the end is not one.
  Bytes cut = hxvf(900);
  cut.pop_back();
  EXPECT_EQ(find_time_origin(cut.data(), cut.size(), {}), 0u);
}

Bytes timestamps_payload(const std::vector<uint32_t>& stamps) {
  Bytes out;
  for (uint32_t ts : stamps) {
    Bytes h = hxvf(ts);
    out.insert(out.end(), h.begin(), h.end());
  }
  out.resize(std::max<size_t>(out.size(), 64), 0);
  return out;
}

TEST(DetectFrameRate, EstimatesAndSnaps) {
  struct Case {
    const char* name;
    std::vector<uint32_t> stamps;
    int64_t frames;
    double expected;
  };
  const std::vector<Case> cases = {
      {"300 frames over 20 s", {1000, 5000, 21000}, 300, 15.0},
      {"14.5 snaps to 15", {1000, 21000}, 290, 15.0},
      {"13.5 ties 12 and 15, stays", {1000, 21000}, 270, 13.5},
      {"100 stays unsnapped", {0, 2000}, 200, 100.0},
      {"125 is above 120", {0, 2000}, 250, 15.0},
      {"single header", {1000}, 100, 15.0},
      {"timestamps going backwards", {5000, 1000}, 100, 15.0},
      {"equal timestamps", {5000, 5000}, 100, 15.0},
      {"under one second", {1000, 1900}, 20, 15.0},
      {"no wrap-around", {0xFFFFFF00u, 5000}, 100, 15.0},
      {"fewer than two frames", {0, 10000}, 1, 15.0},
      {"below one frame per second", {0, 100000}, 50, 15.0},
      {"last in file order, not the largest", {1000, 50000, 11000}, 250, 25.0},
      {"12.5 is within 10 % of 12", {0, 20000}, 250, 12.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes payload = timestamps_payload(c.stamps);
    EXPECT_DOUBLE_EQ(detect_frame_rate(payload.data(), payload.size(), c.frames), c.expected);
  }
}

TEST(DetectFrameRate, PrintsOnlyWhenItEstimated) {
  const Bytes payload = timestamps_payload({1000, 21000});
  testing::internal::CaptureStdout();
  detect_frame_rate(payload.data(), payload.size(), 300);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Detected FPS: 15.0 (from HXVF timestamps, duration=20.0s)\n");
  testing::internal::CaptureStdout();
  detect_frame_rate(payload.data(), payload.size(), 2600);  // 130 fps: default, silent
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Alaw, ExtremesAndVolume) {
  EXPECT_EQ(decode_alaw(0xD5), 8);
  EXPECT_EQ(decode_alaw(0x55), -8);
  EXPECT_EQ(decode_alaw(0xAA), 32256);
  EXPECT_EQ(decode_alaw(0x2A), -32256);

  const uint8_t samples[] = {0xD5, 0x55, 0xAA, 0x2A};
  const AudioBlock block{samples, 4, 0};
  std::vector<int16_t> out;
  const struct {
    int volume;
    std::vector<int16_t> expected;
  } cases[] = {
      {100, {8, -8, 32256, -32256}},
      {50, {4, -4, 16128, -16128}},
      {33, {2, -2, 10644, -10644}},
      {0, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.volume);
    convert_audio_block(block, c.volume, out);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(Alaw, EveryCodeIsSymmetricAndWithinRange) {
  for (int b = 0; b < 256; ++b) {
    const int v = decode_alaw(static_cast<uint8_t>(b));
    EXPECT_EQ(decode_alaw(static_cast<uint8_t>(b ^ 0x80)), -v) << b;
    EXPECT_GE(std::abs(v), 8);
    EXPECT_LE(std::abs(v), 32256);
  }
}

std::string write_temp(const std::string& name, const Bytes& bytes) {
  const std::string path = testing::TempDir() + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

TEST(LoadRecording, FailureMessages) {
  const Bytes header(32, 0xEE);
  struct Case {
    const char* name;
    Bytes file;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"32 bytes", header, "Error: File too small\n"},
      {"one byte of payload", cat({header, {0x00}}), "Error: No NAL units\n"},
      {"parameter sets only", cat({header, {0, 0, 1, 0x67, 1, 0, 0, 1, 0x68, 2}}),
       "Error: No video frames\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recording r;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(load_recording(write_temp("load_case.264", c.file), r));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.expected);
    EXPECT_TRUE(r.units.empty());
  }
  Recording r;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(load_recording("/nonexistent/x.264", r));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Cannot open '/nonexistent/x.264'\n");
}

TEST(LoadRecording, FileHeaderIsSkippedUnread) {
  // The header holds a start code and a magic; neither may be seen.
  Bytes header = {0, 0, 1, 0x65, 'H', 'X', 'V', 'F'};
  header.resize(32, 0);
  const Bytes file = cat({header, {0, 0, 1, 0x65, 0x10, 0x20}});
  Recording r;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(load_recording(write_temp("load_ok.264", file), r));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Loaded: 6 bytes, 1 frames, 15.0 fps, ~0s\n");
  ASSERT_EQ(r.units.size(), 1u);
  EXPECT_EQ(r.units[0].data, r.payload() + 3);
}

TEST(LoadRecording, FilesOfTwoGibibytesOrMoreAreRefused) {
  const std::string path = testing::TempDir() + "huge_sparse.264";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(seek_file(f, (int64_t{1} << 31) + 100, SEEK_SET));
  std::fputc(1, f);
  std::fclose(f);
  Recording r;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(load_recording(path, r));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: File too large (2 GiB or more)\n");
  std::remove(path.c_str());
}

}  // namespace
