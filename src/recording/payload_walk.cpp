#include "recording/payload_walk.h"

#include <algorithm>
#include <vector>

#include "recording/recording.h"

namespace {

// Bytes before a window's end whose meaning the window cannot settle yet: a
// sound block may run up to 16 + 65535 bytes past its header.
constexpr size_t kWindowGuard = kBlockHeaderSize + 65536 + 64;

struct WindowView {
  const uint8_t* data;
  size_t length;
  int64_t offset;  // payload offset of data[0]
};

// How much of a window is settled: its first `units` units, and the bytes
// before `consumed`, where the next window starts. With `cut`, the unit after
// the settled ones ran past kMaxUnitBytes without an end and is skipped up to
// `consumed`.
struct Settlement {
  size_t units = 0;
  size_t consumed = 0;
  bool cut = false;
};

// True when only camera blocks and zero bytes follow the unit up to `safe`
// (at least three of them): what a camera writes between pictures, so the
// unit is over. Otherwise the next window must tell.
bool followed_by_padding(const WindowView& v, const NalUnit& unit, size_t safe) {
  size_t pos = static_cast<size_t>(unit.data - v.data) + static_cast<size_t>(unit.size);
  if (pos + 3 > safe) return false;
  while (pos < safe) {
    size_t block_size = 0;
    if (v.data[pos] == 0) {
      ++pos;
    } else if (next_camera_block(v.data, v.length, pos, &block_size) == pos) {
      pos += block_size;
    } else {
      return false;
    }
  }
  return true;
}

// True when the unit ends at 00 00 00 inside the settled part: no later byte
// can lengthen it, whatever follows.
bool ends_at_zero_run(const WindowView& v, const NalUnit& unit, size_t safe) {
  const size_t end = static_cast<size_t>(unit.data - v.data) + static_cast<size_t>(unit.size);
  return end + 3 <= safe && v.data[end] == 0 && v.data[end + 1] == 0 && v.data[end + 2] == 0;
}

// A unit is settled when the next unit starts before the window's last
// kWindowGuard bytes, or, as the last one, when nothing after it can change
// its end. An unsettled unit already longer than kMaxUnitBytes is cut.
Settlement settle_units(const WindowView& v, const std::vector<NalUnit>& units) {
  const size_t safe = v.length > kWindowGuard ? v.length - kWindowGuard : 0;
  Settlement s;
  while (s.units < units.size()) {
    const NalUnit& unit = units[s.units];
    const bool has_next = s.units + 1 < units.size();
    const bool settled = has_next ? static_cast<size_t>(units[s.units + 1].data - v.data) <= safe
                                  : followed_by_padding(v, unit, safe) || ends_at_zero_run(v, unit, safe);
    if (!settled) break;
    ++s.units;
  }
  size_t next = safe;  // no unit left: the rest up to `safe` holds no start code
  if (s.units < units.size()) {
    const size_t start = static_cast<size_t>(units[s.units].data - v.data);
    if (safe > start && safe - start > kMaxUnitBytes) {
      s.consumed = safe;
      s.cut = true;
      return s;
    }
    next = start >= 4 ? start - 4 : 0;  // the next window finds its start code again
  }
  if (s.units > 0) {
    const NalUnit& last = units[s.units - 1];
    next = std::max(next, static_cast<size_t>(last.data - v.data) + static_cast<size_t>(last.size));
  }
  s.consumed = next;
  return s;
}

StreamItem skipped_item(size_t size, int type, int64_t offset) {
  return StreamItem{StreamItem::skipped, nullptr, size, type, 0, offset};
}

// Hands the settled part of a window to `visit`, in payload order: first
// `lead_skip` bytes of a stretch that began in an earlier window, then the
// settled units (those past kMaxUnitBytes as skipped stretches), the cut unit
// and the camera blocks before `consumed`. False when visit says stop.
bool visit_window(const WindowView& v, const std::vector<NalUnit>& units,
                  const std::vector<size_t>& blocks, const Settlement& s, size_t lead_skip,
                  const StreamVisitor& visit) {
  if (lead_skip > 0 && !visit(skipped_item(lead_skip, -1, v.offset))) return false;
  size_t next_block = 0;
  auto visit_blocks_before = [&](size_t position) {
    for (; next_block < blocks.size() && blocks[next_block] < position &&
           blocks[next_block] < s.consumed;
         ++next_block) {
      const size_t block = blocks[next_block];
      size_t block_size = 0;
      next_camera_block(v.data, v.length, block, &block_size);
      const uint32_t ts = read_le32(v.data + block + 8);
      const int64_t offset = v.offset + static_cast<int64_t>(block);
      if (v.data[block + 2] == 'V') {
        if (!visit(StreamItem{StreamItem::video_header, nullptr, 0, 0, ts, offset})) return false;
      } else if (block_size > kBlockHeaderSize) {
        const StreamItem sound{StreamItem::sound_block, v.data + block + 20, block_size - 20, 0, ts,
                               offset};
        if (!visit(sound)) return false;
      }
    }
    return true;
  };
  for (size_t i = 0; i < s.units + (s.cut ? 1 : 0); ++i) {
    const NalUnit& u = units[i];
    const size_t start = static_cast<size_t>(u.data - v.data);
    if (!visit_blocks_before(start)) return false;
    const int64_t offset = v.offset + static_cast<int64_t>(start);
    const size_t size = i < s.units ? static_cast<size_t>(u.size) : s.consumed - start;
    const StreamItem item = size > kMaxUnitBytes || i == s.units
                                ? skipped_item(size, u.type, offset)
                                : StreamItem{StreamItem::unit, u.data, size, u.type, 0, offset};
    if (!visit(item)) return false;
  }
  return visit_blocks_before(s.consumed);
}

}  // namespace

WalkEnd walk_payload(PayloadReader& reader, const StreamVisitor& visit,
                     const std::atomic<bool>* cancel, const std::function<void(float)>& progress) {
  bool cancelled = false;
  const StreamVisitor checked = [&](const StreamItem& item) {
    if (cancel && cancel->load(std::memory_order_relaxed)) {
      cancelled = true;
      return false;
    }
    return visit(item);
  };
  bool inside_cut = false;  // the window starts inside a stretch cut in an earlier one
  for (;;) {
    if (cancel && cancel->load()) return WalkEnd::cancelled;
    const WindowView v{window_data(reader), window_length(reader), reader.window_offset};
    const size_t limit_units = unit_limit(v.length);
    std::vector<size_t> blocks;
    const std::vector<NalUnit> units = index_nal_units(v.data, v.length, limit_units, &blocks);
    if (units.size() > limit_units) return WalkEnd::too_many_units;
    Settlement s{units.size(), v.length, false};
    if (!reader.at_end) s = settle_units(v, units);
    size_t lead_skip = 0;
    if (inside_cut) {
      lead_skip = units.empty() ? s.consumed : static_cast<size_t>(units.front().data - v.data);
      inside_cut = units.empty();
    }
    if (!visit_window(v, units, blocks, s, lead_skip, checked)) {
      return cancelled ? WalkEnd::cancelled : WalkEnd::stopped;
    }
    inside_cut = inside_cut || s.cut;
    if (progress && reader.payload_size > 0) {
      const double done = static_cast<double>(reader.window_offset + static_cast<int64_t>(s.consumed)) /
                          static_cast<double>(reader.payload_size);
      if (done > 0) progress(static_cast<float>(std::min(done, 1.0) * 0.999));
    }
    if (reader.at_end) return WalkEnd::finished;
    if (!advance_window(reader, s.consumed)) return WalkEnd::failed;
    if (reader.failed) return WalkEnd::failed;
  }
}
