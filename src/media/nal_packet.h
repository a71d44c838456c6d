// Decoder packets built from single NAL units.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/av_handles.h"

// 00 00 00 01 followed by the unit's bytes; no timestamps or flags. Null when
// allocation fails (the caller then skips the unit).
PacketPtr make_nal_packet(const uint8_t* data, size_t size);
