// The batch conversion screen run headless on made recordings, one of them broken.
#include <gtest/gtest.h>

#include <filesystem>

#include "convert/batch_screen.h"
#include "convert/remux.h"
#include "convert_fixtures.h"
#include "headless_sdl.h"
#include "media_probe.h"
#include "sdl_events.h"

namespace {

struct Batch {
  std::string folder;
  std::vector<std::string> paths;  // good, broken, good
};

Batch make_batch(const char* name) {
  Batch batch;
  batch.folder = fresh_folder(name);
  RecordingSpec recipe;
  recipe.width = 160;
  recipe.height = 120;
  recipe.frames = 40;
  batch.paths.push_back(make_recording_file(recipe, batch.folder + "/first.264"));
  batch.paths.push_back(batch.folder + "/broken.264");
  write_bytes(batch.paths.back(), std::vector<uint8_t>(32, 0));
  recipe.frames = 70;
  batch.paths.push_back(make_recording_file(recipe, batch.folder + "/third.264"));
  return batch;
}

void expect_outputs(const Batch& batch) {
  EXPECT_EQ(probe_streams(batch.folder + "/first.mp4").frames_decoded, 40);
  EXPECT_FALSE(std::filesystem::exists(batch.folder + "/broken.mp4"));
  EXPECT_EQ(probe_streams(batch.folder + "/third.mp4").frames_decoded, 70);
  EXPECT_TRUE(temporaries_in(batch.folder).empty());
}

// Quit requests and drops are ignored while converting; a drop's text is
// freed (the sanitizer build's leak check fails otherwise).
TEST(BatchScreen, ConvertsEveryRecordingAndIgnoresQuitRequestsAndDrops) {
  HeadlessCanvas canvas = make_headless_canvas(960, 600);
  ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
  const Batch batch = make_batch("batch");
  ASSERT_FALSE(batch.paths[0].empty());
  ASSERT_FALSE(batch.paths[2].empty());

  push_quit();
  push_drop(batch.folder + "/first.264");
  const std::vector<bool> results =
      run_batch_conversion_with_results(canvas.window.get(), canvas.renderer.get(), batch.paths);
  EXPECT_EQ(results, (std::vector<bool>{true, false, true}));
  expect_outputs(batch);

  // The window still shows the last outcome: "OK" in green on the dark background.
  const Pixels p = read_pixels(canvas.renderer.get(), 960, 600);
  EXPECT_TRUE(p.is(0, 0, 20, 20, 30));
  const SDL_Rect ok = p.bounds_of(100, 255, 100);
  EXPECT_EQ(ok.y, 290);
  EXPECT_GT(p.count_not(ok, 20, 20, 30), 0);
  EXPECT_EQ(p.count_not({0, 0, 960, 600}, 20, 20, 30), p.count_not(ok, 20, 20, 30));
}

TEST(BatchScreen, WithoutAWindowConvertsWithoutDrawing) {
  const Batch batch = make_batch("batch-no-window");
  ASSERT_FALSE(batch.paths[0].empty());
  EXPECT_EQ(run_batch_conversion_with_results(nullptr, nullptr, batch.paths),
            (std::vector<bool>{true, false, true}));
  expect_outputs(batch);
}

TEST(BatchScreen, EmptyListReturnsAtOnce) {
  EXPECT_TRUE(run_batch_conversion_with_results(nullptr, nullptr, {}).empty());
}

}  // namespace
