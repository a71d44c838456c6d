// The playback control bar drawn over the video, and the playback window title.
#pragma once

#include <SDL.h>
#include <cstddef>

// Rectangles of the overlay's controls, rewritten each time it is drawn and
// hit-tested by the playback controls. Mute and volume are all zero without sound.
struct OverlayRects {
  SDL_Rect slower_button_rect{0, 0, 0, 0};
  SDL_Rect faster_button_rect{0, 0, 0, 0};
  SDL_Rect screenshot_button_rect{0, 0, 0, 0};
  SDL_Rect mute_button_rect{0, 0, 0, 0};
  SDL_Rect volume_slider_rect{0, 0, 0, 0};
};

// Process-wide, main thread only.
OverlayRects& overlay_rects();

void draw_playback_overlay(SDL_Renderer* renderer, SDL_Window* window, float progress,
                           double position_s, double duration_s, int s, bool paused,
                           double speed, bool audio_available, int volume, bool muted);

// Where everything of the overlay goes in a window_w x window_h window at scale s
// when the speed label is label_width pixels wide. Pure arithmetic.
struct OverlayLayout {
  int button = 0;         // side of every square button
  int row_y = 0;          // top of the button row
  SDL_Rect bar{};         // translucent strip along the bottom
  SDL_Rect track{};       // seek track, full width less the margins
  int knob_y = 0;         // centre row of the seek knob
  int label_x = 0;        // speed label pen
  SDL_Rect slower{};
  SDL_Rect faster{};
  SDL_Rect screenshot{};
  SDL_Rect mute{};        // where the mute button goes when there is sound
  SDL_Rect volume{};      // where the volume slider goes when there is sound
  SDL_Rect volume_track{};
};
OverlayLayout layout_overlay(int window_w, int window_h, int s, int label_width);

// Played part of a track_w wide track: progress clamped to 0..1 (NaN as 0).
int played_width(float progress, int track_w);

// Level bar width of the 56-pixel volume slider; volume is clamped to 0..100.
int volume_level_width(int volume);

// "MM:SS" of whole seconds; negatives (and NaN) read 00:00, minutes never wrap.
void format_clock(char* out, size_t size, double seconds);

// The speed label shown between the slower and faster buttons ("1x", "0.25x", "3.0x").
void format_speed_label(char* out, size_t size, double speed);

// "H.264 Player  [MM:SS / MM:SS]" plus the speed off normal and "  PAUSED".
void format_window_title(char* out, size_t size, double position_s, double duration_s,
                         double speed, bool paused);
