#include "rtsp/depacketizer_h264.h"

namespace {

constexpr int kTypeStapA = 24;
constexpr int kTypeFuA = 28;

void unpack_stap_a(const uint8_t* payload, size_t size, const NalSinks& sinks) {
  size_t offset = 1;
  while (offset + 2 <= size) {
    size_t unit_size = size_t(payload[offset]) << 8 | payload[offset + 1];
    offset += 2;
    if (offset + unit_size > size) return;  // a size running past the end: drop the rest
    if (unit_size > 0) submit_unit(sinks.feed_nal, payload + offset, unit_size);
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
    submit_unit(sinks.decode_and_show, state.fragment_buffer.data(), state.fragment_buffer.size());
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
  const int type = payload[0] & 0x1F;
  if (type >= 1 && type <= 23)
    submit_unit(sinks.decode_and_show, payload, payload_size);
  else if (type == kTypeStapA)
    unpack_stap_a(payload, payload_size, sinks);
  else if (type == kTypeFuA)
    unpack_fu_a(payload, payload_size, state, sinks);
  // 0, 25-27 (STAP-B, MTAP), 29 (FU-B) and 30-31 are not supported: dropped.
}
