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

// The sound track of a session description: its first "m=audio" section.
struct SdpSound {
  SoundCodec codec = SoundCodec::none;  // none when the SDP has no sound section
  std::string encoding;   // as a=rtpmap names it, or the static type's name ("PCMA")
  int payload_type = -1;  // the section's first payload type
  int clock_rate = 0;     // the RTP clock: samples per second for G.711 and AAC
  int channels = 1;
  std::string control;    // the section's a=control value; empty without one
  // AAC: the AudioSpecificConfig the decoder is opened with.
  std::vector<uint8_t> aac_config;
  // mpeg4-generic: bits of an AU header's size, index and index-delta fields,
  // and the samples of one access unit ("constantDuration", else 1024).
  int size_length = 0, index_length = 0, index_delta_length = 0;
  int au_samples = 1024;
  // MP4A-LATM: subframes per AudioMuxElement.
  int latm_subframes = 1;
  std::string unplayable;  // for `unsupported`: what cannot be played, in plain words
};

// Reads the sound section: a=rtpmap of its first payload type (static types 0
// and 8 are PCMU and PCMA without one), a=fmtp parameters and a=control.
// Sound that cannot be played (another codec, AAC without a usable
// configuration, LATM with its configuration in the stream) comes back as
// `unsupported` with the reason.
SdpSound sdp_sound(const std::string& sdp);
