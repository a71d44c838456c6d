// The H.265 depacketiser on arbitrary RTP packets: the input is a run of
// packets, each a 16-bit big-endian length and that many bytes. Every access
// unit handed on must be the one gathered in the state (never memory of a
// packet), stay under the cap, and hold units joined by start codes.
#include "fuzz_support.h"
#include "rtsp/depacketizer.h"
#include "rtsp/depacketizer_h265.h"

namespace {

const DepacketizerState* current_state = nullptr;
uint64_t checksum = 0;

void check_access_unit(const uint8_t* unit, size_t size) {
  FUZZ_CHECK(size >= 2);
  FUZZ_CHECK(unit == current_state->access_unit.data());
  FUZZ_CHECK(size == current_state->access_unit.size());
  FUZZ_CHECK(size <= kMaxFragmentBytes);
  for (size_t i = 0; i < size; ++i) checksum += unit[i];
}

void check_fed(const uint8_t*, size_t) { FUZZ_CHECK(false); }  // H.265 feeds nothing by itself

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DepacketizerState state;
  state.codec = VideoCodec::h265;
  current_state = &state;
  NalSinks sinks;
  sinks.feed_nal = check_fed;
  sinks.decode_and_show = check_access_unit;
  size_t at = 0;
  while (at + 2 <= size) {
    size_t length = size_t(data[at]) << 8 | data[at + 1];
    at += 2;
    if (length > size - at) length = size - at;
    // A copy of its own, so the sanitizer catches a read past the packet.
    std::vector<uint8_t> packet(data + at, data + at + length);
    depacketize_rtp(packet.data(), packet.size(), state, sinks);
    if (length % 7 == 3) note_packet_loss(state);
    FUZZ_CHECK(state.access_unit.size() <= kMaxFragmentBytes);
    FUZZ_CHECK(state.fragment_buffer.size() <= kMaxFragmentBytes);
    at += length;
  }
  return 0;
}
