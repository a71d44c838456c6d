#include "app/logo.h"

#include <SDL_image.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"

namespace {

// A logo is a banner. Bounding the height caps the memory a strange file can
// ask for (one a pixel wide and a mile high), while any sane logo still comes
// out at the full width.
constexpr int kMaxLogoHeight = 4096;
// A logo file is small; a bigger one is not read at all.
constexpr Sint64 kMaxLogoFileBytes = 8 * 1024 * 1024;

bool opens_for_reading(const std::string& path) {
  std::FILE* f = open_file(path, "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The value of attribute `name` in a start tag's text; false when absent.
bool tag_attribute(const std::string& tag, const char* name, std::string& value) {
  const size_t name_length = std::strlen(name);
  for (size_t at = tag.find(name); at != std::string::npos; at = tag.find(name, at + 1)) {
    if (at == 0 || !is_space(tag[at - 1])) continue;
    size_t i = at + name_length;
    while (i < tag.size() && is_space(tag[i])) ++i;
    if (i >= tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && is_space(tag[i])) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
    size_t end = tag.find(tag[i], i + 1);
    if (end == std::string::npos) return false;
    value = tag.substr(i + 1, end - i - 1);
    return true;
  }
  return false;
}

// A width or height the parser could not turn into a positive size.
bool declares_unusable_length(const std::string& tag, const char* name, bool has_view_box) {
  std::string value;
  if (!tag_attribute(tag, name, value)) return false;
  double length = std::strtod(value.c_str(), nullptr);
  return length < 0 || (length == 0 && !has_view_box);
}

// The whole file, or empty when it cannot be read or is too big for a logo.
std::string read_logo_file(const std::string& path) {
  SDL_RWops* file = SDL_RWFromFile(path.c_str(), "rb");
  if (!file) return "";
  std::string bytes;
  Sint64 size = SDL_RWsize(file);
  if (size > 0 && size <= kMaxLogoFileBytes) {
    bytes.resize(static_cast<size_t>(size));
    if (SDL_RWread(file, bytes.data(), 1, bytes.size()) != bytes.size()) bytes.clear();
  }
  SDL_RWclose(file);
  return bytes;
}

}  // namespace

bool svg_root_may_have_size(const std::string& text) {
  size_t open = text.find("<svg");
  while (open != std::string::npos && open + 4 < text.size() && !is_space(text[open + 4]) &&
         text[open + 4] != '>' && text[open + 4] != '/')
    open = text.find("<svg", open + 1);
  if (open == std::string::npos) return false;
  size_t close = text.find('>', open);
  if (close == std::string::npos) return false;
  const std::string tag = text.substr(open + 4, close - open - 4);
  std::string view_box;
  bool has_view_box = tag_attribute(tag, "viewBox", view_box);
  return !declares_unusable_length(tag, "width", has_view_box) &&
         !declares_unusable_length(tag, "height", has_view_box);
}

std::string logo_path_beside_program(const char* program_path) {
  if (!program_path) return "";
  const char* slash = std::strrchr(program_path, '/');
  const char* backslash = std::strrchr(program_path, '\\');
  const char* last = slash > backslash ? slash : backslash;
  if (!last) return "";
  return std::string(program_path, last + 1) + "logo.svg";
}

std::string find_logo_path(const char* program_path) {
  if (opens_for_reading("logo.svg")) return "logo.svg";
  std::string beside = logo_path_beside_program(program_path);
  if (!beside.empty() && opens_for_reading(beside)) return beside;
  // Started by name through PATH (or a shortcut), argv[0] may hold no folder;
  // the system still knows where the executable lives. An installed package
  // keeps the logo with its shared data, <prefix>/share/h264player, beside
  // <prefix>/bin.
  char* base = SDL_GetBasePath();
  if (!base) return "";
  const std::string folder = base;
  SDL_free(base);
  for (const char* relative : {"logo.svg", "../share/h264player/logo.svg"}) {
    const std::string candidate = folder + relative;
    if (opens_for_reading(candidate)) return candidate;
  }
  return "";
}

TexturePtr load_logo_texture(SDL_Renderer* renderer, const std::string& path, int target_width,
                             int* out_width, int* out_height) {
  if (!renderer || path.empty() || target_width <= 0) return nullptr;
  // The loader refuses an image without a positive size but then keeps its
  // parse, so files that cannot have one are turned away before it.
  std::string text = read_logo_file(path);
  if (!svg_root_may_have_size(text)) return nullptr;
  SDL_RWops* memory = SDL_RWFromConstMem(text.data(), static_cast<int>(text.size()));
  if (!memory) return nullptr;
  // With both bounds given the loader scales by the smaller ratio, which is
  // the width's for every logo not taller than the cap.
  SurfacePtr surface(IMG_LoadSizedSVG_RW(memory, target_width, kMaxLogoHeight));
  SDL_RWclose(memory);
  if (!surface || surface->w <= 0 || surface->h <= 0) return nullptr;
  TexturePtr texture(SDL_CreateTextureFromSurface(renderer, surface.get()));
  if (!texture) return nullptr;
  // Transparent parts of the logo must show the menu's background.
  SDL_SetTextureBlendMode(texture.get(), SDL_BLENDMODE_BLEND);
  if (out_width) *out_width = surface->w;
  if (out_height) *out_height = surface->h;
  return texture;
}
