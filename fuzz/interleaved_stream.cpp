// The streaming side of the client on an arbitrary byte stream: interleaved
// frames read one turn at a time from a socket and depacketised. Every unit
// handed on must lie inside the frame it came from (or, rebuilt from
// fragments, stay under the fragment limit), and the reader must reach the
// end of the stream in a bounded number of turns.
#include <cstring>

#include "fuzz_socket.h"
#include "fuzz_support.h"
#include "rtsp/depacketizer.h"
#include "rtsp/interleaved.h"

namespace {

const InterleavedFrame* current_frame = nullptr;
const DepacketizerState* current_state = nullptr;
uint64_t checksum = 0;

// Touches every byte so the sanitizer sees a read outside the unit's memory.
void check_unit(const uint8_t* unit, size_t size) {
  FUZZ_CHECK(size > 0);
  const uint8_t* frame_begin = current_frame->data.data();
  const uint8_t* frame_end = frame_begin + current_frame->data.size();
  const bool inside_frame = unit >= frame_begin && unit + size <= frame_end;
  const bool rebuilt = unit == current_state->fragment_buffer.data();
  FUZZ_CHECK(inside_frame || rebuilt);
  FUZZ_CHECK(size <= kMaxFragmentBytes);
  for (size_t i = 0; i < size; ++i) checksum += unit[i];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FedSocket fed;
  if (!feed_socket(data, size, fed)) return 0;
  net_set_receive_timeout(fed.reader, 20);
  NalSinks sinks;
  sinks.feed_nal = check_unit;
  sinks.decode_and_show = check_unit;
  DepacketizerState state;
  InterleavedFrame frame;
  current_frame = &frame;
  current_state = &state;
  // Every turn consumes at least one byte until the stream ends.
  size_t turns = 0;
  while (!fed.reader.peer_closed) {
    FUZZ_CHECK(++turns <= size + 1);
    if (!read_interleaved_frame(fed.reader, frame)) continue;
    FUZZ_CHECK(!frame.data.empty() && frame.data.size() <= 65535);
    handle_interleaved_frame(frame, state, sinks);
    FUZZ_CHECK(state.fragment_buffer.size() <= kMaxFragmentBytes);
  }
  return 0;
}
