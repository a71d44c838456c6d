#include "rtsp/depacketizer_sound.h"

#include "rtsp/depacketizer_state.h"

namespace {

uint32_t read_bits(const uint8_t* bytes, size_t& bit, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i, ++bit) value = value << 1 | ((bytes[bit / 8] >> (7 - bit % 8)) & 1);
  return value;
}

void hand_on(SoundDepacketizerState& state, const SoundUnitSink& sink, const uint8_t* data, size_t size,
             uint32_t time) {
  if (size == 0) return;
  ++state.units;
  if (sink) sink(data, size, time);
}

void drop_gathered(SoundDepacketizerState& state) {
  state.gathered.clear();
  state.gathering = false;
  state.expected_size = 0;
}

// Adds bytes to the unit being gathered; false (the unit dropped) past the cap.
bool gather(SoundDepacketizerState& state, const uint8_t* data, size_t size) {
  if (state.gathered.size() + size > kMaxSoundUnitBytes) {
    drop_gathered(state);
    ++state.dropped;
    return false;
  }
  state.gathered.insert(state.gathered.end(), data, data + size);
  return true;
}

// RFC 3640: one or more whole access units, or a fragment of one.
void depacketize_generic(const uint8_t* payload, size_t size, uint32_t time, SoundDepacketizerState& state,
                         const SoundUnitSink& sink) {
  std::vector<AuHeader> headers;
  size_t offset = 0;
  if (!read_au_headers(payload, size, state.sound, headers, offset)) {
    ++state.dropped;
    return;
  }
  const size_t available = size - offset;
  if (headers.size() == 1 && headers[0].size > available) {
    // A fragment: every fragment repeats the header with the whole unit's size.
    if (state.gathering && (state.gathered_time != time || state.expected_size != headers[0].size)) {
      drop_gathered(state);
      ++state.dropped;
    }
    if (!state.gathering) {
      state.gathering = true;
      state.gathered_time = time;
      state.expected_size = headers[0].size;
    }
    if (!gather(state, payload + offset, available)) return;
    if (state.gathered.size() >= state.expected_size) {
      hand_on(state, sink, state.gathered.data(), state.expected_size, time);
      drop_gathered(state);
    }
    return;
  }
  if (state.gathering) {  // the rest of a fragmented unit never came
    drop_gathered(state);
    ++state.dropped;
  }
  uint32_t step = 0;
  for (const AuHeader& header : headers) {
    step += header.index_step;
    if (header.size > size - offset) {
      ++state.dropped;
      return;
    }
    hand_on(state, sink, payload + offset, header.size,
            time + (step - 1) * static_cast<uint32_t>(state.sound.au_samples));
    offset += header.size;
  }
}

// RFC 3016 with the configuration out of band: the gathered AudioMuxElements,
// each subframe a PayloadLengthInfo (bytes of 255 add up, the first other
// byte ends it) and that many bytes of access unit.
void hand_on_mux_elements(SoundDepacketizerState& state, const SoundUnitSink& sink) {
  const std::vector<uint8_t>& data = state.gathered;
  size_t at = 0;
  uint32_t time = state.gathered_time;
  while (at < data.size()) {
    for (int sub = 0; sub < state.sound.latm_subframes && at < data.size(); ++sub) {
      size_t length = 0;
      while (at < data.size()) {
        const uint8_t byte = data[at++];
        length += byte;
        if (byte != 255) break;
      }
      if (length == 0 || length > data.size() - at) {
        ++state.dropped;
        return;
      }
      hand_on(state, sink, data.data() + at, length, time);
      at += length;
      time += static_cast<uint32_t>(state.sound.au_samples);
    }
  }
}

void depacketize_latm(const uint8_t* payload, size_t size, uint32_t time, bool marker,
                      SoundDepacketizerState& state, const SoundUnitSink& sink) {
  if (state.gathering && state.gathered_time != time) {
    // The packet with the marker was lost: what came is ended here.
    hand_on_mux_elements(state, sink);
    drop_gathered(state);
  }
  if (!state.gathering) {
    state.gathering = true;
    state.gathered_time = time;
  }
  if (!gather(state, payload, size)) return;
  if (!marker) return;
  hand_on_mux_elements(state, sink);
  drop_gathered(state);
}

}  // namespace

bool read_au_headers(const uint8_t* payload, size_t size, const SdpSound& sound,
                     std::vector<AuHeader>& headers, size_t& data_offset) {
  headers.clear();
  if (size < 2) return false;
  const size_t header_bits = size_t(payload[0]) << 8 | payload[1];
  const size_t header_bytes = (header_bits + 7) / 8;
  if (header_bytes > size - 2) return false;
  const int first_bits = sound.size_length + sound.index_length;
  const int next_bits = sound.size_length + sound.index_delta_length;
  if (first_bits <= 0 || next_bits <= 0) return false;
  const uint8_t* bits = payload + 2;
  size_t bit = 0;
  while (bit < header_bits) {
    const int needed = headers.empty() ? first_bits : next_bits;
    if (header_bits - bit < static_cast<size_t>(needed)) break;  // padding bits
    AuHeader header;
    header.size = read_bits(bits, bit, sound.size_length);
    const uint32_t index = read_bits(bits, bit, headers.empty() ? sound.index_length : sound.index_delta_length);
    header.index_step = headers.empty() ? 1 : index + 1;
    headers.push_back(header);
  }
  data_offset = 2 + header_bytes;
  return !headers.empty();
}

void depacketize_sound(const uint8_t* packet, size_t size, SoundDepacketizerState& state,
                       const SoundUnitSink& sink) {
  size_t offset = 0;
  if (!rtp_payload_offset(packet, size, offset)) return;
  size_t end = size;
  if (packet[0] & 0x20) {  // padding: its count is the last byte
    const size_t padding = packet[size - 1];
    if (padding == 0 || padding > end - offset) {
      ++state.dropped;
      return;
    }
    end -= padding;
  }
  const uint8_t* payload = packet + offset;
  const size_t payload_size = end - offset;
  const uint32_t time = rtp_timestamp(packet);
  switch (state.sound.codec) {
    case SoundCodec::pcma:
    case SoundCodec::pcmu:
      hand_on(state, sink, payload, payload_size, time);
      break;
    case SoundCodec::aac:
      depacketize_generic(payload, payload_size, time, state, sink);
      break;
    case SoundCodec::aac_latm:
      depacketize_latm(payload, payload_size, time, rtp_marker(packet), state, sink);
      break;
    default:
      break;
  }
}

void note_sound_packet_loss(SoundDepacketizerState& state) {
  if (state.gathering) ++state.dropped;
  drop_gathered(state);
}
