// The byte layouts of the MP4 conversion, checked against hand-built bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/avc_config.h"
#include "convert/sound_track.h"
#include "convert/remux.h"

namespace {

NalUnit unit_of(const std::vector<uint8_t>& bytes) {
  return {bytes.data(), static_cast<int32_t>(bytes.size()), bytes.empty() ? 0 : bytes[0] & 0x1F};
}

TEST(AvcConfig, RecordCarriesProfileLevelAndBothParameterSets) {
  const std::vector<uint8_t> sps = {0x67, 0x64, 0x00, 0x1F, 0xAC, 0xD9};
  const std::vector<uint8_t> pps = {0x68, 0xEB, 0xE3};
  const std::vector<uint8_t> expected = {
      0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE1,         // version, profile, compat, level, 4-byte lengths, 1 SPS
      0x00, 0x06, 0x67, 0x64, 0x00, 0x1F, 0xAC, 0xD9,
      0x01, 0x00, 0x03, 0x68, 0xEB, 0xE3};        // 1 PPS
  EXPECT_EQ(build_avc_config(unit_of(sps), unit_of(pps)), expected);
}

TEST(AvcConfig, LengthsAreBigEndianAndTrailingBytesTravelWithTheUnit) {
  // An SPS followed by a camera block header before the next start code keeps it.
  std::vector<uint8_t> sps = {0x67, 0x42, 0xC0, 0x1E};
  sps.resize(300, 0xAB);
  const std::vector<uint8_t> pps = {0x68, 0xCE};
  const std::vector<uint8_t> record = build_avc_config(unit_of(sps), unit_of(pps));
  ASSERT_EQ(record.size(), 11u + 300u + 2u);
  EXPECT_EQ(record[6], 0x01);
  EXPECT_EQ(record[7], 0x2C);  // 300
  EXPECT_EQ(record[8 + 299], 0xAB);
  EXPECT_EQ(record[8 + 300], 0x01);
  EXPECT_EQ(record[8 + 301], 0x00);
  EXPECT_EQ(record[8 + 302], 0x02);
}

TEST(AvcConfig, RefusesParameterSetsItCannotDescribe) {
  const std::vector<uint8_t> pps = {0x68, 0xCE};
  const std::vector<uint8_t> short_sps = {0x67, 0x42, 0xC0};  // no level byte
  std::vector<uint8_t> huge_sps = {0x67, 0x42, 0xC0, 0x1E};
  huge_sps.resize(0x10000, 0);                               // length does not fit 16 bits
  const std::vector<uint8_t> sps = {0x67, 0x42, 0xC0, 0x1E};
  std::vector<uint8_t> huge_pps = {0x68};
  huge_pps.resize(0x10000, 0);
  EXPECT_TRUE(build_avc_config(unit_of(short_sps), unit_of(pps)).empty());
  EXPECT_TRUE(build_avc_config(unit_of(huge_sps), unit_of(pps)).empty());
  EXPECT_TRUE(build_avc_config(unit_of(sps), unit_of(huge_pps)).empty());
  huge_sps.resize(0xFFFF);
  EXPECT_EQ(build_avc_config(unit_of(huge_sps), unit_of(pps)).size(), 11u + 0xFFFF + 2u);
}

TEST(AvcConfig, SampleIsLengthPrefixedUnit) {
  std::vector<uint8_t> unit = {0x65, 0x88, 0x84, 0x00};
  unit.resize(0x012345, 0x5A);
  std::vector<uint8_t> sample(unit.size() + 4, 0xEE);
  write_length_prefixed(unit.data(), static_cast<uint32_t>(unit.size()), sample.data());
  EXPECT_EQ(sample[0], 0x00);
  EXPECT_EQ(sample[1], 0x01);
  EXPECT_EQ(sample[2], 0x23);
  EXPECT_EQ(sample[3], 0x45);
  EXPECT_TRUE(std::equal(unit.begin(), unit.end(), sample.begin() + 4));
}

TEST(AvcConfig, ParameterSetsAreTheFirstOfEachKind) {
  const std::vector<uint8_t> slice = {0x41, 1}, sps1 = {0x67, 1, 2, 3}, sps2 = {0x67, 9, 9, 9},
                             pps1 = {0x68, 1}, pps2 = {0x68, 2}, idr = {0x65, 1}, sei = {0x06, 1};
  struct Row {
    std::vector<const std::vector<uint8_t>*> stream;
    const std::vector<uint8_t>* sps;
    const std::vector<uint8_t>* pps;
    const std::vector<uint8_t>* idr;
  };
  const Row rows[] = {
      {{&sps1, &pps1, &idr}, &sps1, &pps1, &idr},
      {{&slice, &pps1, &sei, &sps1, &sps2, &pps2, &idr}, &sps1, &pps1, &idr},
      {{&sps1, &sps2, &slice}, &sps1, nullptr, nullptr},
      {{&pps1, &slice, &idr}, nullptr, &pps1, &idr},
      {{}, nullptr, nullptr, nullptr},
  };
  for (const Row& row : rows) {
    std::vector<NalUnit> units;
    for (const auto* bytes : row.stream) units.push_back(unit_of(*bytes));
    const ParameterSets sets = find_parameter_sets(units);
    const NalUnit* first_idr = find_first_idr(units);
    EXPECT_EQ(sets.sps ? sets.sps->data : nullptr, row.sps ? row.sps->data() : nullptr);
    EXPECT_EQ(sets.pps ? sets.pps->data : nullptr, row.pps ? row.pps->data() : nullptr);
    EXPECT_EQ(first_idr ? first_idr->data : nullptr, row.idr ? row.idr->data() : nullptr);
  }
}

TEST(Mp4OutputPath, ReplacesTheExtensionOfTheFileName) {
  const std::pair<std::string, std::string> rows[] = {
      {"D:\\rec\\cam1.264", "D:\\rec\\cam1.mp4"},
      {"/home/u/rec/cam1.264", "/home/u/rec/cam1.mp4"},
      {"cam1", "cam1.mp4"},
      {"cam1.tar.264", "cam1.tar.mp4"},
      {"cam1.", "cam1.mp4"},
      // A dot in a folder name is not an extension: the MP4 stays beside its input.
      {"/data/rec.d/cam1", "/data/rec.d/cam1.mp4"},
      {"./cam1", "./cam1.mp4"},
      {"C:\\rec.old\\cam1", "C:\\rec.old\\cam1.mp4"},
  };
  for (const auto& [input, output] : rows) EXPECT_EQ(mp4_output_path(input), output) << input;
}

}  // namespace

// Where a sound block goes on the track (samples at 8 kHz): on time within the
// tolerance, after silence when late, cut when early, following on when a
// jumped clock puts it further off than the limit either way.
TEST(SoundPlacement, FollowsPadsCutsOrIgnoresAJump) {
  struct Case {
    const char* name;
    double time_s;
    int64_t count, next;
    SoundPlacement want;
  };
  const Case cases[] = {
      {"first block at 0.5 s", 0.5, 160, -1, {4000, 0, 0}},
      {"first block partly before 0", -0.01, 160, -1, {0, 80, 0}},
      {"first block wholly before 0", -0.05, 160, -1, {0, 160, 0}},
      {"on time", 1.0, 160, 8000, {8000, 0, 0}},
      {"2 ms late follows on", 1.002, 160, 8000, {8000, 0, 0}},
      {"100 ms late: silence first", 1.1, 160, 8000, {8000, 0, 800}},
      {"50 ms early: the overlap is cut", 0.95, 160, 8000, {8000, 160, 0}},
      {"30 ms early: part of it cut", 0.97, 400, 8000, {8000, 240, 0}},
      {"a minute late (a clock jump) follows on", 61.0, 160, 8000, {8000, 0, 0}},
      {"a minute early (a clock jump) follows on", -59.0, 160, 8000, {8000, 0, 0}},
  };
  for (const Case& c : cases) {
    const SoundPlacement p = place_sound_block(c.time_s, c.count, c.next, 160, 40000);
    EXPECT_EQ(p.start, c.want.start) << c.name;
    EXPECT_EQ(p.skip, c.want.skip) << c.name;
    EXPECT_EQ(p.silence, c.want.silence) << c.name;
  }
}
