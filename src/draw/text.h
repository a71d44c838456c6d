// The built-in 3x5 bitmap font. Draws in the renderer's current colour and
// blend mode and never changes them.
#pragma once

#include <SDL.h>
#include <cstdint>

// Lit cells of a 15-bit pattern as s x s squares; cell (c, r) is bit 14 - (3r + c).
void draw_glyph(SDL_Renderer* renderer, int x, int y, uint16_t glyph, int s);

// One line of NUL-terminated bytes; lower case shows as underlined capitals.
void draw_text(SDL_Renderer* renderer, int x, int y, const char* text, int s);

// The pen advance of draw_text for the same text and scale.
int text_width(const char* text, int s);

// The pattern of a digit, ':' or capital letter; 0 for every other byte.
uint16_t glyph_pattern(unsigned char byte);

// Advance of one byte in cells: 4 (glyph plus gap) or 2 (narrow or blank).
int advance_cells(unsigned char byte);
