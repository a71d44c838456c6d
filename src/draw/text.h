// The built-in bitmap font: every printable ASCII character in a 5 x 7 cell
// grid with two rows below the baseline for descenders, drawn cell by cell as
// filled squares of side s (the scale). Monospaced: every character advances
// 6 cells. Text is UTF-8; a character the font has no glyph for (anything
// outside printable ASCII, control bytes, broken sequences) is drawn as one
// replacement glyph, never as a gap. Draws in the renderer's current colour
// and blend mode and never changes them.
#pragma once

#include <SDL.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kGlyphColumns = 5;
constexpr int kGlyphBodyRows = 7;  // capitals and digits: rows 0..6
constexpr int kGlyphRows = 9;      // with the two descender rows
constexpr int kAdvanceCells = 6;   // glyph plus one cell of space

// Glyph code of the replacement glyph (the printable ones are their ASCII codes).
constexpr int kReplacementGlyph = 0x7F;

// Rows of glyph `code` (0x20..0x7E, or kReplacementGlyph; any other code gives
// the replacement), top row first; bit 4 is the leftmost column.
const std::array<uint8_t, kGlyphRows>& glyph_rows(int code);

// The glyph code of the character starting at text[i] and the number of bytes
// it takes (at least 1). A well-formed UTF-8 sequence is one character.
struct TextUnit {
  int code = kReplacementGlyph;
  size_t bytes = 1;
};
TextUnit next_text_unit(const char* text, size_t i);

// Characters (glyphs) in a NUL-terminated UTF-8 text.
int text_glyph_count(const char* text);

// One line of text with its top-left corner at (x, y); descenders reach 9s
// below y, capitals 7s.
void draw_text(SDL_Renderer* renderer, int x, int y, const char* text, int s);

// The pen advance of draw_text for the same text and scale: 6s per character.
int text_width(const char* text, int s);

// Height of capitals and digits, and of a line with its descenders.
constexpr int text_height(int s) { return kGlyphBodyRows * s; }
constexpr int text_line_height(int s) { return kGlyphRows * s; }

// The text scale for a window: 1 below 360 pixels high or 560 wide, 3 from
// 1000 x 1600 (1080p), 4 from 1400 x 2400, else 2.
int text_scale_for_window(int window_w, int window_h);
int window_text_scale(SDL_Window* window);

// `text` cut to at most `max_width` pixels at scale s: whole characters from
// its start and its end with ".." between (the end of a file name tells more
// than its middle); unchanged when it fits.
std::string fit_text_width(const std::string& text, int max_width, int s);
