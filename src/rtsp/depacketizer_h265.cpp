#include "rtsp/depacketizer_h265.h"

namespace {

constexpr int kTypeAggregation = 48;
constexpr int kTypeFragment = 49;
constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

// Adds one unit to the access unit; a unit that would take it past the cap
// drops the whole access unit (the decoder skips to the next one).
void add_unit(DepacketizerState& state, const uint8_t* unit, size_t size) {
  if (size < 2 || state.picture_damaged) return;  // not even a unit header, or dropped anyway
  const size_t separator = state.access_unit.empty() ? 0 : sizeof kStartCode;
  if (state.access_unit.size() + separator + size > kMaxFragmentBytes) {
    state.access_unit.clear();
    state.access_unit.shrink_to_fit();
    state.picture_damaged = true;
    return;
  }
  if (separator) state.access_unit.insert(state.access_unit.end(), kStartCode, kStartCode + 4);
  state.access_unit.insert(state.access_unit.end(), unit, unit + size);
}

// True when a unit visibly starts a picture: a parameter set, an access unit
// delimiter, a prefix SEI, or a slice with first_slice_segment_in_pic_flag
// (`first_byte`: the byte after the unit's two-byte header).
bool unit_begins_picture(int type, uint8_t first_byte) {
  if (type >= 32 && type <= 35) return true;
  if (type == 39) return true;
  return type <= 31 && (first_byte & 0x80);
}

// True when the packet's first unit visibly starts a picture.
bool begins_picture(const uint8_t* payload, size_t size) {
  const int type = h265_unit_type(payload);
  if (type < kTypeAggregation) return size > 2 && unit_begins_picture(type, payload[2]);
  if (type == kTypeAggregation)
    return size > 6 && unit_begins_picture(h265_unit_type(payload + 4), payload[6]);
  if (type == kTypeFragment)
    return size > 3 && (payload[2] & 0x80) && unit_begins_picture(payload[2] & 0x3F, payload[3]);
  return false;
}

void unpack_aggregation(const uint8_t* payload, size_t size, DepacketizerState& state) {
  size_t offset = 2;
  while (offset + 2 <= size) {
    size_t unit_size = size_t(payload[offset]) << 8 | payload[offset + 1];
    offset += 2;
    if (offset + unit_size > size) return;  // a size running past the end: drop the rest
    add_unit(state, payload + offset, unit_size);
    offset += unit_size;
  }
}

void unpack_fragment(const uint8_t* payload, size_t size, DepacketizerState& state) {
  if (size < 3) return;
  const uint8_t fu_header = payload[2];
  if (fu_header & 0x80) {
    state.fragment_buffer.clear();
    state.in_fragment = true;
    // The original unit header: forbidden bit and layer's high bit from the
    // payload header, the type from the FU header, the second byte as it is.
    state.fragment_buffer.push_back(static_cast<uint8_t>((payload[0] & 0x81) | ((fu_header & 0x3F) << 1)));
    state.fragment_buffer.push_back(payload[1]);
    append_fragment(state, payload + 3, size - 3);
  } else if (state.in_fragment) {
    append_fragment(state, payload + 3, size - 3);
  }
  if ((fu_header & 0x40) && state.in_fragment) {
    state.in_fragment = false;
    add_unit(state, state.fragment_buffer.data(), state.fragment_buffer.size());
    state.fragment_buffer.clear();
  }
}

}  // namespace

void depacketize_h265(const uint8_t* packet, size_t size, DepacketizerState& state,
                      const NalSinks& sinks) {
  size_t offset = 0;
  if (!rtp_payload_offset(packet, size, offset)) return;
  const uint8_t* payload = packet + offset;
  const size_t payload_size = size - offset;
  if (payload_size < 2) return;
  enter_picture(state, rtp_timestamp(packet), begins_picture(payload, payload_size), sinks);
  const int type = h265_unit_type(payload);
  if (type < kTypeAggregation)
    add_unit(state, payload, payload_size);
  else if (type == kTypeAggregation)
    unpack_aggregation(payload, payload_size, state);
  else if (type == kTypeFragment)
    unpack_fragment(payload, payload_size, state);
  if (rtp_marker(packet)) finish_picture(state, sinks);
}
