#include "draw/text.h"

namespace {

constexpr uint16_t kDigitGlyphs[10] = {
    0x7B6F, 0x2492, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BC9,
};
constexpr uint16_t kColonGlyph = 0x0820;
constexpr uint16_t kLetterGlyphs[26] = {
    0x2BED, 0x6BAE, 0x7927, 0x6B6E, 0x79E7, 0x79E4, 0x796B, 0x5BED, 0x7497,
    0x124A, 0x5BAD, 0x4927, 0x5FED, 0x5F6D, 0x7B6F, 0x7BE4, 0x7B59, 0x7BAD,
    0x79CF, 0x7492, 0x5B6F, 0x5B6A, 0x5B7D, 0x5AAD, 0x5A92, 0x72A7,
};

bool is_digit(unsigned char b) { return b >= '0' && b <= '9'; }
bool is_upper(unsigned char b) { return b >= 'A' && b <= 'Z'; }
bool is_lower(unsigned char b) { return b >= 'a' && b <= 'z'; }

// Marks the font has no shape for but which still take a full cell: they show
// as one dot in the centre so the reader sees something stood there.
bool is_placeholder(unsigned char b) {
  switch (b) {
    case '#': case '&': case '(': case ')': case '?': case '@': case '[': case ']':
      return true;
    default:
      return false;
  }
}

// Fills a rectangle given in cells (and extra pixels) relative to the pen.
void fill_cells(SDL_Renderer* renderer, int pen_x, int y, int cx, int cy, int cw, int ch, int s) {
  SDL_Rect r{pen_x + cx * s, y + cy * s, cw * s, ch * s};
  SDL_RenderFillRect(renderer, &r);
}

// The diagonal strokes: one cell per row, at the given column for rows 0..4.
void draw_slant(SDL_Renderer* renderer, int pen_x, int y, int s, bool rising) {
  for (int r = 0; r < 5; ++r) {
    int step = (2 * r) / 5;
    int column = rising ? 2 - step : step;
    fill_cells(renderer, pen_x, y, column, r, 1, 1, s);
  }
}

void draw_byte(SDL_Renderer* renderer, int pen_x, int y, unsigned char b, int s) {
  if (uint16_t glyph = glyph_pattern(b)) {
    draw_glyph(renderer, pen_x, y, glyph, s);
    return;
  }
  if (is_lower(b)) {
    draw_glyph(renderer, pen_x, y, glyph_pattern(static_cast<unsigned char>(b - 'a' + 'A')), s);
    // One pixel high at every scale, one pixel clear of the glyph's last row.
    SDL_Rect underline{pen_x, y + 5 * s + 1, 3 * s, 1};
    SDL_RenderFillRect(renderer, &underline);
    return;
  }
  if (is_placeholder(b)) {
    fill_cells(renderer, pen_x, y, 1, 2, 1, 1, s);
    return;
  }
  switch (b) {
    case '.': fill_cells(renderer, pen_x, y, 0, 4, 1, 1, s); break;
    case '-': fill_cells(renderer, pen_x, y, 0, 2, 3, 1, s); break;
    case '_': fill_cells(renderer, pen_x, y, 0, 4, 3, 1, s); break;
    case '+':
      fill_cells(renderer, pen_x, y, 0, 2, 3, 1, s);
      fill_cells(renderer, pen_x, y, 1, 1, 1, 3, s);
      break;
    case '=':
    case '~':
      fill_cells(renderer, pen_x, y, 0, 1, 3, 1, s);
      fill_cells(renderer, pen_x, y, 0, 3, 3, 1, s);
      break;
    case '/': draw_slant(renderer, pen_x, y, s, true); break;
    case '\\': draw_slant(renderer, pen_x, y, s, false); break;
    // A full-height centre stroke, so the pause mark "  ||  " reads as a pause sign.
    case '|': fill_cells(renderer, pen_x, y, 1, 0, 1, 5, s); break;
    default: break;  // blank byte: only the pen moves
  }
}

}  // namespace

uint16_t glyph_pattern(unsigned char byte) {
  if (is_digit(byte)) return kDigitGlyphs[byte - '0'];
  if (is_upper(byte)) return kLetterGlyphs[byte - 'A'];
  if (byte == ':') return kColonGlyph;
  return 0;
}

int advance_cells(unsigned char b) {
  if (b == ':' || b == '.') return 2;
  if (is_digit(b) || is_upper(b) || is_lower(b) || is_placeholder(b)) return 4;
  switch (b) {
    case '-': case '_': case '+': case '=': case '~': case '/': case '\\': case '|':
      return 4;
    default:
      return 2;
  }
}

void draw_glyph(SDL_Renderer* renderer, int x, int y, uint16_t glyph, int s) {
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 3; ++c)
      if (glyph & (1u << (14 - (3 * r + c)))) {
        SDL_Rect cell{x + c * s, y + r * s, s, s};
        SDL_RenderFillRect(renderer, &cell);
      }
}

void draw_text(SDL_Renderer* renderer, int x, int y, const char* text, int s) {
  if (!text) return;
  int pen_x = x;
  for (const char* p = text; *p; ++p) {
    unsigned char b = static_cast<unsigned char>(*p);
    draw_byte(renderer, pen_x, y, b, s);
    pen_x += advance_cells(b) * s;
  }
}

int text_width(const char* text, int s) {
  if (!text) return 0;
  int cells = 0;
  for (const char* p = text; *p; ++p) cells += advance_cells(static_cast<unsigned char>(*p));
  return cells * s;
}
