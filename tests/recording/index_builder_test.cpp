// The index built batch by batch, as a player takes it while the file is
// walked, ends exactly as the index built in one go: the estimates the first
// batch fixes are settled by the last, which times everything again when
// they were off.
#include <gtest/gtest.h>

#include <vector>

#include "recording/index_builder.h"

namespace {

// A walk written out by hand: each step is a header, a sound block of 160
// samples, or a slice that begins a picture.
struct Step {
  char kind;  // 'H' header, 'S' sound, 'P' picture
  uint32_t ts = 0;
};

struct Walk {
  std::vector<uint8_t> payload;
  std::vector<StreamItem> items;
};

Walk walk_of(const std::vector<Step>& steps) {
  Walk w;
  w.payload.assign(steps.size() * 200 + 16, 0);
  int64_t at = 0;
  for (const Step& s : steps) {
    StreamItem item{};
    item.offset = at;
    item.timestamp = s.ts;
    if (s.kind == 'P') {
      item.kind = StreamItem::unit;
      item.type = 1;
      w.payload[static_cast<size_t>(at)] = 0x41;
      w.payload[static_cast<size_t>(at) + 1] = 0x80;  // first_mb_in_slice 0: a new picture
      item.size = 2;
    } else if (s.kind == 'S') {
      item.kind = StreamItem::sound_block;
      item.size = 160;
    } else {
      item.kind = StreamItem::video_header;
    }
    item.data = w.payload.data() + at + (s.kind == 'S' ? 20 : 0);
    w.items.push_back(item);
    at += 200;
  }
  return w;
}

// The walk taken in batches cut before the given items, merged as a player
// merges them; every batch but the last is taken without completion.
IndexBatch take_in_batches(const Walk& w, const std::vector<size_t>& cuts) {
  IndexBuilder b = start_index_builder(w.payload.data(), static_cast<int64_t>(w.payload.size()));
  IndexBatch all;
  const auto merge = [&all](IndexBatch&& batch) {
    if (batch.retimed) {
      all.frame_times = batch.frame_times;
      all.sound = batch.sound;
    } else {
      all.frame_times.insert(all.frame_times.end(), batch.frame_times.begin(), batch.frame_times.end());
      all.sound.insert(all.sound.end(), batch.sound.begin(), batch.sound.end());
    }
    all.frames.insert(all.frames.end(), batch.frames.begin(), batch.frames.end());
    all.fps = batch.fps;
    all.time_origin = batch.time_origin;
    all.clock_rate = batch.clock_rate;
    all.retimed = all.retimed || batch.retimed;
  };
  for (size_t i = 0; i < w.items.size(); ++i) {
    for (size_t cut : cuts) {
      if (cut == i) merge(take_index_batch(b, false));
    }
    EXPECT_TRUE(add_index_item(b, w.items[i]));
  }
  merge(take_index_batch(b, true));
  return all;
}

std::vector<Step> pictures_at(double fps, int count, uint32_t first_ts, bool headers, bool sound) {
  std::vector<Step> steps;
  for (int k = 0; k < count; ++k) {
    const auto ts = static_cast<uint32_t>(first_ts + k * 1000.0 / fps);
    if (headers) steps.push_back({'H', ts});
    steps.push_back({'P', 0});
    if (sound) steps.push_back({'S', ts});
  }
  return steps;
}

TEST(IndexBuilder, BatchesEndAsTheWholeWalkWhateverTheEstimates) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<size_t> cuts;
    bool retimed;  // the first batch's estimates were off
  };
  // Without headers the sound's span sets the rate: 20 pictures over 2 s
  // of sound, then 20 more over 4 s, so the first batch guesses 10 fps.
  std::vector<Step> slowing = pictures_at(10, 20, 1000, false, true);
  for (int k = 0; k < 20; ++k) {
    slowing.push_back({'P', 0});
    slowing.push_back({'S', static_cast<uint32_t>(3000 + k * 200)});
    slowing.push_back({'S', static_cast<uint32_t>(3100 + k * 200)});
  }
  // Pictures before the first header: the origin moves when the header comes.
  std::vector<Step> late_header = {{'S', 500}, {'P', 0}, {'S', 540}, {'P', 0}};
  const std::vector<Step> rest = pictures_at(25, 30, 600, true, true);
  late_header.insert(late_header.end(), rest.begin(), rest.end());
  const std::vector<Case> cases = {
      {"steady headers", pictures_at(25, 100, 1000, true, true), {1, 30, 31, 200}, false},
      {"one batch", pictures_at(12.5, 40, 1000, true, false), {}, false},
      {"sound span that changes", slowing, {10, 70}, true},
      {"header after the first pictures", late_header, {3, 50}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Walk w = walk_of(c.steps);
    const IndexBatch whole = take_in_batches(w, {});
    const IndexBatch batched = take_in_batches(w, c.cuts);
    EXPECT_EQ(batched.retimed, c.retimed);
    EXPECT_EQ(batched.frames, whole.frames);
    EXPECT_EQ(batched.frame_times, whole.frame_times);
    ASSERT_EQ(batched.sound.size(), whole.sound.size());
    for (size_t k = 0; k < whole.sound.size(); ++k) {
      EXPECT_EQ(batched.sound[k].data, whole.sound[k].data);
      EXPECT_EQ(batched.sound[k].timestamp, whole.sound[k].timestamp) << "block " << k;
    }
    EXPECT_EQ(batched.fps, whole.fps);
    EXPECT_EQ(batched.time_origin, whole.time_origin);
    EXPECT_EQ(batched.clock_rate, whole.clock_rate);
  }
}

// The records point into the mapped payload at the walk's offsets, never at
// the walk's own copy; a stretch handed on in pieces is one stretch.
TEST(IndexBuilder, RecordsPointIntoThePayloadAndStretchesJoinUp) {
  std::vector<uint8_t> mapped(1000, 0), window(1000, 0);
  window[100] = 0x65;
  window[101] = 0x88;
  IndexBuilder b = start_index_builder(mapped.data(), 1000);
  StreamItem unit{StreamItem::unit, window.data() + 100, 50, 5, 0, 100};
  StreamItem sound{StreamItem::sound_block, window.data() + 220, 40, 0, 7, 200};
  ASSERT_TRUE(add_index_item(b, unit));
  ASSERT_TRUE(add_index_item(b, sound));
  ASSERT_TRUE(add_index_item(b, StreamItem{StreamItem::skipped, nullptr, 300, 1, 0, 300}));
  ASSERT_TRUE(add_index_item(b, StreamItem{StreamItem::skipped, nullptr, 200, -1, 0, 600}));
  const IndexBatch first = take_index_batch(b, false);
  ASSERT_EQ(first.units.size(), 1u);
  EXPECT_EQ(first.units[0].data, mapped.data() + 100);
  EXPECT_EQ(first.units[0].type, 5);
  ASSERT_EQ(first.sound.size(), 1u);
  EXPECT_EQ(first.sound[0].data, mapped.data() + 220);
  EXPECT_TRUE(first.skipped.empty()) << "the stretch may go on in the next window";
  EXPECT_EQ(first.indexed_bytes, 800);
  const IndexBatch last = take_index_batch(b, true);
  ASSERT_EQ(last.skipped.size(), 1u);
  EXPECT_EQ(last.skipped[0].offset, 300);
  EXPECT_EQ(last.skipped[0].size, 500);
  EXPECT_NE(last.messages.find("Skipped 500 bytes without a start code at offset 332\n"), std::string::npos);
  EXPECT_TRUE(last.complete);
}

}  // namespace

namespace {

// Before the index is complete the duration is the camera's own span up to
// the last header near the end when it roughly agrees with the indexed part
// scaled to the payload (a clock that jumped would stretch it), else that
// scaling; never less than what is indexed, and exact once complete.
TEST(EstimatedDuration, CameraSpanWhenPlausibleElseBytesNeverLessThanIndexed) {
  struct Case {
    const char* name;
    bool complete;
    bool end_header;
    uint32_t end_ts;
    int64_t indexed_bytes;
    double want;
  };
  // Ten frames at 25 fps indexed (0.4 s with the last interval) out of 100 bytes.
  const Case cases[] = {
      {"complete", true, true, 999999, 10, 0.4},
      {"camera's span", false, true, 1000 + 3960, 10, 4.0},
      {"no header near the end: bytes", false, false, 0, 10, 4.0},
      {"bytes, where the span is far off", false, true, 1000 + 100000, 20, 2.0},
      {"span ahead of the origin only", false, true, 1000 + 2960, 20, 3.0},
      {"never less than indexed", false, false, 0, 100, 0.4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recording r;
    r.length = 100;
    r.time_origin = 1000;
    r.clock_rate = 25;
    for (int k = 0; k < 10; ++k) r.frame_times.push_back(k * 0.04);
    r.index_complete = c.complete;
    r.indexed_bytes = c.indexed_bytes;
    r.has_end_header = c.end_header;
    r.end_header_ts = c.end_ts;
    EXPECT_NEAR(estimated_duration(r), c.want, 1e-9);
  }
}

}  // namespace
