#include "rtsp/rtp_reorder.h"

namespace {

uint16_t sequence_of(const uint8_t* packet) { return static_cast<uint16_t>(packet[2] << 8 | packet[3]); }

RtpReorder::Slot& slot_for(RtpReorder& reorder, uint16_t sequence) {
  return reorder.slots[sequence % kReorderSlots];
}

void clear_slots(RtpReorder& reorder) {
  for (RtpReorder::Slot& slot : reorder.slots) slot.used = false;
  reorder.held = 0;
}

void put_u32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

ReorderPush reorder_push(RtpReorder& reorder, const uint8_t* packet, size_t size, uint64_t now_ms) {
  if (size < 12) return ReorderPush::malformed;
  const uint16_t sequence = sequence_of(packet);
  ReorderPush result = ReorderPush::accepted;
  if (!reorder.started) {
    reorder.started = true;
    reorder.next = sequence;
  }
  const int distance = static_cast<int16_t>(static_cast<uint16_t>(sequence - reorder.next));
  if (distance < -static_cast<int>(kReorderSlots) || distance >= static_cast<int>(kReorderSlots)) {
    // The sender started again, or a long run was lost: what is held cannot
    // be put in order with what comes now.
    reorder.discarded += static_cast<uint32_t>(reorder.held);
    clear_slots(reorder);
    reorder.next = sequence;
    result = ReorderPush::restarted;
  } else if (distance < 0) {
    return ReorderPush::late;
  }
  RtpReorder::Slot& slot = slot_for(reorder, sequence);
  if (slot.used) return ReorderPush::duplicate;  // within the window, the slot can only hold this number
  slot.used = true;
  slot.sequence = sequence;
  slot.arrived_ms = now_ms;
  slot.data.assign(packet, packet + size);
  ++reorder.held;
  return result;
}

bool reorder_pop(RtpReorder& reorder, std::vector<uint8_t>& packet, uint64_t now_ms,
                 uint32_t& lost) {
  if (reorder.held == 0) return false;
  RtpReorder::Slot* expected = &slot_for(reorder, reorder.next);
  if (!expected->used) {
    // A gap: wait for the missing packet while the window has room and time.
    if (reorder.held < kReorderSlots / 2 && reorder_wait_left_ms(reorder, now_ms) > 0) return false;
    while (!expected->used) {
      ++lost;
      ++reorder.next;
      expected = &slot_for(reorder, reorder.next);
    }
  }
  lost += reorder.discarded;
  reorder.discarded = 0;
  packet.swap(expected->data);
  expected->used = false;
  --reorder.held;
  ++reorder.next;
  return true;
}

uint64_t reorder_wait_left_ms(const RtpReorder& reorder, uint64_t now_ms) {
  if (reorder.held == 0) return UINT64_MAX;
  uint64_t oldest = UINT64_MAX;
  for (const RtpReorder::Slot& slot : reorder.slots)
    if (slot.used && slot.arrived_ms < oldest) oldest = slot.arrived_ms;
  const uint64_t waited = now_ms > oldest ? now_ms - oldest : 0;
  return waited >= kReorderWaitMs ? 0 : kReorderWaitMs - waited;
}

void note_rtp_received(RtpReception& reception, const uint8_t* packet, size_t size) {
  if (size < 12) return;
  const uint16_t sequence = sequence_of(packet);
  if (!reception.started) {
    reception.started = true;
    reception.source_ssrc = uint32_t(packet[8]) << 24 | uint32_t(packet[9]) << 16 |
                            uint32_t(packet[10]) << 8 | packet[11];
    reception.base_sequence = sequence;
    reception.max_sequence = sequence;
  } else {
    const uint16_t ahead = static_cast<uint16_t>(sequence - reception.max_sequence);
    if (ahead != 0 && ahead < 0x8000) {
      if (sequence < reception.max_sequence) reception.cycles += 65536;
      reception.max_sequence = sequence;
    }
  }
  ++reception.received;
}

std::vector<uint8_t> make_receiver_report(RtpReception& reception, uint32_t own_ssrc) {
  std::vector<uint8_t> out;
  const bool block = reception.started;
  out.push_back(static_cast<uint8_t>(0x80 | (block ? 1 : 0)));  // V=2, RC
  out.push_back(201);                                          // RR
  out.push_back(0);
  out.push_back(block ? 7 : 1);  // length in 32-bit words minus one
  put_u32(out, own_ssrc);
  if (block) {
    const uint32_t extended_max = reception.cycles + reception.max_sequence;
    const uint32_t expected = extended_max - reception.base_sequence + 1;
    const int64_t lost_total = static_cast<int64_t>(expected) - reception.received;
    const uint32_t expected_interval = expected - reception.expected_prior;
    const uint32_t received_interval = reception.received - reception.received_prior;
    reception.expected_prior = expected;
    reception.received_prior = reception.received;
    const int64_t lost_interval = static_cast<int64_t>(expected_interval) - received_interval;
    const uint32_t fraction =
        expected_interval == 0 || lost_interval <= 0 ? 0 : static_cast<uint32_t>((lost_interval << 8) / expected_interval);
    // Cumulative loss is a signed 24-bit count, clamped.
    const int64_t clamped = lost_total > 0x7FFFFF ? 0x7FFFFF : lost_total < -0x800000 ? -0x800000 : lost_total;
    put_u32(out, reception.source_ssrc);
    put_u32(out, (fraction > 255 ? 255u : fraction) << 24 | (static_cast<uint32_t>(clamped) & 0xFFFFFF));
    put_u32(out, extended_max);
    put_u32(out, 0);  // jitter: not measured
    put_u32(out, 0);  // last sender report: not tracked
    put_u32(out, 0);  // delay since it
  }
  // SDES with one chunk: own SSRC, CNAME, end, padded to a word.
  static const char kName[] = "h264player";
  const size_t name_length = sizeof kName - 1;
  size_t chunk = 4 + 2 + name_length + 1;
  chunk = (chunk + 3) / 4 * 4;
  out.push_back(0x81);
  out.push_back(202);
  out.push_back(0);
  out.push_back(static_cast<uint8_t>(chunk / 4));
  put_u32(out, own_ssrc);
  out.push_back(1);  // CNAME
  out.push_back(static_cast<uint8_t>(name_length));
  out.insert(out.end(), kName, kName + name_length);
  const size_t report_size = block ? 32 : 8;
  out.resize(report_size + 4 + chunk, 0);  // the end item and the padding
  return out;
}
