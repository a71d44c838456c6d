// The batch conversion screen run headless on made recordings, one of them broken.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "ui/batch_screen.h"
#include "convert/remux.h"
#include "draw/text.h"
#include "convert_fixtures.h"
#include "headless_sdl.h"
#include "media_probe.h"
#include "sdl_events.h"

namespace {

// Presses a key no converting screen acts on (Space) every 100 ms until it
// goes out of scope: the results screen takes it as "go on".
struct KeyPresser {
  std::atomic<bool> stop{false};
  std::thread presser{[this] {
    while (!stop.load()) {
      push_key(SDLK_SPACE);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }};
  ~KeyPresser() {
    stop.store(true);
    presser.join();
    drop_pending_events();
  }
};

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

// A quit request only asks (unanswered, the batch runs on); a drop's text is
// freed (the sanitizer build's leak check fails otherwise). The end screen
// lists every file with its outcome under the batch's "ER".
TEST(BatchScreen, ConvertsEveryRecordingAndListsEachWithItsOutcome) {
  HeadlessCanvas canvas = make_headless_canvas(960, 600);
  ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
  const Batch batch = make_batch("batch");
  ASSERT_FALSE(batch.paths[0].empty());
  ASSERT_FALSE(batch.paths[2].empty());

  push_quit();
  push_drop(batch.folder + "/first.264");
  testing::internal::CaptureStdout();
  std::vector<bool> results;
  {
    const KeyPresser presser;
    results = run_batch_conversion_with_results(canvas.window.get(), canvas.renderer.get(),
                                                batch.paths);
  }
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(results, (std::vector<bool>{true, false, true}));
  expect_outputs(batch);
  EXPECT_NE(printed.find("FAILED  " + batch.paths[1] + ": file too small\n"), std::string::npos)
      << printed;

  const Pixels p = read_pixels(canvas.renderer.get(), 960, 600);
  EXPECT_TRUE(p.is(0, 0, 20, 20, 30));
  const SDL_Rect er = p.bounds_of(255, 60, 100);
  EXPECT_LT(er.y, 100) << "the failed row is listed at the top";
  const SDL_Rect ok_rows = p.bounds_of(100, 255, 100);
  EXPECT_LT(ok_rows.y, 100);
  EXPECT_GT(ok_rows.h, 16) << "two rows of OK";
  EXPECT_GT(p.count_not({0, 280, 960, 30}, 20, 20, 30), 0) << "the batch's ER in the middle";
  // Below it the counts and where the MP4s went; at the bottom how to go on.
  const SDL_Rect notes = p.bounds_of(220, 220, 230);
  EXPECT_EQ(notes.y, 330);
  EXPECT_GE(notes.y + notes.h, 366) << "two lines: the counts, the folder";
  EXPECT_EQ(p.bounds_of(130, 130, 140).y, 576);
}

// The results stay until the user goes on: after the last MP4 is written the
// screen still waits; a click ends it. A close request ends it too and is
// queued again, so the next screen (the menu) closes the program.
TEST(BatchScreen, ResultsStayUntilAClickAndACloseRequestIsPassedOn) {
  HeadlessCanvas canvas = make_headless_canvas(960, 600);
  ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
  const Batch batch = make_batch("batch-results");
  ASSERT_FALSE(batch.paths[0].empty());
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "close" : "click");
    for (const char* mp4 : {"/first.mp4", "/third.mp4"}) std::filesystem::remove(batch.folder + mp4);
    drop_pending_events();
    std::atomic<bool> returned{false};
    bool waited_with_results_shown = false;
    std::thread user([&] {
      while (!std::filesystem::exists(batch.folder + "/third.mp4") ||
             !std::filesystem::exists(batch.folder + "/first.mp4")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(700));
      waited_with_results_shown = !returned.load();
      if (close) {
        push_quit();
      } else {
        push_mouse_button(true, 480, 300);
      }
    });
    testing::internal::CaptureStdout();
    const std::vector<bool> results =
        run_batch_conversion_with_results(canvas.window.get(), canvas.renderer.get(), batch.paths);
    returned.store(true);
    testing::internal::GetCapturedStdout();
    user.join();
    EXPECT_EQ(results, (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(waited_with_results_shown) << "the results went before the user went on";
    SDL_Event queued;
    EXPECT_EQ(SDL_PeepEvents(&queued, 1, SDL_GETEVENT, SDL_QUIT, SDL_QUIT), close ? 1 : 0);
  }
}

TEST(BatchScreen, EscapeAskedAndAnsweredCancelsLeavingFinishedMp4sAndNoTemporaries) {
  HeadlessCanvas canvas = make_headless_canvas(960, 600);
  ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
  const std::string folder = fresh_folder("batch-cancel");
  RecordingSpec recipe;
  recipe.width = 320;
  recipe.height = 240;
  recipe.frames = 300;
  const int count = concurrent_conversion_limit() + 3;
  // A broken recording fails on its own, before the cancel reaches it.
  std::vector<std::string> paths = {folder + "/broken.264"};
  write_bytes(paths.front(), std::vector<uint8_t>(32, 0));
  for (int i = 0; i < count; ++i) {
    recipe.seed = i;
    paths.push_back(make_recording_file(recipe, folder + "/r" + std::to_string(i) + ".264"));
    ASSERT_FALSE(paths.back().empty());
  }
  push_key(SDLK_ESCAPE);
  push_key(SDLK_y);
  testing::internal::CaptureStdout();
  std::vector<bool> results;
  {
    const KeyPresser presser;
    results = run_batch_conversion_with_results(canvas.window.get(), canvas.renderer.get(), paths);
  }
  const std::string printed = testing::internal::GetCapturedStdout();
  ASSERT_EQ(results.size(), paths.size());
  EXPECT_FALSE(results[0]);
  EXPECT_NE(printed.find("FAILED  " + paths[0] + ": file too small\n"), std::string::npos) << printed;
  int finished = 0;
  for (size_t i = 1; i < paths.size(); ++i) {
    EXPECT_EQ(std::filesystem::exists(mp4_output_path(paths[i])), results[i]) << paths[i];
    if (!results[i]) {
      EXPECT_NE(printed.find("CANCELLED  " + paths[i] + "\n"), std::string::npos) << printed;
    }
    finished += results[i] ? 1 : 0;
  }
  EXPECT_LE(finished, concurrent_conversion_limit()) << "waiting ones never start";
  EXPECT_EQ(printed.find("FAILED  " + paths[1]), std::string::npos) << "cancelled is no failure";
  EXPECT_TRUE(temporaries_in(folder).empty());
  // Cancelled rows in amber, apart from the failed one in red.
  const Pixels p = read_pixels(canvas.renderer.get(), 960, 600);
  EXPECT_GT(p.bounds_of(240, 190, 70).h, 0) << "cancelled rows";
  EXPECT_LT(p.bounds_of(255, 60, 100).y, 30) << "the failed row first";
}

// Two recordings whose MP4s would share a name (a.264, a.h264) get one each,
// and the row and line of the one that replaced an earlier MP4 say so.
TEST(BatchScreen, RecordingsThatWouldShareAnMp4GetOneEachAndAReplacementIsSaid) {
  HeadlessCanvas canvas = make_headless_canvas(960, 600);
  ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
  const std::string folder = fresh_folder("batch-names");
  RecordingSpec recipe;
  recipe.width = 160;
  recipe.height = 120;
  recipe.frames = 40;
  const std::string first = make_recording_file(recipe, folder + "/a.264");
  recipe.frames = 70;
  const std::string second = make_recording_file(recipe, folder + "/a.h264");
  ASSERT_FALSE(first.empty() || second.empty());
  ASSERT_TRUE(write_bytes(folder + "/a.mp4", {1, 2, 3}));

  testing::internal::CaptureStdout();
  std::vector<bool> results;
  {
    const KeyPresser presser;
    results = run_batch_conversion_with_results(canvas.window.get(), canvas.renderer.get(),
                                                {first, second});
  }
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(results, (std::vector<bool>{true, true}));
  EXPECT_EQ(probe_streams(folder + "/a.mp4").frames_decoded, 40);
  EXPECT_EQ(probe_streams(folder + "/a.h264.mp4").frames_decoded, 70);
  EXPECT_NE(printed.find("OK  " + first + " -> " + folder + "/a.mp4  (replaced the existing file)\n"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("OK  " + second + " -> " + folder + "/a.h264.mp4\n"), std::string::npos)
      << printed;
  const Pixels p = read_pixels(canvas.renderer.get(), 960, 600);
  int rows_right = 0;  // the list's rows, above the batch's own "OK"
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 960; ++x) {
      if (p.is(x, y, 100, 255, 100)) rows_right = std::max(rows_right, x + 1);
    }
  }
  // The row runs to its last letter (the pen's advance adds a gap after it).
  EXPECT_NEAR(rows_right, 16 + text_width("a.264  OK (replaced the existing file)", 2), 8)
      << "the row says so";
  EXPECT_TRUE(temporaries_in(folder).empty());
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
