#include "rtsp/sdp.h"

#include "rtsp/address.h"

namespace {

// The video section: from "m=video" up to the next "m=" line.
std::string video_section(const std::string& sdp) {
  size_t start = sdp.find("m=video");
  if (start == std::string::npos) return sdp;
  size_t next = sdp.find("\nm=", start);
  return sdp.substr(start, next == std::string::npos ? std::string::npos : next - start);
}

}  // namespace

std::vector<std::vector<uint8_t>> sprop_parameter_sets(const std::string& sdp) {
  std::vector<std::vector<uint8_t>> units;
  std::string section = video_section(sdp);
  const std::string key = "sprop-parameter-sets=";
  size_t at = section.find(key);
  if (at == std::string::npos) return units;
  size_t start = at + key.size();
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
  return units;
}
