#include "convert/avc_config.h"

#include <cstring>

ParameterSets find_parameter_sets(const std::vector<NalUnit>& units) {
  ParameterSets sets;
  for (const NalUnit& unit : units) {
    if (unit.type == 7 && !sets.sps) sets.sps = &unit;
    if (unit.type == 8 && !sets.pps) sets.pps = &unit;
    if (sets.sps && sets.pps) break;
  }
  return sets;
}

const NalUnit* find_first_idr(const std::vector<NalUnit>& units) {
  for (const NalUnit& unit : units) {
    if (unit.type == 5) return &unit;
  }
  return nullptr;
}

namespace {

void append_be16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

}  // namespace

std::vector<uint8_t> build_avc_config(const NalUnit& sps, const NalUnit& pps) {
  // A longer unit would have its length cut to 16 bits and the record would
  // describe bytes that are not there: the file would look fine but not play.
  if (sps.size < 4 || pps.size < 1 || sps.size > 0xFFFF || pps.size > 0xFFFF) return {};
  std::vector<uint8_t> record;
  record.reserve(11 + static_cast<size_t>(sps.size) + static_cast<size_t>(pps.size));
  record.push_back(1);             // configuration version
  record.push_back(sps.data[1]);   // profile
  record.push_back(sps.data[2]);   // profile compatibility
  record.push_back(sps.data[3]);   // level
  record.push_back(0xFF);          // 4-byte length fields
  record.push_back(0xE1);          // one SPS
  append_be16(record, static_cast<uint32_t>(sps.size));
  record.insert(record.end(), sps.data, sps.data + sps.size);
  record.push_back(1);             // one PPS
  append_be16(record, static_cast<uint32_t>(pps.size));
  record.insert(record.end(), pps.data, pps.data + pps.size);
  return record;
}

void write_length_prefixed(const uint8_t* data, uint32_t size, uint8_t* out) {
  out[0] = static_cast<uint8_t>(size >> 24);
  out[1] = static_cast<uint8_t>(size >> 16);
  out[2] = static_cast<uint8_t>(size >> 8);
  out[3] = static_cast<uint8_t>(size);
  if (size) std::memcpy(out + 4, data, size);
}

int whole_frame_rate(double fps) { return static_cast<int>(fps + 0.5); }

bool reports_progress_at(int64_t frame, int64_t frame_count) {
  return frame % 30 == 0 || frame == frame_count - 1;
}
