#include "draw/overlay.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "draw/program_name.h"
#include "draw/text.h"
#include "draw/widgets.h"

namespace {

constexpr Uint8 kButtonFillAlpha = 200;
constexpr const char* kEndText = "END";
constexpr const char* kPausedText = "PAUSED";
constexpr const char* kWidestSpeedLabel = "0.25x";
constexpr SDL_Color kAmber{255, 200, 50, 240};
constexpr SDL_Color kBlue{50, 130, 240, 230};
constexpr SDL_Color kActivityColour{255, 170, 40, 230};
constexpr SDL_Color kChangeColour{150, 150, 150, 150};
constexpr SDL_Color kGreen{80, 220, 120, 240};
constexpr SDL_Color kRed{240, 70, 70, 240};
constexpr const char* kSkippingText = "SKIPPING QUIET";
constexpr const char* kWatchingText = "ACTIVITY";

bool is_normal_speed(double speed) { return speed > 0.99 && speed < 1.01; }

void set_colour(SDL_Renderer* renderer, Uint8 r, Uint8 g, Uint8 b, Uint8 a) {
  SDL_SetRenderDrawColor(renderer, r, g, b, a);
}
void set_colour(SDL_Renderer* renderer, SDL_Color c) { set_colour(renderer, c.r, c.g, c.b, c.a); }

void fill(SDL_Renderer* renderer, SDL_Rect rect) { SDL_RenderFillRect(renderer, &rect); }

// Visible width of a text: its pen advance less the gap after the last glyph.
int ink_width(const char* text, int s) {
  const int w = text_width(text, s);
  return w > 0 ? w - s : 0;
}

// Black with alpha 180 one pixel right and down, then the text in its colour.
void draw_shadowed_text(SDL_Renderer* renderer, int x, int y, const char* text, int s,
                        SDL_Color colour) {
  set_colour(renderer, 0, 0, 0, 180);
  draw_text(renderer, x + 1, y + 1, text, s);
  set_colour(renderer, colour);
  draw_text(renderer, x, y, text, s);
}

// Columns rising from just above the track, as high as the change there is
// strong: amber where it is activity, dim where it is not; none where the
// picture keeps to its usual change.
void draw_activity_strip(SDL_Renderer* renderer, const OverlayLayout& l,
                         const std::vector<float>& strip, float activity_from) {
  if (strip.empty()) return;
  const int base = l.track.y - 1;  // the row above the track
  const int room = base - (l.bar.y + 2);
  std::vector<SDL_Rect> columns[2];  // weaker change, activity
  for (int x = 0; x < l.track.w; ++x) {
    const size_t at = static_cast<size_t>(static_cast<int64_t>(x) * static_cast<int64_t>(strip.size()) / l.track.w);
    const float strength = std::clamp(strip[at], 0.0f, 1.0f);
    const int h = static_cast<int>(strength * static_cast<float>(room));
    if (h > 0) columns[strength >= activity_from ? 1 : 0].push_back({l.track.x + x, base - h + 1, 1, h});
  }
  const SDL_Color colours[2] = {kChangeColour, kActivityColour};
  for (int i = 0; i < 2; ++i) {
    if (columns[i].empty()) continue;
    set_colour(renderer, colours[i]);
    SDL_RenderFillRects(renderer, columns[i].data(), static_cast<int>(columns[i].size()));
  }
}

// The marked stretch: a band under the track between the marks, and a tick
// from the bar's top to the band at each mark (the in-point green, the
// out-point red).
void draw_marks(SDL_Renderer* renderer, const OverlayLayout& l, float in, float out) {
  const int band_h = std::max(2, l.s);
  const int band_y = l.track.y + l.track.h + 1;
  const int tick_w = std::max(2, l.s);
  const int top = l.bar.y + 2;
  const int x_in = in >= 0 ? l.track.x + played_width(in, l.track.w) : -1;
  const int x_out = out >= 0 ? l.track.x + played_width(out, l.track.w) : -1;
  if (x_in >= 0 && x_out > x_in) {
    set_colour(renderer, kGreen);
    fill(renderer, {x_in, band_y, x_out - x_in, band_h});
  }
  const struct {
    int x;
    SDL_Color colour;
  } ticks[] = {{x_in, kGreen}, {x_out, kRed}};
  for (const auto& tick : ticks) {
    if (tick.x < 0) continue;
    set_colour(renderer, tick.colour);
    fill(renderer, {tick.x - tick_w / 2, top, tick_w, band_y + band_h - top});
  }
}

void draw_seek_bar(SDL_Renderer* renderer, const OverlayLayout& l, const OverlayView& view) {
  set_colour(renderer, 0, 0, 0, 140);
  fill(renderer, l.bar);
  if (l.track.w <= 0) return;
  if (view.activity) draw_activity_strip(renderer, l, *view.activity, view.activity_from);
  set_colour(renderer, 80, 80, 80, 200);
  fill(renderer, l.track);
  // Where the index does not reach yet, a seek waits for it.
  const int iw = played_width(view.indexed, l.track.w);
  if (iw < l.track.w) {
    set_colour(renderer, 30, 30, 30, 220);
    fill(renderer, {l.track.x + iw, l.track.y, l.track.w - iw, l.track.h});
  }
  const int fw = played_width(view.progress, l.track.w);
  if (fw > 0) {
    set_colour(renderer, kBlue);
    fill(renderer, {l.track.x, l.track.y, fw, l.track.h});
  }
  draw_marks(renderer, l, view.mark_in, view.mark_out);
  const int kx = l.track.x + fw, r = l.knob_radius;
  set_colour(renderer, 255, 255, 255, 240);
  fill_circle(renderer, kx, l.knob_y, r);
  set_colour(renderer, 50, 130, 240, 255);
  fill_circle(renderer, kx, l.knob_y, r * 3 / 4);
  set_colour(renderer, 255, 255, 255, 240);
  fill_circle(renderer, kx, l.knob_y, r * 3 / 8);
}

// One piece of the read-out: a text at a scale in a colour.
struct ReadoutPiece {
  std::string text;
  int s = 1;
  SDL_Color colour{255, 255, 255, 230};
};

// The read-out centred just above the bar, its pieces side by side on one
// baseline: the large clock, the small one, then "PAUSED" or "END" in amber.
void draw_time_readout(SDL_Renderer* renderer, const OverlayLayout& l, int window_w,
                       const OverlayView& view) {
  const int s = l.s;
  const std::string elapsed = elapsed_text(view);
  ReadoutPiece pieces[4];
  int count = 0;
  if (view.time_of_day.empty()) {
    pieces[count++] = {elapsed, s + 1};
  } else if (view.time_of_day_large) {
    pieces[count++] = {view.time_of_day, s + 1};
    pieces[count++] = {elapsed, s};
  } else {
    pieces[count++] = {elapsed, s + 1};
    pieces[count++] = {view.time_of_day, s};
  }
  if (view.ended) pieces[count++] = {kEndText, s, kAmber};
  else if (view.paused) pieces[count++] = {kPausedText, s, kAmber};
  else if (view.skip_quiet) {
    pieces[count++] = view.skip_watching ? ReadoutPiece{kWatchingText, s, kGreen}
                                         : ReadoutPiece{kSkippingText, s, kAmber};
  }
  const int gap = 4 * s;
  int total = 0;
  for (int i = 0; i < count; ++i) total += (i ? gap : 0) + ink_width(pieces[i].text.c_str(), pieces[i].s);
  const int baseline = l.bar.y - 2 * s - 4;  // room below for descenders and the shadow
  int x = (window_w - total) / 2;
  for (int i = 0; i < count; ++i) {
    const ReadoutPiece& p = pieces[i];
    draw_shadowed_text(renderer, x, baseline - text_height(p.s), p.text.c_str(), p.s, p.colour);
    x += ink_width(p.text.c_str(), p.s) + gap;
  }
}

void draw_volume_controls(SDL_Renderer* renderer, const OverlayLayout& l, int volume,
                          bool muted) {
  draw_control_button(renderer, l.mute, kButtonFillAlpha);
  draw_speaker_icon(renderer, l.mute, muted || volume == 0);
  set_colour(renderer, 80, 80, 80, 200);
  fill(renderer, l.volume_track);
  const int lw = volume_level_width(volume, l.volume_track.w);
  if (lw > 0) {
    if (muted)
      set_colour(renderer, 130, 130, 130, 220);
    else
      set_colour(renderer, kBlue);
    fill(renderer, {l.volume_track.x, l.volume_track.y, lw, l.volume_track.h});
  }
  set_colour(renderer, 255, 255, 255, 240);
  fill_circle(renderer, l.volume_track.x + lw, l.volume_track.y + l.volume_track.h / 2,
              l.volume_knob_radius);
}

void draw_speed_buttons(SDL_Renderer* renderer, const OverlayLayout& l, const char* label,
                        double speed) {
  const int b = l.button, s = l.s;
  const int bar_len = b - 8;
  draw_control_button(renderer, l.slower, kButtonFillAlpha);
  fill(renderer, {l.slower.x + 4, l.row_y + b / 2 - 1, bar_len, 2});

  const SDL_Color label_colour = is_normal_speed(speed) ? SDL_Color{200, 200, 200, 240} : kAmber;
  const int label_x = l.label_slot.x + (l.label_slot.w - ink_width(label, s)) / 2;
  draw_shadowed_text(renderer, label_x, l.row_y + (b - text_height(s)) / 2, label, s, label_colour);

  draw_control_button(renderer, l.faster, kButtonFillAlpha);
  fill(renderer, {l.faster.x + 4, l.row_y + b / 2 - 1, bar_len, 2});
  fill(renderer, {l.faster.x + b / 2 - 1, l.row_y + 4, 2, bar_len});
}

// A switch with a word: lit while on, dim otherwise ("AUTO", "SKIP").
void draw_word_switch(SDL_Renderer* renderer, const SDL_Rect& r, int s, const char* word, bool on) {
  draw_control_button(renderer, r, kButtonFillAlpha);
  if (on) {
    set_colour(renderer, kBlue);
    fill(renderer, {r.x + 1, r.y + 1, r.w - 2, r.h - 2});
  }
  const SDL_Color text = on ? SDL_Color{255, 255, 255, 240} : SDL_Color{130, 130, 130, 220};
  draw_shadowed_text(renderer, r.x + (r.w - ink_width(word, s)) / 2,
                     r.y + (r.h - text_height(s)) / 2, word, s, text);
}

// The play / pause button: while paused it is lit and shows the play
// triangle (what a click does), while playing the two pause bars.
void draw_play_button(SDL_Renderer* renderer, const OverlayLayout& l, bool paused) {
  draw_control_button(renderer, l.play, kButtonFillAlpha);
  if (paused) {
    set_colour(renderer, kBlue);
    fill(renderer, {l.play.x + 1, l.play.y + 1, l.play.w - 2, l.play.h - 2});
    set_colour(renderer, 255, 255, 255, 240);
    draw_play_icon(renderer, l.play);
  } else {
    draw_pause_icon(renderer, l.play);
  }
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

BarTarget bar_target_at(const OverlayRects& r, int x, int y) {
  if (r.bar.w <= 0 || y < r.bar.y) return BarTarget::picture;
  const struct {
    const SDL_Rect& rect;
    BarTarget target;
  } controls[] = {
      {r.play_button_rect, BarTarget::play_pause},  {r.slower_button_rect, BarTarget::slower},
      {r.faster_button_rect, BarTarget::faster},    {r.screenshot_button_rect, BarTarget::screenshot},
      {r.mute_button_rect, BarTarget::mute},        {r.auto_button_rect, BarTarget::auto_continue},
      {r.skip_button_rect, BarTarget::skip_quiet},
      {r.volume_rect, BarTarget::volume},           {r.seek_rect, BarTarget::seek},
  };
  for (const auto& c : controls)
    if (rect_contains(c.rect, x, y)) return c.target;
  return BarTarget::none;
}

OverlayLayout layout_overlay(int window_w, int window_h, int s, bool audio_available) {
  OverlayLayout l;
  if (s < 1) s = 1;
  l.s = s;
  const int b = 7 * s + 6;
  const int bar_h = b + 16;
  const int margin = 6 * s, small_gap = 3 * s, gap = 6 * s;
  l.button = b;
  l.bar = {0, window_h - bar_h, window_w, bar_h};
  l.row_y = l.bar.y + (bar_h - b) / 2;
  l.knob_y = l.bar.y + bar_h / 2;
  l.knob_radius = 4 * s;
  l.volume_knob_radius = 5 * s / 2;
  l.play = {margin, l.row_y, b, b};

  // The right-hand group, laid out from the right edge leftward; no width
  // depends on the speed.
  const int slot_w = ink_width(kWidestSpeedLabel, s);
  const int xf = window_w - b - margin;
  const int xl = xf - small_gap - slot_w;
  const int xs = xl - small_gap - b;
  const int xc = xs - b - gap;
  l.faster = {xf, l.row_y, b, b};
  l.label_slot = {xl, l.row_y, slot_w, b};
  l.slower = {xs, l.row_y, b, b};
  l.screenshot = {xc, l.row_y, b, b};
  int group_x = xc;
  if (audio_available) {
    const int slider_w = 28 * s;
    const int xv = xc - gap - slider_w;
    const int xm = xv - b - small_gap;
    const int track_h = 2 * s;
    l.volume = {xv, l.row_y, slider_w, b};
    l.mute = {xm, l.row_y, b, b};
    l.volume_track = {xv, l.row_y + (b - track_h) / 2, slider_w, track_h};
    // The knob reaches past both ends; the gaps beside the slider are wider than it.
    l.volume_zone = {xv - l.volume_knob_radius, l.row_y, slider_w + 2 * l.volume_knob_radius, b};
    group_x = xm;
  }
  const int auto_w = ink_width("AUTO", s) + 8;
  l.auto_button = {group_x - gap - auto_w, l.row_y, auto_w, b};
  const int skip_w = ink_width("SKIP", s) + 8;
  l.skip_button = {l.auto_button.x - small_gap - skip_w, l.row_y, skip_w, b};

  // The track runs between the play button and the group with room for the
  // knob's radius and a gap at both ends, so the knob never covers a control.
  const int track_x = l.play.x + b + l.knob_radius + small_gap;
  const int track_end = l.skip_button.x - l.knob_radius - gap;
  const int track_h = 3 * s;
  l.track = {track_x, l.knob_y - track_h / 2, track_end > track_x ? track_end - track_x : 0, track_h};
  if (l.track.w > 0) {
    l.seek_zone = {l.track.x - l.knob_radius, l.bar.y, l.track.w + 2 * l.knob_radius, bar_h};
  }
  return l;
}

OverlayRects rects_of_layout(const OverlayLayout& l, bool audio_available) {
  OverlayRects r;
  r.bar = l.bar;
  r.play_button_rect = l.play;
  r.seek_rect = l.seek_zone;
  r.seek_track = l.track;
  r.slower_button_rect = l.slower;
  r.faster_button_rect = l.faster;
  r.screenshot_button_rect = l.screenshot;
  r.auto_button_rect = l.auto_button;
  r.skip_button_rect = l.skip_button;
  if (audio_available) {
    r.mute_button_rect = l.mute;
    r.volume_slider_rect = l.volume;
    r.volume_rect = l.volume_zone;
  }
  return r;
}

int played_width(float progress, int track_w) {
  float p = progress;
  if (!(p >= 0.0f)) p = 0.0f;  // also catches NaN
  if (p > 1.0f) p = 1.0f;
  return static_cast<int>(p * static_cast<float>(track_w));
}

int volume_level_width(int volume, int slider_w) {
  if (volume < 0) volume = 0;
  if (volume > 100) volume = 100;
  return volume * slider_w / 100;
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

void format_clock_ms(char* out, size_t size, double seconds, bool hours) {
  // Rounded to the millisecond first, so 9.9996 s reads 00:10.000.
  const double rounded = seconds > 0 ? std::floor(seconds * 1000.0 + 0.5) / 1000.0 : 0.0;
  char whole[24];
  format_clock(whole, sizeof whole, rounded, hours);
  const int ms = rounded < static_cast<double>(INT_MAX)
                     ? static_cast<int>(std::llround((rounded - std::floor(rounded)) * 1000.0)) % 1000
                     : 0;
  std::snprintf(out, size, "%s.%03d", whole, ms);
}

std::string elapsed_text(const OverlayView& view) {
  const bool hours = clock_needs_hours(view.duration_s);
  char position[32], duration[24], text[96];
  if (view.precise) {
    format_clock_ms(position, sizeof position, view.position_s, hours);
  } else {
    format_clock(position, sizeof position, view.position_s, hours);
  }
  format_clock(duration, sizeof duration, view.duration_s, hours);
  if (view.precise && view.picture_number > 0) {
    std::snprintf(text, sizeof text, "%s / %s  #%d", position, duration, view.picture_number);
  } else {
    std::snprintf(text, sizeof text, "%s / %s", position, duration);
  }
  return text;
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
    std::snprintf(out, size, "%s  [Finished]", kProgramName);
    return;
  }
  const bool hours = clock_needs_hours(view.duration_s);
  char position[24], duration[24], speed[72];
  format_clock(position, sizeof position, view.position_s, hours);
  format_clock(duration, sizeof duration, view.duration_s, hours);
  std::string clocks = std::string(position) + " / " + duration;
  if (!view.title_time_of_day.empty()) {
    clocks = view.time_of_day_large ? view.title_time_of_day + "  " + clocks
                                    : clocks + "  " + view.title_time_of_day;
  }
  speed[0] = '\0';
  if (!is_normal_speed(view.speed)) {
    speed[0] = speed[1] = ' ';
    format_speed(speed + 2, sizeof speed - 2, view.speed);
  }
  const std::string name = view.file_name.empty() ? "" : "  " + view.file_name;
  std::snprintf(out, size, "%s  [%s]%s%s%s", kProgramName, clocks.c_str(), speed,
                view.paused ? "  PAUSED" : "", name.c_str());
}

void set_playback_title(SDL_Window* window, const OverlayView& view) {
  if (!window) return;
  char title[512];
  format_window_title(title, sizeof title, view);
  // Setting the title costs a round trip to the window system: only changes are sent.
  if (std::strcmp(title, SDL_GetWindowTitle(window)) != 0) SDL_SetWindowTitle(window, title);
}

void draw_playback_overlay(SDL_Renderer* renderer, SDL_Window* window, const OverlayView& view,
                           int s) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  const OverlayLayout l = layout_overlay(w, h, s, view.audio_available);

  SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
  draw_seek_bar(renderer, l, view);
  draw_time_readout(renderer, l, w, view);
  draw_play_button(renderer, l, view.paused && !view.ended);

  draw_control_button(renderer, l.screenshot, kButtonFillAlpha);
  draw_camera_icon(renderer, l.screenshot);
  if (view.audio_available) draw_volume_controls(renderer, l, view.volume, view.muted);
  draw_word_switch(renderer, l.auto_button, l.s, "AUTO", view.auto_continue);
  draw_word_switch(renderer, l.skip_button, l.s, "SKIP", view.skip_quiet);
  char label[72];
  format_speed(label, sizeof label, view.speed);
  draw_speed_buttons(renderer, l, label, view.speed);
  overlay_rects() = rects_of_layout(l, view.audio_available);
}
