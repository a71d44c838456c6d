// The file player's loader and every scan of a recording, on arbitrary file
// contents. Besides the sanitizers' checks, the fast start-code and magic
// scans are compared with plain byte-by-byte versions of the same rules,
// every record must point inside the payload, the clock must run forward
// in bounded steps, and the activity found must lie within the recording.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "recording/activity.h"
#include "recording/frame_clock.h"
#include "recording/recording.h"

namespace {

// The start code at s: 3 or 4 bytes, recognised only while s + 3 < length.
size_t start_code_size(const uint8_t* p, size_t length, size_t s) {
  if (s + 3 >= length) return 0;
  if (p[s] == 0 && p[s + 1] == 0 && p[s + 2] == 1) return 3;
  if (p[s] == 0 && p[s + 1] == 0 && p[s + 2] == 0 && p[s + 3] == 1) return 4;
  return 0;
}

struct PlainUnit {
  size_t begin, size;
};

// 16 + L for a valid sound block, 16 for any other magic, 0 without one.
size_t plain_block_length(const uint8_t* p, size_t length, size_t i) {
  if (i + 16 > length) return 0;
  if (std::memcmp(p + i, "HXVF", 4) == 0) return 16;
  if (std::memcmp(p + i, "HXAF", 4) != 0) return 0;
  const uint32_t l = read_le32(p + i + 4);
  return l >= 5 && l <= 65535 && i + 16 + l <= length ? 16 + l : 16;
}

// Bytes inside a block header or a valid sound block, walking blocks as the
// sound scan does (only a valid sound block is passed whole); the
// walked blocks' starts go to *starts.
std::vector<bool> plain_block_bytes(const uint8_t* p, size_t length, std::vector<size_t>* starts) {
  std::vector<bool> inside(length, false);
  for (size_t i = 0; i < length;) {
    const size_t size = plain_block_length(p, length, i);
    if (size == 0) {
      ++i;
      continue;
    }
    starts->push_back(i);
    for (size_t k = i; k < i + size; ++k) inside[k] = true;
    i += size > 16 ? size : 1;
  }
  return inside;
}

size_t plain_start_code(const uint8_t* p, size_t length, const std::vector<bool>& inside, size_t s) {
  const size_t code = start_code_size(p, length, s);
  return code && !inside[s + code - 1] ? code : 0;
}

// Where a unit ends once the walked blocks and zero bytes trailing it are left out.
size_t plain_unit_end(const uint8_t* p, size_t length, const std::vector<size_t>& starts,
                      size_t begin, size_t end) {
  for (size_t h : starts) {
    if (h < begin || h >= end) continue;
    size_t pos = h;
    while (pos < end) {
      const size_t size = plain_block_length(p, length, pos);
      if (size == 0 && p[pos] != 0) break;
      pos += size ? size : 1;
    }
    if (pos >= end) return h;
  }
  return end;
}

std::vector<PlainUnit> plain_unit_scan(const uint8_t* p, size_t length) {
  std::vector<size_t> starts;
  const std::vector<bool> inside = plain_block_bytes(p, length, &starts);
  std::vector<PlainUnit> units;
  size_t s = 0, code = 0;
  while (s < length && (code = plain_start_code(p, length, inside, s)) == 0) ++s;
  while (code != 0) {
    const size_t begin = s + code;
    size_t next = begin, next_code = 0;
    while (next < length && (next_code = plain_start_code(p, length, inside, next)) == 0) ++next;
    size_t end = plain_unit_end(p, length, starts, begin, next_code ? next : length);
    for (size_t z = begin; z + 3 <= end; ++z) {  // 00 00 00 outside the blocks ends a unit
      if (p[z] == 0 && p[z + 1] == 0 && p[z + 2] == 0 && !inside[z]) {
        end = z;
        break;
      }
    }
    if (end > begin && end - begin <= kMaxUnitBytes) units.push_back({begin, end - begin});
    s = next;
    code = next_code;
  }
  return units;
}

size_t plain_find_magic(const uint8_t* p, size_t length, const char* magic, bool last) {
  size_t found = SIZE_MAX;
  for (size_t i = 0; i + 16 <= length; ++i) {
    if (std::memcmp(p + i, magic, 4) != 0) continue;
    found = i;
    if (!last) break;
  }
  return found;
}

void check_units(const Recording& recording) {
  const uint8_t* payload = recording.payload();
  const auto plain = plain_unit_scan(payload, recording.length);
  FUZZ_CHECK(plain.size() == recording.units.size());
  for (size_t k = 0; k < plain.size(); ++k) {
    const NalUnit& unit = recording.units[k];
    FUZZ_CHECK(unit.data == payload + plain[k].begin);
    FUZZ_CHECK(static_cast<size_t>(unit.size) == plain[k].size);
    FUZZ_CHECK(unit.type == (unit.data[0] & 0x1F));
  }
  int64_t previous = -1;
  for (int64_t position : recording.frames) {
    FUZZ_CHECK(position > previous && position < static_cast<int64_t>(recording.units.size()));
    const int type = recording.units[static_cast<size_t>(position)].type;
    FUZZ_CHECK(type == 1 || type == 5);
    previous = position;
  }
  FUZZ_CHECK(recording.fps >= 1.0 && recording.fps <= 120.0);
  FUZZ_CHECK(recording.units.size() <= unit_limit(recording.length));
  // The clock's sound blocks are the sound scan's, in its order.
  const auto blocks = index_audio_blocks(payload, recording.length);
  FUZZ_CHECK(recording.sound.size() == blocks.size());
  for (size_t k = 0; k < blocks.size() && k < recording.sound.size(); ++k) {
    FUZZ_CHECK(recording.sound[k].data == blocks[k].data && recording.sound[k].size == blocks[k].size);
  }
  FUZZ_CHECK(recording.frame_times.size() == recording.frames.size());
  const double longest_step = std::max(kMaxPictureGapS, 1.0 / recording.fps) + 1e-9;
  for (size_t k = 0; k < recording.frame_times.size(); ++k) {
    const double t = recording.frame_times[k];
    FUZZ_CHECK(t >= 0 && t < 1e7);
    if (k > 0) {
      const double step = t - recording.frame_times[k - 1];
      FUZZ_CHECK(step >= 0 && step <= longest_step);
    }
  }
}

void check_audio(const uint8_t* payload, size_t length) {
  const auto blocks = index_audio_blocks(payload, length);
  const uint8_t* previous_end = payload;
  for (const AudioBlock& block : blocks) {
    FUZZ_CHECK(block.size >= 1 && block.size <= 65531);
    FUZZ_CHECK(block.data >= previous_end + 20 && block.data + block.size <= payload + length);
    FUZZ_CHECK(std::memcmp(block.data - 20, "HXAF", 4) == 0);
    FUZZ_CHECK(read_le32(block.data - 16) == static_cast<uint32_t>(block.size) + 4);
    previous_end = block.data + block.size;
  }
  const size_t first = plain_find_magic(payload, length, "HXVF", false);
  FUZZ_CHECK(find_first_hxvf(payload, length) == first);
  FUZZ_CHECK(find_last_hxvf(payload, length) == plain_find_magic(payload, length, "HXVF", true));
  const uint32_t origin = find_time_origin(payload, length, blocks);
  if (first != SIZE_MAX) {
    FUZZ_CHECK(origin == read_le32(payload + first + 8));
  } else {
    FUZZ_CHECK(origin == (blocks.empty() ? 0 : blocks.front().timestamp));
  }
}

// Levels are finite and not negative, one per picture; stretches are in
// order, at least kMinStretchS long, kMergeGapS apart and within the recording.
void check_activity(const Recording& recording) {
  const ActivityProfile profile = measure_activity(recording);
  FUZZ_CHECK(profile.levels.size() == profile.times.size());
  FUZZ_CHECK(profile.times.size() <= recording.frames.size());
  for (float level : profile.levels) FUZZ_CHECK(std::isfinite(level) && level >= 0);
  double end = -kMergeGapS;
  for (const ActivityStretch& s : find_activity_stretches(profile)) {
    FUZZ_CHECK(s.from - end >= kMergeGapS && s.to - s.from >= kMinStretchS);
    FUZZ_CHECK(s.from >= 0 && s.to <= profile.duration + 1e-9);
    end = s.to;
  }
  FUZZ_CHECK(activity_buckets(profile, 7).size() == 7);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_temp_dir() + "/input.264";
  if (!write_whole_file(path, data, size)) std::abort();
  Recording recording;
  const bool loaded = load_recording(path, recording);
  if (size <= 32) FUZZ_CHECK(!loaded);
  if (!loaded) {
    FUZZ_CHECK(recording.units.empty() && recording.frames.empty());
    if (size > 32) {
      // Refused only for want of units or slices.
      const uint8_t* payload = data + 32;
      const auto units = index_nal_units(payload, size - 32);
      FUZZ_CHECK(units.size() == plain_unit_scan(payload, size - 32).size());
      FUZZ_CHECK(build_frame_list(units).empty() || units.size() > unit_limit(size - 32));
      check_audio(payload, size - 32);
    }
    return 0;
  }
  FUZZ_CHECK(recording.length == size - 32);
  FUZZ_CHECK(std::memcmp(recording.payload(), data + 32, recording.length) == 0);
  check_units(recording);
  check_audio(recording.payload(), recording.length);
  check_activity(recording);
  return 0;
}
