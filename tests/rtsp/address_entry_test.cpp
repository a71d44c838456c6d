// The address entry screen driven by pushed events, and its frame read back
// pixel by pixel.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "draw/text.h"
#include "rtsp/address_entry.h"

namespace {

struct WindowDeleter {
  void operator()(SDL_Window* w) const { SDL_DestroyWindow(w); }
};
struct RendererDeleter {
  void operator()(SDL_Renderer* r) const { SDL_DestroyRenderer(r); }
};

class AddressEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SDL_setenv("SDL_VIDEODRIVER", "dummy", 0);
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS), 0) << SDL_GetError();
    window.reset(SDL_CreateWindow("test", 0, 0, 320, 240, SDL_WINDOW_HIDDEN));
    ASSERT_TRUE(window) << SDL_GetError();
    renderer.reset(SDL_CreateRenderer(window.get(), -1, SDL_RENDERER_SOFTWARE));
    ASSERT_TRUE(renderer) << SDL_GetError();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    // A previous screen may have stopped text input, which discards pushed text events.
    SDL_StartTextInput();
  }
  void TearDown() override {
    renderer.reset();
    window.reset();
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  }

  uint32_t pixel(int x, int y) {
    uint32_t value = 0;
    SDL_Rect one{x, y, 1, 1};
    SDL_RenderReadPixels(renderer.get(), &one, SDL_PIXELFORMAT_RGB888, &value, 4);
    return value & 0xFFFFFF;
  }
  int count_pixels(SDL_Rect area, uint32_t rgb) {
    int n = 0;
    for (int y = area.y; y < area.y + area.h; ++y)
      for (int x = area.x; x < area.x + area.w; ++x) n += pixel(x, y) == rgb;
    return n;
  }

  std::unique_ptr<SDL_Window, WindowDeleter> window;
  std::unique_ptr<SDL_Renderer, RendererDeleter> renderer;
};

// Pushed inputs: a key (as a keycode) or a piece of typed text.
struct Input {
  SDL_Keycode key;
  const char* text;
};
Input key(SDL_Keycode k) { return {k, nullptr}; }
Input typed(const char* t) { return {0, t}; }
Input closed() { return {-1, nullptr}; }

void push(const Input& in) {
  SDL_Event e{};
  if (in.text) {
    e.type = SDL_TEXTINPUT;
    std::strncpy(e.text.text, in.text, sizeof e.text.text - 1);
  } else if (in.key == -1) {
    e.type = SDL_QUIT;
  } else {
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = in.key;
  }
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

constexpr uint32_t rgb(int r, int g, int b) { return (r << 16) | (g << 8) | b; }

}  // namespace

TEST_F(AddressEntryTest, EditsTheAddressByEvents) {
  struct Case {
    const char* name;
    std::vector<Input> inputs;
    std::string expected;
  } cases[] = {
      {"return at once", {key(SDLK_RETURN)}, "rtsp://"},
      {"typed address",
       {typed("admin:pw@192.168."), typed("1.10:8554/live"), key(SDLK_RETURN)},
       "rtsp://admin:pw@192.168.1.10:8554/live"},
      {"erase everything and more",
       {key(SDLK_BACKSPACE), key(SDLK_BACKSPACE), key(SDLK_BACKSPACE), key(SDLK_BACKSPACE),
        key(SDLK_BACKSPACE), key(SDLK_BACKSPACE), key(SDLK_BACKSPACE), key(SDLK_BACKSPACE),
        key(SDLK_RETURN)},
       ""},
      {"erase the scheme, type another",
       {key(SDLK_BACKSPACE), key(SDLK_BACKSPACE), key(SDLK_BACKSPACE), typed("x"),
        key(SDLK_RETURN)},
       "rtspx"},
      {"multi-byte text kept byte for byte",
       {typed("cam\xC3\xA9ra/\xE6\x97\xA5"), key(SDLK_RETURN)},
       "rtsp://cam\xC3\xA9ra/\xE6\x97\xA5"},
      {"backspace removes one byte of a character",
       {typed("h\xC3\xA9"), key(SDLK_BACKSPACE), key(SDLK_RETURN)},
       "rtsp://h\xC3"},
      {"other keys ignored, keypad enter too",
       {key(SDLK_LEFT), key(SDLK_HOME), key(SDLK_DELETE), key(SDLK_v), key(SDLK_KP_ENTER),
        key(SDLK_RETURN)},
       "rtsp://"},
      {"escape cancels typed text", {typed("host"), key(SDLK_ESCAPE)}, ""},
      {"closing the window cancels", {typed("host"), closed()}, ""},
  };
  for (const Case& c : cases) {
    SDL_StartTextInput();
    for (const Input& in : c.inputs) push(in);
    EXPECT_EQ(ask_rtsp_address(window.get(), renderer.get()), c.expected) << c.name;
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
}

TEST_F(AddressEntryTest, EventsAfterTheFinishingOneAreLeftForTheNextScreen) {
  push(key(SDLK_RETURN));
  push(key(SDLK_a));
  EXPECT_EQ(ask_rtsp_address(window.get(), renderer.get()), "rtsp://");
  SDL_Event e;
  ASSERT_EQ(SDL_PollEvent(&e), 1);
  EXPECT_EQ(e.type, static_cast<uint32_t>(SDL_KEYDOWN));
  EXPECT_EQ(e.key.keysym.sym, SDLK_a);
}

TEST_F(AddressEntryTest, ErasedAddressDoesNotStartTheLiveView) {
  for (int i = 0; i < 7; ++i) push(key(SDLK_BACKSPACE));
  push(key(SDLK_RETURN));
  testing::internal::CaptureStdout();
  start_rtsp_view(window.get(), renderer.get());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(AddressEntryTest, FrameShowsFieldTextCaretAndPrompt) {
  SDL_SetRenderDrawBlendMode(renderer.get(), SDL_BLENDMODE_NONE);
  const std::string text = "rtsp://10.0.0.7";
  draw_address_frame(renderer.get(), window.get(), text, 0);
  // 320 x 240: the box is {40, 100, 240, 40}, the text starts at (48, 115).
  EXPECT_EQ(pixel(5, 5), rgb(15, 15, 25));
  EXPECT_EQ(pixel(39, 120), rgb(15, 15, 25));
  EXPECT_EQ(pixel(40, 100), rgb(100, 150, 255));
  EXPECT_EQ(pixel(279, 139), rgb(100, 150, 255));
  EXPECT_EQ(pixel(280, 139), rgb(15, 15, 25));
  EXPECT_EQ(pixel(45, 105), rgb(50, 50, 70));
  const int tw = text_width(text.c_str(), 2);
  ASSERT_GT(tw, 0);
  EXPECT_GT(count_pixels({48, 115, tw, 10}, rgb(200, 230, 255)), 0);
  EXPECT_EQ(count_pixels({48 + tw, 115, 2, 10}, rgb(255, 255, 255)), 20);
  const int pw = text_width("RTSP: Enter / Esc", 2);
  EXPECT_GT(count_pixels({(320 - pw) / 2, 80, pw, 10}, rgb(150, 180, 220)), 0);
  EXPECT_EQ(count_pixels({0, 80, (320 - pw) / 2, 10}, rgb(150, 180, 220)), 0);
}

TEST_F(AddressEntryTest, CaretFollowsTheTextAndBlinks) {
  SDL_SetRenderDrawBlendMode(renderer.get(), SDL_BLENDMODE_NONE);
  const uint32_t white = rgb(255, 255, 255);
  for (const char* text : {"", "rtsp://", "rtsp://a", "rtsp://cam.local:554/x"}) {
    const int x = 48 + text_width(text, 2);
    draw_address_frame(renderer.get(), window.get(), text, 1700);
    EXPECT_EQ(count_pixels({x, 115, 2, 10}, white), 0) << text;
    draw_address_frame(renderer.get(), window.get(), text, 2000);
    EXPECT_EQ(count_pixels({x, 115, 2, 10}, white), 20) << text;
    EXPECT_EQ(count_pixels({48, 115, 232, 10}, white), 20) << text;
  }
  struct Blink {
    uint32_t elapsed;
    bool visible;
  } blinks[] = {{0, true}, {499, true}, {500, false}, {999, false}, {1000, true}, {4294967295u, true}};
  for (const Blink& b : blinks) EXPECT_EQ(address_caret_visible(b.elapsed), b.visible) << b.elapsed;
}

TEST_F(AddressEntryTest, LayoutFollowsTheWindowSize) {
  SDL_SetWindowSize(window.get(), 640, 480);
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
  }
  SDL_SetRenderDrawBlendMode(renderer.get(), SDL_BLENDMODE_NONE);
  draw_address_frame(renderer.get(), window.get(), "rtsp://", 0);
  // 640 x 480: the box is {80, 220, 480, 40}.
  EXPECT_EQ(pixel(80, 220), rgb(100, 150, 255));
  EXPECT_EQ(pixel(559, 259), rgb(100, 150, 255));
  EXPECT_EQ(pixel(79, 240), rgb(15, 15, 25));
  EXPECT_EQ(pixel(100, 230), rgb(50, 50, 70));
  EXPECT_EQ(count_pixels({88 + text_width("rtsp://", 2), 235, 2, 10}, rgb(255, 255, 255)), 20);
}
