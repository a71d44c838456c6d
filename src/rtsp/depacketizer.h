// Turning the payloads of video RTP packets back into NAL units, for H.264
// (depacketizer_h264.h) or H.265 (depacketizer_h265.h) as the session's codec
// says. H.264 units go to the decoder one at a time; H.265 units are gathered
// into access units (the decoder wants a whole picture per packet).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "rtsp/depacketizer_state.h"

// Depacketises one video RTP packet with the depacketiser of `state.codec`.
void depacketize_rtp(const uint8_t* packet, size_t size, DepacketizerState& state,
                     const NalSinks& sinks);

// Sends the SDP's parameter sets (sprop-parameter-sets for H.264; sprop-vps,
// sprop-sps and sprop-pps for H.265, by the SDP's a=rtpmap) to `feed_nal`, so a
// stream that carries them only in the SDP still decodes; in-band ones replace
// them when they come. Returns how many units were fed.
int feed_sdp_parameter_sets(const std::string& sdp, const NalSinks& sinks);
