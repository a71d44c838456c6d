// The bitmap font, read back from a software renderer: white on black.
#include <gtest/gtest.h>

#include <string>

#include "draw/text.h"
#include "headless_sdl.h"

namespace {

struct Canvas {
  HeadlessCanvas c = make_headless_canvas(160, 60);
  SDL_Renderer* r() { return c.renderer.get(); }
  Pixels draw(const char* text, int x, int y, int s) {
    clear_canvas(r(), 0, 0, 0);
    SDL_SetRenderDrawColor(r(), 255, 255, 255, 255);
    draw_text(r(), x, y, text, s);
    return read_pixels(r(), c.w, c.h);
  }
};

// The 3x5 cells at (x, y), row by row, as 'X' (every pixel lit) and '.' (none
// lit); '?' for a cell only partly lit.
std::string cells(const Pixels& p, int x, int y, int s) {
  std::string out;
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 3; ++c) {
      int lit = p.count_not({x + c * s, y + r * s, s, s}, 0, 0, 0);
      out += lit == s * s ? 'X' : lit == 0 ? '.' : '?';
    }
  return out;
}

}  // namespace

TEST(BitmapText, DrawsEachShapeCellByCell) {
  struct Case { const char* text; const char* rows; int advance; };
  const Case cases[] = {
      {"0", "XXX" "X.X" "X.X" "X.X" "XXX", 4}, {"O", "XXX" "X.X" "X.X" "X.X" "XXX", 4},
      {"5", "XXX" "X.." "XXX" "..X" "XXX", 4}, {"S", "XXX" "X.." "XXX" "..X" "XXX", 4},
      {"A", ".X." "X.X" "XXX" "X.X" "X.X", 4}, {"Q", "XXX" "X.X" "X.X" ".XX" "..X", 4},
      {"G", "XXX" "X.." "X.X" "X.X" ".XX", 4}, {"J", "..X" "..X" "..X" "..X" ".X.", 4},
      {":", "..." "X.." "..." "X.." "...", 2}, {".", "..." "..." "..." "..." "X..", 2},
      {"-", "..." "..." "XXX" "..." "...", 4}, {"_", "..." "..." "..." "..." "XXX", 4},
      {"+", "..." ".X." "XXX" ".X." "...", 4}, {"=", "..." "XXX" "..." "XXX" "...", 4},
      {"~", "..." "XXX" "..." "XXX" "...", 4}, {"/", "..X" "..X" "..X" ".X." ".X.", 4},
      {"\\", "X.." "X.." "X.." ".X." ".X.", 4}, {"?", "..." "..." ".X." "..." "...", 4},
      {"(", "..." "..." ".X." "..." "...", 4}, {"@", "..." "..." ".X." "..." "...", 4},
      {"|", ".X." ".X." ".X." ".X." ".X.", 4}, {" ", "..." "..." "..." "..." "...", 2},
      {";", "..." "..." "..." "..." "...", 2}, {",", "..." "..." "..." "..." "...", 2},
      {"!", "..." "..." "..." "..." "...", 2}, {"{", "..." "..." "..." "..." "...", 2},
      {"\x7f", "..." "..." "..." "..." "...", 2}, {"\xff", "..." "..." "..." "..." "...", 2},
  };
  Canvas canvas;
  ASSERT_TRUE(canvas.r()) << "cannot start headless SDL";
  for (const Case& k : cases) {
    for (int s : {1, 3}) {
      Pixels p = canvas.draw(k.text, 20, 10, s);
      EXPECT_EQ(cells(p, 20, 10, s), k.rows) << "'" << k.text << "' at scale " << s;
      SDL_Rect drawn = p.bounds_not(0, 0, 0);
      if (drawn.w > 0) {
        EXPECT_GE(drawn.x, 20) << k.text;
        EXPECT_LE(drawn.x + drawn.w, 20 + 3 * s) << k.text;
        EXPECT_LE(drawn.y + drawn.h, 10 + 5 * s) << k.text;
      }
      EXPECT_EQ(text_width(k.text, s), k.advance * s) << k.text;
    }
  }
}

TEST(BitmapText, WidthsAddUpTheAdvances) {
  struct Case { const char* text; int s; int width; };
  const Case cases[] = {
      {"12:34 / 56:07", 2, 88}, {"Open .264", 2, 64}, {"", 3, 0},
      {"   ", 3, 18},           {"\xc3\xa9", 2, 8},    {"?(", 1, 8},
      {";,", 1, 4},             {"  ||  ", 3, 48},     {"a-Z_", 4, 64},
  };
  for (const Case& k : cases) EXPECT_EQ(text_width(k.text, k.s), k.width) << k.text;
  EXPECT_EQ(text_width(nullptr, 2), 0);
}

TEST(BitmapText, PenMovesExactlyByTheWidth) {
  Canvas canvas;
  ASSERT_TRUE(canvas.r()) << "cannot start headless SDL";
  // The "I" after each prefix must start where text_width says the prefix ends.
  for (const char* prefix : {"", ":", ".", " ", "a", "\xc3\xa9", "|", "?", "1:2", "#;"}) {
    std::string text = std::string(prefix) + "I";
    Pixels p = canvas.draw(text.c_str(), 3, 4, 2);
    int at = 3 + text_width(prefix, 2);
    EXPECT_EQ(cells(p, at, 4, 2), "XXX" ".X." ".X." ".X." "XXX") << "after '" << prefix << "'";
  }
}

TEST(BitmapText, LowerCaseIsAnUnderlinedCapitalOnePixelBelow) {
  Canvas canvas;
  ASSERT_TRUE(canvas.r()) << "cannot start headless SDL";
  Pixels p = canvas.draw("e", 10, 10, 3);
  EXPECT_EQ(cells(p, 10, 10, 3), "XXX" "X.." "XXX" "X.." "XXX");
  EXPECT_EQ(p.count_not({0, 25, 160, 1}, 0, 0, 0), 0) << "row y+15 stays empty";
  EXPECT_EQ(p.count_not({0, 26, 160, 1}, 0, 0, 0), 9);
  EXPECT_EQ(p.count_not({10, 26, 9, 1}, 0, 0, 0), 9) << "underline is 9x1 at y+16";
  EXPECT_EQ(p.count_not({0, 27, 160, 33}, 0, 0, 0), 0);

  // "Open .264": only the three lower-case letters are underlined.
  p = canvas.draw("Open .264", 0, 0, 2);
  EXPECT_EQ(p.count_not({0, 11, 8, 1}, 0, 0, 0), 0);
  for (int pen : {8, 16, 24}) EXPECT_EQ(p.count_not({pen, 11, 6, 1}, 0, 0, 0), 6) << pen;
  EXPECT_EQ(p.count_not({32, 0, 8, 12}, 0, 0, 0), 4) << "space draws nothing, '.' one cell";
  EXPECT_EQ(cells(p, 40, 0, 2), "XXX" "..X" "XXX" "X.." "XXX");
  EXPECT_EQ(p.bounds_not(0, 0, 0).w, 64 - 2);
}

TEST(BitmapText, LeavesColourAndBlendModeAsFound) {
  Canvas canvas;
  ASSERT_TRUE(canvas.r()) << "cannot start headless SDL";
  SDL_Renderer* r = canvas.r();
  SDL_SetRenderDrawBlendMode(r, SDL_BLENDMODE_ADD);
  SDL_SetRenderDrawColor(r, 12, 34, 56, 78);
  draw_text(r, 0, 0, "Mixed text: a-z 0.9 +=/\\?|", 2);
  Uint8 cr, cg, cb, ca;
  SDL_BlendMode mode;
  SDL_GetRenderDrawColor(r, &cr, &cg, &cb, &ca);
  SDL_GetRenderDrawBlendMode(r, &mode);
  EXPECT_EQ(mode, SDL_BLENDMODE_ADD);
  EXPECT_EQ((Rgba{cr, cg, cb, ca}), (Rgba{12, 34, 56, 78}));
}
