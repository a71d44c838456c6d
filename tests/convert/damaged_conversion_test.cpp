// The converter on damaged recordings: cut at every kind of boundary, with
// flipped slice bits, random bytes, zeroed stretches and an "HXAF" flood.
// Each file either converts into an MP4 holding one sample per slice that
// survived, or fails with "FAILED" and leaves no MP4 or temporary behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "convert_fixtures.h"
#include "damaged_recordings.h"
#include "media_probe.h"
#include "test_recordings.h"

namespace {

struct Conversion {
  int status = -1;
  std::string output;
  std::string mp4;
  std::vector<PacketFacts> packets;
};

// Runs the converter program on the bytes, in a folder of their own.
Conversion convert(const FileBytes& bytes, const std::string& name) {
  const std::string folder = fresh_folder(name);
  const std::string input = folder + "/" + name + ".264";
  EXPECT_TRUE(write_file_bytes(input, bytes));
  Conversion result;
  result.status = run_program(std::string(H264_TOOLS_DIR) + "/convert_mp4", {"--quiet", input}, &result.output);
  result.mp4 = folder + "/" + name + ".mp4";
  EXPECT_TRUE(temporaries_in(folder).empty()) << "a temporary MP4 was left in " << folder;
  // The decoder's own complaints about broken units (on standard error) may
  // come first; the result line is the last.
  const std::string last_line = result.output.substr(result.output.rfind('\n', result.output.size() - 2) + 1);
  if (result.status == 0) {
    EXPECT_EQ(last_line, "OK  " + input + " -> " + result.mp4 + "\n");
    result.packets = probe_packets(result.mp4);
  } else {
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_EQ(last_line.rfind("FAILED  " + input + ": ", 0), 0u) << last_line;  // with a reason
    EXPECT_GT(last_line.size(), ("FAILED  " + input + ": \n").size()) << last_line;
    EXPECT_FALSE(std::filesystem::exists(result.mp4));
  }
  return result;
}

TEST(DamagedConversion, CutsConvertWhatLiesBeforeThemOrFailCleanly) {
  const FileBytes& whole = damage_source_recording();
  ASSERT_GT(whole.size(), 1000u);
  const auto cuts = boundary_cuts(whole);
  ASSERT_GE(cuts.size(), 12u);
  for (const RecordingCut& cut : cuts) {
    SCOPED_TRACE(cut.kind);
    const Conversion result = convert(FileBytes(whole.begin(), whole.begin() + static_cast<long>(cut.file_size)), "cut");
    if (cut.frames == 0) {
      EXPECT_EQ(result.status, 1);
    } else if (cut.kind != "inside the first slice") {  // a cut key picture may or may not decode
      ASSERT_EQ(result.status, 0) << result.output;
      EXPECT_EQ(static_cast<int>(result.packets.size()), cut.frames);
      ASSERT_FALSE(result.packets.empty());
      EXPECT_TRUE(result.packets.front().key);
    }
  }
}

TEST(DamagedConversion, FlippedSliceBitsKeepEverySampleAndItsSize) {
  const Conversion original = convert(damage_source_recording(), "original");
  ASSERT_EQ(original.status, 0);
  for (uint32_t seed : {5u, 6u}) {
    SCOPED_TRACE(seed);
    const Conversion flipped = convert(flip_slice_bits(damage_source_recording(), 200, seed), "flipped");
    ASSERT_EQ(flipped.status, 0) << flipped.output;
    ASSERT_EQ(flipped.packets.size(), original.packets.size());
    for (size_t i = 0; i < flipped.packets.size(); ++i) {
      EXPECT_EQ(flipped.packets[i].size, original.packets[i].size) << "sample " << i;
      EXPECT_EQ(flipped.packets[i].key, original.packets[i].key) << "sample " << i;
    }
  }
}

TEST(DamagedConversion, RandomBytesAndZeroedStretches) {
  for (uint32_t seed : {21u, 22u}) {
    SCOPED_TRACE(seed);
    EXPECT_EQ(convert(random_recording(64 * 1024, seed, false), "random").status, 1);
    convert(random_recording(64 * 1024, seed, true), "random-units");  // either way, cleanly
  }
  const FileBytes& whole = damage_source_recording();
  const Conversion original = convert(whole, "original");
  const Conversion zeroed = convert(zero_stretch(whole, whole.size() / 2, whole.size() / 4), "zeroed");
  ASSERT_EQ(zeroed.status, 0) << zeroed.output;
  EXPECT_LT(zeroed.packets.size(), original.packets.size());
  EXPECT_GT(zeroed.packets.size(), 0u);
  EXPECT_EQ(convert(zero_stretch(whole, 32, whole.size()), "all-zero").status, 1);
}

TEST(DamagedConversion, HxafFloodIsSoundAndLeavesTheLastSampleAlone) {
  const FileBytes& whole = damage_source_recording();
  const Conversion original = convert(whole, "original");
  ASSERT_EQ(original.status, 0);
  const size_t flood = 50000;
  const FileBytes flooded_bytes = hxaf_flood(whole, flood, true);
  const Conversion flooded = convert(flooded_bytes, "flooded");
  ASSERT_EQ(flooded.status, 0) << flooded.output;
  ASSERT_EQ(flooded.packets.size(), original.packets.size());
  // The blocks follow the last slice, but they are sound: its sample keeps
  // only the slice.
  EXPECT_EQ(flooded.packets.back().size, original.packets.back().size);
}

}  // namespace
