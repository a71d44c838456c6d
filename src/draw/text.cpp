#include "draw/text.h"

#include <vector>

namespace {

// The glyphs of 0x20..0x7E and, last, the replacement glyph (a question mark
// in a solid block, as text viewers show characters they cannot draw). Nine
// rows of five cells each, top row first: '#' lit, '.' dark. Shapes that are
// easily confused differ on purpose: "0" has a slash where "O" is plain, "1"
// a flag and a foot, "l" a hook, "I" bars at both ends; lower case has its
// own shapes, with descenders for g, j, p, q, y and the comma.
constexpr const char* kGlyphPictures[] = {
    "....." "....." "....." "....." "....." "....." "....." "....." ".....",  // space
    "..#.." "..#.." "..#.." "..#.." "..#.." "....." "..#.." "....." ".....",  // !
    ".#.#." ".#.#." ".#.#." "....." "....." "....." "....." "....." ".....",  // "
    ".#.#." ".#.#." "#####" ".#.#." "#####" ".#.#." ".#.#." "....." ".....",  // #
    "..#.." ".####" "#.#.." ".###." "..#.#" "####." "..#.." "....." ".....",  // $
    "##..." "##..#" "...#." "..#.." ".#..." "#..##" "...##" "....." ".....",  // %
    ".##.." "#..#." "#.#.." ".#..." "#.#.#" "#..#." ".##.#" "....." ".....",  // &
    "..#.." "..#.." ".#..." "....." "....." "....." "....." "....." ".....",  // '
    "...#." "..#.." ".#..." ".#..." ".#..." "..#.." "...#." "....." ".....",  // (
    ".#..." "..#.." "...#." "...#." "...#." "..#.." ".#..." "....." ".....",  // )
    "....." "..#.." "#.#.#" ".###." "#.#.#" "..#.." "....." "....." ".....",  // *
    "....." "..#.." "..#.." "#####" "..#.." "..#.." "....." "....." ".....",  // +
    "....." "....." "....." "....." "....." ".##.." ".##.." "..#.." ".#...",  // ,
    "....." "....." "....." "#####" "....." "....." "....." "....." ".....",  // -
    "....." "....." "....." "....." "....." ".##.." ".##.." "....." ".....",  // .
    "....#" "....#" "...#." "..#.." ".#..." "#...." "#...." "....." ".....",  // /
    ".###." "#...#" "#..##" "#.#.#" "##..#" "#...#" ".###." "....." ".....",  // 0
    "..#.." ".##.." "..#.." "..#.." "..#.." "..#.." ".###." "....." ".....",  // 1
    ".###." "#...#" "....#" "...#." "..#.." ".#..." "#####" "....." ".....",  // 2
    "#####" "...#." "..#.." "...#." "....#" "#...#" ".###." "....." ".....",  // 3
    "...#." "..##." ".#.#." "#..#." "#####" "...#." "...#." "....." ".....",  // 4
    "#####" "#...." "####." "....#" "....#" "#...#" ".###." "....." ".....",  // 5
    "..##." ".#..." "#...." "####." "#...#" "#...#" ".###." "....." ".....",  // 6
    "#####" "....#" "...#." "..#.." ".#..." ".#..." ".#..." "....." ".....",  // 7
    ".###." "#...#" "#...#" ".###." "#...#" "#...#" ".###." "....." ".....",  // 8
    ".###." "#...#" "#...#" ".####" "....#" "...#." ".##.." "....." ".....",  // 9
    "....." ".##.." ".##.." "....." ".##.." ".##.." "....." "....." ".....",  // :
    "....." ".##.." ".##.." "....." ".##.." ".##.." "..#.." ".#..." ".....",  // ;
    "...#." "..#.." ".#..." "#...." ".#..." "..#.." "...#." "....." ".....",  // <
    "....." "....." "#####" "....." "#####" "....." "....." "....." ".....",  // =
    ".#..." "..#.." "...#." "....#" "...#." "..#.." ".#..." "....." ".....",  // >
    ".###." "#...#" "....#" "...#." "..#.." "....." "..#.." "....." ".....",  // ?
    ".###." "#...#" "#.###" "#.#.#" "#.###" "#...." ".####" "....." ".....",  // @
    ".###." "#...#" "#...#" "#####" "#...#" "#...#" "#...#" "....." ".....",  // A
    "####." "#...#" "#...#" "####." "#...#" "#...#" "####." "....." ".....",  // B
    ".###." "#...#" "#...." "#...." "#...." "#...#" ".###." "....." ".....",  // C
    "####." "#...#" "#...#" "#...#" "#...#" "#...#" "####." "....." ".....",  // D
    "#####" "#...." "#...." "####." "#...." "#...." "#####" "....." ".....",  // E
    "#####" "#...." "#...." "####." "#...." "#...." "#...." "....." ".....",  // F
    ".###." "#...#" "#...." "#.###" "#...#" "#...#" ".####" "....." ".....",  // G
    "#...#" "#...#" "#...#" "#####" "#...#" "#...#" "#...#" "....." ".....",  // H
    ".###." "..#.." "..#.." "..#.." "..#.." "..#.." ".###." "....." ".....",  // I
    "..###" "...#." "...#." "...#." "...#." "#..#." ".##.." "....." ".....",  // J
    "#...#" "#..#." "#.#.." "##..." "#.#.." "#..#." "#...#" "....." ".....",  // K
    "#...." "#...." "#...." "#...." "#...." "#...." "#####" "....." ".....",  // L
    "#...#" "##.##" "#.#.#" "#.#.#" "#...#" "#...#" "#...#" "....." ".....",  // M
    "#...#" "#...#" "##..#" "#.#.#" "#..##" "#...#" "#...#" "....." ".....",  // N
    ".###." "#...#" "#...#" "#...#" "#...#" "#...#" ".###." "....." ".....",  // O
    "####." "#...#" "#...#" "####." "#...." "#...." "#...." "....." ".....",  // P
    ".###." "#...#" "#...#" "#...#" "#.#.#" "#..#." ".##.#" "....." ".....",  // Q
    "####." "#...#" "#...#" "####." "#.#.." "#..#." "#...#" "....." ".....",  // R
    ".####" "#...." "#...." ".###." "....#" "....#" "####." "....." ".....",  // S
    "#####" "..#.." "..#.." "..#.." "..#.." "..#.." "..#.." "....." ".....",  // T
    "#...#" "#...#" "#...#" "#...#" "#...#" "#...#" ".###." "....." ".....",  // U
    "#...#" "#...#" "#...#" "#...#" "#...#" ".#.#." "..#.." "....." ".....",  // V
    "#...#" "#...#" "#...#" "#.#.#" "#.#.#" "#.#.#" ".#.#." "....." ".....",  // W
    "#...#" "#...#" ".#.#." "..#.." ".#.#." "#...#" "#...#" "....." ".....",  // X
    "#...#" "#...#" ".#.#." "..#.." "..#.." "..#.." "..#.." "....." ".....",  // Y
    "#####" "....#" "...#." "..#.." ".#..." "#...." "#####" "....." ".....",  // Z
    ".###." ".#..." ".#..." ".#..." ".#..." ".#..." ".###." "....." ".....",  // [
    "#...." "#...." ".#..." "..#.." "...#." "....#" "....#" "....." ".....",  // backslash
    ".###." "...#." "...#." "...#." "...#." "...#." ".###." "....." ".....",  // ]
    "..#.." ".#.#." "#...#" "....." "....." "....." "....." "....." ".....",  // ^
    "....." "....." "....." "....." "....." "....." "....." "#####" ".....",  // _
    ".#..." "..#.." "....." "....." "....." "....." "....." "....." ".....",  // `
    "....." "....." ".###." "....#" ".####" "#...#" ".####" "....." ".....",  // a
    "#...." "#...." "####." "#...#" "#...#" "#...#" "####." "....." ".....",  // b
    "....." "....." ".###." "#...." "#...." "#...." ".###." "....." ".....",  // c
    "....#" "....#" ".####" "#...#" "#...#" "#...#" ".####" "....." ".....",  // d
    "....." "....." ".###." "#...#" "#####" "#...." ".###." "....." ".....",  // e
    "..##." ".#..#" ".#..." "###.." ".#..." ".#..." ".#..." "....." ".....",  // f
    "....." "....." ".####" "#...#" "#...#" "#...#" ".####" "....#" ".###.",  // g
    "#...." "#...." "#.##." "##..#" "#...#" "#...#" "#...#" "....." ".....",  // h
    "..#.." "....." ".##.." "..#.." "..#.." "..#.." ".###." "....." ".....",  // i
    "...#." "....." "..##." "...#." "...#." "...#." "...#." "#..#." ".##..",  // j
    "#...." "#...." "#..#." "#.#.." "##..." "#.#.." "#..#." "....." ".....",  // k
    ".##.." "..#.." "..#.." "..#.." "..#.." "..#.." "...##" "....." ".....",  // l
    "....." "....." "##.#." "#.#.#" "#.#.#" "#.#.#" "#.#.#" "....." ".....",  // m
    "....." "....." "#.##." "##..#" "#...#" "#...#" "#...#" "....." ".....",  // n
    "....." "....." ".###." "#...#" "#...#" "#...#" ".###." "....." ".....",  // o
    "....." "....." "####." "#...#" "#...#" "#...#" "####." "#...." "#....",  // p
    "....." "....." ".####" "#...#" "#...#" "#...#" ".####" "....#" "....#",  // q
    "....." "....." "#.##." "##..#" "#...." "#...." "#...." "....." ".....",  // r
    "....." "....." ".####" "#...." ".###." "....#" "####." "....." ".....",  // s
    ".#..." ".#..." "####." ".#..." ".#..." ".#..#" "..##." "....." ".....",  // t
    "....." "....." "#...#" "#...#" "#...#" "#..##" ".##.#" "....." ".....",  // u
    "....." "....." "#...#" "#...#" "#...#" ".#.#." "..#.." "....." ".....",  // v
    "....." "....." "#...#" "#...#" "#.#.#" "#.#.#" ".#.#." "....." ".....",  // w
    "....." "....." "#...#" ".#.#." "..#.." ".#.#." "#...#" "....." ".....",  // x
    "....." "....." "#...#" "#...#" "#...#" "#...#" ".####" "....#" ".###.",  // y
    "....." "....." "#####" "...#." "..#.." ".#..." "#####" "....." ".....",  // z
    "...##" "..#.." "..#.." ".#..." "..#.." "..#.." "...##" "....." ".....",  // {
    "..#.." "..#.." "..#.." "..#.." "..#.." "..#.." "..#.." "..#.." ".....",  // |
    "##..." "..#.." "..#.." "...#." "..#.." "..#.." "##..." "....." ".....",  // }
    "....." "....." ".#..." "#.#.#" "...#." "....." "....." "....." ".....",  // ~
    "#####" "#...#" "###.#" "##.##" "##.##" "#####" "##.##" "#####" ".....",  // replacement
};
constexpr int kGlyphCount = sizeof kGlyphPictures / sizeof kGlyphPictures[0];
static_assert(kGlyphCount == 0x7F - 0x20 + 1, "one picture per printable character and the replacement");

using GlyphRows = std::array<uint8_t, kGlyphRows>;

constexpr GlyphRows rows_of(const char* picture) {
  GlyphRows rows{};
  for (int r = 0; r < kGlyphRows; ++r)
    for (int c = 0; c < kGlyphColumns; ++c)
      if (picture[r * kGlyphColumns + c] == '#')
        rows[static_cast<size_t>(r)] |= static_cast<uint8_t>(1u << (kGlyphColumns - 1 - c));
  return rows;
}

constexpr std::array<GlyphRows, kGlyphCount> build_glyphs() {
  std::array<GlyphRows, kGlyphCount> glyphs{};
  for (int i = 0; i < kGlyphCount; ++i) glyphs[static_cast<size_t>(i)] = rows_of(kGlyphPictures[i]);
  return glyphs;
}

constexpr std::array<GlyphRows, kGlyphCount> kGlyphs = build_glyphs();

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of a well-formed UTF-8 sequence at p (lead byte and the right number
// of continuation bytes, no overlong two-byte form); 0 when it is not one.
size_t utf8_sequence_length(const unsigned char* p) {
  size_t length = 0;
  if (p[0] >= 0xC2 && p[0] <= 0xDF) length = 2;
  else if (p[0] >= 0xE0 && p[0] <= 0xEF) length = 3;
  else if (p[0] >= 0xF0 && p[0] <= 0xF4) length = 4;
  else return 0;
  for (size_t k = 1; k < length; ++k)
    if (!is_continuation(p[k])) return 0;  // also stops at the terminating NUL
  return length;
}

// Rectangles gathered for one SDL_RenderFillRects call, on the stack: text
// is drawn every frame and allocates nothing.
struct CellBatch {
  explicit CellBatch(SDL_Renderer* r) : renderer(r) {}
  SDL_Renderer* renderer;
  SDL_Rect rects[256];
  int count = 0;
  void add(const SDL_Rect& r) {
    if (count == static_cast<int>(sizeof rects / sizeof rects[0])) flush();
    rects[count++] = r;
  }
  void flush() {
    if (count > 0) SDL_RenderFillRects(renderer, rects, count);
    count = 0;
  }
};

// The rectangles of one glyph at (x, y): each run of lit cells in a row is one.
void add_glyph_cells(int x, int y, const GlyphRows& rows, int s, CellBatch& cells) {
  for (int r = 0; r < kGlyphRows; ++r) {
    const unsigned bits = rows[static_cast<size_t>(r)];
    int c = 0;
    while (c < kGlyphColumns) {
      if (!(bits & (1u << (kGlyphColumns - 1 - c)))) {
        ++c;
        continue;
      }
      const int start = c;
      while (c < kGlyphColumns && (bits & (1u << (kGlyphColumns - 1 - c)))) ++c;
      cells.add(SDL_Rect{x + start * s, y + r * s, (c - start) * s, s});
    }
  }
}

}  // namespace

const std::array<uint8_t, kGlyphRows>& glyph_rows(int code) {
  if (code < 0x20 || code > kReplacementGlyph) code = kReplacementGlyph;
  return kGlyphs[static_cast<size_t>(code - 0x20)];
}

TextUnit next_text_unit(const char* text, size_t i) {
  const auto* p = reinterpret_cast<const unsigned char*>(text + i);
  if (p[0] >= 0x20 && p[0] < 0x7F) return TextUnit{p[0], 1};
  const size_t length = utf8_sequence_length(p);
  return TextUnit{kReplacementGlyph, length > 0 ? length : 1};
}

int text_glyph_count(const char* text) {
  if (!text) return 0;
  int count = 0;
  for (size_t i = 0; text[i];) {
    i += next_text_unit(text, i).bytes;
    ++count;
  }
  return count;
}

void draw_text(SDL_Renderer* renderer, int x, int y, const char* text, int s) {
  if (!text || s <= 0) return;
  CellBatch cells(renderer);
  int pen_x = x;
  for (size_t i = 0; text[i];) {
    const TextUnit unit = next_text_unit(text, i);
    add_glyph_cells(pen_x, y, glyph_rows(unit.code), s, cells);
    pen_x += kAdvanceCells * s;
    i += unit.bytes;
  }
  cells.flush();
}

int text_width(const char* text, int s) { return text_glyph_count(text) * kAdvanceCells * s; }

int text_scale_for_window(int window_w, int window_h) {
  if (window_h < 360 || window_w < 560) return 1;
  if (window_h >= 1400 && window_w >= 2400) return 4;
  if (window_h >= 1000 && window_w >= 1600) return 3;
  return 2;
}

int window_text_scale(SDL_Window* window) {
  int w = 0, h = 0;
  if (window) SDL_GetWindowSize(window, &w, &h);
  return text_scale_for_window(w, h);
}

std::string fit_text_width(const std::string& text, int max_width, int s) {
  const int advance = kAdvanceCells * (s > 0 ? s : 1);
  const int fits = max_width / advance;
  // Byte offsets of the characters, so a cut never splits a UTF-8 sequence.
  std::vector<size_t> starts;
  for (size_t i = 0; i < text.size();) {
    starts.push_back(i);
    i += next_text_unit(text.c_str(), i).bytes;
  }
  const int count = static_cast<int>(starts.size());
  if (count <= fits) return text;
  const int kept = fits - 2;  // room for ".."
  if (kept <= 0) return fits >= 2 ? ".." : "";
  const int tail = kept * 2 / 3;
  const int head = kept - tail;
  return text.substr(0, starts[static_cast<size_t>(head)]) + ".." +
         text.substr(starts[static_cast<size_t>(count - tail)]);
}
