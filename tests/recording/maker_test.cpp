#include <gtest/gtest.h>

#include "recording/recording.h"
#include "test_recordings.h"

TEST(Maker, SmokeRecordingLoads) {
  RecordingSpec spec;
  spec.width = 160;
  spec.height = 120;
  const std::string path = make_recording_file(spec, test_temp_dir() + "/smoke.264");
  ASSERT_FALSE(path.empty());
  Recording recording;
  ASSERT_TRUE(load_recording(path, recording));
  EXPECT_EQ(recording.frames.size(), 50u);
}
