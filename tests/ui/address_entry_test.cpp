// The address entry screen driven by pushed events, and its frame read back
// pixel by pixel.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "draw/text.h"
#include "headless_sdl.h"
#include "ui/address_entry.h"
#include "sdl_events.h"

namespace {

class AddressEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    canvas = make_headless_canvas(320, 240);
    ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
    window = canvas.window.get();
    renderer = canvas.renderer.get();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    // A previous screen may have stopped text input, which discards pushed text events.
    SDL_StartTextInput();
  }

  // Draws one frame over blend mode NONE, so colours read back exactly.
  Pixels frame(const std::string& text, uint32_t elapsed_ms, int w = 320, int h = 240) {
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_NONE);
    draw_address_frame(renderer, window, text, elapsed_ms);
    return read_pixels(renderer, w, h);
  }

  HeadlessCanvas canvas;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
};

// Number of pixels of exactly this colour inside the area.
int count_colour(const Pixels& p, SDL_Rect area, Uint8 r, Uint8 g, Uint8 b) {
  int n = 0;
  for (int y = area.y; y < area.y + area.h; ++y)
    for (int x = area.x; x < area.x + area.w; ++x) n += p.is(x, y, r, g, b);
  return n;
}

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
    EXPECT_EQ(ask_rtsp_address(window, renderer), c.expected) << c.name;
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }
}

// A file dropped on the field is ignored and its text freed (the sanitizer
// build's leak check fails otherwise).
TEST_F(AddressEntryTest, DroppedFilesAreIgnored) {
  push_drop("/tmp/dropped.264");
  push(typed("cam"));
  push(key(SDLK_RETURN));
  EXPECT_EQ(ask_rtsp_address(window, renderer), "rtsp://cam");
}

TEST_F(AddressEntryTest, ErasedAddressDoesNotStartTheLiveView) {
  for (int i = 0; i < 7; ++i) push(key(SDLK_BACKSPACE));
  push(key(SDLK_RETURN));
  testing::internal::CaptureStdout();
  start_rtsp_view(window, renderer);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(AddressEntryTest, ReturnAtOnceStartsTheLiveViewWhichRefusesTheBareScheme) {
  push(key(SDLK_RETURN));
  // The refusal brings the address entry back; Escape there leaves.
  std::thread user([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    push_key(SDLK_ESCAPE);
  });
  testing::internal::CaptureStdout();
  start_rtsp_view(window, renderer);
  user.join();
  EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("ERR: ", 0), 0u);
}

TEST_F(AddressEntryTest, FrameShowsFieldTextCaretAndPrompt) {
  const std::string text = "rtsp://10.0.0.7";
  Pixels p = frame(text, 0);
  ASSERT_EQ(p.w, 320);
  // 320 x 240: the box is {40, 100, 240, 40}; the text's capitals (14 high at
  // scale 2) are centred in it from (48, 113).
  EXPECT_TRUE(p.is(5, 5, 15, 15, 25));
  EXPECT_TRUE(p.is(39, 120, 15, 15, 25));
  EXPECT_TRUE(p.is(40, 100, 100, 150, 255));
  EXPECT_TRUE(p.is(279, 139, 100, 150, 255));
  EXPECT_TRUE(p.is(280, 139, 15, 15, 25));
  EXPECT_TRUE(p.is(45, 105, 50, 50, 70));
  const int tw = text_width(text.c_str(), 2);
  ASSERT_GT(tw, 0);
  EXPECT_EQ(p.bounds_of(200, 230, 255).x, 48);
  EXPECT_EQ(p.bounds_of(200, 230, 255).y, 113) << "the t reaches the top row";
  EXPECT_LE(p.bounds_of(200, 230, 255).w, tw);
  EXPECT_EQ(p.bounds_of(200, 230, 255).h, text_line_height(2)) << "the p's descender";
  EXPECT_EQ(count_colour(p, {48 + tw, 113, 2, 14}, 255, 255, 255), 28);
  const int pw = text_width("RTSP: Enter / Esc", 2);
  SDL_Rect prompt = p.bounds_of(150, 180, 220);
  EXPECT_EQ(prompt.x, (320 - pw) / 2);
  EXPECT_EQ(prompt.y, 80);
  EXPECT_LE(prompt.x + prompt.w, (320 - pw) / 2 + pw);
}

TEST_F(AddressEntryTest, CaretFollowsTheTextAndBlinks) {
  for (const char* text : {"", "rtsp://", "rtsp://a", "rtsp://cam.local:554/x"}) {
    const int x = 48 + text_width(text, 2);
    EXPECT_EQ(frame(text, 1700).bounds_of(255, 255, 255).w, 0) << text;
    SDL_Rect caret = frame(text, 2000).bounds_of(255, 255, 255);
    EXPECT_EQ(caret.x, x) << text;
    EXPECT_EQ(caret.y, 113) << text;
    EXPECT_EQ(caret.w, 2) << text;
    EXPECT_EQ(caret.h, text_height(2)) << text;
  }
  struct Blink {
    uint32_t elapsed;
    bool visible;
  } blinks[] = {{0, true}, {499, true}, {500, false}, {999, false}, {1000, true}, {4294967295u, true}};
  for (const Blink& b : blinks) EXPECT_EQ(address_caret_visible(b.elapsed), b.visible) << b.elapsed;
}

TEST_F(AddressEntryTest, LayoutFollowsTheWindowSize) {
  canvas = make_headless_canvas(640, 480);
  ASSERT_TRUE(canvas.renderer);
  window = canvas.window.get();
  renderer = canvas.renderer.get();
  Pixels p = frame("rtsp://", 0, 640, 480);
  // 640 x 480: the box is {80, 220, 480, 40}.
  EXPECT_TRUE(p.is(80, 220, 100, 150, 255));
  EXPECT_TRUE(p.is(559, 259, 100, 150, 255));
  EXPECT_TRUE(p.is(79, 240, 15, 15, 25));
  EXPECT_TRUE(p.is(100, 230, 50, 50, 70));
  EXPECT_EQ(p.bounds_of(255, 255, 255).x, 88 + text_width("rtsp://", 2));
  EXPECT_EQ(p.bounds_of(255, 255, 255).y, 233) << "the caret beside the text, centred in the field";
}

TEST_F(AddressEntryTest, AFailureIsDrawnUnderTheFieldAndThePasswordHidden) {
  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_NONE);
  draw_address_frame(renderer, window, "rtsp://u:pw@cam/x", 600,
                     "ERR: DESCRIBE answered 503 Service Unavailable, a reason long enough to need two lines");
  Pixels shown = read_pixels(renderer, 320, 240);
  const SDL_Rect box{(320 - 240) / 2, 240 / 2 - 20, 240, 40};
  const SDL_Rect first_line{box.x, box.y + box.h + 12, box.w, 10};
  const SDL_Rect second_line{box.x, box.y + box.h + 26, box.w, 10};
  const SDL_Rect right_of_box{box.x + box.w + 1, box.y + box.h, 320 - box.x - box.w - 1, 60};
  EXPECT_GT(count_colour(shown, first_line, 255, 120, 100), 50);
  EXPECT_GT(count_colour(shown, second_line, 255, 120, 100), 20);
  EXPECT_EQ(shown.count_not(right_of_box, 15, 15, 25), 0) << "the reason runs past the field";
  // The field's text is as wide as the masked address, drawn in the same font.
  Pixels masked = frame("rtsp://u:**@cam/x", 600);
  for (int y = box.y; y < box.y + box.h; ++y)
    for (int x = box.x; x < box.x + box.w; ++x)
      ASSERT_EQ(shown.pixel_at(x, y).r, masked.pixel_at(x, y).r) << x << "," << y;
}
