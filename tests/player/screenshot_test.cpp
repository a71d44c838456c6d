// Screenshots: the file name, the captured image read back from disk, and the
// silent failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "draw/sdl_handles.h"
#include "headless_sdl.h"
#include "draw/toast.h"
#include "player/screenshot.h"

namespace fs = std::filesystem;

TEST(ScreenshotName, FormatsLocalTimeWithZeroPadding) {
  struct Case {
    int year, month, day, hour, minute, second;
    const char* expected;
  } cases[] = {
      {2026, 12, 31, 23, 59, 59, "screenshot_20261231_235959.bmp"},
      {2001, 2, 3, 4, 5, 6, "screenshot_20010203_040506.bmp"},
      {1999, 1, 1, 0, 0, 0, "screenshot_19990101_000000.bmp"},
  };
  for (const Case& c : cases) {
    std::tm t{};
    t.tm_year = c.year - 1900;
    t.tm_mon = c.month - 1;
    t.tm_mday = c.day;
    t.tm_hour = c.hour;
    t.tm_min = c.minute;
    t.tm_sec = c.second;
    EXPECT_EQ(screenshot_file_name(t), c.expected);
  }
}

TEST(ScreenshotName, StaysBoundedForAbsurdFields) {
  std::tm t{};
  t.tm_year = 2147483647 - 1900;
  t.tm_mon = -2147483647;
  t.tm_mday = -2147483647;
  std::string name = screenshot_file_name(t);
  EXPECT_LE(name.size(), 255u);
  EXPECT_EQ(name.rfind("screenshot_", 0), 0u);
}

namespace {

// A hidden window with the software renderer, working in a fresh folder.
class ScreenshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    canvas = make_headless_canvas(320, 240);
    ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
    window = canvas.window.get();
    renderer = canvas.renderer.get();
    folder = fs::temp_directory_path() / ("screenshot_test_" + std::to_string(getpid()));
    fs::create_directories(folder);
    previous_folder = fs::current_path();
    fs::current_path(folder);
  }
  void TearDown() override {
    fs::current_path(previous_folder);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  // A 2x2 picture whose four pixels become the window's four quadrants.
  TexturePtr quadrant_picture() {
    TexturePtr t(SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ABGR8888,
                                   SDL_TEXTUREACCESS_STATIC, 2, 2));
    const uint8_t pixels[16] = {200, 10, 10, 255, 10, 200, 10, 255,
                                10, 10, 200, 255, 220, 220, 30, 255};
    SDL_UpdateTexture(t.get(), nullptr, pixels, 8);
    return t;
  }

  std::vector<fs::path> bmp_files() {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.path().extension() == ".bmp") found.push_back(entry.path());
    return found;
  }

  HeadlessCanvas canvas;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  fs::path folder, previous_folder;
};

// The pixel at (x, y) of a surface converted to bytes R, G, B, A.
std::vector<uint8_t> rgba_at(SDL_Surface* s, int x, int y) {
  const uint8_t* p = static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * 4;
  return {p[0], p[1], p[2], p[3]};
}

}  // namespace

TEST_F(ScreenshotTest, CaptureSavesTheBarePictureAtWindowSize) {
  TexturePtr picture = quadrant_picture();
  ASSERT_TRUE(picture);
  show_toast("MUTE", 60000);
  // The frame being prepared already holds a bar and a button over the picture.
  SDL_RenderCopy(renderer, picture.get(), nullptr, nullptr);
  SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
  SDL_Rect bar{0, 200, 320, 40}, button{280, 10, 26, 26};
  SDL_RenderFillRect(renderer, &bar);
  SDL_RenderFillRect(renderer, &button);
  draw_toast(renderer, window, 3);

  std::time_t before = std::time(nullptr);
  testing::internal::CaptureStdout();
  ASSERT_TRUE(capture_screenshot(renderer, window, picture.get()));
  std::string printed = testing::internal::GetCapturedStdout();
  std::time_t after = std::time(nullptr);

  std::vector<fs::path> files = bmp_files();
  ASSERT_EQ(files.size(), 1u);
  std::string name = files[0].filename().string();
  std::tm t0{}, t1{};
  localtime_r(&before, &t0);
  localtime_r(&after, &t1);
  EXPECT_TRUE(name == screenshot_file_name(t0) || name == screenshot_file_name(t1)) << name;
  EXPECT_EQ(printed, "Screenshot: " + name + "\n");
  EXPECT_STREQ(toast_text(), "  OK  ");
  EXPECT_TRUE(toast_showing(SDL_GetTicks()));

  SurfacePtr loaded(SDL_LoadBMP(name.c_str()));
  ASSERT_TRUE(loaded) << SDL_GetError();
  SurfacePtr image(SDL_ConvertSurfaceFormat(loaded.get(), SDL_PIXELFORMAT_ABGR8888, 0));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->w, 320);
  EXPECT_EQ(image->h, 240);
  struct Probe {
    int x, y;
    std::vector<uint8_t> rgba;
  } probes[] = {
      {5, 5, {200, 10, 10, 255}},      {159, 119, {200, 10, 10, 255}},
      {160, 0, {10, 200, 10, 255}},    {300, 20, {10, 200, 10, 255}},  // under the button
      {0, 120, {10, 10, 200, 255}},    {10, 230, {10, 10, 200, 255}},  // under the bar
      {319, 239, {220, 220, 30, 255}}, {160, 36, {10, 200, 10, 255}},  // under the message
  };
  for (const Probe& p : probes)
    EXPECT_EQ(rgba_at(image.get(), p.x, p.y), p.rgba) << "at " << p.x << "," << p.y;
}

TEST_F(ScreenshotTest, WithoutPictureNothingHappens) {
  show_toast("MUTE", 60000);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(capture_screenshot(renderer, window, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(bmp_files().empty());
  EXPECT_STRNE(toast_text(), "  OK  ");
}

TEST_F(ScreenshotTest, UnwritableFolderFailsSilently) {
  // A working folder that no longer exists refuses new files, even for root.
  fs::path gone = folder / "gone";
  fs::create_directory(gone);
  fs::current_path(gone);
  fs::remove(gone);
  TexturePtr picture = quadrant_picture();
  show_toast("MUTE", 60000);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(capture_screenshot(renderer, window, picture.get()));
  EXPECT_FALSE(save_screenshot(renderer, window));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_STRNE(toast_text(), "  OK  ");
  fs::current_path(folder);
  EXPECT_TRUE(bmp_files().empty());
}
