#include "rtsp/sdp.h"

#include "rtsp/address.h"
#include "rtsp/ascii_case.h"

namespace {

// The video section: from "m=video" up to the next "m=" line.
std::string video_section(const std::string& sdp) {
  size_t start = sdp.find("m=video");
  if (start == std::string::npos) return sdp;
  size_t next = sdp.find("\nm=", start);
  return sdp.substr(start, next == std::string::npos ? std::string::npos : next - start);
}

// Where the value of parameter `key` (ending in "=") starts: at the start of
// a line's value or after ";" or white space; npos when absent.
size_t parameter_value_at(const std::string& section, const std::string& key) {
  for (size_t at = find_ignoring_case(section, key); at != std::string::npos;
       at = find_ignoring_case(section, key, at + 1)) {
    const char before = at == 0 ? ' ' : section[at - 1];
    if (before == ';' || before == ' ' || before == '\t' || before == '\n') return at + key.size();
  }
  return std::string::npos;
}

// The comma-separated Base64 units of one parameter, appended to `units`.
void append_base64_units(const std::string& section, const std::string& key,
                         std::vector<std::vector<uint8_t>>& units) {
  size_t start = parameter_value_at(section, key);
  if (start == std::string::npos) return;
  size_t end = section.find_first_of("; \t\r\n", start);
  std::string value = section.substr(start, end == std::string::npos ? std::string::npos : end - start);
  size_t from = 0;
  while (from <= value.size()) {
    size_t comma = value.find(',', from);
    if (comma == std::string::npos) comma = value.size();
    std::vector<uint8_t> unit;
    if (comma > from && base64_decode(std::string_view(value).substr(from, comma - from), unit) &&
        !unit.empty())
      units.push_back(std::move(unit));
    from = comma + 1;
  }
}

}  // namespace

std::vector<std::vector<uint8_t>> sprop_parameter_sets(const std::string& sdp) {
  std::vector<std::vector<uint8_t>> units;
  append_base64_units(video_section(sdp), "sprop-parameter-sets=", units);
  return units;
}

std::vector<std::vector<uint8_t>> sprop_h265_parameter_sets(const std::string& sdp) {
  std::vector<std::vector<uint8_t>> units;
  const std::string section = video_section(sdp);
  for (const char* key : {"sprop-vps=", "sprop-sps=", "sprop-pps="})
    append_base64_units(section, key, units);
  return units;
}

std::string sdp_video_encoding(const std::string& sdp) {
  const std::string section = video_section(sdp);
  size_t at = section.find("a=rtpmap:");
  if (at == std::string::npos) return "";
  size_t space = section.find_first_of(" \t", at);
  size_t line_end = section.find_first_of("\r\n", at);
  if (space == std::string::npos || space > line_end) return "";
  size_t start = section.find_first_not_of(" \t", space);
  if (start == std::string::npos || start >= line_end) return "";
  size_t end = section.find_first_of("/ \t\r\n", start);
  return section.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

VideoCodec video_codec_from_encoding(const std::string& encoding) {
  if (encoding.empty() || equals_ignoring_case(encoding, "H264")) return VideoCodec::h264;
  if (equals_ignoring_case(encoding, "H265") || equals_ignoring_case(encoding, "HEVC"))
    return VideoCodec::h265;
  return VideoCodec::unsupported;
}

int32_t sdp_fmtp_number(const std::string& sdp, const std::string& name) {
  const std::string section = video_section(sdp);
  size_t start = parameter_value_at(section, name + "=");
  if (start == std::string::npos) return 0;
  return parse_decimal_prefix(std::string_view(section).substr(start));
}

bool sdp_needs_decoding_order(const std::string& sdp) {
  return sdp_fmtp_number(sdp, "sprop-max-don-diff") > 0 ||
         sdp_fmtp_number(sdp, "sprop-depack-buf-nalus") > 0;
}
