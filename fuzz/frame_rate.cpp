// Frame-rate detection on arbitrary payloads and frame counts: the result
// always lies in 1..120 and equals a plain reading of the rule (first and
// last "HXVF" timestamps, the duration, snapping to a common rate).
#include <cmath>
#include <cstring>

#include "fuzz_support.h"
#include "recording/frame_rate.h"
#include "recording/recording.h"

namespace {

double plain_rate(const uint8_t* p, size_t length, int64_t frame_count) {
  if (frame_count < 2 || length < 32) return 15;
  bool hit = false;
  uint32_t first = 0, last = 0;
  for (size_t i = 0; i + 16 <= length; ++i) {
    if (std::memcmp(p + i, "HXVF", 4) != 0) continue;
    last = read_le32(p + i + 8);
    if (!hit) first = last;
    hit = true;
  }
  if (!hit || last <= first) return 15;
  const double duration = (last - first) / 1000.0;
  if (duration < 1.0) return 15;
  const double rate = static_cast<double>(frame_count - 1) / duration;  // N - 1 intervals
  if (rate < 1.0 || rate > 120.0) return 15;
  return snap_frame_rate(rate);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silence_stdout();
  return 0;
}

// Input: the frame count (8 bytes, little-endian, any value), then the payload.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  uint64_t count_bits = 0;
  std::memcpy(&count_bits, data, 8);
  const int64_t frame_count = static_cast<int64_t>(count_bits);
  const uint8_t* payload = data + 8;
  const size_t length = size - 8;
  const double rate = detect_frame_rate(payload, length, frame_count);
  FUZZ_CHECK(rate >= 1.0 && rate <= 120.0);
  FUZZ_CHECK(rate == plain_rate(payload, length, frame_count));
  const double snapped = snap_frame_rate(rate);
  FUZZ_CHECK(std::isfinite(snapped) && snapped > 0);
  return 0;
}
