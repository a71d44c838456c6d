// Owning handles for SDL objects, so every path releases them.
#pragma once

#include <SDL.h>
#include <memory>

struct SdlTextureDeleter {
  void operator()(SDL_Texture* t) const { if (t) SDL_DestroyTexture(t); }
};
struct SdlSurfaceDeleter {
  void operator()(SDL_Surface* s) const { if (s) SDL_FreeSurface(s); }
};
using TexturePtr = std::unique_ptr<SDL_Texture, SdlTextureDeleter>;
using SurfacePtr = std::unique_ptr<SDL_Surface, SdlSurfaceDeleter>;

// SDL hands the text of a dropped file or text to whoever takes the event out
// of the queue: a loop that ignores drops passes every event through this.
inline void free_drop_text(const SDL_Event& event) {
  if (event.type == SDL_DROPFILE || event.type == SDL_DROPTEXT) SDL_free(event.drop.file);
}
