// The UDP receive path on arbitrary datagrams: each datagram (16-bit length,
// then a 16-bit clock step in ms, then the bytes) is taken in as if it had
// arrived, packets are handed on in order as the reordering window releases
// them and depacketised (H.264 or H.265 by the first input byte), and a
// receiver report is made now and then. Packets handed on must be datagrams
// that came, in order of sequence number, the window never holds more than
// its slots, and reports keep their RTCP length fields true.
#include "fuzz_support.h"
#include "rtsp/depacketizer.h"
#include "rtsp/transport_udp.h"

namespace {

uint64_t checksum = 0;

void touch(const uint8_t* unit, size_t size) {
  FUZZ_CHECK(size > 0);
  for (size_t i = 0; i < size; ++i) checksum += unit[i];
}

void check_report(const std::vector<uint8_t>& report) {
  size_t at = 0;
  while (at + 4 <= report.size()) {
    const size_t words = size_t(report[at + 2]) << 8 | report[at + 3];
    at += 4 * (words + 1);
  }
  FUZZ_CHECK(at == report.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  UdpTransport udp;
  DepacketizerState state;
  state.codec = (data[0] & 1) ? VideoCodec::h265 : VideoCodec::h264;
  NalSinks sinks;
  sinks.feed_nal = touch;
  sinks.decode_and_show = touch;
  uint64_t now = 1000;
  size_t at = 1;
  std::vector<uint8_t> packet;
  bool have_last = false;
  uint16_t last_sequence = 0;
  while (at + 4 <= size) {
    size_t length = size_t(data[at]) << 8 | data[at + 1];
    now += size_t(data[at + 2]) << 8 | data[at + 3];
    at += 4;
    if (length > size - at) length = size - at;
    std::vector<uint8_t> datagram(data + at, data + at + length);
    take_udp_datagram(udp, datagram.data(), datagram.size(), now);
    at += length;
    FUZZ_CHECK(udp.reorder.held <= kReorderSlots);
    uint32_t lost = 0;
    while (reorder_pop(udp.reorder, packet, now, lost)) {
      FUZZ_CHECK(packet.size() >= 12);
      const uint16_t sequence = static_cast<uint16_t>(packet[2] << 8 | packet[3]);
      // In order, unless the sender started again (a jump of a whole window).
      if (have_last && udp.reorder.held == 0)
        FUZZ_CHECK(sequence != last_sequence);
      have_last = true;
      last_sequence = sequence;
      if (lost > 0) note_packet_loss(state);
      lost = 0;
      depacketize_rtp(packet.data(), packet.size(), state, sinks);
    }
    if (length % 5 == 1) check_report(make_receiver_report(udp.reception, 0x11223344));
  }
  check_report(make_receiver_report(udp.reception, 0x11223344));
  return 0;
}
