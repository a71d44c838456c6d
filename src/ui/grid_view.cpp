#include "ui/grid_view.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "draw/help_overlay.h"
#include "draw/letterbox.h"
#include "draw/text.h"
#include "draw/toast.h"
#include "draw/widgets.h"
#include "ui/live_view.h"

namespace {

constexpr int kGap = 2;

constexpr HelpLine kGridLines[] = {
    {"1-9 Click", "one camera large, with its sound"},
    {"Esc", "back (from one camera: to the grid)"},
    {"F1 H", "this help"},
};
constexpr uint32_t kIdleRedrawMs = 250;
// The grid is drawn at most this often: cameras' pictures come at their own
// times, and drawing all cells for each would draw each cell several times over.
constexpr uint32_t kShortestRedrawMs = 20;
// Pictures a cell keeps waiting while it is shown small: only the newest is drawn.
constexpr size_t kCellPictures = 2;

using Cells = std::vector<std::unique_ptr<LivePlayer>>;

// A cell shows small: deblocking skipped (invisible at this size), no sound,
// only the newest picture kept.
void make_small(LivePlayer& cell) {
  cell.play_sound = false;
  close_live_sound(cell.sound);
  cell.pending.clear();
  if (!cell.link) return;
  cell.link->quick_decoding = true;
  cell.link->sound_wanted = false;
  cell.link->most_pictures = kCellPictures;
}

void make_large(LivePlayer& cell) {
  cell.play_sound = true;
  if (!cell.link) return;
  cell.link->largest_width = 0;
  cell.link->largest_height = 0;
  cell.link->quick_decoding = false;
  cell.link->sound_wanted = true;
  cell.link->most_pictures = kMaxQueuedPictures;
}

// Takes a cell's news and uploads its newest picture; true when it has one.
bool refresh_cell(LivePlayer& cell) {
  if (!cell.link) return false;
  bool changed = take_session_news(cell, *cell.link);
  if (!cell.pending.empty()) {
    LivePicture newest = std::move(cell.pending.back());
    cell.pending.clear();
    if (newest.frame && upload_picture_texture(cell.picture, cell.renderer, *newest.frame)) {
      ++cell.pictures_shown;
      changed = true;
    }
  }
  return changed;
}

void draw_label(SDL_Renderer* r, int x, int y, const std::string& text, Uint8 red, Uint8 green, Uint8 blue) {
  SDL_SetRenderDrawColor(r, 0, 0, 0, 160);
  const SDL_Rect back{x - 3, y - 3, text_width(text.c_str(), 2) + 6, text_height(2) + 6};
  SDL_RenderFillRect(r, &back);
  SDL_SetRenderDrawColor(r, red, green, blue, 240);
  draw_text(r, x, y, text.c_str(), 2);
}

void draw_cell(LivePlayer& cell, const SDL_Rect& rect, int number) {
  SDL_Renderer* r = cell.renderer;
  SDL_RenderSetViewport(r, &rect);
  SDL_SetRenderDrawColor(r, 0, 0, 0, 255);
  const SDL_Rect whole{0, 0, rect.w, rect.h};
  SDL_RenderFillRect(r, &whole);
  if (cell.picture.texture)
    draw_letterboxed(r, cell.picture.texture.get(), cell.picture.width, cell.picture.height, cell.picture.sar_num,
                     cell.picture.sar_den);
  SDL_SetRenderDrawBlendMode(r, SDL_BLENDMODE_BLEND);
  draw_label(r, 8, 8, std::to_string(number) + " " + cell.name, 255, 255, 255);
  if (cell.state != LiveState::live || !cell.picture.texture) {
    std::string word = live_state_text(cell.state);
    draw_label(r, 8, rect.h - text_height(2) - 12, word, 255, 200, 50);
  }
  if (cell.recording.active) {
    SDL_SetRenderDrawColor(r, 240, 40, 40, 255);
    fill_circle(r, rect.w - 18, 15, 6);
  }
  SDL_RenderSetViewport(r, nullptr);
}

void draw_grid(SDL_Window* window, SDL_Renderer* r, Cells& cells, bool help) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  SDL_SetRenderDrawColor(r, 30, 30, 40, 255);
  SDL_RenderClear(r);
  const std::vector<SDL_Rect> rects = grid_cells(w, h, cells.size());
  for (size_t i = 0; i < rects.size(); ++i) {
    draw_cell(*cells[i], rects[i], static_cast<int>(i) + 1);
    // Pictures come no larger than their cell (in pixels of the output).
    if (!cells[i]->link) continue;
    int ow = w, oh = h;
    SDL_GetRendererOutputSize(r, &ow, &oh);
    cells[i]->link->largest_width = w > 0 ? rects[i].w * ow / w : rects[i].w;
    cells[i]->link->largest_height = h > 0 ? rects[i].h * oh / h : rects[i].h;
  }
  if (help) draw_help_overlay(r, window, kGridLines);
  draw_toast(r, window, window_text_scale(window));
  SDL_RenderPresent(r);
}

std::vector<GridCellStatus> statuses(const Cells& cells) {
  std::vector<GridCellStatus> out;
  for (const auto& cell : cells)
    out.push_back({cell->state, cell->pictures_shown, cell->link ? cell->link->pictures_decoded.load() : 0,
                   cell->connection});
  return out;
}

// One camera large until Escape; false when the window was closed.
bool show_large(Cells& cells, size_t index) {
  LivePlayer& cell = *cells[index];
  make_large(cell);
  cell.pending.clear();
  std::string failure;
  const LiveViewEnd end = show_live_session(cell, failure);
  make_small(cell);
  SDL_SetWindowTitle(cell.window, "H.264 Player  [cameras]");
  return end != LiveViewEnd::closed;
}

// The cell a key names (1 to 9); -1 for other keys or an empty cell.
int cell_for_key(SDL_Keycode key, size_t count) {
  int n = -1;
  if (key >= SDLK_1 && key <= SDLK_9) n = key - SDLK_1;
  if (key >= SDLK_KP_1 && key <= SDLK_KP_9) n = key - SDLK_KP_1;
  return n >= 0 && static_cast<size_t>(n) < count ? n : -1;
}

}  // namespace

std::vector<SDL_Rect> grid_cells(int w, int h, size_t count) {
  std::vector<SDL_Rect> cells;
  count = std::min(count, kMostGridCameras);
  if (count == 0 || w <= 0 || h <= 0) return cells;
  const int side = count == 1 ? 1 : count <= 4 ? 2 : 3;
  const int cell_w = (w - (side - 1) * kGap) / side;
  const int cell_h = (h - (side - 1) * kGap) / side;
  for (size_t i = 0; i < count; ++i) {
    const int column = static_cast<int>(i) % side, row = static_cast<int>(i) / side;
    cells.push_back({column * (cell_w + kGap), row * (cell_h + kGap), cell_w, cell_h});
  }
  return cells;
}

int grid_cell_at(const std::vector<SDL_Rect>& cells, int x, int y) {
  for (size_t i = 0; i < cells.size(); ++i)
    if (rect_contains(cells[i], x, y)) return static_cast<int>(i);
  return -1;
}

bool run_camera_grid(SDL_Window* window, SDL_Renderer* renderer, const std::vector<GridCamera>& cameras,
                     const GridOptions& options) {
  LiveSessionSettings settings = options.session;
  settings.keep_trying = true;
  Cells cells;
  for (size_t i = 0; i < cameras.size() && i < kMostGridCameras; ++i) {
    auto cell = std::make_unique<LivePlayer>();
    cell->window = window;
    cell->renderer = renderer;
    cell->address = cameras[i].address;
    cell->name = cameras[i].name;
    cell->record_settings = options.record;
    cell->record_settings.name = cameras[i].name;
    std::string reason;
    if (!start_live_session(*cell, settings, reason)) std::printf("%s: %s\n", cameras[i].name.c_str(), reason.c_str());
    make_small(*cell);
    cells.push_back(std::move(cell));
  }
  SDL_SetWindowTitle(window, "H.264 Player  [cameras]");
  bool open = true, leave = false, help = false;
  uint32_t last_draw = 0;
  while (!leave) {
    SDL_Event event;
    int large = -1;
    const uint32_t waited = SDL_GetTicks() - last_draw;
    const int wait_ms = waited >= kShortestRedrawMs ? 1 : static_cast<int>(kShortestRedrawMs - waited);
    if (SDL_WaitEventTimeout(&event, wait_ms)) {
      do {
        if (event.type == SDL_QUIT) {
          open = false;
          leave = true;
        } else if (event.type == SDL_KEYDOWN && help) {
          help = false;
        } else if (event.type == SDL_KEYDOWN && (event.key.keysym.sym == SDLK_F1 || event.key.keysym.sym == SDLK_h)) {
          help = true;
        } else if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) {
          leave = true;
        } else if (event.type == SDL_KEYDOWN) {
          large = cell_for_key(event.key.keysym.sym, cells.size());
        } else if (event.type == SDL_MOUSEBUTTONDOWN && event.button.button == SDL_BUTTON_LEFT) {
          int w = 0, h = 0;
          SDL_GetWindowSize(window, &w, &h);
          large = grid_cell_at(grid_cells(w, h, cells.size()), event.button.x, event.button.y);
        } else {
          free_drop_text(event);
        }
      } while (!leave && large < 0 && SDL_PollEvent(&event));
    }
    if (large >= 0) {
      if (!show_large(cells, static_cast<size_t>(large))) {
        open = false;
        leave = true;
      }
      last_draw = 0;
    }
    const uint32_t since_draw = SDL_GetTicks() - last_draw;
    if (since_draw < kShortestRedrawMs && last_draw != 0 && !leave) continue;
    bool changed = false;
    for (auto& cell : cells) changed = refresh_cell(*cell) || changed;
    if (!leave && (changed || since_draw >= kIdleRedrawMs)) {
      draw_grid(window, renderer, cells, help);
      last_draw = SDL_GetTicks();
      if (options.watch && !options.watch(statuses(cells))) leave = true;
    }
  }
  // Every session is asked to stop first, so they end together.
  for (auto& cell : cells)
    if (cell->link) cell->link->cancel = true;
  for (auto& cell : cells) {
    stop_live_session(*cell);
    release_picture_texture(cell->picture);
  }
  return open;
}
