// H.265 RTP payloads (RFC 7798) without decoding order numbers: single NAL
// unit packets, aggregation packets (48) and fragmentation units (49), all
// with the two-byte NAL unit header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rtsp/depacketizer_state.h"

// Depacketises one H.265 RTP packet into the access unit being gathered in
// `state`. The access unit (its NAL units joined by 00 00 00 01) goes to
// decode_and_show when the packet carries the marker bit, or before the first
// unit of a packet with a new timestamp when the marker was missing. PACI (50)
// and the reserved types (51-63) are dropped.
void depacketize_h265(const uint8_t* packet, size_t size, DepacketizerState& state,
                      const NalSinks& sinks);

// The NAL unit type of an H.265 unit (bits 1-6 of its first byte).
inline int h265_unit_type(const uint8_t* unit) { return (unit[0] >> 1) & 0x3F; }
