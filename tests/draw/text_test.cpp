// The bitmap font, read back from a software renderer: white on black.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "draw/text.h"
#include "headless_sdl.h"

namespace {

struct Canvas {
  HeadlessCanvas c = make_headless_canvas(200, 60);
  SDL_Renderer* r() { return c.renderer.get(); }
  Pixels draw(const char* text, int x, int y, int s) {
    clear_canvas(r(), 0, 0, 0);
    SDL_SetRenderDrawColor(r(), 255, 255, 255, 255);
    draw_text(r(), x, y, text, s);
    return read_pixels(r(), c.w, c.h);
  }
};

// The 5 x 9 cells at (x, y), row by row, as '#' (every pixel lit) and '.'
// (none lit); '?' for a cell only partly lit.
std::string cells(const Pixels& p, int x, int y, int s) {
  std::string out;
  for (int r = 0; r < kGlyphRows; ++r)
    for (int c = 0; c < kGlyphColumns; ++c) {
      const int lit = p.count_not({x + c * s, y + r * s, s, s}, 0, 0, 0);
      out += lit == s * s ? '#' : lit == 0 ? '.' : '?';
    }
  return out;
}

// The table's picture of a glyph in the same form.
std::string table_cells(int code) {
  std::string out;
  for (uint8_t row : glyph_rows(code))
    for (int c = 0; c < kGlyphColumns; ++c) out += (row >> (kGlyphColumns - 1 - c)) & 1 ? '#' : '.';
  return out;
}

std::string text_of(int code) { return code == kReplacementGlyph ? "\x7f" : std::string(1, char(code)); }

}  // namespace

TEST(BitmapText, EveryPrintableCharacterIsDrawnAndNoTwoAreAlike) {
  Canvas canvas;
  ASSERT_TRUE(canvas.r()) << "cannot start headless SDL";
  std::map<std::string, int> seen;  // drawn cells -> character
  for (int code = 0x20; code <= kReplacementGlyph; ++code) {
    const std::string text = text_of(code);
    const Pixels p = canvas.draw(text.c_str(), 10, 5, 2);
    const std::string drawn = cells(p, 10, 5, 2);
    // Nothing is drawn outside the glyph's cells.
    const SDL_Rect ink = p.bounds_not(0, 0, 0);
    if (ink.w > 0) {
      EXPECT_GE(ink.x, 10);
      EXPECT_LE(ink.x + ink.w, 10 + 2 * kGlyphColumns) << text;
      EXPECT_LE(ink.y + ink.h, 5 + 2 * kGlyphRows) << text;
    }
    EXPECT_EQ(drawn, table_cells(code)) << "'" << text << "' is drawn as its table says";
    if (code == ' ') {
      EXPECT_EQ(drawn.find('#'), std::string::npos) << "space is blank";
    } else {
      EXPECT_NE(drawn.find('#'), std::string::npos) << "'" << text << "' is not a gap";
    }
    const auto [at, fresh] = seen.emplace(drawn, code);
    EXPECT_TRUE(fresh) << "'" << text << "' looks like '" << text_of(at->second) << "'";
  }
  EXPECT_EQ(seen.size(), 96u);
}

TEST(BitmapText, ShapesThatAreEasilyConfusedDifferWhereTheyShould) {
  // Cells that tell them apart: 0 has its slash where O is empty, 1 a flag
  // and a foot, I bars, l a hook; lower case has its own shapes, and
  // descenders reach below the line.
  struct Case {
    char a, b;
    int row, column;  // a cell lit in `a` and dark in `b`
  } cases[] = {
      {'0', 'O', 3, 2}, {'1', 'I', 1, 1}, {'I', '1', 0, 1}, {'l', '1', 6, 4}, {'l', 'I', 6, 4},
      {'N', 'H', 2, 1}, {'M', 'H', 1, 1}, {'W', 'N', 4, 2}, {'5', 'S', 0, 0}, {'S', '5', 3, 1},
      {'B', '8', 0, 0}, {'Z', '2', 0, 0}, {'/', ',', 0, 4}, {'~', '=', 3, 0}, {'"', '\'', 0, 1},
      {'g', 'q', 8, 1}, {'y', 'v', 8, 1}, {'a', 'A', 2, 1}, {'e', 'E', 3, 4}, {'n', 'N', 2, 2},
  };
  for (const Case& c : cases) {
    const std::string a = table_cells(c.a), b = table_cells(c.b);
    const size_t cell = static_cast<size_t>(c.row * kGlyphColumns + c.column);
    EXPECT_EQ(a[cell], '#') << c.a << " at row " << c.row << " column " << c.column;
    EXPECT_EQ(b[cell], '.') << c.b << " at row " << c.row << " column " << c.column;
  }
  // Descenders: below the line for g j p q y and the comma, never for capitals.
  for (char c : std::string("gjpqy,;")) EXPECT_NE(table_cells(c).substr(35).find('#'), std::string::npos) << c;
  for (char c = 'A'; c <= 'Z'; ++c) EXPECT_EQ(table_cells(c).substr(35), "..........") << c;
}

TEST(BitmapText, WidthsCountCharactersNotBytes) {
  struct Case {
    const char* text;
    int s, width, glyphs;
  } cases[] = {
      {"12:34 / 56:07", 2, 156, 13},
      {"Open .264", 2, 108, 9},
      {"", 3, 0, 0},
      {"   ", 3, 54, 3},
      {"caf\xc3\xa9", 1, 24, 4},                  // é is one character
      {"\xe6\x97\xa5\xe6\x9c\xac.264", 1, 36, 6},  // 日本.264
      {"\xf0\x9f\x93\xb7", 1, 6, 1},              // a four-byte character
      {"\xc3", 1, 6, 1},                          // a lead byte alone
      {"\xe6\x97", 1, 12, 2},                     // a cut sequence: each byte
      {"\xc0\xaf", 1, 12, 2},                     // an overlong form is no character
      {"a\tb\x7f", 2, 48, 4},                     // control bytes take a cell each
  };
  for (const Case& k : cases) {
    EXPECT_EQ(text_width(k.text, k.s), k.width) << k.text;
    EXPECT_EQ(text_glyph_count(k.text), k.glyphs) << k.text;
  }
  EXPECT_EQ(text_width(nullptr, 2), 0);
  EXPECT_EQ(text_height(2), 14);
  EXPECT_EQ(text_line_height(3), 27);
}

TEST(BitmapText, CharactersOutsideTheFontShowTheReplacementGlyph) {
  Canvas canvas;
  ASSERT_TRUE(canvas.r()) << "cannot start headless SDL";
  const std::string replacement = table_cells(kReplacementGlyph);
  struct Case {
    const char* text;
    int glyphs;
  } cases[] = {{"\xc3\xa9", 1}, {"\xe6\x97\xa5\xe6\x9c\xac", 2}, {"\x01", 1}, {"\xff", 1}, {"\t", 1}};
  for (const Case& c : cases) {
    const Pixels p = canvas.draw(c.text, 4, 4, 2);
    for (int g = 0; g < c.glyphs; ++g) EXPECT_EQ(cells(p, 4 + 12 * g, 4, 2), replacement) << c.text;
    EXPECT_EQ(p.count_not({4 + 12 * c.glyphs, 0, 196 - 12 * c.glyphs, 60}, 0, 0, 0), 0) << c.text;
  }
}

TEST(BitmapText, PenMovesExactlyByTheWidth) {
  Canvas canvas;
  ASSERT_TRUE(canvas.r()) << "cannot start headless SDL";
  // The "I" after each prefix must start where text_width says the prefix ends.
  for (const char* prefix : {"", ":", ".", " ", "a", "\xc3\xa9", "|", "?", "1:2", "#;"}) {
    const std::string text = std::string(prefix) + "I";
    const Pixels p = canvas.draw(text.c_str(), 3, 4, 2);
    const int at = 3 + text_width(prefix, 2);
    EXPECT_EQ(cells(p, at, 4, 2), table_cells('I')) << "after '" << prefix << "'";
  }
}

TEST(BitmapText, ScaleForTheWindowAndTextCutToFit) {
  struct Scale {
    int w, h, s;
  } scales[] = {{320, 240, 1}, {960, 359, 1}, {559, 600, 1}, {640, 360, 2}, {960, 600, 2},
                {1280, 720, 2}, {1600, 999, 2}, {1920, 1080, 3}, {1920, 1200, 3}, {3840, 2160, 4},
                {0, 0, 1}};
  for (const Scale& k : scales) EXPECT_EQ(text_scale_for_window(k.w, k.h), k.s) << k.w << "x" << k.h;

  struct Fit {
    const char* text;
    int width, s;
    const char* fitted;
  } fits[] = {
      {"short.264", 200, 2, "short.264"},
      {"20261201_080000_front_door.264", 120, 2, "202..r.264"},  // 10 cells: 3, "..", 5
      {"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 24, 1, "\xc3\xa9..\xc3\xa9"},  // never half a character
      {"abcdef", 12, 1, ".."},
      {"abcdef", 6, 1, ""},
  };
  for (const Fit& f : fits) EXPECT_EQ(fit_text_width(f.text, f.width, f.s), f.fitted) << f.text;
}

TEST(BitmapText, LeavesColourAndBlendModeAsFound) {
  Canvas canvas;
  ASSERT_TRUE(canvas.r()) << "cannot start headless SDL";
  SDL_Renderer* r = canvas.r();
  SDL_SetRenderDrawBlendMode(r, SDL_BLENDMODE_ADD);
  SDL_SetRenderDrawColor(r, 12, 34, 56, 78);
  draw_text(r, 0, 0, "Mixed text: a-z 0.9 +=/\\?| \xc3\xa9", 2);
  Uint8 cr, cg, cb, ca;
  SDL_BlendMode mode;
  SDL_GetRenderDrawColor(r, &cr, &cg, &cb, &ca);
  SDL_GetRenderDrawBlendMode(r, &mode);
  EXPECT_EQ(mode, SDL_BLENDMODE_ADD);
  EXPECT_EQ((Rgba{cr, cg, cb, ca}), (Rgba{12, 34, 56, 78}));
}
