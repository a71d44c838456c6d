#include "recording/recording.h"

#include <cstdio>
#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "platform/files.h"
#include "platform/mapped_file.h"

namespace {

constexpr uint8_t kHxvf[4] = {'H', 'X', 'V', 'F'};
constexpr uint8_t kHxaf[4] = {'H', 'X', 'A', 'F'};

// Where a start code whose 0x01 byte sits at q begins, if it is one that may
// begin at or after `from`; SIZE_MAX otherwise. Scanning byte by byte tests the
// four-byte form at q - 3 before the three-byte form at q - 2, so that order wins.
size_t start_code_ending_at(const uint8_t* p, size_t length, size_t from, size_t q) {
  if (q < from + 2 || p[q - 1] != 0 || p[q - 2] != 0) return SIZE_MAX;
  if (q >= from + 3 && p[q - 3] == 0) return q - 3;  // 00 00 00 01; s + 3 = q < length
  return q + 1 < length ? q - 2 : SIZE_MAX;          // 00 00 01 needs s + 3 < length
}

// First position i >= from with the 4-byte magic at i and i + 16 <= length.
size_t find_magic(const uint8_t* p, size_t length, size_t from, const uint8_t magic[4]) {
  if (length < kBlockHeaderSize) return SIZE_MAX;
  const size_t last = length - kBlockHeaderSize;  // inclusive
  size_t i = from;
  while (i <= last) {
    const void* hit = std::memchr(p + i, magic[0], last - i + 1);
    if (!hit) return SIZE_MAX;
    i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
    if (std::memcmp(p + i, magic, 4) == 0) return i;
    ++i;
  }
  return SIZE_MAX;
}

// Length of the camera block at i: 16 + L for a valid "HXAF" block, 16 for an
// "HXVF" header or a malformed "HXAF" one; 0 when no magic starts at i.
size_t block_length_at(const uint8_t* p, size_t length, size_t i) {
  if (i + kBlockHeaderSize > length) return 0;
  if (std::memcmp(p + i, kHxvf, 4) == 0) return kBlockHeaderSize;
  if (std::memcmp(p + i, kHxaf, 4) != 0) return 0;
  const uint32_t l = read_le32(p + i + 4);
  const bool valid = l >= 5 && l <= 65535 && l <= length - i - kBlockHeaderSize;
  return valid ? kBlockHeaderSize + l : kBlockHeaderSize;
}

// Next position in [from, limit) holding "HXVF" or "HXAF" with room for a
// header, or SIZE_MAX.
size_t find_block(const uint8_t* p, size_t length, size_t from, size_t limit = SIZE_MAX) {
  if (length < kBlockHeaderSize) return SIZE_MAX;
  const size_t last = std::min(length - kBlockHeaderSize, limit - 1);
  if (limit == 0) return SIZE_MAX;
  for (size_t i = from; i <= last;) {
    const void* hit = std::memchr(p + i, 'H', last - i + 1);
    if (!hit) return SIZE_MAX;
    i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
    if (p[i + 1] == 'X' && (p[i + 2] == 'V' || p[i + 2] == 'A') && p[i + 3] == 'F') return i;
    ++i;
  }
  return SIZE_MAX;
}

// Walks the camera's blocks in payload order, for positions asked in rising
// order: is a byte inside a block header or a valid sound block? Bytes there
// may read 00 00 01 (a timestamp's low byte, loud A-law sound) without being
// a start code.
struct BlockCursor {
  size_t start = 0, end = 0;  // the current block, [start, end)
  size_t search_from = 0;
  bool exhausted = false;
  std::vector<size_t> seen;  // starts of the blocks met since the caller last cleared it
  std::vector<size_t>* all = nullptr;  // when set, every block's start, in order
};

// True when q lies inside a block; *resume is then the block's end.
bool inside_block(const uint8_t* p, size_t length, BlockCursor& c, size_t q, size_t* resume) {
  while (!c.exhausted) {
    if (c.end > c.start && q < c.start) return false;
    if (c.end > c.start && q < c.end) {
      *resume = c.end;
      return true;
    }
    const size_t next = find_block(p, length, c.search_from);
    if (next == SIZE_MAX) {
      c.exhausted = true;
      break;
    }
    const size_t size = block_length_at(p, length, next);
    const bool valid_sound = size > kBlockHeaderSize;
    c.start = next;
    c.end = next + size;
    c.seen.push_back(next);
    if (c.all) c.all->push_back(next);
    // Only a valid sound block hides what lies inside it, as the sound scan
    // sees it; a header may hold a block that starts within its 16 bytes.
    c.search_from = valid_sound ? c.end : next + 1;
  }
  return false;
}

// First real start code at or after `from`: its position, and via *code_size
// its length (3 or 4). SIZE_MAX when there is none. Driven by memchr over 0x01
// bytes, which are rare in coded video, so the scan runs near memory speed.
size_t find_start_code(const uint8_t* p, size_t length, size_t from, size_t* code_size,
                       BlockCursor& blocks) {
  size_t q = from + 2;
  while (q < length) {
    const void* hit = std::memchr(p + q, 0x01, length - q);
    if (!hit) return SIZE_MAX;
    q = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
    size_t s = start_code_ending_at(p, length, from, q);
    size_t resume = 0;
    if (s != SIZE_MAX && inside_block(p, length, blocks, q, &resume)) {
      q = resume;
      continue;
    }
    if (s != SIZE_MAX) {
      *code_size = q + 1 - s;
      return s;
    }
    ++q;
  }
  return SIZE_MAX;
}

// Block positions in [begin, end) from which a walk failed, so that a run of
// many headers is walked once, not once from each of its headers. Made at
// the first failure: most units never need it.
struct FailedWalks {
  size_t begin = 0;
  std::vector<bool> at;
  bool contains(size_t pos) const { return !at.empty() && at[pos - begin]; }
  void add(const std::vector<size_t>& path, size_t end) {
    if (at.empty()) at.assign(end - begin, false);
    for (size_t pos : path) at[pos - begin] = true;
  }
};

// True when only camera blocks and zero bytes lie between `from` and `end`.
bool only_blocks_and_zeros(const uint8_t* p, size_t length, size_t from, size_t end,
                           FailedWalks& failed) {
  std::vector<size_t> path;  // blocks walked from `from`
  size_t pos = from;
  while (pos < end) {
    const size_t size = block_length_at(p, length, pos);
    if (size > 0) {
      if (failed.contains(pos)) break;
      path.push_back(pos);
      pos += size;
    } else if (p[pos] == 0) {
      ++pos;
    } else {
      break;
    }
  }
  if (pos >= end) return true;
  failed.add(path, end);
  return false;
}

// Where the unit [begin, end) really ends: at the first of the blocks the
// cursor met in it from which only blocks and zero bytes run to `end` (the
// headers and sound the camera put between two units). A magic inside coded
// data followed by more data is left alone. When the cursor has not reached
// `end` (the last unit), it is walked there first. Linear in the unit's size.
size_t end_before_trailing_blocks(const uint8_t* p, size_t length, size_t begin, size_t end,
                                  BlockCursor& blocks) {
  size_t ignored = 0;
  if (end >= length && length > 0) inside_block(p, length, blocks, length - 1, &ignored);
  FailedWalks failed;
  failed.begin = begin;
  for (size_t h : blocks.seen) {
    if (h < begin || h >= end) continue;
    if (only_blocks_and_zeros(p, length, h, end, failed)) return h;
  }
  return end;
}

}  // namespace

uint32_t read_le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

size_t unit_limit(size_t length) { return std::max<size_t>(4096, length / 16); }

size_t next_camera_block(const uint8_t* payload, size_t length, size_t from, size_t* block_size) {
  const size_t at = find_block(payload, length, from);
  *block_size = at == SIZE_MAX ? 0 : block_length_at(payload, length, at);
  return at;
}

namespace {

// Where 00 00 00 first starts in [begin, end), or `end`. A unit cannot hold
// those bytes (the byte stream ends a unit at 00 00 00 as at 00 00 01), so
// what follows them up to the next start code is padding, not the unit's.
size_t end_at_zero_run(const uint8_t* p, size_t begin, size_t end) {
  size_t i = begin;
#ifdef __SSE2__
  // Sixteen bytes at a time: a mask bit per zero byte, with the last two
  // bits of the previous load in front, so a run across two loads is seen.
  const __m128i zero = _mm_setzero_si128();
  uint32_t carry = 0;
  for (; i + 16 <= end; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
    const uint32_t bits = mask << 2 | carry;  // bit k: byte i - 2 + k
    const uint32_t runs = bits & bits >> 1 & bits >> 2;
    if (runs != 0) return i - 2 + static_cast<size_t>(__builtin_ctz(runs));
    carry = mask >> 14;
  }
  i = i >= begin + 2 ? i - 2 : begin;  // the carried bytes are looked at again
#else
  // Eight bytes at a time, six apart so every run of three lies whole in one
  // load: a set top bit marks each zero byte, three in a row mark a run.
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  for (; i + 8 <= end; i += 6) {
    uint64_t v;
    std::memcpy(&v, p + i, 8);
    const uint64_t zeros = ~(((v & kLow7) + kLow7) | v | kLow7);
    if (zeros & (zeros >> 8) & (zeros >> 16)) break;
  }
#endif
  for (; i + 3 <= end; ++i) {
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 0) return i;
  }
  return end;
}

// Where 00 00 00 first starts in [begin, end) outside the camera's blocks met
// in the unit, or `end`. The zeros of a header's fields are the camera's, not
// padding: a unit with a header inside it, or one followed by sound blocks
// and then by something other than a start code, does not end there.
size_t end_at_zero_run_outside_blocks(const uint8_t* p, size_t length, size_t begin, size_t end,
                                      const std::vector<size_t>& blocks) {
  size_t from = begin;
  for (size_t h : blocks) {
    if (h >= end) break;
    const size_t block_end = h + block_length_at(p, length, h);
    if (block_end <= from) continue;
    if (h > from) {
      const size_t zeros = end_at_zero_run(p, from, h);
      if (zeros < h) return zeros;
    }
    from = std::max(from, block_end);
    if (from >= end) return end;
  }
  return end_at_zero_run(p, from, end);
}

}  // namespace

std::vector<NalUnit> index_nal_units(const uint8_t* payload, size_t length, size_t max_units,
                                     std::vector<size_t>* block_starts) {
  std::vector<NalUnit> units;
  BlockCursor blocks;
  blocks.all = block_starts;
  size_t code_size = 0;
  size_t s = find_start_code(payload, length, 0, &code_size, blocks);
  while (s != SIZE_MAX) {
    const size_t begin = s + code_size;
    size_t next_size = 0;
    // Keep only the current block: it may lie in this unit.
    if (!blocks.seen.empty()) blocks.seen.erase(blocks.seen.begin(), blocks.seen.end() - 1);
    const size_t next = find_start_code(payload, length, begin, &next_size, blocks);
    const size_t end = end_at_zero_run_outside_blocks(
        payload, length, begin,
        end_before_trailing_blocks(payload, length, begin, next == SIZE_MAX ? length : next,
                                   blocks),
        blocks.seen);
    if (end > begin) {
      // A unit too long for a 32-bit count is far past kMaxUnitBytes
      // anyway: its size saturates and it is left out as oversized.
      const size_t size = std::min<size_t>(end - begin, INT32_MAX);
      units.push_back({payload + begin, static_cast<int32_t>(size),
                       static_cast<int32_t>(payload[begin] & 0x1F)});
      if (units.size() > max_units) break;
    }
    s = next;
    code_size = next_size;
  }
  if (block_starts && units.size() <= max_units) {
    size_t ignored = 0;  // the blocks after the last start code
    if (length > 0) inside_block(payload, length, blocks, length - 1, &ignored);
  }
  return units;
}

std::vector<AudioBlock> index_audio_blocks(const uint8_t* payload, size_t length) {
  std::vector<AudioBlock> blocks;
  size_t i = 0;
  while ((i = find_magic(payload, length, i, kHxaf)) != SIZE_MAX) {
    const uint32_t block_length = read_le32(payload + i + 4);
    const bool valid = block_length >= 5 && block_length <= 65535 &&
                       block_length <= length - i - kBlockHeaderSize;
    if (!valid) {
      ++i;
      continue;
    }
    blocks.push_back({payload + i + 20, static_cast<int32_t>(block_length - 4),
                      read_le32(payload + i + 8)});
    i += kBlockHeaderSize + block_length;
  }
  return blocks;
}

std::vector<int64_t> build_frame_list(const std::vector<NalUnit>& units) {
  std::vector<int64_t> frames;
  for (size_t k = 0; k < units.size(); ++k) {
    if (units[k].type == 1 || units[k].type == 5) frames.push_back(static_cast<int64_t>(k));
  }
  return frames;
}

bool has_split_pictures(const std::vector<NalUnit>& units) {
  for (const NalUnit& unit : units) {
    if ((unit.type == 1 || unit.type == 5) && unit.size >= 2 && (unit.data[1] & 0x80) == 0) {
      return true;
    }
  }
  return false;
}

size_t find_first_hxvf(const uint8_t* payload, size_t length) {
  return find_magic(payload, length, 0, kHxvf);
}

size_t find_last_hxvf(const uint8_t* payload, size_t length) {
  if (length < kBlockHeaderSize) return SIZE_MAX;
  size_t end = length - kBlockHeaderSize + 1;  // candidates are [0, end)
  while (end > 0) {
#ifdef __GLIBC__
    const void* hit = memrchr(payload, 'H', end);
    if (!hit) return SIZE_MAX;
    const size_t i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - payload);
#else
    size_t i = end - 1;
    while (payload[i] != 'H' && i > 0) --i;
    if (payload[i] != 'H') return SIZE_MAX;
#endif
    if (std::memcmp(payload + i, kHxvf, 4) == 0) return i;
    end = i;
  }
  return SIZE_MAX;
}

uint32_t find_time_origin(const uint8_t* payload, size_t length,
                          const std::vector<AudioBlock>& audio_blocks) {
  const size_t first = find_first_hxvf(payload, length);
  if (first != SIZE_MAX) return read_le32(payload + first + 8);
  return audio_blocks.empty() ? 0 : audio_blocks.front().timestamp;
}

const uint8_t* Recording::payload() const {
  return file ? file->data + kFileHeaderSize : nullptr;
}

LoadStatus read_recording_payload(const std::string& path, Recording& out) {
  FILE* handle = open_file(path, "rb");
  if (!handle) return LoadStatus::cannot_open;
  // 64-bit on every platform (mingw's off_t is 32 bits): no size wraps.
  const int64_t size = open_file_size(handle);
  if (size < 0) {
    std::fclose(handle);
    return LoadStatus::cannot_open;
  }
  if (size <= static_cast<int64_t>(kFileHeaderSize)) {
    std::fclose(handle);
    return LoadStatus::too_small;
  }
  std::shared_ptr<const MappedFile> mapped = map_open_file(handle);
  std::fclose(handle);
  if (!mapped) return LoadStatus::cannot_map;
  out.file = std::move(mapped);
  out.length = static_cast<size_t>(size) - kFileHeaderSize;
  return LoadStatus::ok;
}

std::string load_error_message(LoadStatus status, const std::string& path) {
  switch (status) {
    case LoadStatus::ok: return "";
    case LoadStatus::cannot_open: return "Error: Cannot open '" + path + "'\n";
    case LoadStatus::too_small: return "Error: File too small\n";
    case LoadStatus::cannot_read: return "Error: Cannot read '" + path + "'\n";
    case LoadStatus::cannot_map: return "Error: Cannot map '" + path + "' into memory\n";
    case LoadStatus::no_nal_units: return "Error: No NAL units\n";
    case LoadStatus::no_video_frames: return "Error: No video frames\n";
    case LoadStatus::too_many_units: return "Error: Too many NAL units for the file's size\n";
    case LoadStatus::out_of_memory: return "Error: Out of memory\n";
  }
  return "";
}

std::string load_error_caption(LoadStatus status) {
  switch (status) {
    case LoadStatus::ok: return "";
    case LoadStatus::cannot_open: return "CANNOT OPEN THE FILE";
    case LoadStatus::too_small: return "FILE TOO SMALL: NOT A RECORDING";
    case LoadStatus::cannot_read: return "CANNOT READ THE FILE";
    case LoadStatus::cannot_map: return "CANNOT MAP THE FILE INTO MEMORY";
    case LoadStatus::no_nal_units: return "NOT A RECORDING: NO NAL UNITS";
    case LoadStatus::no_video_frames: return "NO VIDEO FRAMES IN THE FILE";
    case LoadStatus::too_many_units: return "TOO MANY NAL UNITS FOR THE SIZE";
    case LoadStatus::out_of_memory: return "OUT OF MEMORY";
  }
  return "";
}

std::vector<SkippedStretch> take_oversized_units(std::vector<NalUnit>& units,
                                                 const uint8_t* payload) {
  std::vector<SkippedStretch> skipped;
  size_t kept = 0;
  for (const NalUnit& unit : units) {
    if (static_cast<size_t>(unit.size) > kMaxUnitBytes) {
      skipped.push_back({unit.data - payload, unit.size});
    } else {
      units[kept++] = unit;
    }
  }
  units.resize(kept);
  return skipped;
}

std::string skipped_stretch_message(const SkippedStretch& stretch) {
  char line[160];
  std::snprintf(line, sizeof line, "Skipped %lld bytes without a start code at offset %lld\n",
                static_cast<long long>(stretch.size),
                static_cast<long long>(stretch.offset + static_cast<int64_t>(kFileHeaderSize)));
  return line;
}

double recording_duration(const Recording& recording) {
  if (recording.frame_times.empty()) return 0.0;
  return recording.frame_times.back() + 1.0 / recording.clock_rate;
}

std::string loaded_line(const Recording& recording) {
  char line[160];
  std::snprintf(line, sizeof line, "Loaded: %lld bytes, %lld frames, %.1f fps, ~%.0fs\n",
                static_cast<long long>(recording.length),
                static_cast<long long>(recording.frames.size()), recording.fps,
                recording_duration(recording));
  return line;
}
