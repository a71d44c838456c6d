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
  SDL_Rect auto_button_rect{0, 0, 0, 0};
};

// Process-wide, main thread only.
OverlayRects& overlay_rects();

// Forgets every published rectangle (a new playback has not drawn its bar yet,
// so no click may land on the previous one's buttons).
void clear_overlay_rects();

// What the bar shows.
struct OverlayView {
  float progress = 0;  // played fraction, clamped to 0..1 when drawn
  float indexed = 1;   // fraction the recording's index reaches; the rest of the track is dimmed
  double position_s = 0, duration_s = 0;
  bool paused = false;
  double speed = 1.0;
  bool audio_available = false;  // without sound blocks no volume controls are drawn
  int volume = 100;
  bool muted = false;
  bool ended = false;          // the recording played to its end: "END" and the finished title
  bool auto_continue = false;  // the next recording of the folder follows at the end
};

// Draws the bar at text scale s, publishes its rectangles and sets the window title.
void draw_playback_overlay(SDL_Renderer* renderer, SDL_Window* window, const OverlayView& view,
                           int s);

// Where everything of the overlay goes in a window_w x window_h window at scale
// s. The speed label has a slot as wide as the widest label, so nothing moves
// when the speed changes; the seek track stops a clear gap before the
// right-hand group of controls. Pure arithmetic.
struct OverlayLayout {
  int button = 0;         // side of every square button
  int row_y = 0;          // top of the button row
  SDL_Rect bar{};         // translucent strip along the bottom
  SDL_Rect track{};       // seek track, from the left margin to the gap before the controls
  int knob_y = 0;         // centre row of the seek knob
  SDL_Rect label_slot{};  // where the speed label is centred
  SDL_Rect slower{};
  SDL_Rect faster{};
  SDL_Rect screenshot{};
  SDL_Rect mute{};        // only when there is sound
  SDL_Rect volume{};      // only when there is sound
  SDL_Rect volume_track{};
  SDL_Rect auto_button{};  // the auto-continue switch, leftmost of the group
};
OverlayLayout layout_overlay(int window_w, int window_h, int s, bool audio_available);

// Played part of a track_w wide track: progress clamped to 0..1 (NaN as 0).
int played_width(float progress, int track_w);

// Level bar width of the 56-pixel volume slider; volume is clamped to 0..100.
int volume_level_width(int volume);

// True from one hour on: the clocks of such a recording all show hours.
bool clock_needs_hours(double duration_s);

// "MM:SS", or "H:MM:SS" with hours, of whole seconds; negatives and NaN read as 0.
void format_clock(char* out, size_t size, double seconds, bool hours);

// The one spelling of a speed everywhere: "1x" near normal, else the factor
// with at most two decimals and no trailing zeros ("0.25x", "1.5x", "2x").
void format_speed(char* out, size_t size, double speed);

// "H.264 Player  [position / duration]" plus the speed off normal and
// "  PAUSED"; "H.264 Player  [Finished]" once ended.
void format_window_title(char* out, size_t size, const OverlayView& view);
