#include "damaged_recordings.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "recording/recording.h"
#include "test_recordings.h"

namespace {

constexpr size_t kHeader = kFileHeaderSize;

// Payload offsets of every match of the 4-byte `magic`.
std::vector<size_t> magic_offsets(const uint8_t* p, size_t length, const char* magic) {
  std::vector<size_t> found;
  for (size_t i = 0; i + 4 <= length; ++i) {
    if (std::memcmp(p + i, magic, 4) == 0) found.push_back(i);
  }
  return found;
}

struct Layout {
  std::vector<size_t> slice_starts;  // payload offsets of slice NAL header bytes
  std::vector<size_t> unit_starts;   // of every unit
  std::vector<std::pair<size_t, size_t>> audio;  // payload [begin, end) of each block
  std::vector<size_t> hxvf;
};

Layout layout_of(const FileBytes& file) {
  Layout layout;
  const uint8_t* p = file.data() + kHeader;
  const size_t length = file.size() - kHeader;
  for (const NalUnit& unit : index_nal_units(p, length)) {
    const size_t at = static_cast<size_t>(unit.data - p);
    layout.unit_starts.push_back(at);
    if (unit.type == 1 || unit.type == 5) layout.slice_starts.push_back(at);
  }
  for (const AudioBlock& block : index_audio_blocks(p, length)) {
    const size_t begin = static_cast<size_t>(block.data - p) - 20;
    layout.audio.push_back({begin, begin + 20 + static_cast<size_t>(block.size)});
  }
  layout.hxvf = magic_offsets(p, length, "HXVF");
  return layout;
}

RecordingCut cut_at(const Layout& layout, const std::string& kind, size_t file_size) {
  RecordingCut cut{kind, file_size, 0, 0};
  if (file_size <= kHeader) return cut;
  const size_t kept = file_size - kHeader;
  for (size_t s : layout.slice_starts) cut.frames += s < kept ? 1 : 0;
  for (const auto& block : layout.audio) cut.audio_blocks += block.second <= kept ? 1 : 0;
  return cut;
}

}  // namespace

std::vector<RecordingCut> boundary_cuts(const FileBytes& file) {
  const Layout layout = layout_of(file);
  std::vector<RecordingCut> cuts;
  auto add = [&](const std::string& kind, size_t payload_offset) {
    cuts.push_back(cut_at(layout, kind, kHeader + payload_offset));
  };
  cuts.push_back(cut_at(layout, "inside the file header", 20));
  cuts.push_back(cut_at(layout, "the bare file header", kHeader));
  add("one payload byte", 1);
  if (!layout.hxvf.empty()) add("inside the first block header", layout.hxvf.front() + 9);
  if (!layout.unit_starts.empty()) add("inside the first start code", layout.unit_starts.front() - 2);
  if (!layout.slice_starts.empty()) {
    const size_t first_slice = layout.slice_starts.front();
    add("after the parameter sets", first_slice - 4);
    add("inside the first slice", first_slice + 40);
  }
  if (layout.hxvf.size() > 2) add("inside a later block header", layout.hxvf[layout.hxvf.size() / 2] + 6);
  if (layout.audio.size() > 2) {
    const auto& block = layout.audio[layout.audio.size() / 2];
    add("inside an audio block", block.first + 30);
    add("inside an audio block header", block.first + 5);
    add("right after an audio block", block.second);
  }
  if (layout.slice_starts.size() > 2) add("inside a later start code", layout.slice_starts[layout.slice_starts.size() / 2] - 2);
  add("one byte short", file.size() - kHeader - 1);
  return cuts;
}

FileBytes flip_slice_bits(const FileBytes& file, int count, uint32_t seed) {
  FileBytes out = file;
  const uint8_t* p = file.data() + kHeader;
  const size_t length = file.size() - kHeader;
  std::vector<size_t> candidates;  // file offsets of flippable slice bytes
  for (const NalUnit& unit : index_nal_units(p, length)) {
    if (unit.type != 1 && unit.type != 5) continue;
    for (int32_t i = 4; i < unit.size; ++i) {
      const uint8_t byte = unit.data[i];
      if (byte >= 0x82) candidates.push_back(kHeader + static_cast<size_t>(unit.data - p) + i);
    }
  }
  if (candidates.empty()) return out;
  std::mt19937 random(seed);
  for (int k = 0; k < count; ++k) {
    const size_t at = candidates[random() % candidates.size()];
    const uint8_t bit = static_cast<uint8_t>(1u << (random() % 7));  // high bit kept: stays >= 2
    out[at] ^= bit;
  }
  return out;
}

FileBytes random_recording(size_t payload_size, uint32_t seed, bool start_codes) {
  std::mt19937 random(seed);
  FileBytes out(kHeader + payload_size);
  for (uint8_t& byte : out) byte = static_cast<uint8_t>(random());
  if (start_codes) {
    for (size_t at = kHeader + random() % 64; at + 3 < out.size(); at += 3 + random() % 600) {
      out[at] = 0;
      out[at + 1] = 0;
      out[at + 2] = 1;
    }
  }
  return out;
}

FileBytes zero_stretch(const FileBytes& file, size_t at, size_t length) {
  FileBytes out = file;
  for (size_t i = at; i < at + length && i < out.size(); ++i) out[i] = 0;
  return out;
}

FileBytes hxaf_flood(const FileBytes& file, size_t count, bool valid) {
  FileBytes out = file;
  const uint32_t length_field = valid ? 5 : 65536;
  const uint8_t header[16] = {'H', 'X', 'A', 'F',
                              static_cast<uint8_t>(length_field), static_cast<uint8_t>(length_field >> 8),
                              static_cast<uint8_t>(length_field >> 16), 0,
                              0x10, 0x27, 0, 0, 0, 0, 0, 0};
  for (size_t k = 0; k < count; ++k) {
    out.insert(out.end(), header, header + 16);
    if (valid) out.insert(out.end(), {0, 0, 0, 0, 0xD5});  // 4 skipped bytes, one sample
  }
  return out;
}

std::string loader_line(const std::string& output) {
  for (const char* start : {"Loaded: ", "Error: "}) {
    const size_t at = output.find(start);
    if (at != std::string::npos) return output.substr(at, output.find('\n', at) - at);
  }
  return "";
}

int loaded_frames(const std::string& output) {
  const size_t at = output.find("Loaded: ");
  int bytes = 0, frames = -1;
  if (at == std::string::npos || std::sscanf(output.c_str() + at, "Loaded: %d bytes, %d frames", &bytes, &frames) != 2) return -1;
  return frames;
}

int inspected_audio_blocks(const std::string& output) {
  const size_t at = output.find("Audio blocks: ");
  int blocks = -1;
  if (at == std::string::npos || std::sscanf(output.c_str() + at, "Audio blocks: %d", &blocks) != 1) return -1;
  return blocks;
}

const FileBytes& damage_source_recording() {
  static const FileBytes bytes = [] {
    RecordingSpec recipe;
    recipe.width = 96;
    recipe.height = 64;
    recipe.fps = 10;
    recipe.frames = 30;
    recipe.gop = 10;
    recipe.audio = true;
    return read_file_bytes(make_recording_file(recipe, test_temp_dir() + "/damage-source.264"));
  }();
  return bytes;
}
