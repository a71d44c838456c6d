// The recording inspector on damaged files: cut at every kind of boundary,
// bit-flipped slices, random bytes, zero-filled stretches and "HXAF" floods.
// It loads exactly as the player does, so each file must give the loader's
// own line and counts, exit 0 or 1, and never crash or hang.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "damaged_recordings.h"
#include "test_recordings.h"

namespace {

struct Inspection {
  int status = -1;
  std::string output;
};

Inspection inspect(const FileBytes& bytes, const std::string& name) {
  const std::string path = test_temp_dir() + "/" + name + ".264";
  EXPECT_TRUE(write_file_bytes(path, bytes));
  Inspection result;
  result.status = run_program(std::string(H264_TOOLS_DIR) + "/inspect_recording", {path}, &result.output);
  return result;
}

TEST(DamagedRecording, CutAtEveryKindOfBoundaryKeepsWhatLiesBeforeTheCut) {
  const FileBytes& whole = damage_source_recording();
  ASSERT_GT(whole.size(), 1000u);
  const auto cuts = boundary_cuts(whole);
  ASSERT_GE(cuts.size(), 12u) << "the source recording lacks some boundary kinds";
  for (const RecordingCut& cut : cuts) {
    SCOPED_TRACE(cut.kind);
    const FileBytes bytes(whole.begin(), whole.begin() + static_cast<long>(cut.file_size));
    const Inspection result = inspect(bytes, "cut");
    if (cut.file_size <= 32) {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(loader_line(result.output), "Error: File too small");
    } else if (cut.frames == 0) {
      EXPECT_EQ(result.status, 1);
      const std::string line = loader_line(result.output);
      EXPECT_TRUE(line == "Error: No NAL units" || line == "Error: No video frames") << line;
    } else {
      EXPECT_EQ(result.status, 0) << result.output;
      EXPECT_EQ(loaded_frames(result.output), cut.frames);
      EXPECT_EQ(inspected_audio_blocks(result.output), cut.audio_blocks);
    }
  }
}

TEST(DamagedRecording, CutsBeforeAnySliceGiveTheirOwnError) {
  const auto cuts = boundary_cuts(damage_source_recording());
  for (const RecordingCut& cut : cuts) {
    std::string expected;
    if (cut.kind == "one payload byte" || cut.kind == "inside the first start code") expected = "Error: No NAL units";
    if (cut.kind == "after the parameter sets") expected = "Error: No video frames";
    if (expected.empty()) continue;
    SCOPED_TRACE(cut.kind);
    const FileBytes bytes(damage_source_recording().begin(), damage_source_recording().begin() + static_cast<long>(cut.file_size));
    EXPECT_EQ(loader_line(inspect(bytes, "early-cut").output), expected);
  }
}

TEST(DamagedRecording, FlippedSliceBitsLeaveUnitsFramesAndSoundAlone) {
  const Inspection original = inspect(damage_source_recording(), "original");
  ASSERT_EQ(original.status, 0) << original.output;
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    const Inspection flipped = inspect(flip_slice_bits(damage_source_recording(), 200, seed), "flipped");
    EXPECT_EQ(flipped.status, 0) << flipped.output;
    EXPECT_EQ(loaded_frames(flipped.output), loaded_frames(original.output));
    EXPECT_EQ(inspected_audio_blocks(flipped.output), inspected_audio_blocks(original.output));
  }
}

TEST(DamagedRecording, RandomPayloads) {
  for (uint32_t seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    // Random bytes alone: no start code, so no units.
    const Inspection plain = inspect(random_recording(256 * 1024, seed, false), "random");
    EXPECT_EQ(plain.status, 1) << plain.output;
    EXPECT_EQ(loader_line(plain.output), "Error: No NAL units");

    // Cut into units of random types: about 2 in 32 are slices.
    const Inspection units = inspect(random_recording(256 * 1024, seed, true), "random-units");
    EXPECT_EQ(units.status, 0) << units.output;
    EXPECT_GT(loaded_frames(units.output), 20) << units.output;
  }
}

TEST(DamagedRecording, ZeroFilledStretches) {
  const FileBytes& whole = damage_source_recording();
  const Inspection original = inspect(whole, "original");
  // A stretch of zeros in the middle: units and blocks inside it vanish, the
  // ones around it stay.
  const Inspection middle = inspect(zero_stretch(whole, whole.size() / 3, whole.size() / 3), "zero-middle");
  EXPECT_EQ(middle.status, 0) << middle.output;
  EXPECT_GT(loaded_frames(middle.output), 0);
  EXPECT_LT(loaded_frames(middle.output), loaded_frames(original.output));
  EXPECT_LT(inspected_audio_blocks(middle.output), inspected_audio_blocks(original.output));

  // A zeroed tail stays with the last unit before it.
  FileBytes padded = whole;
  padded.insert(padded.end(), 100000, 0);
  const Inspection tail = inspect(padded, "zero-tail");
  EXPECT_EQ(loaded_frames(tail.output), loaded_frames(original.output));

  // Nothing but zeros after the header has no start code.
  const Inspection zeros = inspect(zero_stretch(whole, 32, whole.size()), "zero-all");
  EXPECT_EQ(zeros.status, 1);
  EXPECT_EQ(loader_line(zeros.output), "Error: No NAL units");
}

TEST(DamagedRecording, HxafFloodIsCountedOrSkippedWithoutHarm) {
  const FileBytes& whole = damage_source_recording();
  const int original_blocks = inspected_audio_blocks(inspect(whole, "original").output);
  ASSERT_GT(original_blocks, 0);
  const size_t flood = 100000;  // 2.1 MB of back-to-back minimal blocks
  const Inspection valid = inspect(hxaf_flood(whole, flood, true), "flood-valid");
  EXPECT_EQ(valid.status, 0) << valid.output;
  EXPECT_EQ(inspected_audio_blocks(valid.output), original_blocks + static_cast<int>(flood));

  // Headers whose length field is out of range are not blocks; the scan moves
  // on one byte at a time through all 1.6 MB of them.
  const Inspection invalid = inspect(hxaf_flood(whole, flood, false), "flood-invalid");
  EXPECT_EQ(invalid.status, 0) << invalid.output;
  EXPECT_EQ(inspected_audio_blocks(invalid.output), original_blocks);
  EXPECT_EQ(loaded_frames(invalid.output), loaded_frames(inspect(whole, "original").output));
}

}  // namespace
