#include "app/logo.h"

#include <SDL_image.h>
#include <cstdio>
#include <cstring>

namespace {

// A logo is a banner. Bounding the height caps the memory a strange file can
// ask for (one a pixel wide and a mile high), while any sane logo still comes
// out at the full width.
constexpr int kMaxLogoHeight = 4096;

bool opens_for_reading(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

}  // namespace

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
  return "";
}

TexturePtr load_logo_texture(SDL_Renderer* renderer, const std::string& path, int target_width,
                             int* out_width, int* out_height) {
  if (!renderer || path.empty() || target_width <= 0) return nullptr;
  SDL_RWops* file = SDL_RWFromFile(path.c_str(), "rb");
  if (!file) return nullptr;
  // The loader refuses images whose natural width or height is not positive;
  // with both bounds given it scales by the smaller ratio, which is the width's
  // for every logo not taller than the cap.
  SurfacePtr surface(IMG_LoadSizedSVG_RW(file, target_width, kMaxLogoHeight));
  SDL_RWclose(file);
  if (!surface || surface->w <= 0 || surface->h <= 0) return nullptr;
  TexturePtr texture(SDL_CreateTextureFromSurface(renderer, surface.get()));
  if (!texture) return nullptr;
  // Transparent parts of the logo must show the menu's background.
  SDL_SetTextureBlendMode(texture.get(), SDL_BLENDMODE_BLEND);
  if (out_width) *out_width = surface->w;
  if (out_height) *out_height = surface->h;
  return texture;
}
