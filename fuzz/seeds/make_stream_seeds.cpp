// Writes seed inputs for the network fuzz targets from a real recording: what
// a camera sends over its RTSP connection. For each NAL unit packetisation
// (single units, STAP-A aggregates, FU-A fragments, RTP headers with CSRC and
// extension) one interleaved stream, and one whole server side of a session
// (answers to OPTIONS, DESCRIBE with an SDP, SETUP, PLAY, then the stream).
//   make_stream_seeds RECORDING STREAM_PREFIX EXCHANGE_PREFIX
#include <cstdio>
#include <string>
#include <vector>

#include "recording/recording.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxSeedBytes = 12000;  // small seeds keep the fuzzers fast

struct RtpWriter {
  uint16_t sequence = 1;
  uint32_t timestamp = 90000;
  int csrc_count = 0;
  bool extension = false;
};

std::string base64(const uint8_t* data, size_t size) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < size; i += 3) {
    uint32_t group = static_cast<uint32_t>(data[i]) << 16;
    if (i + 1 < size) group |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (i + 2 < size) group |= data[i + 2];
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += i + 1 < size ? kAlphabet[(group >> 6) & 63] : '=';
    text += i + 2 < size ? kAlphabet[group & 63] : '=';
  }
  return text;
}

// One "$"-framed RTP packet on `channel` carrying `payload`.
void append_frame(Bytes& out, RtpWriter& rtp, int channel, const Bytes& payload) {
  Bytes packet = {static_cast<uint8_t>(0x80 | (rtp.extension ? 0x10 : 0) | rtp.csrc_count), 0x60,
                  static_cast<uint8_t>(rtp.sequence >> 8), static_cast<uint8_t>(rtp.sequence),
                  static_cast<uint8_t>(rtp.timestamp >> 24), static_cast<uint8_t>(rtp.timestamp >> 16),
                  static_cast<uint8_t>(rtp.timestamp >> 8), static_cast<uint8_t>(rtp.timestamp),
                  0x12, 0x34, 0x56, 0x78};
  for (int i = 0; i < rtp.csrc_count; ++i) packet.insert(packet.end(), {0, 0, 0, static_cast<uint8_t>(i)});
  if (rtp.extension) packet.insert(packet.end(), {0xBE, 0xDE, 0, 1, 1, 2, 3, 4});
  packet.insert(packet.end(), payload.begin(), payload.end());
  ++rtp.sequence;
  rtp.timestamp += 3600;
  out.insert(out.end(), {'$', static_cast<uint8_t>(channel), static_cast<uint8_t>(packet.size() >> 8),
                         static_cast<uint8_t>(packet.size())});
  out.insert(out.end(), packet.begin(), packet.end());
}

void append_fu_a(Bytes& out, RtpWriter& rtp, const NalUnit& unit, size_t piece) {
  const uint8_t indicator = static_cast<uint8_t>((unit.data[0] & 0xE0) | 28);
  size_t offset = 1;
  const size_t size = static_cast<size_t>(unit.size);
  while (offset < size) {
    const size_t take = std::min(piece, size - offset);
    uint8_t header = static_cast<uint8_t>(unit.type);
    if (offset == 1) header |= 0x80;
    if (offset + take == size) header |= 0x40;
    Bytes payload = {indicator, header};
    payload.insert(payload.end(), unit.data + offset, unit.data + offset + take);
    append_frame(out, rtp, 0, payload);
    offset += take;
  }
}

enum class Packing { single, stap, fragments, headers };

// The units as a camera would send them, until the seed is big enough.
Bytes make_stream(const std::vector<NalUnit>& units, Packing packing) {
  Bytes out;
  RtpWriter rtp;
  if (packing == Packing::headers) {
    rtp.csrc_count = 2;
    rtp.extension = true;
  }
  Bytes stap = {24};
  for (const NalUnit& unit : units) {
    if (out.size() > kMaxSeedBytes) break;
    const size_t size = static_cast<size_t>(unit.size);
    if (packing == Packing::stap && size < 400) {
      stap.push_back(static_cast<uint8_t>(size >> 8));
      stap.push_back(static_cast<uint8_t>(size));
      stap.insert(stap.end(), unit.data, unit.data + size);
      if (unit.type != 7 && unit.type != 8) {  // parameter sets travel with the next slice
        append_frame(out, rtp, 0, stap);
        stap = {24};
      }
    } else if (packing == Packing::fragments || size > 1400) {
      append_fu_a(out, rtp, unit, packing == Packing::fragments ? 300 : 1400);
    } else {
      append_frame(out, rtp, 0, Bytes(unit.data, unit.data + size));
    }
  }
  append_frame(out, rtp, 1, Bytes{0x81, 0xC8, 0, 6});  // an RTCP sender report's start
  return out;
}

std::string sdp_for(const std::vector<NalUnit>& units) {
  std::string sets;
  for (int wanted : {7, 8}) {
    for (const NalUnit& unit : units) {
      if (unit.type != wanted) continue;
      // The unit's bytes may carry the camera's block headers before the next
      // start code; the SDP carries the parameter set alone.
      size_t size = static_cast<size_t>(unit.size);
      while (size > 1 && unit.data[size - 1] == 0) --size;
      sets += (sets.empty() ? "" : ",") + base64(unit.data, std::min<size_t>(size, 64));
      break;
    }
  }
  return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Session\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
         "a=control:*\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
         "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=" + sets + "\r\n"
         "a=control:stream=0\r\n";
}

std::string server_answers(const std::string& sdp) {
  return "RTSP/1.0 200 OK\r\nCSeq: 1\r\nPublic: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER\r\n\r\n"
         "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\nContent-Length: " +
         std::to_string(sdp.size()) + "\r\n\r\n" + sdp +
         "RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"
         "Session: 12345678;timeout=60\r\n\r\n"
         "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 12345678\r\nRange: npt=0.000-\r\n\r\n";
}

bool write_file(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_stream_seeds RECORDING STREAM_PREFIX EXCHANGE_PREFIX\n");
    return 2;
  }
  Recording recording;
  LoadStatus status = read_recording_payload(argv[1], recording);
  if (status != LoadStatus::ok) {
    std::fprintf(stderr, "%s", load_error_message(status, argv[1]).c_str());
    return 1;
  }
  const auto units = index_nal_units(recording.payload(), recording.length);
  if (units.empty()) {
    std::fprintf(stderr, "make_stream_seeds: no NAL units in %s\n", argv[1]);
    return 1;
  }
  const std::string answers = server_answers(sdp_for(units));
  const struct {
    const char* name;
    Packing packing;
  } kinds[] = {{"single", Packing::single}, {"stap", Packing::stap},
               {"fragments", Packing::fragments}, {"headers", Packing::headers}};
  for (const auto& kind : kinds) {
    const Bytes stream = make_stream(units, kind.packing);
    Bytes exchange(answers.begin(), answers.end());
    exchange.insert(exchange.end(), stream.begin(), stream.end());
    if (!write_file(std::string(argv[2]) + "-" + kind.name, stream) ||
        !write_file(std::string(argv[3]) + "-" + kind.name, exchange)) {
      std::fprintf(stderr, "make_stream_seeds: cannot write the seeds\n");
      return 1;
    }
  }
  return 0;
}
