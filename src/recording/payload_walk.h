// Walking a recording's payload in bounded windows (PayloadReader) and
// handing its units and camera blocks to a visitor in payload order. No unit
// grows past kMaxUnitBytes: a longer one (a stretch without start codes, as
// erased flash leaves) is handed on as a skipped stretch instead, and the walk
// moves past it without carrying it from window to window, so the work and
// the memory stay linear and bounded whatever the file holds.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "recording/payload_reader.h"

struct StreamItem {
  enum Kind { unit, video_header, sound_block, skipped } kind;
  const uint8_t* data;  // unit: NAL header byte; sound: first sample; skipped: null
  size_t size;          // unit bytes, sound samples or skipped bytes
  int type;             // unit type; for skipped, the type of the unit it began with (-1: none)
  uint32_t timestamp;   // headers and sound blocks
  int64_t offset;       // payload offset of the unit, block or stretch
};

// Takes each item; false stops the walk.
using StreamVisitor = std::function<bool(const StreamItem&)>;

enum class WalkEnd { finished, stopped, cancelled, failed, too_many_units };

// Walks from the reader's current window to the payload's end. Consecutive
// skipped items may follow one another for one long stretch (their offsets
// and sizes join up). `cancel` is looked at before every item and every
// window; `progress` (may be empty) gets the fraction of the payload passed.
WalkEnd walk_payload(PayloadReader& reader, const StreamVisitor& visit,
                     const std::atomic<bool>* cancel, const std::function<void(float)>& progress);
