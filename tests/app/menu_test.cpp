// The start menu driven through SDL's event queue and checked by reading
// back what it drew.
#include "platform/choosers.h"
#include "app/menu.h"
#include "app_test_util.h"
#include "draw/help_overlay.h"
#include "headless_sdl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

const char kHalvesLogo[] =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"600\" height=\"200\">"
    "<rect x=\"0\" y=\"0\" width=\"300\" height=\"200\" fill=\"#ff0000\"/>"
    "<rect x=\"300\" y=\"0\" width=\"300\" height=\"200\" fill=\"#00ff00\"/></svg>";

struct Rgb {
  int r, g, b;
};

Rgb blend(Rgb src, int alpha, Rgb dst) {
  auto mix = [&](int s, int d) { return (s * alpha + d * (255 - alpha)) / 255; };
  return {mix(src.r, dst.r), mix(src.g, dst.g), mix(src.b, dst.b)};
}

const Rgb kBackground{41, 98, 168};
const Rgb kFill = blend({20, 60, 120}, 200, kBackground);
const Rgb kOutline = blend({120, 180, 255}, 200, kFill);
const Rgb kCap = blend({50, 130, 240}, 180, kFill);
const Rgb kLetter = blend({255, 255, 255}, 240, kCap);
const Rgb kLabel = blend({220, 230, 255}, 220, kFill);
const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};

// Blending rounds a little differently from renderer to renderer.
testing::AssertionResult looks(const Pixels& px, int x, int y, Rgb want) {
  Rgba got = px.pixel_at(x, y);
  if (std::abs(got.r - want.r) <= 2 && std::abs(got.g - want.g) <= 2 &&
      std::abs(got.b - want.b) <= 2)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "(" << x << ", " << y << ") is " << int(got.r) << ","
                                     << int(got.g) << "," << int(got.b) << ", wanted " << want.r
                                     << "," << want.g << "," << want.b;
}

SDL_Event key(SDL_Keycode sym, Uint16 mod = KMOD_NONE, Uint8 repeat = 0) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.state = SDL_PRESSED;
  e.key.repeat = repeat;
  e.key.keysym.sym = sym;
  e.key.keysym.mod = mod;
  return e;
}

SDL_Event click(int x, int y, Uint8 button = SDL_BUTTON_LEFT) {
  SDL_Event e{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.button = button;
  e.button.state = SDL_PRESSED;
  e.button.x = x;
  e.button.y = y;
  return e;
}

SDL_Event drop(const std::string& path) {
  SDL_Event e{};
  e.type = SDL_DROPFILE;
  e.drop.file = SDL_strdup(path.c_str());
  return e;
}

SDL_Event of_type(Uint32 type) {
  SDL_Event e{};
  e.type = type;
  return e;
}

// A window of the given size with the menu run once over the queued events.
struct MenuRun {
  HeadlessCanvas canvas;
  std::string result;
  Pixels pixels;
};

MenuRun run_menu(int w, int h, const std::vector<SDL_Event>& events,
                 const char* program_path = "h264player") {
  MenuRun run;
  run.canvas = make_headless_canvas(w, h);
  if (!run.canvas.renderer) return run;
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  for (SDL_Event e : events) SDL_PushEvent(&e);
  SDL_Window* window = run.canvas.window.get();
  SDL_Renderer* renderer = run.canvas.renderer.get();
  run.result = run_start_menu(window, renderer, program_path);
  run.pixels = read_pixels(renderer, w, h);
  return run;
}

class StartMenu : public testing::Test {
 protected:
  // A working directory without a logo, so only the tests that want one get it.
  ScratchDir cwd;
  ScopedCwd in{cwd.path};
};

TEST_F(StartMenu, KeysClicksDropsAndBatches) {
  struct Case {
    const char* name;
    std::vector<SDL_Event> events;
    std::string expected;
  };
  // Buttons of the 960 x 600 window: x 370..589, y 196, 246, 296, 346, 38 high.
  const Case cases[] = {
      {"Escape", {key(SDLK_ESCAPE)}, ""},
      {"q", {key(SDLK_q)}, ""},
      {"window closed", {of_type(SDL_QUIT)}, ""},
      {"c", {key(SDLK_c)}, "__CONVERT__"},
      {"Shift+c", {key(SDLK_c, KMOD_LSHIFT)}, "__CONVERT__"},
      {"Caps Lock c, auto-repeated", {key(SDLK_c, KMOD_CAPS, 1)}, "__CONVERT__"},
      {"r", {key(SDLK_r)}, "__RTSP__"},
      {"other keys, motion and window events are ignored",
       {key(SDLK_x), of_type(SDL_MOUSEMOTION), of_type(SDL_WINDOWEVENT), key(SDLK_q)}, ""},
      {"Convert at its top-left pixel", {click(370, 246)}, "__CONVERT__"},
      {"RTSP at its bottom-right pixel", {click(589, 333)}, "__RTSP__"},
      {"Quit button", {click(480, 360)}, ""},
      {"right edge is outside", {click(590, 256), key(SDLK_q)}, ""},
      {"bottom edge is outside", {click(400, 284), key(SDLK_q)}, ""},
      {"right button does nothing", {click(400, 256, SDL_BUTTON_RIGHT), key(SDLK_q)}, ""},
      {"dropped path as delivered", {drop("/tmp/a dir/kamera \xe3\x81\x82.txt")},
       "/tmp/a dir/kamera \xe3\x81\x82.txt"},
      {"several drops: the last wins", {drop("/a.264"), drop("/b.264"), drop("/c.264")}, "/c.264"},
      {"quit keeps an earlier drop", {drop("/a.264"), key(SDLK_q)}, "/a.264"},
      {"quit keeps an earlier choice", {key(SDLK_r), key(SDLK_ESCAPE)}, "__RTSP__"},
      {"a later drop replaces", {key(SDLK_c), drop("/a.264")}, "/a.264"},
      {"a later key replaces", {drop("/a.264"), key(SDLK_c)}, "__CONVERT__"},
      {"h shows the help; the next key only hides it", {key(SDLK_h), key(SDLK_c), key(SDLK_q)},
       ""},
      {"F1 shows the help; Escape only hides it", {key(SDLK_F1), key(SDLK_ESCAPE), key(SDLK_r)},
       "__RTSP__"},
  };
  for (const Case& c : cases) EXPECT_EQ(run_menu(960, 600, c.events).result, c.expected) << c.name;
}

TEST_F(StartMenu, HelpIsDrawnOverTheMenu) {
  MenuRun run = run_menu(960, 600, {key(SDLK_h), of_type(SDL_QUIT)});
  ASSERT_TRUE(run.canvas.renderer);
  const HelpLayout l = layout_help(960, 600, menu_help_lines());
  int amber = 0;
  for (int x = l.keys_x; x < l.action_x; ++x) {
    const Rgba px = run.pixels.pixel_at(x, l.first_y + 2 * l.line_h + 1);
    if (px.r > 200 && px.g > 150 && px.b < 100) ++amber;
  }
  EXPECT_GT(amber, 0);
  EXPECT_FALSE(looks(run.pixels, l.box.x + 2, l.box.y + l.box.h - 2, kBackground));
}

TEST_F(StartMenu, OpenRunsTheChooserAndStaysWhenCancelled) {
  {
    StandInChooser zenity("zenity", "/tmp/rec dir/a.264\n", 0);
    EXPECT_EQ(run_menu(960, 600, {key(SDLK_o)}).result, "/tmp/rec dir/a.264");
    EXPECT_EQ(run_menu(960, 600, {click(589, 196)}).result, "/tmp/rec dir/a.264");
    EXPECT_EQ(run_menu(960, 600, {key(SDLK_o), key(SDLK_q)}).result, "/tmp/rec dir/a.264");
  }
  StandInChooser cancelled("zenity", "", 1);
  HeadlessCanvas canvas = make_headless_canvas(960, 600);
  ASSERT_TRUE(canvas.window);
  auto buttons = menu_buttons(960, 600);
  MenuState state;
  handle_menu_event(key(SDLK_o), buttons, canvas.window.get(), state);
  handle_menu_event(click(400, 200), buttons, canvas.window.get(), state);
  EXPECT_TRUE(cancelled.ran());
  EXPECT_FALSE(state.done);
  EXPECT_EQ(state.result, "");
  EXPECT_EQ(run_menu(960, 600, {key(SDLK_o), key(SDLK_c)}).result, "__CONVERT__");
}

// The four buttons at text scale s: 110s x 19s at (x, y) for each y.
void expect_buttons(const Pixels& px, int x, const int (&ys)[4], int s) {
  for (int y : ys) {
    EXPECT_TRUE(looks(px, x, y, kOutline));
    EXPECT_TRUE(looks(px, x + 110 * s - 1, y + 19 * s - 1, kOutline));
    EXPECT_TRUE(looks(px, x - 1, y + 5, kBackground));
    EXPECT_TRUE(looks(px, x + 110 * s, y + 5, kBackground));
    EXPECT_TRUE(looks(px, x + 50 * s, y + 19 * s, kBackground));
    EXPECT_TRUE(looks(px, x + 100 * s, y + 5, kFill));
    // Key cap 9s x 11s at (x + 4s, y + 4s), the letter's glyph 2s inside it.
    EXPECT_TRUE(looks(px, x + 4 * s, y + 4 * s, kCap));
    EXPECT_TRUE(looks(px, x + 13 * s - 1, y + 15 * s - 1, kCap));
    EXPECT_TRUE(looks(px, x + 4 * s - 1, y + 4 * s, kFill));
    EXPECT_TRUE(looks(px, x + 13 * s, y + 15 * s - 1, kFill));
    EXPECT_TRUE(looks(px, x + 7 * s, y + 6 * s, kLetter)) << "O, C, R and Q light their top row";
    EXPECT_TRUE(looks(px, x + 8 * s, y + 7 * s, kCap)) << "and are open below it in the middle";
    // The label's capital starts at (x + 18s, y + 6s); its second row lights the first column.
    EXPECT_TRUE(looks(px, x + 18 * s, y + 7 * s, kLabel));
    EXPECT_TRUE(looks(px, x + 18 * s - 1, y + 7 * s, kFill));
  }
}

TEST_F(StartMenu, WorkedLayoutAt960x600WithLogoBesideTheProgram) {
  ScratchDir program_dir;
  ASSERT_TRUE(write_file(program_dir.file("logo.svg"), kHalvesLogo));
  std::string program = program_dir.file("h264player");
  MenuRun run = run_menu(960, 600, {key(SDLK_q)}, program.c_str());
  ASSERT_TRUE(run.canvas.window);
  EXPECT_STREQ(SDL_GetWindowTitle(run.canvas.window.get()), "H.264 Player");
  const Pixels& px = run.pixels;
  expect_buttons(px, 370, {196, 246, 296, 346}, 2);
  // "Open .264": the p's stem reaches below the line (rows 7 and 8 of its cells).
  EXPECT_TRUE(looks(px, 418, 224, kLabel));
  EXPECT_TRUE(looks(px, 421, 224, kFill));
  // The 300 x 100 logo unscaled at (330, 40).
  EXPECT_TRUE(looks(px, 330, 40, kRed));
  EXPECT_TRUE(looks(px, 479, 139, kRed));
  EXPECT_TRUE(looks(px, 480, 40, kGreen));
  EXPECT_TRUE(looks(px, 629, 139, kGreen));
  EXPECT_TRUE(looks(px, 329, 40, kBackground));
  EXPECT_TRUE(looks(px, 630, 40, kBackground));
  EXPECT_TRUE(looks(px, 400, 140, kBackground));
}

TEST_F(StartMenu, FullHdLayoutAndLogoFromTheWorkingDirectory) {
  ASSERT_TRUE(write_file(cwd.file("logo.svg"), kHalvesLogo));
  MenuRun run = run_menu(1920, 1080, {key(SDLK_q)});
  // Scale 3 at 1080p: 330 x 57 buttons, 75 apart from 156 above the middle.
  expect_buttons(run.pixels, 795, {384, 459, 534, 609}, 3);
  EXPECT_TRUE(looks(run.pixels, 810, 40, kRed));
  EXPECT_TRUE(looks(run.pixels, 1109, 139, kGreen));
  EXPECT_TRUE(looks(run.pixels, 1110, 40, kBackground));
}

TEST_F(StartMenu, NarrowWindowShrinksTheLogoToHalfItsWidth) {
  ASSERT_TRUE(write_file(cwd.file("logo.svg"), kHalvesLogo));
  MenuRun run = run_menu(500, 400, {key(SDLK_q)});
  // 300 x 100 scaled by 250 / 300: 250 x 83 at (125, 40).
  const Pixels& px = run.pixels;
  EXPECT_TRUE(looks(px, 125, 40, kRed));
  EXPECT_TRUE(looks(px, 124, 40, kBackground));
  EXPECT_TRUE(looks(px, 130, 122, kRed));
  EXPECT_TRUE(looks(px, 130, 123, kBackground));
  EXPECT_TRUE(looks(px, 374, 60, kGreen));
  EXPECT_TRUE(looks(px, 375, 60, kBackground));
  // Scale 1 in so small a window: 110 x 19 buttons from 52 above the middle,
  // clear of the logo.
  EXPECT_EQ(menu_buttons(500, 400)[0].rect.y, 148);
  EXPECT_TRUE(looks(px, 195, 148, kOutline));
  EXPECT_TRUE(looks(px, 304, 166, kOutline));
}

TEST_F(StartMenu, NoLogoLeavesTheBackground) {
  MenuRun run = run_menu(960, 600, {key(SDLK_q)});
  EXPECT_EQ(run.pixels.count_not({0, 0, 960, 190}, 41, 98, 168), 0);
}

TEST_F(StartMenu, CreatesTheSharedWindowWhenThereIsNone) {
  ASSERT_TRUE(init_headless_video());
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  SDL_Event quit = key(SDLK_q);
  SDL_PushEvent(&quit);
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  EXPECT_EQ(run_start_menu(window, renderer, "h264player"), "");
  ASSERT_TRUE(window);
  EXPECT_TRUE(renderer);
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  EXPECT_EQ(w, 960);
  EXPECT_EQ(h, 600);
  EXPECT_STREQ(SDL_GetWindowTitle(window), "H.264 Player");
  EXPECT_EQ(owner_window_handle(window), nullptr) << "the dummy driver has no native window";
  EXPECT_EQ(owner_window_handle(nullptr), nullptr);
  SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);
}

TEST_F(StartMenu, ReportsSdlsErrorWhenNoWindowCanBeMade) {
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  std::string out;
  std::string result = "unset";
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  {
    ScopedEnv driver("SDL_VIDEODRIVER", "no_such_driver");
    testing::internal::CaptureStdout();
    result = run_start_menu(window, renderer, "h264player");
    out = testing::internal::GetCapturedStdout();
  }
  EXPECT_EQ(result, "");
  EXPECT_EQ(window, nullptr);
  EXPECT_EQ(out.rfind("Cannot create the window: ", 0), 0u) << out;
  EXPECT_GT(out.size(), std::string("Cannot create the window: \n").size());
  EXPECT_EQ(out.back(), '\n');
}

}  // namespace
