// What the client takes from a session description besides the control URL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The NAL units of the first "sprop-parameter-sets=" in the video section
// (from "m=video" to the next media section; the whole SDP without one):
// comma-separated Base64 values, each decoded to one unit (normally the SPS
// and the PPS). Values that are empty or not valid Base64 are left out.
std::vector<std::vector<uint8_t>> sprop_parameter_sets(const std::string& sdp);
