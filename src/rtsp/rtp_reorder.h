// Putting RTP packets that came over UDP back into sequence-number order
// within a small bounded window, and the reception figures a receiver report
// carries. Pure logic: the caller supplies packets and the clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Packets held while waiting for a missing one; the window's only memory.
constexpr size_t kReorderSlots = 32;
// How long a gap is waited for before the packets after it are handed on.
constexpr uint64_t kReorderWaitMs = 60;

struct RtpReorder {
  struct Slot {
    bool used = false;
    uint16_t sequence = 0;
    uint64_t arrived_ms = 0;
    std::vector<uint8_t> data;
  };
  std::array<Slot, kReorderSlots> slots;
  bool started = false;
  uint16_t next = 0;  // the sequence number to hand on next
  size_t held = 0;
  uint32_t discarded = 0;  // packets a restart threw away, not yet reported as lost
};

enum class ReorderPush { accepted, duplicate, late, restarted, malformed };

// Takes one RTP packet. Duplicates and packets older than the next one to hand
// on are dropped; a jump of a whole window or more starts again from the new
// packet (what was held is thrown away, and reported as lost by the next
// reorder_pop). Shorter than 12 bytes: malformed.
ReorderPush reorder_push(RtpReorder& reorder, const uint8_t* packet, size_t size, uint64_t now_ms);

// Hands on the next packet in order: the expected one when it is held, else
// (past a gap, adding the skipped numbers to `lost`) the next held one once
// half the window is held or the oldest held packet has waited kReorderWaitMs.
// Packets a restart threw away are added to `lost` too. False when nothing is ready.
bool reorder_pop(RtpReorder& reorder, std::vector<uint8_t>& packet, uint64_t now_ms,
                 uint32_t& lost);

// How long from `now_ms` until reorder_pop gives up on the gap it waits at;
// UINT64_MAX when nothing is held.
uint64_t reorder_wait_left_ms(const RtpReorder& reorder, uint64_t now_ms);

// What a receiver report tells the sender (RFC 3550 section 6.4.1).
struct RtpReception {
  bool started = false;
  uint32_t source_ssrc = 0;
  uint16_t max_sequence = 0;
  uint32_t cycles = 0;        // wraps of the sequence number, times 65536
  uint32_t base_sequence = 0;
  uint32_t received = 0;
  uint32_t expected_prior = 0;
  uint32_t received_prior = 0;
};

// Counts one packet as received (as it arrived, before reordering).
void note_rtp_received(RtpReception& reception, const uint8_t* packet, size_t size);

// The RTCP compound packet of one receiver report (with one report block once
// a packet was received) and an SDES with the CNAME, from `own_ssrc`; moves
// the "prior" counts on for the next report's fraction lost.
std::vector<uint8_t> make_receiver_report(RtpReception& reception, uint32_t own_ssrc);
