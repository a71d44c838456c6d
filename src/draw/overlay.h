// The playback control bar drawn over the video, and the playback window title.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <string>
#include <vector>

// Rectangles of the overlay's controls, rewritten each time it is drawn and
// hit-tested by the playback controls. Mute and volume are all zero without
// sound; everything is all zero until the bar was drawn once.
struct OverlayRects {
  SDL_Rect bar{0, 0, 0, 0};  // the whole strip; above it lies the picture
  SDL_Rect play_button_rect{0, 0, 0, 0};
  SDL_Rect seek_rect{0, 0, 0, 0};   // the track and the knob's reach at both ends
  SDL_Rect seek_track{0, 0, 0, 0};  // the track itself: its ends are 0 and 1
  SDL_Rect slower_button_rect{0, 0, 0, 0};
  SDL_Rect faster_button_rect{0, 0, 0, 0};
  SDL_Rect screenshot_button_rect{0, 0, 0, 0};
  SDL_Rect mute_button_rect{0, 0, 0, 0};
  SDL_Rect volume_slider_rect{0, 0, 0, 0};  // the slider's track
  SDL_Rect volume_rect{0, 0, 0, 0};         // the slider and its knob's reach at both ends
  SDL_Rect auto_button_rect{0, 0, 0, 0};
  SDL_Rect skip_button_rect{0, 0, 0, 0};
};

// Process-wide, main thread only.
OverlayRects& overlay_rects();

// Forgets every published rectangle (a new playback has not drawn its bar yet,
// so no click may land on the previous one's buttons).
void clear_overlay_rects();

// What a click at (x, y) lands on, given the bar's rectangles: the picture
// above the bar (everywhere when the bar was never drawn), one control, or
// nothing (a gap, a label, the margins). Pure.
enum class BarTarget {
  none,
  picture,
  play_pause,
  seek,
  slower,
  faster,
  screenshot,
  mute,
  volume,
  auto_continue,
  skip_quiet
};
BarTarget bar_target_at(const OverlayRects& rects, int x, int y);

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
  // While examining (paused): the elapsed time to the millisecond and the
  // number of the picture shown (1 = the first; 0: none).
  bool precise = false;
  int picture_number = 0;
  // Wall-clock time of the picture shown, as the bar and the title spell it
  // (the title's with the date); empty when unknown.
  std::string time_of_day;
  std::string title_time_of_day;
  bool time_of_day_large = true;  // the bar shows it large and the elapsed time small, or the reverse
  std::string file_name;          // the recording's, at the end of the title
  // How much the picture changes along the recording, 0..1 per pixel of the
  // seek track (drawn rising above it; another count is spread over the
  // track); null: none.
  const std::vector<float>* activity = nullptr;
  // From this strength on the column is activity (amber); weaker change
  // (a brightness step, noise) is drawn dim.
  float activity_from = 0.0f;
  // The marked stretch as fractions along the track: in-point and out-point
  // (-1: not on this recording's track).
  float mark_in = -1, mark_out = -1;
  // Skipping the quiet: the SKIP button lit, and beside the clocks what it
  // does: "SKIPPING QUIET" at the top speed, "ACTIVITY" while a stretch plays.
  bool skip_quiet = false;
  bool skip_watching = false;
};

// Draws the bar at text scale s and publishes its rectangles. The window
// title is not touched: set_playback_title does that, also while the bar is hidden.
void draw_playback_overlay(SDL_Renderer* renderer, SDL_Window* window, const OverlayView& view,
                           int s);

// Sets the window title for the view when it differs from the current one.
void set_playback_title(SDL_Window* window, const OverlayView& view);

// Where everything of the overlay goes in a window_w x window_h window at text
// scale s. Buttons are 7s + 6 square in a bar 16 pixels higher; the play
// button starts the row on the left, the seek track follows it and stops a
// clear gap before the right-hand group (skip, auto, mute, volume,
// screenshot, slower, speed label, faster). The speed label has a slot as wide as the
// widest label, so nothing moves when the speed changes. Pure arithmetic.
struct OverlayLayout {
  int s = 2;
  int button = 0;         // side of every square button
  int row_y = 0;          // top of the button row
  SDL_Rect bar{};         // translucent strip along the bottom
  SDL_Rect play{};        // play / pause button
  SDL_Rect track{};       // seek track
  SDL_Rect seek_zone{};   // where a press seeks: the track, the knob's reach, the bar's height
  int knob_y = 0;         // centre row of the seek knob
  int knob_radius = 0;
  SDL_Rect label_slot{};  // where the speed label is centred
  SDL_Rect slower{};
  SDL_Rect faster{};
  SDL_Rect screenshot{};
  SDL_Rect mute{};        // only when there is sound
  SDL_Rect volume{};      // only when there is sound
  SDL_Rect volume_track{};
  SDL_Rect volume_zone{};  // the slider and its knob's reach
  int volume_knob_radius = 0;
  SDL_Rect auto_button{};  // the auto-continue switch
  SDL_Rect skip_button{};  // skipping the quiet, leftmost of the group
};
OverlayLayout layout_overlay(int window_w, int window_h, int s, bool audio_available);

// The rectangles a drawn bar of this layout publishes.
OverlayRects rects_of_layout(const OverlayLayout& layout, bool audio_available);

// Played part of a track_w wide track: progress clamped to 0..1 (NaN as 0).
int played_width(float progress, int track_w);

// Level bar width of a slider `slider_w` wide; volume is clamped to 0..100.
int volume_level_width(int volume, int slider_w = 56);

// True from one hour on: the clocks of such a recording all show hours.
bool clock_needs_hours(double duration_s);

// "MM:SS", or "H:MM:SS" with hours, of whole seconds; negatives and NaN read as 0.
void format_clock(char* out, size_t size, double seconds, bool hours);

// The same with milliseconds: "MM:SS.mmm" or "H:MM:SS.mmm".
void format_clock_ms(char* out, size_t size, double seconds, bool hours);

// The elapsed-time read-out: "position / duration", and while precise the
// position to the millisecond and "  #N" for picture N.
std::string elapsed_text(const OverlayView& view);

// The one spelling of a speed everywhere: "1x" near normal, else the factor
// with at most two decimals and no trailing zeros ("0.25x", "1.5x", "2x").
void format_speed(char* out, size_t size, double speed);

// "H.264 Player  [<clocks>]" plus the speed off normal, "  PAUSED" and the
// file name; "H.264 Player  [Finished]" once ended. The clocks are the elapsed
// "position / duration", with the time of day (and date) before it when it is
// shown large on the bar, after it otherwise.
void format_window_title(char* out, size_t size, const OverlayView& view);
