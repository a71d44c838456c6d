// Finding and sharing in the file player: the pure rules of the marks, of
// skipping the quiet and of the activity jumps, then real playbacks of
// recordings made with activity in known seconds, driven step by step in a
// 960 x 600 window: the strip read back from the window, n / Shift+n,
// skipping the quiet, marks drawn on the track and exports checked with
// ffprobe, also across two recordings of a folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "../convert/media_probe.h"
#include "draw/overlay.h"
#include "draw/toast.h"
#include "headless_sdl.h"
#include "player/activity_nav.h"
#include "player/controls.h"
#include "player/engine.h"
#include "player/find_and_share.h"
#include "player/marks.h"
#include "player/skip_quiet.h"
#include "player_test_support.h"

namespace {

namespace fs = std::filesystem;

// ---- pure rules ---------------------------------------------------------

MarkPoint at(const std::string& path, double t) { return MarkPoint{path, t, 20.0, {}}; }

TEST(MarkRules, AMarkOnTheWrongSideOfANewOneGoes) {
  const std::string a = "/cam/20261201_080000.264", b = "/cam/20261201_080020.264";
  struct Row {
    const char* what;
    std::optional<MarkPoint> in, out;
    bool set_out;
    MarkPoint point;
    bool cleared;
  } rows[] = {
      {"in before the out", {}, at(a, 9), false, at(a, 3), false},
      {"in after the out: the out goes", {}, at(a, 9), false, at(a, 12), true},
      {"in at the out: the out goes", {}, at(a, 9), false, at(a, 9), true},
      {"out after the in", at(a, 3), {}, true, at(a, 9), false},
      {"out before the in: the in goes", at(a, 3), {}, true, at(a, 2), true},
      {"out in the next recording", at(a, 15), {}, true, at(b, 2), false},
      {"in in the next recording, after the out", {}, at(a, 19), false, at(b, 1), true},
      {"out in the recording before the in's", at(b, 1), {}, true, at(a, 19), true},
  };
  for (const Row& r : rows) {
    StretchMarks marks{r.in, r.out};
    EXPECT_EQ(set_mark(marks, r.set_out, r.point), r.cleared) << r.what;
    const std::optional<MarkPoint>& mine = r.set_out ? marks.out : marks.in;
    const std::optional<MarkPoint>& other = r.set_out ? marks.in : marks.out;
    ASSERT_TRUE(mine) << r.what;
    EXPECT_EQ(mine->time_s, r.point.time_s) << r.what;
    EXPECT_EQ(other.has_value(), !r.cleared && (r.in || r.out)) << r.what;
  }
}

TEST(MarkRules, MarksOnTheTrackOfEachRecordingOfTheStretch) {
  const std::string a = "/cam/a.264", b = "/cam/b.264", c = "/cam/c.264", d = "/cam/d.264";
  struct Row {
    const char* what;
    std::optional<MarkPoint> in, out;
    std::string track;
    float in_f, out_f;
  } rows[] = {
      {"both here", at(a, 5), at(a, 15), a, 0.25f, 0.75f},
      {"only the in here", at(a, 5), {}, a, 0.25f, -1},
      {"in here, out later: to the end", at(b, 5), at(d, 1), b, 0.25f, 1.0f},
      {"in earlier, out here: from the start", at(a, 5), at(b, 10), b, 0.0f, 0.5f},
      {"a recording in the middle: whole", at(a, 5), at(c, 10), b, 0.0f, 1.0f},
      {"after the stretch", at(a, 5), at(b, 10), c, -1, -1},
      {"before the stretch", at(b, 5), at(c, 10), a, -1, -1},
      {"an in earlier without an out", at(a, 5), {}, b, -1, -1},
      {"a mark past the length is clamped", at(a, 25), {}, a, 1.0f, -1},
  };
  for (const Row& r : rows) {
    const MarkFractions f = marks_on_track(StretchMarks{r.in, r.out}, r.track, 20.0);
    EXPECT_FLOAT_EQ(f.in, r.in_f) << r.what;
    EXPECT_FLOAT_EQ(f.out, r.out_f) << r.what;
  }
  StretchMarks marks{at(a, 1), at("/other/z.264", 2)};
  keep_marks_of_folder(marks, "/cam/q.264");
  EXPECT_TRUE(marks.in && !marks.out) << "a mark of another folder goes";
}

TEST(SkipRules, QuietFastActivityAtNormalSpeedFromItsStart) {
  const std::vector<ActivityStretch> stretches = {{4.0, 7.5}, {20.0, 23.0}};
  using M = SkipMove;
  struct Row {
    const char* what;
    SkipQuietState state;
    double position;
    bool fast;
    SkipMove move;
    double seek_to, watch_to;
  } rows[] = {
      {"quiet, at 1x: go fast", {}, 1.0, false, M::go_fast, -1, 0},
      {"quiet, fast: nothing", {}, 1.0, true, M::none, -1, 0},
      {"just before a stretch, fast: back to its start", {}, 3.6, true, M::watch, 4.0, 7.5},
      {"inside a stretch, fast: back to its start", {}, 5.0, true, M::watch, 4.0, 7.5},
      {"inside a stretch at 1x (turned on there): watch on", {}, 5.0, false, M::watch, -1, 7.5},
      {"watching, the key picture before the start", {true, 3.0, 7.5}, 3.0, false, M::none, -1, 0},
      {"watching to the stretch's end", {true, 3.0, 7.5}, 7.49, false, M::none, -1, 0},
      {"past the end: fast", {true, 3.0, 7.5}, 7.5, false, M::go_fast, -1, 0},
      {"sent far back while watching: fast", {true, 3.0, 7.5}, 1.0, false, M::go_fast, -1, 0},
      {"sent into the next stretch while watching", {true, 3.0, 7.5}, 21.0, false, M::watch, -1, 23.0},
      {"past the last stretch, fast", {}, 30.0, true, M::none, -1, 0},
  };
  for (const Row& r : rows) {
    const SkipDecision d = decide_skip(r.state, stretches, r.position, r.fast);
    EXPECT_EQ(d.move, r.move) << r.what;
    if (d.move == M::watch) {
      EXPECT_DOUBLE_EQ(d.seek_to, r.seek_to) << r.what;
      EXPECT_DOUBLE_EQ(d.watch_to, r.watch_to) << r.what;
    }
  }
  EXPECT_EQ(decide_skip({}, {}, 3.0, true).move, M::none) << "no activity: fast throughout";
}

TEST(ActivityJumps, AskFromTheStartJumpedToUntilThePlaybackPassesIt) {
  PlaybackActivity a;
  EXPECT_DOUBLE_EQ(activity_query_time(a, 3.0), 3.0) << "no jump yet";
  note_activity_jump(a, 4.3, 4.0);
  const struct {
    double position, asked;
  } rows[] = {{4.0, 4.3}, {4.2, 4.3}, {4.3, 4.3}, {4.31, 4.31}, {6.0, 6.0}, {3.9, 3.9}, {1.0, 1.0}};
  for (const auto& r : rows) EXPECT_DOUBLE_EQ(activity_query_time(a, r.position), r.asked) << r.position;
}

// ---- real playbacks -----------------------------------------------------

constexpr int kWindowW = 960, kWindowH = 600;

bool amber_strip(Rgba p) { return p.r > 180 && p.g > 100 && p.g < 200 && p.b < 90; }
bool green_mark(Rgba p) { return p.g > 170 && p.r < 140 && p.b < 170; }
bool red_mark(Rgba p) { return p.r > 200 && p.g < 110 && p.b < 110; }

// A still noisy scene at a camera's fixed quantiser with an object moving in
// the given seconds, key pictures every 2 s, sound after its pictures.
RecordingSpec scene(double fps, double seconds, const std::vector<std::string>& moving,
                    int width = 640, int height = 360) {
  RecordingSpec recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.fps = fps;
  recipe.duration_s = seconds;
  recipe.gop = static_cast<int>(std::lround(2 * fps));
  recipe.audio = true;
  recipe.extra_args = {"--noise", "3", "--qp", "28", "--sound-after", "--tone-period", "1000",
                       "--tone-on", "200"};
  for (const std::string& span : moving) {
    recipe.extra_args.push_back("--moving-object");
    recipe.extra_args.push_back(span);
  }
  return recipe;
}

class FindAndShare : public PlaybackInWindow {
 protected:
  void SetUp() override {
    PlaybackInWindow::SetUp();
    player_preferences() = PlayerPreferences{};
    stretch_marks() = StretchMarks{};
  }
  void TearDown() override {
    PlaybackInWindow::TearDown();
    player_preferences() = PlayerPreferences{};
    stretch_marks() = StretchMarks{};
  }
  // Opens a recording made in `folder` under `name`.
  void open_in(const std::string& folder, const RecordingSpec& recipe, const std::string& name) {
    const std::string path = make_recording_file(recipe, folder + "/" + name);
    ASSERT_FALSE(path.empty());
    open_path(path);
  }
  void open_path(const std::string& path) {
    close_playback(st);
    st.~PlayerState();
    new (&st) PlayerState();
    testing::internal::CaptureStdout();
    const bool opened = open_playback(st, path);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(opened);
  }
  void press(SDL_Keycode key, Uint16 mod = KMOD_NONE) {
    SDL_Event e = key_event(key);
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
    step();
  }
  void play_to(double seconds) {
    while (playback_running(st) && video_position(st) < seconds) step();
  }
  // The picture with the bar, as the window shows it now.
  Pixels window_pixels() {
    push_mouse_motion(480, 300);  // the bar shows
    show_toast("", 0);
    step();
    return read_pixels(renderer, kWindowW, kWindowH);
  }
  // Runs steps until the export has finished; its result message.
  std::string finish_export() {
    testing::internal::CaptureStdout();
    for (int i = 0; i < 3000 && st.export_job && export_job_active(*st.export_job); ++i) {
      step();
      SDL_Delay(2);
    }
    printed = testing::internal::GetCapturedStdout();
    return toast_text();
  }
  std::string printed;
};

// Columns of the strip (x along the track) holding at least `rows` amber pixels.
std::vector<int> strong_columns(const Pixels& p, const SDL_Rect& track, const SDL_Rect& bar, int rows) {
  std::vector<int> columns;
  for (int x = track.x; x < track.x + track.w; ++x) {
    int amber = 0;
    for (int y = bar.y; y < track.y; ++y) amber += amber_strip(p.pixel_at(x, y)) ? 1 : 0;
    if (amber >= rows) columns.push_back(x - track.x);
  }
  return columns;
}

// The strip stands out above the track only where an object moved: one
// column per pixel of the track, amber and full height there, no amber
// anywhere else (night noise, the camera's exposure steps and the key
// pictures every 2 s included), and `n` finds nothing in a quiet recording.
TEST_F(FindAndShare, TheStripRisesOnlyOverTheSecondsOfActivity) {
  const std::string folder = test_temp_dir();
  struct Row {
    const char* name;
    std::vector<std::string> options;  // besides the scene's
    std::vector<std::string> moving;
    double from, to;  // the object's seconds; 0, 0 for none
  } rows[] = {
      {"an object crossing", {}, {"4.3-7.6"}, 4.3, 7.6},
      {"night noise", {"--still", "--noise", "6", "--qp", "30"}, {}, 0, 0},
      {"exposure steps", {"--exposure-step", "3.3", "--exposure-step", "7.1"}, {}, 0, 0},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.name);
    RecordingSpec recipe = scene(25, 12, row.moving);
    recipe.extra_args.insert(recipe.extra_args.end(), row.options.begin(), row.options.end());
    open_in(folder, recipe, "strip" + std::to_string(i) + ".264");
    play_to(0.5);
    press(SDLK_SPACE);
    const Pixels p = window_pixels();
    const OverlayRects r = overlay_rects();
    const SDL_Rect& track = r.seek_track;
    ASSERT_EQ(track.w, 520);
    ASSERT_EQ(static_cast<int>(st.activity.strip.size()), track.w) << "one figure per pixel";
    const auto x_of = [&](double sec) { return static_cast<int>(sec / st.duration * track.w); };
    const std::vector<int> tall = strong_columns(p, track, r.bar, 6);
    // Outside the event (a margin for its edges) no column is activity;
    // weaker change is drawn dim.
    const double margin = 0.5;
    for (int x : strong_columns(p, track, r.bar, 1)) {
      EXPECT_TRUE(row.to > 0 && x >= x_of(row.from - margin) && x <= x_of(row.to + margin))
          << "column " << x << " of " << track.w;
    }
    if (row.to == 0) {
      press(SDLK_n);
      EXPECT_STREQ(toast_text(), "NO MORE ACTIVITY");
      continue;
    }
    ASSERT_FALSE(tall.empty());
    EXPECT_NEAR(tall.front(), x_of(row.from), x_of(margin));
    EXPECT_NEAR(tall.back(), x_of(row.to), x_of(margin));
    EXPECT_GE(static_cast<int>(tall.size()), x_of(row.to) - x_of(row.from) - x_of(1.0)) << "no gaps";
  }
}

// n and Shift+n go to each stretch's start (the key picture before it) and
// no further; a message says when there is nothing more.
TEST_F(FindAndShare, NextAndPreviousActivity) {
  const std::string folder = test_temp_dir();
  open_in(folder, scene(15, 16, {"2.5-5", "10-13.4"}), "20261201_080000.264");
  play_to(0.2);
  press(SDLK_SPACE);
  struct Move {
    const char* what;
    Uint16 mod;
    int lands_on;       // frame; key pictures every 30
    const char* says;
  } moves[] = {
      {"n: the first stretch, from the key picture at 2 s", KMOD_NONE, 30, "ACTIVITY AT 08:00:02"},
      {"n again: the second, not the first once more", KMOD_NONE, 150, "ACTIVITY AT 08:00:10"},
      {"n past the last", KMOD_NONE, 150, "NO MORE ACTIVITY"},
      {"Shift+n: the first", KMOD_LSHIFT, 30, "ACTIVITY AT 08:00:02"},
      {"Shift+n before the first", KMOD_LSHIFT, 30, "NO ACTIVITY BEFORE"},
  };
  for (const Move& m : moves) {
    press(SDLK_n, m.mod);
    EXPECT_STREQ(toast_text(), m.says) << m.what;
    EXPECT_EQ(st.frame_counter, m.lands_on) << m.what;
    step();
  }
}

// Skipping the quiet: the quiet at 8x, the stretch from its start at 1x with
// its sound, then 8x again; the bar's SKIP button switches it.
TEST_F(FindAndShare, SkippingTheQuietPlaysOnlyTheActivityAtNormalSpeed) {
  const std::string folder = test_temp_dir();
  open_in(folder, scene(15, 16, {"6-9"}), "skip.264");
  std::vector<std::pair<double, double>> shown;  // (picture time, speed)
  options.on_picture = [&](PlayerState& s) { shown.emplace_back(frame_time(s, s.shown_frame), s.speed); };
  play_to(0.1);
  push_mouse_motion(480, 300);
  step();
  const SDL_Rect skip = overlay_rects().skip_button_rect;
  push_mouse_button(true, skip.x + 2, skip.y + 2);
  push_mouse_button(false, skip.x + 2, skip.y + 2);
  step();
  EXPECT_TRUE(player_preferences().skip_quiet);
  shown.clear();
  EXPECT_EQ(st.speed, 8.0);
  EXPECT_STREQ(toast_text(), "SKIPPING QUIET - 8x");
  EXPECT_TRUE(overlay_view(st).skip_quiet && !overlay_view(st).skip_watching);
  while (playback_running(st)) step();
  // Every picture of the stretch (from its key picture at 6 s) came at 1x,
  // every picture of the quiet before and after it at 8x.
  int watched = 0;
  for (const auto& [time, speed] : shown) {
    if (time >= 6.0 && time < 8.95) {
      EXPECT_EQ(speed, 1.0) << time;
      ++watched;
    } else if (time < 5.4 || time > 9.5) {
      EXPECT_EQ(speed, 8.0) << time;
    }
  }
  EXPECT_GE(watched, 44);
  // A speed key takes the speed back.
  seek_to_frame(st, 0);
  press(SDLK_DOWN);
  EXPECT_FALSE(player_preferences().skip_quiet);
  EXPECT_STREQ(toast_text(), "SKIP QUIET OFF - 4x");
  // Paused, `k` says so and changes nothing until playing.
  press(SDLK_SPACE);
  press(SDLK_k);
  EXPECT_STREQ(toast_text(), "SKIP QUIET ON");
  EXPECT_EQ(st.speed, 4.0);
  press(SDLK_k);
  EXPECT_STREQ(toast_text(), "SKIP QUIET OFF");
  EXPECT_EQ(st.speed, 1.0);
}

// Marks shown on the track, an export of the marked stretch while the paused
// playback stays where it was, its MP4 beside the recording.
TEST_F(FindAndShare, MarksOnTheTrackAndTheirExport) {
  const std::string folder = test_temp_dir() + "/marks";
  fs::create_directories(folder);
  open_in(folder, scene(25, 12, {"4.3-7.6"}, 1280, 720), "20261201_080000.264");
  press(SDLK_e);
  EXPECT_STREQ(toast_text(), "MARK THE STRETCH WITH [ AND ] FIRST");
  play_to(3.1);
  // The key beside P, whatever it says on a German keyboard (ü).
  SDL_Event german = key_event(0xFC);
  german.key.keysym.scancode = SDL_SCANCODE_LEFTBRACKET;
  SDL_PushEvent(&german);
  step();
  ASSERT_TRUE(stretch_marks().in);
  const double in = stretch_marks().in->time_s;
  EXPECT_EQ(std::string(toast_text()), "IN 08:00:0" + std::to_string(static_cast<int>(in)));
  play_to(7.7);
  press(SDLK_SPACE);
  press(SDLK_RIGHTBRACKET);
  const double out = stretch_marks().out->time_s;
  EXPECT_NEAR(out, 7.7, 0.1);
  const Pixels p = window_pixels();
  const SDL_Rect track = overlay_rects().seek_track;
  const int x_in = track.x + static_cast<int>(in / st.duration * track.w);
  const int x_out = track.x + static_cast<int>(out / st.duration * track.w);
  EXPECT_TRUE(green_mark(p.pixel_at(x_in, overlay_rects().bar.y + 3))) << "the in-point's tick";
  EXPECT_TRUE(red_mark(p.pixel_at(x_out, overlay_rects().bar.y + 3))) << "the out-point's tick";
  EXPECT_TRUE(green_mark(p.pixel_at((x_in + x_out) / 2, track.y + track.h + 1))) << "the band";
  EXPECT_FALSE(green_mark(p.pixel_at(x_out + 10, track.y + track.h + 1)));

  const int paused_on = st.shown_frame;
  press(SDLK_e);
  EXPECT_EQ(std::string(toast_text()).rfind("EXPORTING ", 0), 0u) << toast_text();
  const std::string said = finish_export();
  const std::string name = "20261201_080000_20261201_08000" + std::to_string(static_cast<int>(in)) +
                           "-080007.mp4";
  EXPECT_EQ(said, "SAVED " + name);
  EXPECT_EQ(printed, "Export: " + folder + "/" + name + "\n");
  EXPECT_TRUE(st.paused);
  EXPECT_EQ(st.shown_frame, paused_on) << "the playback stayed where it was";
  // The MP4 starts at the key picture at or before the in-point (every 2 s).
  const std::string mp4 = folder + "/" + name;
  const double key = std::floor(in / 2) * 2;
  EXPECT_NEAR(probe_streams(mp4).duration_ts / 90000.0, out - key, 0.05);
  EXPECT_EQ(decode_errors(mp4), "");
  EXPECT_TRUE(probe_sound(mp4).present);
  // A second export of the same marks gets a name of its own.
  press(SDLK_e);
  EXPECT_EQ(finish_export(), "SAVED " + name.substr(0, name.size() - 4) + "_2.mp4");
  press(SDLK_BACKSPACE);
  EXPECT_FALSE(stretch_marks().in || stretch_marks().out);
  EXPECT_STREQ(toast_text(), "MARKS CLEARED");
}

// A stretch marked from one recording into the next of its folder: the next
// one's track shows it from its start, the MP4 holds both parts in a row.
TEST_F(FindAndShare, AStretchAcrossTwoRecordingsExportsAsOne) {
  const std::string folder = test_temp_dir() + "/across";
  fs::create_directories(folder);
  RecordingSpec second = scene(25, 10, {});
  second.first_ts = 11000;  // the camera's clock runs on into the next file
  const std::string b = make_recording_file(second, folder + "/20261201_080010.264");
  ASSERT_FALSE(b.empty());
  open_in(folder, scene(25, 10, {}), "20261201_080000.264");
  play_to(7.1);
  press(SDLK_LEFTBRACKET);
  press(SDLK_PAGEDOWN);
  ASSERT_TRUE(st.leave);
  EXPECT_EQ(st.next_action, b);
  open_path(b);
  play_to(3.0);
  press(SDLK_SPACE);
  press(SDLK_RIGHTBRACKET);
  const MarkFractions f = marks_on_track(stretch_marks(), st.path, st.duration);
  EXPECT_EQ(f.in, 0.0f) << "the stretch began in the recording before";
  const Pixels p = window_pixels();
  EXPECT_TRUE(green_mark(p.pixel_at(overlay_rects().seek_track.x, overlay_rects().bar.y + 3)));
  press(SDLK_e);
  EXPECT_EQ(finish_export(), "SAVED 20261201_080000_20261201_080007-080013.mp4");
  const std::string mp4 = folder + "/20261201_080000_20261201_080007-080013.mp4";
  // From the key picture at 6 s of the first: 4 s of it, then 3 s of the second.
  const double out = stretch_marks().out->time_s;
  EXPECT_NEAR(probe_streams(mp4).duration_ts / 90000.0, 4.0 + out, 0.05);
  const std::vector<PacketFacts> packets = probe_packets(mp4);
  ASSERT_GE(packets.size(), 100u);
  EXPECT_TRUE(packets[0].key);
  EXPECT_TRUE(packets[100].key) << "the second recording's first picture";
  EXPECT_NEAR(packets[100].pts / 90000.0, 4.0, 0.001) << "right after the first recording's last";
  EXPECT_EQ(decode_errors(mp4), "");
}

// Esc cancels a running export and leaves nothing behind; the playback goes on.
TEST_F(FindAndShare, EscCancelsTheExportInsteadOfLeaving) {
  const std::string folder = test_temp_dir() + "/cancel";
  fs::create_directories(folder);
  open_in(folder, scene(25, 30, {}, 1280, 720), "long.264");
  play_to(0.5);
  press(SDLK_RIGHTBRACKET);  // out-point only: from the start
  stretch_marks().out->time_s = 29.0;
  push_key(SDLK_e);
  push_key(SDLK_ESCAPE);
  testing::internal::CaptureStdout();
  step();
  printed = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(st.leave);
  EXPECT_STREQ(toast_text(), "EXPORT CANCELLED");
  EXPECT_EQ(printed, "Export cancelled\n");
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_EQ(entry.path().extension(), ".264") << entry.path();
  }
  press(SDLK_ESCAPE);
  EXPECT_TRUE(st.leave) << "with no export, Esc leaves";
}

}  // namespace
