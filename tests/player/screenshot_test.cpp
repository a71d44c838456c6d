// Screenshots: the names, the picture converted at its own size (and its
// zoomed part), the folder it lands in, read back from disk, and the messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "draw/sdl_handles.h"
#include "draw/toast.h"
#include "headless_sdl.h"
#include "media/av_handles.h"
#include "player/screenshot.h"
#include "test_recordings.h"

namespace fs = std::filesystem;

namespace {

TEST(ScreenshotName, RecordingNameAndThePicturesTimeOfDay) {
  RecordingStart named;
  named.source = StartSource::file_name;
  named.start = {2026, 12, 1, 8, 0, 0, 0};
  RecordingStart estimated = named;
  estimated.source = StartSource::modified_time;
  const RecordingStart unknown;
  struct Case {
    const char* path;
    const RecordingStart* start;
    double position_s;
    const char* expected;
  } cases[] = {
      {"/cam/20261201_080000.264", &named, 9.76, "20261201_080000_20261201_080009_760.bmp"},
      {"C:\\rec\\front door.264", &named, 3600 * 16 + 0.001, "front door_20261202_000000_001.bmp"},
      {"plain", &estimated, 0, "plain_20261201_080000_000.bmp"},
      {"/a/b.c.264", &unknown, 3725.5, "b.c_t010205_500.bmp"},
      {"/a/odd:na|me?.264", &unknown, 0, "odd_na_me__t000000_000.bmp"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(recording_screenshot_name(c.path, *c.start, c.position_s), c.expected) << c.path;
  }
  EXPECT_EQ(live_screenshot_name("192.168.1.10", {2026, 1, 2, 3, 4, 5, 6}),
            "camera_192.168.1.10_20260102_030405_006.bmp");
  EXPECT_EQ(live_screenshot_name("[fe80::1]", {2026, 1, 2, 3, 4, 5, 6}),
            "camera_[fe80__1]_20260102_030405_006.bmp");
}

// A YUV 4:2:0 picture of four quadrants of different brightness, the
// top-left pixel of each quadrant marked darker, with neutral colour.
FramePtr quadrant_picture(int w, int h) {
  FramePtr f(av_frame_alloc());
  f->width = w;
  f->height = h;
  f->format = AV_PIX_FMT_YUV420P;
  if (av_frame_get_buffer(f.get(), 32) < 0) return nullptr;
  const int levels[4] = {40, 100, 160, 220};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      f->data[0][y * f->linesize[0] + x] =
          static_cast<uint8_t>(levels[(y >= h / 2) * 2 + (x >= w / 2)]);
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < (h + 1) / 2; ++y)
      std::fill_n(f->data[p] + y * f->linesize[p], (w + 1) / 2, uint8_t{128});
  return f;
}

// Brightness 0..255 of a pixel of a loaded image.
int gray_at(SDL_Surface* image, int x, int y) {
  SDL_Color c{};
  Uint32 pixel = 0;
  const auto* row = static_cast<const uint8_t*>(image->pixels) + y * image->pitch;
  std::memcpy(&pixel, row + x * image->format->BytesPerPixel, image->format->BytesPerPixel);
  SDL_GetRGB(pixel, image->format, &c.r, &c.g, &c.b);
  return (299 * c.r + 587 * c.g + 114 * c.b) / 1000;
}

// Limited-range luma as full-range brightness.
int expected_gray(int luma) { return (luma - 16) * 255 / 219; }

class ScreenshotFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(init_headless_video());
    folder = test_temp_dir() + "/shots_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder);
    fs::create_directories(folder);
    picture = quadrant_picture(320, 240);
    ASSERT_TRUE(picture);
  }
  std::vector<std::string> bmp_files(const std::string& where) const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(where))
      if (e.path().extension() == ".bmp") found.push_back(e.path().filename().string());
    return found;
  }
  std::string folder;
  FramePtr picture;
};

TEST_F(ScreenshotFiles, ThePictureAtItsOwnSizeAndTheZoomedPartAtItsOwnPixels) {
  struct Case {
    ZoomView zoom;
    int w, h;
    int expected_levels[4];  // the corners: top-left, top-right, bottom-left, bottom-right
  } cases[] = {
      {{}, 320, 240, {40, 100, 160, 220}},
      // 2x on the centre: 160 x 120 across all four quadrants.
      {{2.0, 80, 60}, 160, 120, {40, 100, 160, 220}},
      // 4x in the bottom-right quadrant: 80 x 60 of it alone.
      {{4.0, 200, 150}, 80, 60, {220, 220, 220, 220}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zoom.zoom);
    show_toast("", 0);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(capture_picture(picture.get(), c.zoom, {folder}, "shot.bmp"));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "Screenshot: " + folder + "/shot.bmp\n");
    EXPECT_STREQ(toast_text(), "Saved shot.bmp");
    SurfacePtr image(SDL_LoadBMP((folder + "/shot.bmp").c_str()));
    ASSERT_TRUE(image) << SDL_GetError();
    EXPECT_EQ(image->w, c.w);
    EXPECT_EQ(image->h, c.h);
    const SDL_Point corners[4] = {{1, 1}, {c.w - 2, 1}, {1, c.h - 2}, {c.w - 2, c.h - 2}};
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(gray_at(image.get(), corners[i].x, corners[i].y),
                  expected_gray(c.expected_levels[i]), 3)
          << "corner " << i;
    }
    fs::remove(folder + "/shot.bmp");
  }
}

TEST_F(ScreenshotFiles, NeverOverwritesAndFallsBackToTheNextFolder) {
  // Taken names get a number; nothing is overwritten.
  SurfacePtr image = picture_surface(*picture);
  ASSERT_TRUE(image);
  ASSERT_TRUE(write_file_bytes(folder + "/a.bmp", {'x'}));
  EXPECT_EQ(save_bmp_in_first_writable(image.get(), {folder}, "a.bmp"), folder + "/a_2.bmp");
  EXPECT_EQ(save_bmp_in_first_writable(image.get(), {folder}, "a.bmp"), folder + "/a_3.bmp");
  EXPECT_EQ(read_file_bytes(folder + "/a.bmp"), std::vector<uint8_t>{'x'});

  // A folder that takes no new file (gone; permissions do not stop root):
  // the next one, and the message gives the whole path.
  const std::string gone = folder + "/gone";
  const std::string pictures = folder + "/pictures";
  fs::create_directories(pictures);
  show_toast("", 0);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(capture_picture(picture.get(), {}, {gone, pictures}, "b.bmp"));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(bmp_files(pictures), std::vector<std::string>{"b.bmp"});
  EXPECT_EQ(std::string(toast_text()), "Saved " + pictures + "/b.bmp");

  // No folder at all: said so, nothing written.
  testing::internal::CaptureStdout();
  EXPECT_FALSE(capture_picture(picture.get(), {}, {gone, gone + "/deeper"}, "c.bmp"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Screenshot failed: no folder takes a new file\n");
  EXPECT_EQ(std::string(toast_text()).rfind("Screenshot failed", 0), 0u);

  // Without a picture nothing happens at all.
  show_toast("", 0);
  EXPECT_FALSE(capture_picture(nullptr, {}, {folder}, "d.bmp"));
  EXPECT_FALSE(toast_showing(SDL_GetTicks()));
  EXPECT_FALSE(fs::exists(folder + "/d.bmp"));
}

}  // namespace
