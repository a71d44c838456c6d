// Edge cases of the recording layout: start codes, audio blocks, time origin,
// frame-rate snapping, A-law extremes and the loader's messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "recording/alaw.h"
#include "recording/frame_clock.h"
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

Bytes hxvf_fields(uint32_t length_field, uint32_t ts) {
  Bytes b = {'H', 'X', 'V', 'F'};
  put_le32(b, length_field);
  put_le32(b, ts);
  put_le32(b, 0);
  return b;
}

// The camera's blocks between two units belong to neither, and 00 00 01 inside
// a block header or a valid sound block is no start code.
TEST(IndexNalUnits, CameraBlocksAreNeitherUnitsNorPartOfThem) {
  Bytes loud = hxaf(4 + 8, 7, 0);
  loud.insert(loud.end(), {0x10, 0, 0x50, 0, 0, 0, 1, 0x65, 0, 0, 1, 0x41});
  const std::vector<NalCase> cases = {
      {"header and sound between two units",
       cat({{0, 0, 0, 1, 0x65, 0x11, 0x22}, hxaf(5 + 4, 7, 9), hxvf(40), {0, 0, 0, 1, 0x41, 0x33}}),
       {{4, 3, 5}, {4 + 3 + 25 + 16 + 4, 2, 1}}},
      {"length and timestamp fields reading 00 00 01",
       cat({{0, 0, 0, 1, 0x65, 0x11}, hxvf_fields(0x1234, 0x20001), {0, 0, 0, 1, 0x41, 0x33}}),
       {{4, 2, 5}, {4 + 2 + 16 + 4, 2, 1}}},
      {"loud sound holding 00 00 01",
       cat({{0, 0, 0, 1, 0x65, 0x11}, loud, {0, 0, 0, 1, 0x41, 0x33}}),
       {{4, 2, 5}, {4 + 2 + 28 + 4, 2, 1}}},
      {"a malformed sound header's own bytes are no start code, what follows it is scanned",
       cat({{0, 0, 0, 1, 0x65, 0x11}, hxaf(4, 0x10000, 0), {0, 0, 1, 0x41, 0x33}}),
       {{4, 2, 5}, {4 + 2 + 16 + 3, 2, 1}}},
      {"zero bytes between blocks go too",
       cat({{0, 0, 0, 1, 0x65, 0x11}, hxvf(1), {0, 0}, hxvf(2), {0, 0, 0, 1, 0x41, 0x33}}),
       {{4, 2, 5}, {4 + 2 + 34 + 4, 2, 1}}},
      {"a magic inside coded data followed by more data stays",
       cat({{0, 0, 0, 1, 0x65}, {'H', 'X', 'V', 'F', 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}, {0x77, 0x88},
            {0, 0, 0, 1, 0x41, 0x33}}),
       {{4, 1 + 16 + 2, 5}, {4 + 19 + 4, 2, 1}}},
      {"00 00 00 ends a unit: the rest up to the next start code is padding",
       cat({{0, 0, 0, 1, 0x65, 0x11, 0, 0, 0, 0x77, 0x88, 0, 0}, {0, 0, 0, 1, 0x41, 0x33}}),
       {{4, 2, 5}, {4 + 9 + 4, 2, 1}}},
      {"a header's zero fields inside coded data do not end the unit",
       cat({{0, 0, 0, 1, 0x65, 0x11}, hxvf(1000), {0x77, 0x88}, {0, 0, 0, 1, 0x41, 0x33}}),
       {{4, 2 + 16 + 2, 5}, {4 + 20 + 4, 2, 1}}},
      {"sound followed by data that is no start code stays in the unit",
       cat({{0, 0, 0, 1, 0x65, 0x11}, hxaf(5 + 4, 7, 9), {0xFF, 0xFF, 0xFF}, hxvf(40),
            {0, 0, 0, 1, 0x41, 0x33}}),
       {{4, 2 + 25 + 3, 5}, {4 + 30 + 16 + 4, 2, 1}}},
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

// Units longer than kMaxUnitBytes are stretches without start codes: taken
// out of the list, with where they lay.
TEST(TakeOversizedUnits, LeavesOutOnlyUnitsPastTheBound) {
  const uint8_t* base = reinterpret_cast<const uint8_t*>(0x1000);
  const int32_t bound = static_cast<int32_t>(kMaxUnitBytes);
  std::vector<NalUnit> units = {
      {base + 4, 10, 7}, {base + 20, bound, 5}, {base + 30 + bound, bound + 1, 1}, {base + 40 + 2 * bound, 3, 1}};
  const std::vector<SkippedStretch> skipped = take_oversized_units(units, base);
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[1].size, bound) << "a unit of exactly the bound stays";
  EXPECT_EQ(units[2].size, 3);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0].offset, 30 + bound);
  EXPECT_EQ(skipped[0].size, bound + 1);
  EXPECT_EQ(skipped_stretch_message(skipped[0]),
            "Skipped 16777217 bytes without a start code at offset " + std::to_string(62 + bound) + "\n");
}

TEST(IndexNalUnits, AFilePackedWithStartCodesIsRefusedBeforeItsIndexOutgrowsIt) {
  Bytes file(32, 0);
  for (int i = 0; i < 100000; ++i) file.insert(file.end(), {0, 0, 1, 0x41});
  const std::string path = testing::TempDir() + "/packed.264";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
  Recording r;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(load_recording(path, r));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Too many NAL units for the file's size\n");
  const size_t length = file.size() - 32;
  EXPECT_LE(index_nal_units(file.data() + 32, length, unit_limit(length)).size(),
            unit_limit(length) + 1);
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
      {"301 frames span 300 intervals over 20 s", {1000, 5000, 21000}, 301, 15.0},
      {"14.5 snaps to 15", {1000, 21000}, 291, 15.0},
      {"13.5 is 8 % from 12.5: stays", {1000, 21000}, 271, 13.5},
      {"100 stays unsnapped", {0, 2000}, 201, 100.0},
      {"125 is above 120", {0, 2000}, 250, 15.0},
      {"single header", {1000}, 100, 15.0},
      {"timestamps going backwards", {5000, 1000}, 100, 15.0},
      {"equal timestamps", {5000, 5000}, 100, 15.0},
      {"under one second", {1000, 1900}, 20, 15.0},
      {"no wrap-around", {0xFFFFFF00u, 5000}, 100, 15.0},
      {"fewer than two frames", {0, 10000}, 1, 15.0},
      {"below one frame per second", {0, 100000}, 50, 15.0},
      {"last in file order, not the largest", {1000, 50000, 11000}, 250, 25.0},
      {"12.5 is a common rate", {0, 20000}, 250, 12.5},
      {"29.97 snaps to 30", {0, 20020}, 601, 30.0},
      {"beyond 5 % stays", {0, 20000}, 561, 28.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes payload = timestamps_payload(c.stamps);
    EXPECT_DOUBLE_EQ(detect_frame_rate(payload.data(), payload.size(), c.frames), c.expected);
  }
}

// Pictures without headers fill the sound's span: from the first block's
// timestamp to the end of the last block's samples.
TEST(DetectFrameRate, FromTheSoundsSpan) {
  const struct {
    const char* name;
    int64_t pictures;
    uint32_t first, last;
    int64_t last_samples;
    double expected;  // 0: the default applies
  } rows[] = {
      {"200 pictures over 10 s", 200, 1000, 10980, 160, 20.0},
      {"270 pictures over 19.94 s: 13.54, too far to snap", 270, 1000, 20900, 320, 270 / 19.94},
      {"snaps within 5 %", 249, 0, 9980, 160, 25.0},
      {"under a second", 20, 0, 900, 160, 0},
      {"timestamps going backwards", 100, 5000, 1000, 160, 0},
      {"one picture", 1, 0, 10000, 160, 0},
      {"above 120", 2500, 0, 10000, 160, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_DOUBLE_EQ(rate_from_sound_span(row.pictures, row.first, row.last, row.last_samples, nullptr),
                     row.expected);
  }
  testing::internal::CaptureStdout();
  EXPECT_DOUBLE_EQ(detect_frame_rate_from_sound(200, 1000, 10980, 160), 20.0);
  EXPECT_DOUBLE_EQ(detect_frame_rate_from_sound(20, 0, 900, 160), 15.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Detected FPS: 20.0 (from the sound's time span, duration=10.0s)\n");
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

}  // namespace

// The clock on its own: each step is the picture's own timestamp when it moves
// forward by at most kMaxPictureGapS, else one interval at the rate measured
// from the trusted steps so far (the fallback before any).
TEST(FrameClock, OwnTimesAndRateSpacedJumps) {
  struct Picture {
    bool has_header;
    uint32_t ts;
    double want;
  };
  struct Case {
    const char* name;
    uint32_t origin;
    std::vector<Picture> pictures;
  };
  const std::vector<Case> cases = {
      {"own times", 1000, {{true, 1000, 0}, {true, 1040, 0.04}, {true, 1100, 0.1}}},
      {"no header: spaced at the fallback, then the rate measured",
       1000, {{false, 0, 0}, {false, 0, 0.1}, {true, 1200, 0.2}, {true, 1250, 0.25},
              {false, 0, 0.25 + 0.15 / 2}}},  // two trusted steps in 0.15 s
      {"through 2^32 ms", 0xFFFFFFD8u, {{true, 0xFFFFFFD8u, 0}, {true, 0x10, 0.056}, {true, 0x48, 0.112}}},
      {"backwards: one interval, then on from there",
       5000, {{true, 5000, 0}, {true, 5040, 0.04}, {true, 100, 0.08}, {true, 140, 0.12}}},
      {"equal timestamps: one interval", 0, {{true, 0, 0}, {true, 40, 0.04}, {true, 40, 0.08}}},
      // Two steps in 5.1 s measure under 1 fps, which is no rate: the fallback spaces.
      {"six seconds ahead is a jump, five is not",
       0, {{true, 0, 0}, {true, 100, 0.1}, {true, 5100, 5.1}, {true, 11200, 5.2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FrameClock clock = start_frame_clock(c.origin, 10.0);
    for (size_t k = 0; k < c.pictures.size(); ++k) {
      if (c.pictures[k].has_header) note_video_header(clock, c.pictures[k].ts);
      EXPECT_NEAR(next_picture_time(clock), c.pictures[k].want, 1e-9) << "picture " << k;
    }
  }
}
