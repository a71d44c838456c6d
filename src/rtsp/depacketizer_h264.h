// H.264 RTP payloads (RFC 6184): single NAL unit packets, STAP-A and FU-A.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rtsp/depacketizer_state.h"

// Depacketises one H.264 RTP packet, submitting zero or more NAL units: single
// units and finished fragmented ones to decode_and_show, aggregated ones to
// feed_nal. Other packet types are dropped. With `state.whole_pictures` the
// units wait for the end of their picture (see DepacketizerState).
void depacketize_h264(const uint8_t* packet, size_t size, DepacketizerState& state,
                      const NalSinks& sinks);
