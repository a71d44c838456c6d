// The conversion screen's frames, drawn on a headless software renderer and
// read back pixel by pixel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ui/batch_screen.h"
#include "draw/text.h"
#include "headless_sdl.h"

namespace {

constexpr Uint8 kBackground[3] = {20, 20, 30};

std::string text_of(const SDL_Rect& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.w) + "x" +
         std::to_string(r.h);
}
const std::string kNone = "0,0 0x0";

bool is_background(const Pixels& p, int x, int y) {
  return p.is(x, y, kBackground[0], kBackground[1], kBackground[2]);
}

// The text is centred on the window when its lit pixels sit around the middle
// (glyph cells may leave up to one blank column per side).
void expect_centred(const SDL_Rect& text, int w, int scale) {
  ASSERT_GT(text.w, 0);
  const int middle_twice = 2 * text.x + text.w;
  EXPECT_LE(std::abs(middle_twice - w), 2 * scale) << text.x << "+" << text.w;
}

struct Canvas : ::testing::Test {
  void SetUp() override {
    canvas = make_headless_canvas(960, 600);
    ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
  }
  HeadlessCanvas canvas;
};

TEST_F(Canvas, HalfwayFrameHasTrackFillAndCentredTexts) {
  SDL_Renderer* r = canvas.renderer.get();
  draw_conversion_frame(r, 960, 600, 0, 3, 0.5f);
  const Pixels p = read_pixels(r, 960, 600);
  ASSERT_FALSE(p.rgba.empty());
  // Track 640 wide at x = 160, rows 290..309; its left half filled.
  EXPECT_EQ(text_of(p.bounds_of(60, 60, 80)), "480,290 320x20");
  EXPECT_EQ(text_of(p.bounds_of(50, 150, 255)), "160,290 320x20");
  EXPECT_TRUE(is_background(p, 159, 300));
  EXPECT_TRUE(is_background(p, 800, 300));
  EXPECT_TRUE(is_background(p, 400, 289));
  EXPECT_TRUE(is_background(p, 400, 310));
  // Counter "1/3" at scale 3 from y = 240; percentage "50" at scale 2 from y = 320,
  // drawn as opaque white when the renderer does not blend.
  const SDL_Rect counter = p.bounds_of(200, 200, 200);
  EXPECT_EQ(counter.y, 240);
  EXPECT_LE(counter.h, text_height(3));
  expect_centred(counter, 960, 3);
  const SDL_Rect percent = p.bounds_of(255, 255, 255);
  EXPECT_EQ(percent.y, 320);
  EXPECT_LE(percent.h, text_height(2));
  expect_centred(percent, 960, 2);
}

TEST_F(Canvas, GeometryFollowsTheWindowSizeAndProgress) {
  SDL_Renderer* r = canvas.renderer.get();
  struct Row {
    int w, h;
    float progress;
    const char* track;  // the part of the track left unfilled
    const char* fill;
  };
  const Row rows[] = {
      {960, 600, 0.0f, "160,290 640x20", "0,0 0x0"},
      {960, 600, 0.001f, "160,290 640x20", "0,0 0x0"},  // 0.64 px truncates to no fill
      {960, 600, 1.0f, "0,0 0x0", "160,290 640x20"},
      {961, 601, 0.25f, "320,290 480x20", "160,290 160x20"},  // B = 1922 / 3 = 640
      {800, 500, 0.999f, "665,240 1x20", "133,240 532x20"},   // B = 533, 532.47 truncated
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.w) + " " + std::to_string(row.progress));
    clear_canvas(r, 0, 0, 0);
    draw_conversion_frame(r, row.w, row.h, 1, 2, row.progress);
    const Pixels p = read_pixels(r, 960, 600);
    EXPECT_EQ(text_of(p.bounds_of(60, 60, 80)), row.track);
    EXPECT_EQ(text_of(p.bounds_of(50, 150, 255)), row.fill);
  }
}

TEST_F(Canvas, OutcomeFrameShowsOkInGreenOrErInRed) {
  SDL_Renderer* r = canvas.renderer.get();
  draw_outcome_frame(r, 960, 600, true);
  Pixels p = read_pixels(r, 960, 600);
  const SDL_Rect ok = p.bounds_of(100, 255, 100);
  EXPECT_EQ(ok.y, 290);
  EXPECT_LE(ok.h, text_height(4));
  expect_centred(ok, 960, 4);
  EXPECT_EQ(text_of(p.bounds_of(255, 60, 100)), kNone);
  EXPECT_TRUE(is_background(p, 0, 0));

  draw_outcome_frame(r, 960, 600, false);
  p = read_pixels(r, 960, 600);
  const SDL_Rect er = p.bounds_of(255, 60, 100);
  EXPECT_EQ(er.y, 290);
  expect_centred(er, 960, 4);
  EXPECT_EQ(text_of(p.bounds_of(100, 255, 100)), kNone);
}

}  // namespace

TEST(BatchRowText, NamesEachFileWithItsState) {
  const struct {
    BatchRow row;
    const char* text;
  } rows[] = {
      {{"cam1.264", RowState::waiting, 0, "", ""}, "cam1.264  WAITING"},
      {{"cam1.264", RowState::converting, 0.427f, "", ""}, "cam1.264  42%"},
      {{"cam1.264", RowState::succeeded, 1, "", ""}, "cam1.264  OK"},
      {{"cam1.264", RowState::succeeded, 1, "", "replaced the existing file"},
       "cam1.264  OK (replaced the existing file)"},
      {{"cam1.264", RowState::failed, 1, "out of memory", ""}, "cam1.264  ER: out of memory"},
      {{"cam1.264", RowState::cancelled, 1, "cancelled", ""}, "cam1.264  CANCELLED"},
  };
  for (const auto& r : rows) EXPECT_EQ(batch_row_text(r.row), r.text);
}

TEST(BatchResults, SummaryCountsEachOutcome) {
  const struct {
    std::vector<RowState> states;
    const char* text;
  } cases[] = {
      {{RowState::succeeded, RowState::succeeded}, "2 CONVERTED"},
      {{RowState::failed}, "0 CONVERTED  1 FAILED"},
      {{RowState::succeeded, RowState::cancelled, RowState::failed, RowState::cancelled},
       "1 CONVERTED  1 FAILED  2 CANCELLED"},
      {{RowState::cancelled}, "0 CONVERTED  1 CANCELLED"},
  };
  for (const auto& c : cases) {
    std::vector<BatchRow> rows;
    for (RowState state : c.states) rows.push_back({"x.264", state, 1, ""});
    EXPECT_EQ(batch_summary_text(summarize_rows(rows)), c.text);
  }
}

TEST(BatchResults, PlaceOfTheMp4s) {
  using Paths = std::vector<std::string>;
  EXPECT_EQ(output_place_text({}), "NO MP4 FILE WAS WRITTEN");
  EXPECT_EQ(output_place_text(Paths{"/rec/a.mp4", "/rec/b.mp4"}), "MP4 FILES ARE IN /rec/");
  EXPECT_EQ(output_place_text(Paths{"D:\\rec 日本\\a.mp4"}), "MP4 FILES ARE IN D:\\rec 日本\\");
  EXPECT_EQ(output_place_text(Paths{"/rec/a.mp4", "/other/b.mp4"}),
            "MP4 FILES ARE BESIDE THEIR RECORDINGS");
  const std::string working = output_place_text(Paths{"a.mp4"});
  EXPECT_EQ(working.rfind("MP4 FILES ARE IN ", 0), 0u);
  EXPECT_GT(working.size(), std::string("MP4 FILES ARE IN ").size()) << "the working folder named";
}

TEST(BatchResults, LongTextIsCutFromTheLeftAtACharacterStart) {
  const std::string folder = "MP4 FILES ARE IN /home/user/recordings/camera 日本/2024/";
  EXPECT_EQ(fit_from_left(folder, 10000, 2), folder);
  for (const int width : {300, 200, 101, 60}) {
    const std::string cut = fit_from_left(folder, width, 2);
    SCOPED_TRACE(cut);
    EXPECT_LE(text_width(cut.c_str(), 2), width);
    EXPECT_EQ(cut.rfind("...", 0), 0u);
    const std::string kept = cut.substr(3);
    EXPECT_EQ(folder.compare(folder.size() - kept.size(), kept.size(), kept), 0) << "the end kept";
    EXPECT_NE(static_cast<unsigned char>(kept.front()) & 0xC0, 0x80) << "not inside a character";
  }
}

TEST_F(Canvas, ResultsListTheRowsThenCountsPlaceAndHowToGoOn) {
  SDL_Renderer* r = canvas.renderer.get();
  const std::vector<BatchRow> rows = {{"a.264", RowState::succeeded, 1, ""},
                                      {"b.264", RowState::cancelled, 1, "cancelled"}};
  draw_outcome_frame(r, 960, 600, true);
  draw_batch_results(r, 960, 600, rows, "MP4 FILES ARE IN /REC/");
  const Pixels p = read_pixels(r, 960, 600);
  EXPECT_EQ(p.bounds_of(100, 255, 100).y, 12) << "the succeeded row at the top";
  EXPECT_EQ(p.bounds_of(240, 190, 70).y, 34) << "the cancelled one below it";
  const SDL_Rect notes = p.bounds_of(220, 220, 230);
  EXPECT_EQ(notes.y, 330);
  EXPECT_EQ(notes.y + notes.h, 370);
  expect_centred(notes, 960, 2);
  const SDL_Rect hint = p.bounds_of(130, 130, 140);
  EXPECT_EQ(hint.y, 576);
  expect_centred(hint, 960, 2);
}
