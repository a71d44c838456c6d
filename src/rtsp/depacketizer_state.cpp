#include "rtsp/depacketizer_state.h"

void submit_unit(const std::function<void(const uint8_t*, size_t)>& sink, const uint8_t* data,
                 size_t size) {
  if (sink) sink(data, size);
}

void append_fragment(DepacketizerState& state, const uint8_t* data, size_t size) {
  if (state.fragment_buffer.size() + size > kMaxFragmentBytes) {
    // A unit this large is broken or hostile: drop it until the next start.
    state.fragment_buffer.clear();
    state.fragment_buffer.shrink_to_fit();
    state.in_fragment = false;
    return;
  }
  state.fragment_buffer.insert(state.fragment_buffer.end(), data, data + size);
}

bool rtp_payload_offset(const uint8_t* packet, size_t size, size_t& offset) {
  if (size < 12) return false;
  size_t header = 12 + 4 * size_t(packet[0] & 0x0F);
  if ((packet[0] & 0x10) && size >= header + 4) {
    size_t words = size_t(packet[header + 2]) << 8 | packet[header + 3];
    header += 4 + 4 * words;
  }
  if (header >= size) return false;
  offset = header;
  return true;
}

void note_packet_loss(DepacketizerState& state) {
  state.fragment_buffer.clear();
  state.in_fragment = false;
  if (state.picture_open) state.picture_damaged = true;
  state.loss_pending = true;
}

uint32_t rtp_timestamp(const uint8_t* packet) {
  return uint32_t(packet[4]) << 24 | uint32_t(packet[5]) << 16 | uint32_t(packet[6]) << 8 | packet[7];
}

bool rtp_marker(const uint8_t* packet) { return (packet[1] & 0x80) != 0; }

void enter_picture(DepacketizerState& state, uint32_t timestamp, bool packet_begins_picture,
                   const NalSinks& sinks) {
  // A picture whose last packet (with the marker) did not come ends when the next one starts.
  if (state.picture_open && timestamp != state.access_unit_timestamp) finish_picture(state, sinks);
  if (!state.picture_open) {
    state.picture_open = true;
    state.access_unit_timestamp = timestamp;
    // Lost packets just before a picture's visible start were the end of the
    // one before (dropped already) or whole pictures; otherwise this one's head.
    state.picture_damaged = state.loss_pending && !packet_begins_picture;
  }
  state.loss_pending = false;
}

void finish_picture(DepacketizerState& state, const NalSinks& sinks) {
  state.unit_timestamp = state.access_unit_timestamp;
  if (state.picture_damaged) {
    ++state.pictures_dropped;
    // A unit being rebuilt belongs to the dropped picture.
    state.fragment_buffer.clear();
    state.in_fragment = false;
  } else if (state.codec == VideoCodec::h265) {
    if (!state.access_unit.empty())
      submit_unit(sinks.decode_and_show, state.access_unit.data(), state.access_unit.size());
  } else {
    for (const DepacketizerState::HeldUnit& unit : state.held_units)
      submit_unit(unit.show ? sinks.decode_and_show : sinks.feed_nal, state.access_unit.data() + unit.offset,
                  unit.size);
  }
  state.access_unit.clear();
  state.held_units.clear();
  state.picture_open = false;
  state.picture_damaged = false;
}
