#include "recording/index_builder.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "recording/activity.h"
#include "recording/frame_rate.h"

namespace {

void note_extent(IndexBuilder& b, int64_t end) {
  if (end > b.indexed_bytes) b.indexed_bytes = end;
}

// A stretch ends when a unit follows it, or the walk ends; pieces of one
// stretch (the walk hands a long one on window by window) join up.
void close_stretch(IndexBuilder& b, IndexBatch& into) {
  if (!b.stretch_open) return;
  into.skipped.push_back(b.stretch);
  into.messages += skipped_stretch_message(b.stretch);
  b.stretch_open = false;
}

void add_skipped(IndexBuilder& b, const StreamItem& item) {
  const auto size = static_cast<int64_t>(item.size);
  if (b.stretch_open && b.stretch.offset + b.stretch.size == item.offset) {
    b.stretch.size += size;
    return;
  }
  close_stretch(b, b.pending);
  b.stretch = {item.offset, size};
  b.stretch_open = true;
}

bool fail_with(IndexBuilder& b, LoadStatus status) {
  b.failure = status;
  return false;
}

bool add_unit(IndexBuilder& b, const StreamItem& item) {
  close_stretch(b, b.pending);
  if (static_cast<uint64_t>(b.unit_count) + 1 > unit_limit(static_cast<size_t>(b.length))) {
    return fail_with(b, LoadStatus::too_many_units);
  }
  const bool slice = item.type == 1 || item.type == 5;
  if (slice && b.frame_count >= INT_MAX) return fail_with(b, LoadStatus::too_many_units);
  b.pending.units.push_back(NalUnit{b.payload + item.offset, static_cast<int32_t>(item.size),
                                    static_cast<int32_t>(item.type)});
  if (slice) {
    // The walk's own copy of the bytes: the mapped ones are not touched here.
    const NalUnit seen{item.data, static_cast<int32_t>(item.size), static_cast<int32_t>(item.type)};
    ClockFrame frame;
    frame.starts_picture = b.frame_count == 0 || starts_picture(seen);
    if (frame.starts_picture) {
      frame.has_header = b.header_pending;
      frame.header_ts = b.pending_header_ts;
      b.header_pending = false;
      ++b.pictures;
    }
    b.frame_log.push_back(frame);
    b.pending.frames.push_back(b.unit_count);
    b.pending.frame_kinds.push_back(static_cast<uint8_t>((frame.starts_picture ? kFrameStartsPicture : 0) |
                                                         (is_intra_slice(seen) ? kFrameIntra : 0)));
    ++b.frame_count;
  }
  ++b.unit_count;
  return true;
}

void add_header(IndexBuilder& b, uint32_t timestamp) {
  if (!b.any_header) b.first_header_ts = timestamp;
  b.any_header = true;
  b.last_header_ts = timestamp;
  b.header_pending = true;
  b.pending_header_ts = timestamp;
}

void add_sound(IndexBuilder& b, const StreamItem& item) {
  if (!b.any_sound) b.first_sound_ts = item.timestamp;
  b.any_sound = true;
  b.last_sound_ts = item.timestamp;
  b.last_sound_samples = static_cast<int64_t>(item.size);
  const AudioBlock block{b.payload + item.offset + 20, static_cast<int32_t>(item.size), item.timestamp};
  b.sound_log.push_back(ClockSound{block, b.frame_count});
}

// Each sound block is placed where the clock stands after the frames before
// it; each picture takes its header's timestamp, or the rate's spacing.
void time_logged_work(IndexBuilder& b, IndexBatch& out) {
  for (;;) {
    if (b.timed_sounds < b.sound_log.size() &&
        b.sound_log[b.timed_sounds].frames_before <= static_cast<int64_t>(b.timed_frames)) {
      const AudioBlock& block = b.sound_log[b.timed_sounds++].block;
      const double at = clock_time_of(b.clock, block.timestamp);
      const auto moved = static_cast<uint32_t>(
          b.timing.origin + static_cast<uint32_t>(static_cast<int64_t>(std::llround(at * 1000.0))));
      out.sound.push_back({block.data, block.size, moved});
      continue;
    }
    if (b.timed_frames >= b.frame_log.size()) break;
    const ClockFrame& frame = b.frame_log[b.timed_frames++];
    if (frame.starts_picture) {
      if (frame.has_header) note_video_header(b.clock, frame.header_ts);
      b.last_time = next_picture_time(b.clock);
    }
    out.frame_times.push_back(b.last_time);
  }
}

void note_handed_on(IndexBuilder& b, const IndexBatch& out) {
  b.handed_times.insert(b.handed_times.end(), out.frame_times.begin(), out.frame_times.end());
  for (const AudioBlock& block : out.sound) b.handed_sound_ts.push_back(block.timestamp);
}

// After timing everything again into `out` (which held only new work
// before): when the times handed on earlier came out the same, `out` keeps
// only the new ones; otherwise it is `retimed` and holds them all.
void hand_on_only_what_changed(IndexBuilder& b, IndexBatch& out) {
  const size_t frames = b.handed_times.size(), blocks = b.handed_sound_ts.size();
  bool same = std::equal(b.handed_times.begin(), b.handed_times.end(), out.frame_times.begin());
  for (size_t k = 0; same && k < blocks; ++k) same = out.sound[k].timestamp == b.handed_sound_ts[k];
  if (!same) {
    out.retimed = true;
    b.handed_times.clear();
    b.handed_sound_ts.clear();
    note_handed_on(b, out);
    return;
  }
  out.frame_times.erase(out.frame_times.begin(), out.frame_times.begin() + static_cast<long>(frames));
  out.sound.erase(out.sound.begin(), out.sound.begin() + static_cast<long>(blocks));
}

void fix_timing(IndexBuilder& b, const ClockParameters& parameters) {
  b.timing = parameters;
  b.timing_fixed = true;
  b.clock = start_frame_clock(parameters.origin, parameters.fallback_rate);
  b.timed_frames = b.timed_sounds = 0;
  b.last_time = 0;
}

// The line the estimate of the whole file gets, as the loader prints it.
std::string rate_line(const IndexBuilder& b) {
  double duration = 0;
  if (b.any_header) {
    const double rate = rate_from_span(b.pictures, b.first_header_ts, b.last_header_ts, &duration);
    return frame_rate_line(rate, duration, false);
  }
  if (!b.any_sound) return "";
  const double rate = rate_from_sound_span(b.pictures, b.first_sound_ts, b.last_sound_ts,
                                           b.last_sound_samples, &duration);
  return frame_rate_line(rate, duration, true);
}

}  // namespace

IndexBuilder start_index_builder(const uint8_t* payload, int64_t length) {
  IndexBuilder b;
  b.payload = payload;
  b.length = length;
  return b;
}

bool add_index_item(IndexBuilder& b, const StreamItem& item) {
  if (b.failure != LoadStatus::ok) return false;
  switch (item.kind) {
    case StreamItem::unit:
      note_extent(b, item.offset + static_cast<int64_t>(item.size));
      return add_unit(b, item);
    case StreamItem::video_header:
      note_extent(b, item.offset + static_cast<int64_t>(kBlockHeaderSize));
      add_header(b, item.timestamp);
      return true;
    case StreamItem::sound_block:
      note_extent(b, item.offset + 20 + static_cast<int64_t>(item.size));
      add_sound(b, item);
      return true;
    case StreamItem::skipped:
      note_extent(b, item.offset + static_cast<int64_t>(item.size));
      add_skipped(b, item);
      return true;
  }
  return true;
}

ClockParameters estimate_clock_parameters(const IndexBuilder& b) {
  ClockParameters p;
  p.origin = b.any_header ? b.first_header_ts : (b.any_sound ? b.first_sound_ts : 0);
  double rate = 0;
  if (b.any_header) {
    rate = rate_from_span(b.pictures, b.first_header_ts, b.last_header_ts, nullptr);
  } else if (b.any_sound) {
    rate = rate_from_sound_span(b.pictures, b.first_sound_ts, b.last_sound_ts,
                                b.last_sound_samples, nullptr);
  }
  p.fallback_rate = rate > 0 ? rate : kDefaultFrameRate;
  return p;
}

IndexBatch take_index_batch(IndexBuilder& b, bool complete, LoadStatus end) {
  IndexBatch out = std::move(b.pending);
  b.pending = IndexBatch{};
  if (complete) {
    close_stretch(b, out);
    const ClockParameters settled = estimate_clock_parameters(b);
    const bool estimates_off = b.timing_fixed && !(settled == b.timing);
    if (!b.timing_fixed || estimates_off) fix_timing(b, settled);
    if (estimates_off) {
      time_logged_work(b, out);  // every frame and block again
      hand_on_only_what_changed(b, out);
    }
    out.messages += rate_line(b);
    out.status = b.failure != LoadStatus::ok ? b.failure : end;
  } else if (!b.timing_fixed && b.frame_count > 0) {
    fix_timing(b, estimate_clock_parameters(b));
  }
  if (b.timing_fixed) time_logged_work(b, out);
  if (!out.retimed) note_handed_on(b, out);
  out.indexed_bytes = b.indexed_bytes;
  out.time_origin = b.timing.origin;
  out.fps = b.timing_fixed ? b.timing.fallback_rate : kDefaultFrameRate;
  out.clock_rate = clock_rate(b.clock);
  out.complete = complete;
  return out;
}
