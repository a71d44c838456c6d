// Finding logo.svg and rasterizing it into a texture.
#include "app/logo.h"
#include "app_test_util.h"
#include "headless_sdl.h"

#include <gtest/gtest.h>

namespace {

// Red left half, transparent right half, 600 x 200 at 96 DPI.
const char kHalfLogo[] =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"600\" height=\"200\">"
    "<rect x=\"0\" y=\"0\" width=\"300\" height=\"200\" fill=\"#ff0000\"/></svg>";

TEST(LogoPathBesideProgram, TakesEverythingUpToTheLastSeparator) {
  struct Case {
    const char* program;
    const char* expected;
  };
  const Case cases[] = {
      {"/opt/player/h264player", "/opt/player/logo.svg"},
      {"D:\\app\\player.exe", "D:\\app\\logo.svg"},
      {"C:/tools\\bin/player.exe", "C:/tools\\bin/logo.svg"},
      {"./h264player", "./logo.svg"},
      {"h264player", ""},
      {"", ""},
      {nullptr, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(logo_path_beside_program(c.program), c.expected) << (c.program ? c.program : "null");
}

TEST(FindLogoPath, WorkingDirectoryFirstThenBesideTheProgram) {
  ScratchDir cwd, program_dir;
  ScopedCwd in(cwd.path);
  const std::string program = program_dir.file("h264player");

  EXPECT_EQ(find_logo_path(program.c_str()), "");
  ASSERT_TRUE(write_file(program_dir.file("logo.svg"), kHalfLogo));
  EXPECT_EQ(find_logo_path(program.c_str()), program_dir.file("logo.svg"));
  EXPECT_EQ(find_logo_path("h264player"), "") << "a bare name has no folder to look in";
  ASSERT_TRUE(write_file(cwd.file("logo.svg"), kHalfLogo));
  EXPECT_EQ(find_logo_path(program.c_str()), "logo.svg");
  EXPECT_EQ(find_logo_path("h264player"), "logo.svg");
}

TEST(SvgRootMayHaveSize, TurnsAwayFilesThatCannotGiveALogo) {
  struct Case {
    const char* text;
    bool expected;
  };
  const Case cases[] = {
      {"<svg width=\"600\" height=\"200\">", true},
      {"<?xml version=\"1.0\"?>\n<svg\n  width='600px'\n  height='2in'/>", true},
      {"<svg viewBox=\"0 0 600 200\">", true},
      {"<svg width=\"0\" height=\"0\" viewBox=\"0 0 600 200\">", true},
      {"<svg>", true},
      {"<svg width=\"0\" height=\"200\">", false},
      {"<svg width=\"600\" height=\"-1\">", false},
      {"<svg strokewidth=\"-1\" width=\"600\" height=\"200\">", true},
      {"<svgx width=\"600\"></svgx>", false},
      {"<svg width=\"600\" hei", false},
      {"", false},
      {"\x89PNG\r\n", false},
  };
  for (const Case& c : cases) EXPECT_EQ(svg_root_may_have_size(c.text), c.expected) << c.text;
}

TEST(LoadLogoTexture, SixHundredByTwoHundredAskedAtThreeHundredIsThreeHundredByHundred) {
  HeadlessCanvas canvas = make_headless_canvas(320, 120);
  ASSERT_TRUE(canvas.renderer);
  ScratchDir dir;
  ASSERT_TRUE(write_file(dir.file("logo.svg"), kHalfLogo));

  int w = 0, h = 0;
  TexturePtr logo = load_logo_texture(canvas.renderer.get(), dir.file("logo.svg"), 300, &w, &h);
  ASSERT_TRUE(logo);
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 100);
  EXPECT_TRUE(load_logo_texture(canvas.renderer.get(), dir.file("logo.svg"), 300, nullptr, nullptr));

  // Drawn over blue, the transparent half lets the blue through.
  clear_canvas(canvas.renderer.get(), 0, 0, 255);
  SDL_Rect dst{0, 0, w, h};
  SDL_RenderCopy(canvas.renderer.get(), logo.get(), nullptr, &dst);
  Pixels px = read_pixels(canvas.renderer.get(), canvas.w, canvas.h);
  EXPECT_TRUE(px.is(5, 50, 255, 0, 0));
  EXPECT_TRUE(px.is(145, 95, 255, 0, 0));
  EXPECT_TRUE(px.is(155, 50, 0, 0, 255));
  EXPECT_TRUE(px.is(295, 5, 0, 0, 255));
}

TEST(LoadLogoTexture, TheShippedLogoIsAThreeToOneBanner) {
  HeadlessCanvas canvas = make_headless_canvas(64, 64);
  ASSERT_TRUE(canvas.renderer);
  int w = 0, h = 0;
  EXPECT_TRUE(load_logo_texture(canvas.renderer.get(), H264_SOURCE_DIR "/logo.svg", 300, &w, &h));
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 100);
}

TEST(LoadLogoTexture, MissingBrokenEmptyOrSizelessFilesGiveNoLogo) {
  HeadlessCanvas canvas = make_headless_canvas(64, 64);
  ASSERT_TRUE(canvas.renderer);
  ScratchDir dir;
  struct Case {
    const char* name;
    const char* content;  // null: no file at all
  };
  const Case cases[] = {
      {"missing", nullptr},
      {"empty", ""},
      {"not svg", "\x89PNG\r\n\x1a\n garbage bytes"},
      {"zero width", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"0\" height=\"200\"/>"},
      {"negative height",
       "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"600\" height=\"-5\"/>"},
      {"cut off", "<svg xmlns=\"http://www.w3.org/2000/svg\" wid"},
  };
  for (const Case& c : cases) {
    std::string path = dir.file(std::string(c.name) + ".svg");
    if (c.content) {
      ASSERT_TRUE(write_file(path, c.content));
    }
    int w = -1, h = -1;
    EXPECT_FALSE(load_logo_texture(canvas.renderer.get(), path, 300, &w, &h)) << c.name;
    EXPECT_EQ(w, -1) << c.name;
    EXPECT_EQ(h, -1) << c.name;
  }
}

TEST(LoadLogoTexture, AFreakishlyTallImageStaysWithinBoundedMemory) {
  HeadlessCanvas canvas = make_headless_canvas(64, 64);
  ASSERT_TRUE(canvas.renderer);
  ScratchDir dir;
  // 300 pixels wide this would be 30 million rows (36 GB of pixels).
  ASSERT_TRUE(write_file(dir.file("tall.svg"),
                         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1\" height=\"100000\">"
                         "<rect width=\"1\" height=\"100000\" fill=\"#fff\"/></svg>"));
  int w = 0, h = 0;
  TexturePtr logo = load_logo_texture(canvas.renderer.get(), dir.file("tall.svg"), 300, &w, &h);
  ASSERT_TRUE(logo);
  EXPECT_LE(h, 4096);
  EXPECT_LE(w, 300);
}

}  // namespace
