// Next and previous recording of a folder: the name order rule by table, then
// three made recordings stepped through with PageDown/PageUp and played on one
// after the other with auto-continue.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "draw/toast.h"
#include "headless_sdl.h"
#include "player/controls.h"
#include "player/engine.h"
#include "platform/files.h"
#include "recording/folder_order.h"
#include "player_test_support.h"

namespace {

using Names = std::vector<std::string>;

TEST(FolderOrder, NeighboursInNameOrder) {
  const Names names = {"cam_0900.264", "cam_1000.264", "cam_1100.264"};
  const struct {
    std::string current;
    int step;
    std::string expected;
  } cases[] = {
      {"cam_0900.264", 1, "cam_1000.264"}, {"cam_1000.264", 1, "cam_1100.264"},
      {"cam_1100.264", 1, ""},             {"cam_1000.264", -1, "cam_0900.264"},
      {"cam_0900.264", -1, ""},            {"cam_0900.264", 2, "cam_1100.264"},
      // A recording deleted meanwhile still has its neighbours.
      {"cam_0930.264", 1, "cam_1000.264"}, {"cam_0930.264", -1, "cam_0900.264"},
      {"cam_2000.264", 1, ""},             {"cam_2000.264", -1, "cam_1100.264"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(neighbour_name(names, c.current, c.step), c.expected) << c.current << " " << c.step;
  EXPECT_EQ(neighbour_name({}, "a.264", 1), "");

  const struct {
    std::string path, folder, name;
  } paths[] = {{"/rec/cam/a.264", "/rec/cam/", "a.264"},
               {"D:\\rec\\a.264", "D:\\rec\\", "a.264"},
               {"a.264", "", "a.264"}};
  for (const auto& p : paths) {
    EXPECT_EQ(folder_of(p.path), p.folder);
    EXPECT_EQ(file_name_of(p.path), p.name);
  }
  for (auto [name, is] : {std::pair{"x.264", true}, {".264", false}, {"x.264.mp4", false},
                          {"x.h264", false}, {"x264", false}}) {
    EXPECT_EQ(is_recording_name(name), is) << name;
  }
}

// Names in any script are listed and stepped through in UTF-8, in a folder
// whose own name is outside every ANSI code page; each neighbour opens.
TEST(FolderOrder, NamesInAnyScriptAreListedAndSteppedInUtf8) {
  const std::string folder = test_temp_dir() + "/카메라 日本 é/";
  std::filesystem::create_directories(file_system_path(folder));
  const Names names = {"a é.264", "b 日本.264", "c 한국.264"};
  for (const std::string& name : names) {
    std::FILE* file = open_file(folder + name, "wb");
    ASSERT_NE(file, nullptr) << name;
    std::fputs(name.c_str(), file);
    std::fclose(file);
  }
  EXPECT_EQ(recording_names_in(folder), names);
  EXPECT_EQ(neighbour_recording(folder + names[0], 1), folder + names[1]);
  EXPECT_EQ(neighbour_recording(folder + names[2], -1), folder + names[1]);
  EXPECT_EQ(neighbour_recording(folder + names[2], 1), "");
  std::FILE* next = open_file(neighbour_recording(folder + names[1], 1), "rb");
  ASSERT_NE(next, nullptr);
  std::fclose(next);
}

// A folder of three short recordings whose names sort by time, plus files and
// a folder that are not recordings.
class CameraFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(start_player_sdl());
    drop_pending_events();
    canvas = make_headless_canvas(640, 360);
    ASSERT_TRUE(canvas.window && canvas.renderer);
    window = canvas.window.get();
    renderer = canvas.renderer.get();
    folder = test_temp_dir() + "/camera/";
    std::filesystem::create_directories(folder + "zz_folder.264");
    write_file_bytes(folder + "notes.txt", {'x'});
    write_file_bytes(folder + "20240101_120000.mp4", {'x'});
    // Made out of name order: the listing must sort them.
    for (const char* name : {"20240101_120200.264", "20240101_120000.264", "20240101_120100.264"}) {
      RecordingSpec recipe;
      recipe.fps = 25;
      recipe.duration_s = 0.4;
      ASSERT_FALSE(make_recording_file(recipe, folder + name).empty());
    }
    player_preferences() = PlayerPreferences{};
  }
  void TearDown() override {
    player_preferences() = PlayerPreferences{};
    drop_pending_events();
  }
  std::string play(const std::string& name, PlaybackOptions options) {
    options.pacing = false;
    testing::internal::CaptureStdout();
    std::string next = play_recording_with(folder + name, window, renderer, options);
    testing::internal::GetCapturedStdout();
    return next;
  }

  HeadlessCanvas canvas;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  std::string folder;
};

TEST_F(CameraFolder, PageKeysStepThroughTheFolderInNameOrder) {
  EXPECT_EQ(recording_names_in(folder),
            (Names{"20240101_120000.264", "20240101_120100.264", "20240101_120200.264"}));
  const struct {
    std::string from;
    SDL_Keycode key;
    std::string next;     // "" when the playback stays and ends as usual
    std::string message;
  } cases[] = {
      {"20240101_120000.264", SDLK_PAGEDOWN, "20240101_120100.264", "NEXT: 20240101_120100.264"},
      {"20240101_120100.264", SDLK_PAGEDOWN, "20240101_120200.264", "NEXT: 20240101_120200.264"},
      {"20240101_120100.264", SDLK_PAGEUP, "20240101_120000.264",
       "PREVIOUS: 20240101_120000.264"},
      {"20240101_120200.264", SDLK_PAGEDOWN, "", "NO NEXT RECORDING"},
      {"20240101_120000.264", SDLK_PAGEUP, "", "NO PREVIOUS RECORDING"},
  };
  for (const auto& c : cases) {
    std::string message;
    PlaybackOptions options;
    options.on_picture = [&](PlayerState& st) {
      if (st.stats.pictures_shown == 2) push_key(c.key);
    };
    options.on_finished = [&](PlayerState&) {
      message = toast_text();
      push_key(SDLK_q);
    };
    const std::string next = play(c.from, options);
    if (c.next.empty()) {
      EXPECT_EQ(next, "") << c.from;
      EXPECT_EQ(message, c.message) << c.from;
    } else {
      EXPECT_EQ(next, folder + c.next) << c.from;
      EXPECT_STREQ(toast_text(), c.message.c_str()) << c.from;
    }
  }
}

TEST_F(CameraFolder, AutoContinuePlaysTheFolderToItsEnd) {
  // Off: the first recording ends in the finished state.
  int finished = 0;
  PlaybackOptions options;
  options.on_finished = [&](PlayerState&) {
    ++finished;
    push_key(SDLK_q);
  };
  EXPECT_EQ(play("20240101_120000.264", options), "");
  EXPECT_EQ(finished, 1);

  // `a` during playback turns it on: each recording leaves for the next
  // without a finished state, and the last one ends as usual. The speed
  // chosen in the first (2x) stays for the others.
  finished = 0;
  std::vector<double> speeds;
  options.on_picture = [&](PlayerState& st) {
    if (st.stats.pictures_shown != 1) return;
    speeds.push_back(st.speed);
    if (player_preferences().auto_continue) return;
    push_key(SDLK_a);
    push_key(SDLK_UP);
    push_key(SDLK_UP);
  };
  std::vector<std::string> played;
  std::string next = "20240101_120000.264";
  while (!next.empty() && played.size() < 5) {
    played.push_back(next);
    next = play(next, options);
    if (!next.empty()) {
      EXPECT_STREQ(toast_text(), ("NEXT: " + file_name_of(next)).c_str());
      next = file_name_of(next);
    }
  }
  EXPECT_TRUE(player_preferences().auto_continue);
  EXPECT_EQ(played, (Names{"20240101_120000.264", "20240101_120100.264", "20240101_120200.264"}));
  EXPECT_EQ(finished, 1) << "only the last recording reaches the finished state";
  EXPECT_EQ(speeds, (std::vector<double>{1.0, 2.0, 2.0}));

  // Opened any other way, a recording starts at 1x.
  speeds.clear();
  player_preferences().auto_continue = false;
  options.on_picture = [&](PlayerState& st) {
    if (st.stats.pictures_shown == 1) speeds.push_back(st.speed);
  };
  play("20240101_120100.264", options);
  EXPECT_EQ(speeds, (std::vector<double>{1.0}));
}

}  // namespace
