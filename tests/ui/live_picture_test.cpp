// The live view's pictures: NAL units from a real x264 stream are decoded as
// the session decodes them, shown with show_live_picture, and the window is
// read back pixel by pixel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "draw/text.h"
#include "draw/toast.h"
#include "encoded_stream.h"
#include "headless_sdl.h"
#include "media/nal_packet.h"
#include "media/unit_decoder.h"
#include "pictures_folder.h"
#include "recording/recording.h"
#include "ui/live_view.h"
#include "sdl_events.h"

namespace fs = std::filesystem;

namespace {

using Stream = EncodedStream;

Stream encode_stream(int w, int h, const char* pix_fmt, unsigned left, unsigned right, int frames,
                     int key_interval = 250) {
  Stream s = encode_h264_stream(w, h, pix_fmt, left, right, frames, key_interval);
  EXPECT_FALSE(s.units.empty()) << s.error;
  return s;
}

// The session's decoder: one unit per packet, pictures split over several.
struct UnitDecoder {
  CodecContextPtr codec = open_unit_decoder(2);
  FramePtr frame{av_frame_alloc()};
};

// Sends one unit and shows every picture it completes; with `fetch` also the
// pictures the decoder has ready afterwards (as for single units).
void send(LivePlayer& player, UnitDecoder& decoder, const uint8_t* data, size_t size, bool fetch) {
  PacketPtr packet = make_nal_packet(data, size);
  if (!packet || size == 0) return;
  send_packet_taking_waiting_pictures(decoder.codec.get(), decoder.frame.get(), packet.get(),
                                      [&] { show_live_picture(player, *decoder.frame); });
  while (fetch && avcodec_receive_frame(decoder.codec.get(), decoder.frame.get()) == 0)
    show_live_picture(player, *decoder.frame);
}

// As a camera sends them: parameter sets in an aggregation packet (sent
// without a fetch), everything else as single units.
void play(LivePlayer& player, UnitDecoder& decoder, const Stream& s) {
  for (const NalUnit& u : s.units) send(player, decoder, u.data, static_cast<size_t>(u.size), u.type != 7 && u.type != 8);
}

bool near(Rgba got, int r, int g, int b, int tolerance = 14) {
  return std::abs(got.r - r) <= tolerance && std::abs(got.g - g) <= tolerance &&
         std::abs(got.b - b) <= tolerance;
}

// c over the background at alpha a, as SDL blends.
int blend(int c, int background, int a) { return (c * a + background * (255 - a)) / 255; }

class LivePictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    canvas = make_headless_canvas(320, 240);
    ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
    player.window = canvas.window.get();
    player.renderer = canvas.renderer.get();
    ASSERT_TRUE(decoder.codec);
    ASSERT_TRUE(decoder.frame);
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    show_toast("", 0);  // a message of an earlier test would cover the button
  }
  void TearDown() override {
    release_picture_texture(player.picture);  // before the renderer that made it
  }

  Pixels window_pixels() { return read_pixels(player.renderer, 320, 240); }
  void play(const Stream& s) { ::play(player, decoder, s); }

  HeadlessCanvas canvas;
  LivePlayer player;
  UnitDecoder decoder;
};

SDL_Point texture_size(SDL_Texture* t) {
  SDL_Point size{0, 0};
  if (t) SDL_QueryTexture(t, nullptr, nullptr, &size.x, &size.y);
  return size;
}

}  // namespace

TEST_F(LivePictureTest, PicturesAreStretchedOverTheWindowUnderTheCameraButton) {
  Stream s = encode_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 8);
  ASSERT_GT(s.units.size(), 3u) << "ffmpeg with libx264 made no stream";
  play(s);
  ASSERT_TRUE(player.picture.texture);
  EXPECT_EQ(texture_size(player.picture.texture.get()).x, 160);
  EXPECT_EQ(texture_size(player.picture.texture.get()).y, 120);
  EXPECT_FALSE(player.picture.scaler);

  Pixels p = window_pixels();
  // The picture's halves meet at the window's middle: stretched, not centred.
  EXPECT_TRUE(near(p.pixel_at(4, 230), 0x20, 0x60, 0xC0));
  EXPECT_TRUE(near(p.pixel_at(150, 120), 0x20, 0x60, 0xC0));
  EXPECT_TRUE(near(p.pixel_at(170, 120), 0xC0, 0x30, 0x20));
  EXPECT_TRUE(near(p.pixel_at(315, 235), 0xC0, 0x30, 0x20));

  // The camera button at the top right: translucent fill, outline, light icon.
  const SDL_Rect button{284, 10, 26, 26};
  EXPECT_EQ(player.camera_button.x, button.x);
  EXPECT_EQ(player.camera_button.y, button.y);
  EXPECT_EQ(player.camera_button.w, button.w);
  EXPECT_EQ(player.camera_button.h, button.h);
  EXPECT_TRUE(near(p.pixel_at(284, 20), blend(120, blend(40, 0xC0, 180), 200),
                   blend(150, blend(40, 0x30, 180), 200), blend(200, blend(60, 0x20, 180), 200), 6));
  EXPECT_TRUE(near(p.pixel_at(286, 34), blend(40, 0xC0, 180), blend(40, 0x30, 180),
                   blend(60, 0x20, 180), 6));
  EXPECT_GT(p.pixel_at(284 + 12, 10 + 13).g, 180);  // inside the lens
  EXPECT_TRUE(near(p.pixel_at(283, 20), 0xC0, 0x30, 0x20));
  EXPECT_TRUE(near(p.pixel_at(310, 20), 0xC0, 0x30, 0x20));
}

TEST_F(LivePictureTest, ChangesOfSizeAndFormatRemakeTextureAndConverter) {
  Stream small = encode_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 4);
  Stream large = encode_stream(352, 288, "yuv420p", 0x20A040, 0x202020, 4);
  Stream full_chroma = encode_stream(176, 144, "yuv444p", 0xE0E020, 0x6020A0, 4);
  ASSERT_FALSE(small.units.empty());
  ASSERT_FALSE(large.units.empty());
  ASSERT_FALSE(full_chroma.units.empty());

  play(small);
  play(large);
  EXPECT_EQ(texture_size(player.picture.texture.get()).x, 352);
  EXPECT_EQ(texture_size(player.picture.texture.get()).y, 288);
  EXPECT_EQ(player.picture.width, 352);
  Pixels p = window_pixels();
  EXPECT_TRUE(near(p.pixel_at(40, 120), 0x20, 0xA0, 0x40));
  EXPECT_TRUE(near(p.pixel_at(250, 200), 0x20, 0x20, 0x20));

  // Full-chroma pictures need the converter; the texture stays planar 4:2:0.
  play(full_chroma);
  EXPECT_EQ(texture_size(player.picture.texture.get()).x, 176);
  ASSERT_TRUE(player.picture.scaler);
  EXPECT_EQ(player.picture.scaler_format, AV_PIX_FMT_YUV444P);
  EXPECT_TRUE(player.picture.scaled);  // one buffer for every converted picture, kept with the scaler
  p = window_pixels();
  EXPECT_TRUE(near(p.pixel_at(40, 120), 0xE0, 0xE0, 0x20));
  EXPECT_TRUE(near(p.pixel_at(250, 200), 0x60, 0x20, 0xA0));

  play(small);
  EXPECT_FALSE(player.picture.scaler);
  EXPECT_FALSE(player.picture.scaled);
  p = window_pixels();
  EXPECT_TRUE(near(p.pixel_at(40, 120), 0x20, 0x60, 0xC0));
}

TEST_F(LivePictureTest, NoPictureIsLostWhenUnitsAreFedBackToBack) {
  // Parameter sets before every key frame; then the same stream with every
  // unit aggregated (fed without a fetch). A decoder holding a finished picture
  // refuses the next unit until the picture is taken: no unit may be lost
  // there, or the pictures after it stay broken.
  Stream s = encode_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 16, 5);
  int key_frames = 0;
  for (const NalUnit& u : s.units) key_frames += u.type == 5;
  ASSERT_EQ(key_frames, 4);
  play(s);
  EXPECT_GE(player.pictures_shown, 15);

  const int64_t before = player.pictures_shown;
  for (const NalUnit& u : s.units) send(player, decoder, u.data, static_cast<size_t>(u.size), false);
  EXPECT_GE(player.pictures_shown - before, 15);
}

TEST_F(LivePictureTest, ParameterSetsAndBrokenUnitsShowNothing) {
  Stream s = encode_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 2);
  for (const NalUnit& u : s.units)
    if (u.type == 7 || u.type == 8) send(player, decoder, u.data, static_cast<size_t>(u.size), false);
  const uint8_t garbage[] = {0x65, 0xFF, 0x00, 0x00, 0x03, 0x12, 0x34, 0x88, 0x84, 0x00};
  send(player, decoder, garbage, 0, true);
  send(player, decoder, garbage, sizeof garbage, true);
  send(player, decoder, garbage, sizeof garbage, false);
  EXPECT_FALSE(player.picture.texture);
  EXPECT_EQ(player.pictures_shown, 0);
  EXPECT_EQ(player.camera_button.w, 0);
}

namespace {

// Screenshots land in a fresh folder, the working one and the user's pictures folder.
class LiveScreenshotTest : public LivePictureTest {
 protected:
  void SetUp() override {
    LivePictureTest::SetUp();
    folder = fs::temp_directory_path() / ("live_shot_" + std::to_string(getpid()));
    fs::create_directories(folder);
    previous = fs::current_path();
    fs::current_path(folder);
    pictures = std::make_unique<ScopedPicturesFolder>(folder.string());
  }
  void TearDown() override {
    pictures.reset();
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    LivePictureTest::TearDown();
  }
  int bmp_count() {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder)) n += entry.path().extension() == ".bmp";
    return n;
  }
  // Handles the event with standard output captured; returns what was printed.
  std::string handle(const SDL_Event& e) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(handle_live_event(player, e));
    return testing::internal::GetCapturedStdout();
  }
  fs::path folder, previous;
  std::unique_ptr<ScopedPicturesFolder> pictures;
};

// A mouse button event (press or release) at (x, y).
SDL_Event mouse_button(Uint32 type, int x, int y, Uint8 button = SDL_BUTTON_LEFT) {
  SDL_Event e{};
  e.type = type;
  e.button.button = button;
  e.button.x = x;
  e.button.y = y;
  return e;
}

SDL_Event click(int x, int y, Uint8 button = SDL_BUTTON_LEFT) {
  return mouse_button(SDL_MOUSEBUTTONDOWN, x, y, button);
}

}  // namespace

// The live view takes no files: a drop is ignored and its text freed (the
// sanitizer build's leak check fails otherwise).
TEST_F(LiveScreenshotTest, DropsAreIgnored) {
  for (const Uint32 type : {Uint32{SDL_DROPFILE}, Uint32{SDL_DROPTEXT}}) {
    SDL_Event drop{};
    drop.type = type;
    drop.drop.file = SDL_strdup("/tmp/dropped.264");
    EXPECT_EQ(handle(drop), "");
  }
  EXPECT_EQ(bmp_count(), 0);
}

TEST_F(LiveScreenshotTest, KeyAndButtonSaveTheBarePictureOnceThereIsOne) {
  // Before the first picture the key does nothing, and the button is nowhere.
  EXPECT_EQ(handle(key_event(SDLK_s)), "");
  EXPECT_EQ(handle(click(300, 20)), "");
  EXPECT_EQ(bmp_count(), 0);

  Stream s = encode_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 6);
  play(s);
  ASSERT_TRUE(player.picture.texture);
  show_toast("MUTE", 2000);

  // Clicks beside the button or with another mouse button take nothing.
  EXPECT_EQ(handle(click(283, 20)), "");
  EXPECT_EQ(handle(click(310, 20)), "");
  EXPECT_EQ(handle(click(300, 36)), "");
  EXPECT_EQ(handle(click(300, 20, SDL_BUTTON_RIGHT)), "");
  EXPECT_EQ(bmp_count(), 0);

  for (const SDL_Event& e : {key_event(SDLK_s), click(284, 10), click(309, 35)}) {
    std::string printed = handle(e);
    const std::string prefix = "Screenshot: " + folder.string() + "/camera_";
    ASSERT_EQ(printed.rfind(prefix, 0), 0u) << printed;
    std::string name = printed.substr(12, printed.size() - 13);
    EXPECT_EQ(std::string(toast_text()), "Saved " + fs::path(name).filename().string());
    SurfacePtr loaded(SDL_LoadBMP(name.c_str()));
    ASSERT_TRUE(loaded) << name;
    SurfacePtr image(SDL_ConvertSurfaceFormat(loaded.get(), SDL_PIXELFORMAT_ABGR8888, 0));
    // The picture at its own size, not stretched to the window, and nothing
    // of the button or the message over it.
    ASSERT_EQ(image->w, 160);
    ASSERT_EQ(image->h, 120);
    for (SDL_Point at : {SDL_Point{148, 11}, SDL_Point{142, 5}, SDL_Point{85, 20},
                         SDL_Point{75, 20}, SDL_Point{2, 117}, SDL_Point{157, 117}}) {
      const uint8_t* px = static_cast<uint8_t*>(image->pixels) + at.y * image->pitch + at.x * 4;
      Rgba got{px[0], px[1], px[2], px[3]};
      bool right_half = at.x >= 80;
      EXPECT_TRUE(right_half ? near(got, 0xC0, 0x30, 0x20) : near(got, 0x20, 0x60, 0xC0))
          << at.x << "," << at.y;
    }
  }
  EXPECT_EQ(bmp_count(), 3) << "three screenshots in the same second keep three names";
}

TEST_F(LivePictureTest, TheButtonFollowsTheRightEdge) {
  Stream s = encode_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 6);
  SDL_SetWindowSize(player.window, 400, 240);
  SDL_PumpEvents();
  play(s);
  EXPECT_EQ(player.camera_button.x, 364);
  EXPECT_EQ(live_camera_button_rect(960).x, 924);
}

TEST_F(LivePictureTest, BeforeThePictureTheWindowIsBlackWithTheState) {
  for (LiveState state : {LiveState::connecting, LiveState::reconnecting}) {
    SCOPED_TRACE(live_state_text(state));
    SDL_SetRenderDrawColor(player.renderer, 255, 255, 255, 255);  // as a previous screen may leave it
    player.state = state;
    draw_live_frame(player);
    Pixels p = window_pixels();
    EXPECT_TRUE(p.is(5, 5, 0, 0, 0));
    EXPECT_TRUE(p.is(160, 230, 0, 0, 0));
    const int word_width = text_width(live_state_text(state), 3);
    const SDL_Rect word{(320 - word_width) / 2, 120 - 7, word_width, 15};
    EXPECT_GT(p.count_not(word, 0, 0, 0), 40);
  }
}

// The wheel zooms the live picture at the pointer, a drag moves it, "0" shows
// it whole again; the screenshot then holds the visible part at its own pixels.
TEST_F(LiveScreenshotTest, ZoomAndPanOfTheLivePicture) {
  Stream s = encode_stream(160, 120, "yuv420p", 0x2060C0, 0xC03020, 6);
  play(s);
  ASSERT_TRUE(player.picture.texture);
  const auto wheel = [](int notches, int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = notches;
    e.wheel.mouseX = x;
    e.wheel.mouseY = y;
    return e;
  };
  // 2x (a notch is 1.25x) at the right edge: the picture's right half fills the window.
  for (int i = 0; i < 3; ++i) handle(wheel(1, 320, 120));
  EXPECT_DOUBLE_EQ(player.zoom.zoom, 1.25 * 1.25 * 1.25);
  draw_live_frame(player);
  Pixels p = window_pixels();
  EXPECT_TRUE(near(p.pixel_at(10, 120), 0xC0, 0x30, 0x20)) << "the right half reaches the left edge";
  EXPECT_TRUE(near(p.pixel_at(310, 230), 0xC0, 0x30, 0x20));

  const std::string printed = handle(key_event(SDLK_s));
  ASSERT_EQ(printed.rfind("Screenshot: ", 0), 0u) << printed;
  SurfacePtr loaded(SDL_LoadBMP(printed.substr(12, printed.size() - 13).c_str()));
  ASSERT_TRUE(loaded);
  const SDL_Rect part = visible_pixels(player.zoom, 160, 120);
  EXPECT_EQ(loaded->w, part.w);
  EXPECT_EQ(loaded->h, part.h);
  EXPECT_LT(loaded->w, 160);

  // A drag to the right brings the left half back into view.
  handle(mouse_button(SDL_MOUSEBUTTONDOWN, 10, 120));
  SDL_Event motion{};
  motion.type = SDL_MOUSEMOTION;
  motion.motion.x = 310;
  motion.motion.y = 120;
  handle(motion);
  handle(mouse_button(SDL_MOUSEBUTTONUP, 310, 120));
  EXPECT_LT(player.zoom.x, 80.0);
  draw_live_frame(player);
  p = window_pixels();
  EXPECT_TRUE(near(p.pixel_at(10, 120), 0x20, 0x60, 0xC0)) << "the left half again";

  handle(key_event(SDLK_0));
  EXPECT_EQ(player.zoom, ZoomView{});
}
