#include "rtsp/depacketizer_h264.h"

namespace {

constexpr int kTypeStapA = 24;
constexpr int kTypeFuA = 28;

// Hands one unit on: at once, or into the picture being gathered when whole
// pictures are wanted. A picture that would pass the cap (its bytes and the
// records of its units together) is dropped whole.
void deliver(DepacketizerState& state, const NalSinks& sinks, const uint8_t* unit, size_t size, bool show) {
  if (!state.whole_pictures) {
    submit_unit(show ? sinks.decode_and_show : sinks.feed_nal, unit, size);
    return;
  }
  if (state.picture_damaged || size == 0) return;
  const size_t records = (state.held_units.size() + 1) * sizeof(DepacketizerState::HeldUnit);
  if (state.access_unit.size() + size + records > kMaxFragmentBytes) {
    state.access_unit.clear();
    state.access_unit.shrink_to_fit();
    state.held_units.clear();
    state.picture_damaged = true;
    return;
  }
  state.held_units.push_back({state.access_unit.size(), size, show});
  state.access_unit.insert(state.access_unit.end(), unit, unit + size);
}

// True when a unit visibly starts a picture: an SEI, a parameter set, an
// access unit delimiter, or a slice whose first_mb_in_slice is 0 (its first
// bit is 1; `first_byte` is the byte after the unit's header).
bool unit_begins_picture(int type, uint8_t first_byte) {
  if (type >= 6 && type <= 9) return true;
  return (type == 1 || type == 5) && (first_byte & 0x80);
}

// True when the packet's first unit visibly starts a picture.
bool begins_picture(const uint8_t* payload, size_t size) {
  const int type = payload[0] & 0x1F;
  if (type >= 1 && type <= 23) return size > 1 && unit_begins_picture(type, payload[1]);
  if (type == kTypeStapA) return size > 4 && unit_begins_picture(payload[3] & 0x1F, payload[4]);
  if (type == kTypeFuA) return size > 2 && (payload[1] & 0x80) && unit_begins_picture(payload[1] & 0x1F, payload[2]);
  return false;
}

void unpack_stap_a(const uint8_t* payload, size_t size, DepacketizerState& state, const NalSinks& sinks) {
  size_t offset = 1;
  while (offset + 2 <= size) {
    size_t unit_size = size_t(payload[offset]) << 8 | payload[offset + 1];
    offset += 2;
    if (offset + unit_size > size) return;  // a size running past the end: drop the rest
    if (unit_size > 0) deliver(state, sinks, payload + offset, unit_size, false);
    offset += unit_size;
  }
}

void unpack_fu_a(const uint8_t* payload, size_t size, DepacketizerState& state,
                 const NalSinks& sinks) {
  if (size < 2) return;
  const uint8_t indicator = payload[0];
  const uint8_t fu_header = payload[1];
  if (fu_header & 0x80) {
    state.fragment_buffer.clear();
    state.in_fragment = true;
    // The original NAL header: forbidden bit and NRI from the indicator, type from the FU header.
    state.fragment_buffer.push_back(static_cast<uint8_t>((indicator & 0xE0) | (fu_header & 0x1F)));
    append_fragment(state, payload + 2, size - 2);
  } else if (state.in_fragment) {
    append_fragment(state, payload + 2, size - 2);
  }
  if ((fu_header & 0x40) && state.in_fragment) {
    state.in_fragment = false;
    deliver(state, sinks, state.fragment_buffer.data(), state.fragment_buffer.size(), true);
    state.fragment_buffer.clear();
  }
}

}  // namespace

void depacketize_h264(const uint8_t* packet, size_t size, DepacketizerState& state,
                      const NalSinks& sinks) {
  size_t offset = 0;
  if (!rtp_payload_offset(packet, size, offset)) return;
  const uint8_t* payload = packet + offset;
  const size_t payload_size = size - offset;
  if (state.whole_pictures) enter_picture(state, rtp_timestamp(packet), begins_picture(payload, payload_size), sinks);
  const int type = payload[0] & 0x1F;
  if (type >= 1 && type <= 23)
    deliver(state, sinks, payload, payload_size, true);
  else if (type == kTypeStapA)
    unpack_stap_a(payload, payload_size, state, sinks);
  else if (type == kTypeFuA)
    unpack_fu_a(payload, payload_size, state, sinks);
  // 0, 25-27 (STAP-B, MTAP), 29 (FU-B) and 30-31 are not supported: dropped.
  if (state.whole_pictures && rtp_marker(packet)) finish_picture(state, sinks);
}
