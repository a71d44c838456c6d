#include "recording/recording.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/files.h"
#include "recording/frame_rate.h"

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

// First start code at or after `from`: its position, and via *code_size its
// length (3 or 4). SIZE_MAX when there is none. Driven by memchr over 0x01
// bytes, which are rare in coded video, so the scan runs near memory speed.
size_t find_start_code(const uint8_t* p, size_t length, size_t from, size_t* code_size) {
  size_t q = from + 2;
  while (q < length) {
    const void* hit = std::memchr(p + q, 0x01, length - q);
    if (!hit) return SIZE_MAX;
    q = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
    size_t s = start_code_ending_at(p, length, from, q);
    if (s != SIZE_MAX) {
      *code_size = q + 1 - s;
      return s;
    }
    ++q;
  }
  return SIZE_MAX;
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

}  // namespace

uint32_t read_le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::vector<NalUnit> index_nal_units(const uint8_t* payload, size_t length) {
  std::vector<NalUnit> units;
  size_t code_size = 0;
  size_t s = find_start_code(payload, length, 0, &code_size);
  while (s != SIZE_MAX) {
    const size_t begin = s + code_size;
    size_t next_size = 0;
    const size_t next = find_start_code(payload, length, begin, &next_size);
    const size_t end = next == SIZE_MAX ? length : next;
    if (end > begin) {
      units.push_back({payload + begin, static_cast<int32_t>(end - begin),
                       static_cast<int32_t>(payload[begin] & 0x1F)});
    }
    s = next;
    code_size = next_size;
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

LoadStatus read_recording_payload(const std::string& path, Recording& out) {
  FILE* file = open_file(path, "rb");
  if (!file) return LoadStatus::cannot_open;
  // 64-bit size on every platform (mingw's off_t is 32 bits), so that a file
  // of 2 GiB or more is refused instead of wrapping into a wrong size.
  const int64_t size = open_file_size(file);
  if (size < 0) {
    std::fclose(file);
    return LoadStatus::cannot_open;
  }
  if (size > std::numeric_limits<int32_t>::max()) {
    std::fclose(file);
    return LoadStatus::too_large;
  }
  if (size <= static_cast<int64_t>(kFileHeaderSize)) {
    std::fclose(file);
    return LoadStatus::too_small;
  }
  const size_t wanted = static_cast<size_t>(size) - kFileHeaderSize;
  out.buffer.assign(wanted, 0);
  out.length = 0;
  if (seek_file(file, static_cast<int64_t>(kFileHeaderSize), SEEK_SET)) {
    out.length = std::fread(out.buffer.data(), 1, wanted, file);
  }
  std::fclose(file);
  return LoadStatus::ok;
}

std::string load_error_message(LoadStatus status, const std::string& path) {
  switch (status) {
    case LoadStatus::ok: return "";
    case LoadStatus::cannot_open: return "Error: Cannot open '" + path + "'\n";
    case LoadStatus::too_small: return "Error: File too small\n";
    case LoadStatus::too_large: return "Error: File too large (2 GiB or more)\n";
    case LoadStatus::no_nal_units: return "Error: No NAL units\n";
    case LoadStatus::no_video_frames: return "Error: No video frames\n";
  }
  return "";
}

bool load_recording(const std::string& path, Recording& out) {
  out = Recording{};
  LoadStatus status = read_recording_payload(path, out);
  if (status == LoadStatus::ok) {
    out.units = index_nal_units(out.payload(), out.length);
    if (out.units.empty()) status = LoadStatus::no_nal_units;
  }
  if (status == LoadStatus::ok) {
    out.frames = build_frame_list(out.units);
    if (out.frames.empty()) status = LoadStatus::no_video_frames;
  }
  if (status != LoadStatus::ok) {
    std::fputs(load_error_message(status, path).c_str(), stdout);
    out = Recording{};
    return false;
  }
  const int64_t frame_count = static_cast<int64_t>(out.frames.size());
  out.fps = detect_frame_rate(out.payload(), out.length, frame_count);
  std::printf("Loaded: %d bytes, %d frames, %.1f fps, ~%.0fs\n", static_cast<int>(out.length),
              static_cast<int>(frame_count), out.fps, static_cast<double>(frame_count) / out.fps);
  return true;
}
