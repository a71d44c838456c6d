#include "rtsp/sdp.h"

#include "media/aac_config.h"
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

namespace {

// The first "m=audio" section up to the next "m=" line; empty without one.
std::string sound_section(const std::string& sdp) {
  size_t start = sdp.find("m=audio");
  if (start == std::string::npos) return "";
  size_t next = sdp.find("\nm=", start);
  return sdp.substr(start, next == std::string::npos ? std::string::npos : next - start);
}

// The rest of the line after `prefix` at the start of a line of `section`; empty when absent.
std::string line_value(const std::string& section, const std::string& prefix) {
  for (size_t at = section.find(prefix); at != std::string::npos; at = section.find(prefix, at + 1)) {
    if (at != 0 && section[at - 1] != '\n') continue;
    const size_t start = at + prefix.size();
    const size_t end = section.find_first_of("\r\n", start);
    return section.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  return "";
}

// The value of parameter `name` in an fmtp line ("a; b=c; ..."), letter case
// of the name aside; empty when absent.
std::string fmtp_value(const std::string& fmtp, const std::string& name) {
  size_t from = 0;
  while (from < fmtp.size()) {
    size_t end = fmtp.find(';', from);
    if (end == std::string::npos) end = fmtp.size();
    std::string_view part = std::string_view(fmtp).substr(from, end - from);
    while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) part.remove_prefix(1);
    while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.remove_suffix(1);
    const size_t equals = part.find('=');
    if (equals != std::string_view::npos && equals_ignoring_case(part.substr(0, equals), name))
      return std::string(part.substr(equals + 1));
    from = end + 1;
  }
  return "";
}

void unplayable(SdpSound& sound, const std::string& why) {
  sound.codec = SoundCodec::unsupported;
  sound.unplayable = why;
}

void read_mpeg4_generic(SdpSound& sound, const std::string& fmtp) {
  const std::string mode = fmtp_value(fmtp, "mode");
  if (!equals_ignoring_case(mode, "AAC-hbr") && !equals_ignoring_case(mode, "AAC-lbr"))
    return unplayable(sound, "mpeg4-generic in mode \"" + mode + "\"");
  AacConfigInfo info;
  size_t end = 0;
  if (!parse_hex_bytes(fmtp_value(fmtp, "config"), sound.aac_config) || sound.aac_config.empty() ||
      !read_audio_specific_config(sound.aac_config, 0, end, info))
    return unplayable(sound, "AAC without a configuration that reads");
  sound.size_length = parse_decimal_prefix(fmtp_value(fmtp, "sizelength"));
  sound.index_length = parse_decimal_prefix(fmtp_value(fmtp, "indexlength"));
  sound.index_delta_length = parse_decimal_prefix(fmtp_value(fmtp, "indexdeltalength"));
  const int duration = parse_decimal_prefix(fmtp_value(fmtp, "constantduration"));
  if (duration > 0) sound.au_samples = duration;
  if (sound.size_length <= 0 || sound.size_length > 32 || sound.index_length < 0 || sound.index_length > 32 ||
      sound.index_delta_length < 0 || sound.index_delta_length > 32)
    return unplayable(sound, "AAC whose access unit headers are not AAC-hbr or AAC-lbr");
  sound.codec = SoundCodec::aac;
}

void read_latm(SdpSound& sound, const std::string& fmtp) {
  const std::string present = fmtp_value(fmtp, "cpresent");
  if (present.empty() || parse_decimal_prefix(present) != 0)
    return unplayable(sound, "MP4A-LATM with its configuration in the stream");
  std::vector<uint8_t> mux_config;
  if (!parse_hex_bytes(fmtp_value(fmtp, "config"), mux_config) ||
      !latm_audio_specific_config(mux_config, sound.aac_config, sound.latm_subframes))
    return unplayable(sound, "MP4A-LATM without a configuration that reads");
  sound.codec = SoundCodec::aac_latm;
}

}  // namespace

SdpSound sdp_sound(const std::string& sdp) {
  SdpSound sound;
  const std::string section = sound_section(sdp);
  if (section.empty()) return sound;
  // "m=audio <port> <proto> <first payload type> ..."
  const std::string media = line_value(section, "m=audio");
  size_t at = 0;
  for (int field = 0; field < 2 && at != std::string::npos; ++field) {
    at = media.find_first_not_of(' ', at);
    at = at == std::string::npos ? at : media.find(' ', at);
  }
  sound.payload_type = at == std::string::npos ? -1 : parse_decimal_prefix(std::string_view(media).substr(at));
  sound.control = line_value(section, "a=control:");
  const std::string type = std::to_string(sound.payload_type);
  const std::string map = line_value(section, "a=rtpmap:" + type + " ");
  if (!map.empty()) {
    const size_t slash = map.find('/');
    sound.encoding = map.substr(0, slash);
    if (slash != std::string::npos) {
      sound.clock_rate = parse_decimal_prefix(std::string_view(map).substr(slash + 1));
      const size_t second = map.find('/', slash + 1);
      if (second != std::string::npos) sound.channels = parse_decimal_prefix(std::string_view(map).substr(second + 1));
    }
  } else if (sound.payload_type == 0 || sound.payload_type == 8) {
    sound.encoding = sound.payload_type == 0 ? "PCMU" : "PCMA";
    sound.clock_rate = 8000;
  }
  if (sound.channels < 1 || sound.channels > 8) {
    unplayable(sound, "sound with " + std::to_string(sound.channels) + " channels");
    return sound;
  }
  if (sound.clock_rate <= 0) {
    unplayable(sound, "sound without a clock rate (" + sound.encoding + ")");
    return sound;
  }
  // Every rate a camera's sound uses lies well inside this; anything beyond is
  // not sound we can play, and sizes reckoned from it would overflow.
  if (sound.clock_rate < 1000 || sound.clock_rate > 192000) {
    unplayable(sound, "sound at " + std::to_string(sound.clock_rate) + " Hz");
    return sound;
  }
  const std::string fmtp = line_value(section, "a=fmtp:" + type + " ");
  if (equals_ignoring_case(sound.encoding, "PCMA")) {
    sound.codec = SoundCodec::pcma;
  } else if (equals_ignoring_case(sound.encoding, "PCMU")) {
    sound.codec = SoundCodec::pcmu;
  } else if (equals_ignoring_case(sound.encoding, "mpeg4-generic")) {
    read_mpeg4_generic(sound, fmtp);
  } else if (equals_ignoring_case(sound.encoding, "MP4A-LATM")) {
    read_latm(sound, fmtp);
  } else {
    unplayable(sound, "the sound codec " + (sound.encoding.empty() ? "of payload type " + type : sound.encoding));
  }
  return sound;
}
