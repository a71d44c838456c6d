// The sound side of a camera's stream on arbitrary bytes: a session
// description (a 16-bit big-endian length and its text) read for its sound
// track, then a run of RTP packets (each a 16-bit length and its bytes)
// depacketised as that track says, every packet also read as RTCP for a
// sender report and timed on the media clock. Every unit handed on must lie
// inside the packet or the gathered unit and stay under the cap.
#include <vector>

#include "fuzz_support.h"
#include "media/aac_config.h"
#include "rtsp/depacketizer_sound.h"
#include "rtsp/media_clock.h"

namespace {

const std::vector<uint8_t>* current_packet = nullptr;
const SoundDepacketizerState* current_state = nullptr;
uint64_t checksum = 0;

bool inside(const uint8_t* unit, size_t size, const std::vector<uint8_t>& buffer) {
  return unit >= buffer.data() && size <= buffer.size() && unit + size <= buffer.data() + buffer.size();
}

void check_unit(const uint8_t* unit, size_t size, uint32_t time) {
  FUZZ_CHECK(size > 0 && size <= kMaxSoundUnitBytes);
  FUZZ_CHECK(inside(unit, size, *current_packet) || inside(unit, size, current_state->gathered));
  checksum += unit[0] + unit[size - 1] + time;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t sdp_size = size_t(data[0]) << 8 | data[1];
  if (sdp_size > size - 2) sdp_size = size - 2;
  const std::string sdp(reinterpret_cast<const char*>(data + 2), sdp_size);
  SoundDepacketizerState state;
  state.sound = sdp_sound(sdp);
  if (!state.sound.aac_config.empty()) {
    size_t end = 0;
    AacConfigInfo info;
    read_audio_specific_config(state.sound.aac_config, 0, end, info);
    std::vector<uint8_t> asc;
    int subframes = 0;
    latm_audio_specific_config(state.sound.aac_config, asc, subframes);
  }
  current_state = &state;
  MediaClock clock = make_media_clock(90000, state.sound.clock_rate > 0 ? state.sound.clock_rate : 8000);
  size_t at = 2 + sdp_size;
  double now = 0;
  while (at + 2 <= size) {
    size_t length = size_t(data[at]) << 8 | data[at + 1];
    at += 2;
    if (length > size - at) length = size - at;
    // A copy of its own, so the sanitizer catches a read past the packet.
    const std::vector<uint8_t> packet(data + at, data + at + length);
    current_packet = &packet;
    depacketize_sound(packet.data(), packet.size(), state, check_unit);
    if (length % 5 == 2) note_sound_packet_loss(state);
    SenderReport report;
    if (find_sender_report(packet.data(), packet.size(), report)) take_sender_report(clock, clock.sound, report);
    if (packet.size() >= 8) {
      const uint32_t rtp = uint32_t(packet[4]) << 24 | uint32_t(packet[5]) << 16 | uint32_t(packet[6]) << 8 | packet[7];
      now += 0.01;
      const double t = media_time(clock, length % 2 ? clock.video : clock.sound, rtp, now);
      FUZZ_CHECK(t == t);  // never NaN
    }
    FUZZ_CHECK(state.gathered.size() <= kMaxSoundUnitBytes);
    at += length;
  }
  return 0;
}
