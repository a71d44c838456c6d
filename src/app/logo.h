// The start menu's optional logo: an SVG file rasterized to a texture.
#pragma once

#include "draw/sdl_handles.h"

#include <SDL.h>
#include <string>

// "logo.svg" beside the program named by program_path (up to and including
// its last slash or backslash); empty when the path has no separator.
std::string logo_path_beside_program(const char* program_path);

// "logo.svg" when the working directory has one, else the one beside the
// program (by program_path, then by the executable's own folder), else the
// installed package's one, else empty. A file counts when it opens for reading.
std::string find_logo_path(const char* program_path);

// False when the text cannot give a logo: no complete <svg ...> start tag, or
// a width or height attribute that is negative, or zero without a viewBox to
// take the size from. True leaves the final word to the SVG parser.
bool svg_root_may_have_size(const std::string& text);

// The SVG rasterized target_width pixels wide, keeping its aspect ratio, as
// an alpha-blended texture; the size it was made at goes to the out-parameters
// that are not null. Null (and no message) for a missing, broken or empty file.
TexturePtr load_logo_texture(SDL_Renderer* renderer, const std::string& path, int target_width,
                             int* out_width, int* out_height);
