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
constexpr int kTrackGap = 24;  // clear space between the track's end and the controls
constexpr const char* kEndText = "END";
constexpr const char* kWidestSpeedLabel = "0.25x";
constexpr const char* kFinishedTitle = "H.264 Player  [Finished]";

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

void draw_seek_bar(SDL_Renderer* renderer, const OverlayLayout& l, float progress, float indexed) {
  set_colour(renderer, 0, 0, 0, 140);
  fill(renderer, l.bar);
  set_colour(renderer, 80, 80, 80, 200);
  fill(renderer, l.track);
  // Where the index does not reach yet, a seek waits for it.
  const int iw = played_width(indexed, l.track.w);
  if (iw < l.track.w) {
    set_colour(renderer, 30, 30, 30, 220);
    fill(renderer, {l.track.x + iw, l.track.y, l.track.w - iw, l.track.h});
  }
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

// Position and duration just above the bar, centred; "END" follows in amber
// once the recording has played to its end.
void draw_time_readout(SDL_Renderer* renderer, int window_w, int window_h, const OverlayView& view,
                       int s) {
  const bool hours = clock_needs_hours(view.duration_s);
  char position[24], duration[24], readout[56];
  format_clock(position, sizeof position, view.position_s, hours);
  format_clock(duration, sizeof duration, view.duration_s, hours);
  std::snprintf(readout, sizeof readout, "%s / %s", position, duration);
  const int readout_w = text_width(readout, s);
  const int end_gap = 4 * s;
  const int total = readout_w + (view.ended ? end_gap + text_width(kEndText, s) : 0);
  const int tx = (window_w - total) / 2;
  const int ty = window_h - 54;
  draw_shadowed_text(renderer, tx, ty, readout, s, {255, 255, 255, 230});
  if (view.ended) {
    draw_shadowed_text(renderer, tx + readout_w + end_gap, ty, kEndText, s, {255, 200, 50, 240});
  }
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

// Visible width of a text: its pen advance less the gap after the last glyph.
int ink_width(const char* text, int s) {
  const int w = text_width(text, s);
  return w > 0 ? w - s : 0;
}

void draw_speed_buttons(SDL_Renderer* renderer, const OverlayLayout& l, const char* label,
                        double speed, int s) {
  const int b = l.button;
  draw_control_button(renderer, l.slower, kButtonFillAlpha);
  fill(renderer, {l.slower.x + 4, l.row_y + b / 2, 5 * s, 2});

  SDL_Color label_colour = is_normal_speed(speed) ? SDL_Color{200, 200, 200, 240}
                                                  : SDL_Color{255, 200, 50, 240};
  const int label_x = l.label_slot.x + (l.label_slot.w - ink_width(label, s)) / 2;
  draw_shadowed_text(renderer, label_x, l.row_y + 4, label, s, label_colour);

  draw_control_button(renderer, l.faster, kButtonFillAlpha);
  fill(renderer, {l.faster.x + 4, l.row_y + b / 2, 5 * s, 2});
  fill(renderer, {l.faster.x + b / 2 - 1, l.row_y + 4, 2, 5 * s});
}

// "AUTO" on a lit button while the next recording follows, dim otherwise.
void draw_auto_button(SDL_Renderer* renderer, const OverlayLayout& l, bool on, int s) {
  const SDL_Rect& r = l.auto_button;
  draw_control_button(renderer, r, kButtonFillAlpha);
  if (on) {
    set_colour(renderer, 50, 130, 240, 230);
    fill(renderer, {r.x + 1, r.y + 1, r.w - 2, r.h - 2});
  }
  const SDL_Color text = on ? SDL_Color{255, 255, 255, 240} : SDL_Color{130, 130, 130, 220};
  draw_shadowed_text(renderer, r.x + (r.w - ink_width("AUTO", s)) / 2, r.y + (r.h - 5 * s) / 2,
                     "AUTO", s, text);
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

void clear_overlay_rects() { overlay_rects() = OverlayRects{}; }

OverlayLayout layout_overlay(int window_w, int window_h, int s, bool audio_available) {
  OverlayLayout l;
  const int b = 5 * s + 8;
  l.button = b;
  l.row_y = (window_h - kBarHeight) + (kBarHeight - b) / 2;
  l.bar = {0, window_h - kBarHeight, window_w, kBarHeight};
  l.knob_y = window_h - 18;

  // Laid out from the right edge leftward; no width depends on the speed.
  const int slot_w = ink_width(kWidestSpeedLabel, s);
  const int xf = window_w - b - kMargin;
  const int xl = xf - 6 - slot_w;
  const int xs = xl - 6 - b;
  const int xc = xs - b - 12;
  l.faster = {xf, l.row_y, b, b};
  l.label_slot = {xl, l.row_y, slot_w, b};
  l.slower = {xs, l.row_y, b, b};
  l.screenshot = {xc, l.row_y, b, b};
  int group_x = xc;
  if (audio_available) {
    const int xv = xc - 12 - kSliderWidth;
    const int xm = xv - b - 6;
    l.volume = {xv, l.row_y, kSliderWidth, b};
    l.mute = {xm, l.row_y, b, b};
    l.volume_track = {xv, l.row_y + (b - kSliderTrackHeight) / 2, kSliderWidth,
                      kSliderTrackHeight};
    group_x = xm;
  }
  const int auto_w = ink_width("AUTO", s) + 8;
  l.auto_button = {group_x - 12 - auto_w, l.row_y, auto_w, b};
  const int track_w = l.auto_button.x - kTrackGap - kMargin;
  l.track = {kMargin, window_h - 21, track_w > 0 ? track_w : 0, kTrackHeight};
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

bool clock_needs_hours(double duration_s) { return whole_seconds(duration_s) >= 3600; }

void format_clock(char* out, size_t size, double seconds, bool hours) {
  const int t = whole_seconds(seconds);
  if (hours) {
    std::snprintf(out, size, "%d:%02d:%02d", t / 3600, t / 60 % 60, t % 60);
  } else {
    std::snprintf(out, size, "%02d:%02d", t / 60, t % 60);
  }
}

void format_speed(char* out, size_t size, double speed) {
  if (size == 0) return;
  if (is_normal_speed(speed) || !std::isfinite(speed)) {
    std::snprintf(out, size, "%s", is_normal_speed(speed) ? "1x" : "?x");
    return;
  }
  char number[64];
  std::snprintf(number, sizeof number, "%.2f", speed);
  // Trailing zeros and a bare decimal point go: "2.00" reads "2", "1.50" reads "1.5".
  size_t n = std::strlen(number);
  if (std::strchr(number, '.')) {
    while (n > 0 && number[n - 1] == '0') --n;
    if (n > 0 && number[n - 1] == '.') --n;
  }
  number[n] = '\0';
  std::snprintf(out, size, "%sx", number);
}

void format_window_title(char* out, size_t size, const OverlayView& view) {
  if (view.ended) {
    std::snprintf(out, size, "%s", kFinishedTitle);
    return;
  }
  const bool hours = clock_needs_hours(view.duration_s);
  char position[24], duration[24], speed[72];
  format_clock(position, sizeof position, view.position_s, hours);
  format_clock(duration, sizeof duration, view.duration_s, hours);
  speed[0] = '\0';
  if (!is_normal_speed(view.speed)) {
    speed[0] = speed[1] = ' ';
    format_speed(speed + 2, sizeof speed - 2, view.speed);
  }
  std::snprintf(out, size, "H.264 Player  [%s / %s]%s%s", position, duration, speed,
                view.paused ? "  PAUSED" : "");
}

void draw_playback_overlay(SDL_Renderer* renderer, SDL_Window* window, const OverlayView& view,
                           int s) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  const OverlayLayout l = layout_overlay(w, h, s, view.audio_available);

  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
  draw_seek_bar(renderer, l, view.progress, view.indexed);
  draw_time_readout(renderer, w, h, view, s);

  OverlayRects& rects = overlay_rects();
  rects.screenshot_button_rect = l.screenshot;
  draw_control_button(renderer, l.screenshot, kButtonFillAlpha);
  draw_camera_icon(renderer, l.screenshot);
  if (view.audio_available) {
    rects.volume_slider_rect = l.volume;
    rects.mute_button_rect = l.mute;
    draw_volume_controls(renderer, l, view.volume, view.muted);
  } else {
    rects.volume_slider_rect = {0, 0, 0, 0};
    rects.mute_button_rect = {0, 0, 0, 0};
  }
  rects.auto_button_rect = l.auto_button;
  draw_auto_button(renderer, l, view.auto_continue, s);
  rects.slower_button_rect = l.slower;
  rects.faster_button_rect = l.faster;
  char label[72];
  format_speed(label, sizeof label, view.speed);
  draw_speed_buttons(renderer, l, label, view.speed, s);

  char title[256];
  format_window_title(title, sizeof title, view);
  // The title changes about once a second; setting it costs a round trip to
  // the window system on every picture.
  if (std::strcmp(title, SDL_GetWindowTitle(window)) != 0) SDL_SetWindowTitle(window, title);
}
