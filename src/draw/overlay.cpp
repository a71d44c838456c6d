#include "draw/overlay.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "draw/text.h"
#include "draw/widgets.h"

namespace {

constexpr int kBarHeight = 36;
constexpr int kMargin = 12;
constexpr int kTrackHeight = 6;
constexpr int kSliderWidth = 56;
constexpr int kSliderTrackHeight = 4;
constexpr Uint8 kButtonFillAlpha = 200;

bool is_normal_speed(double speed) { return speed > 0.99 && speed < 1.01; }

void set_colour(SDL_Renderer* renderer, Uint8 r, Uint8 g, Uint8 b, Uint8 a) {
  SDL_SetRenderDrawColor(renderer, r, g, b, a);
}

void fill(SDL_Renderer* renderer, SDL_Rect rect) { SDL_RenderFillRect(renderer, &rect); }

// Black with alpha 180 one pixel right and down, then the text in its colour.
void draw_shadowed_text(SDL_Renderer* renderer, int x, int y, const char* text, int s,
                        SDL_Color colour) {
  set_colour(renderer, 0, 0, 0, 180);
  draw_text(renderer, x + 1, y + 1, text, s);
  set_colour(renderer, colour.r, colour.g, colour.b, colour.a);
  draw_text(renderer, x, y, text, s);
}

void draw_seek_bar(SDL_Renderer* renderer, const OverlayLayout& l, float progress) {
  set_colour(renderer, 0, 0, 0, 140);
  fill(renderer, l.bar);
  set_colour(renderer, 80, 80, 80, 200);
  fill(renderer, l.track);
  int fw = played_width(progress, l.track.w);
  if (fw > 0) {
    set_colour(renderer, 50, 130, 240, 230);
    fill(renderer, {l.track.x, l.track.y, fw, l.track.h});
  }
  int kx = l.track.x + fw;
  set_colour(renderer, 255, 255, 255, 240);
  fill_circle(renderer, kx, l.knob_y, 8);
  set_colour(renderer, 50, 130, 240, 255);
  fill_circle(renderer, kx, l.knob_y, 6);
  set_colour(renderer, 255, 255, 255, 240);
  fill_circle(renderer, kx, l.knob_y, 3);
}

void draw_time_readout(SDL_Renderer* renderer, int window_w, int window_h, double position_s,
                       double duration_s, int s) {
  char position[16], duration[16], readout[40];
  format_clock(position, sizeof position, position_s);
  format_clock(duration, sizeof duration, duration_s);
  std::snprintf(readout, sizeof readout, "%s / %s", position, duration);
  int tx = (window_w - text_width(readout, s)) / 2;
  // Sits just above the bar, not inside it.
  draw_shadowed_text(renderer, tx, window_h - 54, readout, s, {255, 255, 255, 230});
}

void draw_volume_controls(SDL_Renderer* renderer, const OverlayLayout& l, int volume,
                          bool muted) {
  draw_control_button(renderer, l.mute, kButtonFillAlpha);
  draw_speaker_icon(renderer, l.mute, muted || volume == 0);
  set_colour(renderer, 80, 80, 80, 200);
  fill(renderer, l.volume_track);
  int lw = volume_level_width(volume);
  if (lw > 0) {
    if (muted)
      set_colour(renderer, 130, 130, 130, 220);
    else
      set_colour(renderer, 50, 130, 240, 230);
    fill(renderer, {l.volume_track.x, l.volume_track.y, lw, l.volume_track.h});
  }
  set_colour(renderer, 255, 255, 255, 240);
  fill_circle(renderer, l.volume_track.x + lw, l.volume_track.y + kSliderTrackHeight / 2, 5);
}

void draw_speed_buttons(SDL_Renderer* renderer, const OverlayLayout& l, const char* label,
                        double speed, int s) {
  const int b = l.button;
  draw_control_button(renderer, l.slower, kButtonFillAlpha);
  fill(renderer, {l.slower.x + 4, l.row_y + b / 2, 5 * s, 2});

  SDL_Color label_colour = is_normal_speed(speed) ? SDL_Color{200, 200, 200, 240}
                                                  : SDL_Color{255, 200, 50, 240};
  draw_shadowed_text(renderer, l.label_x, l.row_y + 4, label, s, label_colour);

  draw_control_button(renderer, l.faster, kButtonFillAlpha);
  fill(renderer, {l.faster.x + 4, l.row_y + b / 2, 5 * s, 2});
  fill(renderer, {l.faster.x + b / 2 - 1, l.row_y + 4, 2, 5 * s});
}

// Whole seconds for a clock: negatives and NaN become 0, huge values saturate
// instead of overflowing the integer conversion.
int whole_seconds(double seconds) {
  if (!(seconds > 0)) return 0;
  if (seconds >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(seconds);
}

}  // namespace

OverlayRects& overlay_rects() {
  static OverlayRects rects;
  return rects;
}

OverlayLayout layout_overlay(int window_w, int window_h, int s, int label_width) {
  OverlayLayout l;
  const int b = 5 * s + 8;
  l.button = b;
  l.row_y = (window_h - kBarHeight) + (kBarHeight - b) / 2;
  l.bar = {0, window_h - kBarHeight, window_w, kBarHeight};
  l.track = {kMargin, window_h - 21, window_w - 2 * kMargin, kTrackHeight};
  l.knob_y = window_h - 18;

  // Laid out from the right edge leftward.
  const int xs = window_w - 2 * b - 24 - label_width;
  const int xl = xs + b + 6;
  const int xf = xl + label_width + 6;
  const int xc = xs - b - 12;
  const int xv = xc - 68;
  const int xm = xv - b - 6;
  l.label_x = xl;
  l.slower = {xs, l.row_y, b, b};
  l.faster = {xf, l.row_y, b, b};
  l.screenshot = {xc, l.row_y, b, b};
  l.volume = {xv, l.row_y, kSliderWidth, b};
  l.mute = {xm, l.row_y, b, b};
  l.volume_track = {xv, l.row_y + (b - kSliderTrackHeight) / 2, kSliderWidth,
                    kSliderTrackHeight};
  return l;
}

int played_width(float progress, int track_w) {
  float p = progress;
  if (!(p >= 0.0f)) p = 0.0f;  // also catches NaN
  if (p > 1.0f) p = 1.0f;
  return static_cast<int>(p * static_cast<float>(track_w));
}

int volume_level_width(int volume) {
  if (volume < 0) volume = 0;
  if (volume > 100) volume = 100;
  return volume * kSliderWidth / 100;
}

void format_clock(char* out, size_t size, double seconds) {
  int t = whole_seconds(seconds);
  std::snprintf(out, size, "%02d:%02d", t / 60, t % 60);
}

void format_speed_label(char* out, size_t size, double speed) {
  const char* fixed = nullptr;
  if (speed == 0.25) fixed = "0.25x";
  else if (speed == 0.5) fixed = "0.5x";
  else if (speed == 1.5) fixed = "1.5x";
  else if (speed == 2) fixed = "2x";
  else if (speed == 4) fixed = "4x";
  else if (speed == 8) fixed = "8x";
  else if (is_normal_speed(speed)) fixed = "1x";
  if (fixed)
    std::snprintf(out, size, "%s", fixed);
  else
    std::snprintf(out, size, "%.1fx", speed);
}

void format_window_title(char* out, size_t size, double position_s, double duration_s,
                         double speed, bool paused) {
  char position[16], duration[16];
  format_clock(position, sizeof position, position_s);
  format_clock(duration, sizeof duration, duration_s);
  const char* paused_suffix = paused ? "  PAUSED" : "";
  if (!is_normal_speed(speed)) {
    char speed_text[48];
    // Whole speeds print without decimals; the range check keeps the cast defined.
    if (speed == std::trunc(speed) && std::fabs(speed) < 1e9)
      std::snprintf(speed_text, sizeof speed_text, "%dx", static_cast<int>(speed));
    else
      std::snprintf(speed_text, sizeof speed_text, "%.1fx", speed);
    std::snprintf(out, size, "H.264 Player  [%s / %s]  %s%s", position, duration, speed_text,
                  paused_suffix);
  } else {
    std::snprintf(out, size, "H.264 Player  [%s / %s]%s", position, duration, paused_suffix);
  }
}

void draw_playback_overlay(SDL_Renderer* renderer, SDL_Window* window, float progress,
                           double position_s, double duration_s, int s, bool paused,
                           double speed, bool audio_available, int volume, bool muted) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  char label[48];
  format_speed_label(label, sizeof label, speed);
  const OverlayLayout l = layout_overlay(w, h, s, text_width(label, s));

  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
  draw_seek_bar(renderer, l, progress);
  draw_time_readout(renderer, w, h, position_s, duration_s, s);

  OverlayRects& rects = overlay_rects();
  rects.screenshot_button_rect = l.screenshot;
  draw_control_button(renderer, l.screenshot, kButtonFillAlpha);
  draw_camera_icon(renderer, l.screenshot);
  if (audio_available) {
    rects.volume_slider_rect = l.volume;
    rects.mute_button_rect = l.mute;
    draw_volume_controls(renderer, l, volume, muted);
  } else {
    rects.volume_slider_rect = {0, 0, 0, 0};
    rects.mute_button_rect = {0, 0, 0, 0};
  }
  rects.slower_button_rect = l.slower;
  rects.faster_button_rect = l.faster;
  draw_speed_buttons(renderer, l, label, speed, s);

  char title[256];
  format_window_title(title, sizeof title, position_s, duration_s, speed, paused);
  // The title changes about once a second; setting it costs a round trip to
  // the window system on every picture.
  if (std::strcmp(title, SDL_GetWindowTitle(window)) != 0) SDL_SetWindowTitle(window, title);
}
