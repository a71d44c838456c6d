// Video output pieces: the window size rule and uploads that never read planes smaller than the texture.
#include <gtest/gtest.h>

#include <cstring>

extern "C" {
#include <libavutil/frame.h>
}

#include "headless_sdl.h"
#include "player/video_output.h"
#include "player_test_support.h"

namespace {

TEST(VideoOutputRules, WindowSizeFollowsThePicture) {
  const struct {
    int w, h, window_w, window_h;
  } cases[] = {{640, 480, 1280, 960}, {1920, 1080, 1920, 1080}, {800, 600, 1600, 1200},
               {802, 600, 802, 600},  {320, 240, 640, 480}};
  for (const auto& c : cases) {
    const SDL_Point size = window_size_for_picture(c.w, c.h);
    EXPECT_EQ(size.x, c.window_w) << c.w;
    EXPECT_EQ(size.y, c.window_h) << c.w;
  }
}

// A flat picture of the given size and format: `luma` with chroma `u`, `v`.
FramePtr flat_picture(int w, int h, AVPixelFormat format, uint8_t luma, uint8_t u, uint8_t v) {
  FramePtr f(av_frame_alloc());
  f->width = w;
  f->height = h;
  f->format = format;
  if (av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
  for (int y = 0; y < h; ++y) std::memset(f->data[0] + y * f->linesize[0], luma, w);
  for (int y = 0; y < h / 2; ++y) {
    std::memset(f->data[1] + y * f->linesize[1], u, w / 2);
    std::memset(f->data[2] + y * f->linesize[2], v, w / 2);
  }
  return f;
}

FramePtr grey_picture(int w, int h, AVPixelFormat format, uint8_t luma) {
  return flat_picture(w, h, format, luma, 128, 128);
}

class VideoUpload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(start_player_sdl());
    canvas = make_headless_canvas(320, 240);
    ASSERT_TRUE(canvas.renderer);
  }
  // Puts `picture` where the decoder would and presents it like the player.
  bool show(FramePtr picture) {
    video.frame = std::move(picture);
    testing::internal::CaptureStdout();
    const bool fitted = fit_texture_to_picture(video, canvas.renderer.get());
    printed += testing::internal::GetCapturedStdout();
    const bool uploaded = fitted && upload_picture(video);
    draw_video_frame(video, canvas.window.get(), canvas.renderer.get(), nullptr, false);
    return uploaded;
  }
  Uint8 centre_grey() { return centre().g; }
  Rgba centre() { return read_pixels(canvas.renderer.get(), 320, 240).pixel_at(160, 120); }
  Uint32 texture_format() {
    Uint32 format = 0;
    SDL_QueryTexture(video.texture.get(), &format, nullptr, nullptr, nullptr);
    return format;
  }

  HeadlessCanvas canvas;
  VideoOutput video;
  std::string printed;
};

TEST_F(VideoUpload, SizeAndFormatChangesRemakeTextureAndConverter) {
  video.allow_direct_rgb = false;  // the IYUV texture accelerated renderers get
  ASSERT_TRUE(show(grey_picture(320, 240, AV_PIX_FMT_YUV420P, 200)));
  EXPECT_EQ(texture_format(), Uint32{SDL_PIXELFORMAT_IYUV});
  EXPECT_EQ(video.converter, nullptr);
  EXPECT_NEAR(centre_grey(), 200, 24);
  // Same size, full-range format: converted rather than left unshown.
  ASSERT_TRUE(show(grey_picture(320, 240, AV_PIX_FMT_YUVJ420P, 60)));
  EXPECT_NE(video.converter, nullptr);
  EXPECT_NEAR(centre_grey(), 60, 24);
  // Smaller pictures get a texture of their own size.
  ASSERT_TRUE(show(grey_picture(176, 144, AV_PIX_FMT_YUV420P, 120)));
  int w = 0, h = 0;
  SDL_QueryTexture(video.texture.get(), nullptr, nullptr, &w, &h);
  EXPECT_EQ(w, 176);
  EXPECT_EQ(h, 144);
  EXPECT_EQ(video.converter, nullptr);
  EXPECT_NEAR(centre_grey(), 120, 24);
  EXPECT_EQ(printed, "Resolution: 320x240\nResolution: 176x144\n");
}

// A software renderer gets a texture in the window's own format, with the
// colours of the IYUV path: limited and full range, and red kept red.
TEST_F(VideoUpload, SoftwareRendererTextureTakesTheWindowsFormat) {
  ASSERT_TRUE(show(grey_picture(320, 240, AV_PIX_FMT_YUV420P, 200)));
  EXPECT_EQ(texture_format(), SDL_GetWindowPixelFormat(canvas.window.get()));
  EXPECT_EQ(video.converter, nullptr) << "no YUV420P copy is made on this path";
  EXPECT_NEAR(centre_grey(), 200, 24);
  ASSERT_TRUE(show(grey_picture(320, 240, AV_PIX_FMT_YUVJ420P, 60)));
  EXPECT_NEAR(centre_grey(), 60, 24);
  // Y 81, U 90, V 240 is pure red in limited range.
  ASSERT_TRUE(show(flat_picture(320, 240, AV_PIX_FMT_YUV420P, 81, 90, 240)));
  const Rgba red = centre();
  EXPECT_GT(red.r, 220);
  EXPECT_LT(red.g, 30);
  EXPECT_LT(red.b, 30);
  ASSERT_TRUE(show(grey_picture(176, 144, AV_PIX_FMT_YUV420P, 120)));
  int w = 0, h = 0;
  SDL_QueryTexture(video.texture.get(), nullptr, nullptr, &w, &h);
  EXPECT_EQ(w, 176);
  EXPECT_EQ(h, 144);
  EXPECT_NEAR(centre_grey(), 120, 24);
  EXPECT_EQ(printed, "Resolution: 320x240\nResolution: 176x144\n");
}

TEST_F(VideoUpload, PlanesSmallerThanTheTextureAreNeverRead) {
  for (const bool direct : {false, true}) {
    video = VideoOutput{};
    video.allow_direct_rgb = direct;
    ASSERT_TRUE(show(grey_picture(320, 240, AV_PIX_FMT_YUV420P, 200)));
    video.frame = grey_picture(160, 120, AV_PIX_FMT_YUV420P, 30);
    EXPECT_FALSE(upload_picture(video)) << "a smaller picture is not uploaded into the old texture";
    EXPECT_NEAR(centre_grey(), 200, 24) << direct;
  }
}

TEST_F(VideoUpload, PicturesKeepTheShapeTheirSampleAspectRatioGives) {
  SDL_Window* window = canvas.window.get();
  SDL_Renderer* renderer = canvas.renderer.get();
  struct Case {
    AVRational sar;
    int bar;  // rows of black above and below in the 320x240 window
  } cases[] = {{{2, 1}, 60}, {{0, 1}, 0}, {{1, 1}, 0}, {{4, 3}, 30}};
  for (const Case& c : cases) {
    video.frame = grey_picture(320, 240, AV_PIX_FMT_YUV420P, 200);
    video.frame->sample_aspect_ratio = c.sar;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(present_picture(video, window, renderer, nullptr, false));
    testing::internal::GetCapturedStdout();
    const Pixels p = read_pixels(renderer, 320, 240);
    SCOPED_TRACE(std::to_string(c.sar.num) + ":" + std::to_string(c.sar.den));
    EXPECT_NEAR(p.pixel_at(160, c.bar).g, 200, 24);
    EXPECT_NEAR(p.pixel_at(160, 239 - c.bar).g, 200, 24);
    if (c.bar > 0) {
      EXPECT_TRUE(p.is(160, c.bar - 1, 0, 0, 0));
      EXPECT_TRUE(p.is(0, 240 - c.bar, 0, 0, 0));
    }
  }
}

}  // namespace
