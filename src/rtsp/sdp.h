// What the client takes from a session description besides the control URL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/codecs.h"


// The NAL units of the first "sprop-parameter-sets=" in the video section
// (from "m=video" to the next media section; the whole SDP without one):
// comma-separated Base64 values, each decoded to one unit (normally the SPS
// and the PPS). Values that are empty or not valid Base64 are left out.
std::vector<std::vector<uint8_t>> sprop_parameter_sets(const std::string& sdp);

// The H.265 parameter sets of the video section: every unit of
// "sprop-vps=", then "sprop-sps=", then "sprop-pps=" (each comma-separated
// Base64, decoded like sprop_parameter_sets), in that order.
std::vector<std::vector<uint8_t>> sprop_h265_parameter_sets(const std::string& sdp);

// The encoding name of the video section's first "a=rtpmap:" ("H264",
// "H265", "JPEG", ...), as written; empty when there is none.
std::string sdp_video_encoding(const std::string& sdp);

// The codec an encoding name stands for (letter case ignored; "HEVC" counts as
// H.265). An empty name is taken for H.264, which the live view always spoke.
VideoCodec video_codec_from_encoding(const std::string& encoding);

// The decimal value of an fmtp parameter in the video section ("name=value",
// "name" matched in any letter case at a parameter's start); 0 when absent.
int32_t sdp_fmtp_number(const std::string& sdp, const std::string& name);

// True when an H.265 stream carries decoding order numbers (a
// sprop-max-don-diff or sprop-depack-buf-nalus above 0), which the client
// does not reorder by.
bool sdp_needs_decoding_order(const std::string& sdp);
