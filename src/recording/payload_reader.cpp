#include "recording/payload_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/files.h"
#include "recording/recording.h"

namespace {

// The next piece goes into the spare buffer behind room for the carried bytes.
void start_reading_ahead(PayloadReader& r, size_t piece = kPieceBytes) {
  const int64_t left = r.payload_size - r.read_total;
  const size_t want = left < static_cast<int64_t>(piece) ? static_cast<size_t>(left) : piece;
  std::vector<uint8_t>& spare = r.buffers[1 - r.current];
  if (spare.size() < kCarryRoom + kPieceBytes) spare.resize(kCarryRoom + kPieceBytes);
  r.ahead_bytes = 0;
  uint8_t* target = spare.data() + kCarryRoom;
  FILE* file = r.file;
  size_t* got = &r.ahead_bytes;
  r.ahead = std::thread([file, target, want, got] { *got = std::fread(target, 1, want, file); });
}

void finish_reading_ahead(PayloadReader& r) {
  if (r.ahead.joinable()) r.ahead.join();
}

}  // namespace

bool open_payload_reader(PayloadReader& r, const std::string& path, std::string* reason,
                         int64_t start, int64_t payload_limit) {
  r.file = open_file(path, "rb");
  if (!r.file) return *reason = "cannot open the recording", false;
  const int64_t size = open_file_size(r.file);
  if (size < 0) return *reason = "cannot read the recording", false;
  if (size <= static_cast<int64_t>(kFileHeaderSize)) return *reason = "file too small", false;
  r.payload_size = std::min(size - static_cast<int64_t>(kFileHeaderSize), payload_limit);
  if (start < 0 || start >= r.payload_size) return *reason = "the stretch lies past the recording's end", false;
  if (!seek_file(r.file, static_cast<int64_t>(kFileHeaderSize) + start, SEEK_SET)) {
    return *reason = "cannot read the recording", false;
  }
  r.window_offset = start;
  r.read_total = start;
  r.buffers[0].resize(kCarryRoom + kPieceBytes);
  r.current = 0;
  r.begin = r.end = kCarryRoom;
  start_reading_ahead(r, std::min(r.first_piece_bytes, kPieceBytes));
  finish_reading_ahead(r);
  // The first piece landed in the spare buffer: make it the window.
  r.current = 1;
  r.end = r.begin + r.ahead_bytes;
  r.read_total += static_cast<int64_t>(r.ahead_bytes);
  r.at_end = r.read_total >= r.payload_size || r.ahead_bytes == 0;
  if (r.ahead_bytes == 0) return *reason = "cannot read the recording", false;
  if (!r.at_end) start_reading_ahead(r);
  return true;
}

const uint8_t* window_data(const PayloadReader& r) { return r.buffers[r.current].data() + r.begin; }

size_t window_length(const PayloadReader& r) { return r.end - r.begin; }

bool advance_window(PayloadReader& r, size_t consumed) {
  if (r.at_end) return false;
  finish_reading_ahead(r);
  const size_t piece = r.ahead_bytes;
  if (piece == 0) {  // shorter than its size said: a read error or a file cut meanwhile
    r.failed = std::ferror(r.file) != 0;
    r.at_end = true;
    return !r.failed;
  }
  const uint8_t* carry = window_data(r) + consumed;
  const size_t carry_size = window_length(r) - consumed;
  std::vector<uint8_t>& next = r.buffers[1 - r.current];
  size_t new_begin = 0;
  if (carry_size <= kCarryRoom) {
    new_begin = kCarryRoom - carry_size;
    std::memcpy(next.data() + new_begin, carry, carry_size);
  } else {
    // A unit longer than the room: one bigger buffer holds the carry, then the piece.
    std::vector<uint8_t> joined(carry_size + piece);
    std::memcpy(joined.data(), carry, carry_size);
    std::memcpy(joined.data() + carry_size, next.data() + kCarryRoom, piece);
    next.swap(joined);
    new_begin = 0;
  }
  r.window_offset += static_cast<int64_t>(consumed);
  r.current = 1 - r.current;
  r.begin = new_begin;
  r.end = (carry_size <= kCarryRoom ? kCarryRoom : carry_size) + piece;
  r.read_total += static_cast<int64_t>(piece);
  r.at_end = r.read_total >= r.payload_size;
  // The old window's buffer is free now; shrink it back if it grew for a long unit.
  std::vector<uint8_t>& old = r.buffers[1 - r.current];
  if (old.size() > kCarryRoom + kPieceBytes) std::vector<uint8_t>().swap(old);
  if (!r.at_end) start_reading_ahead(r);
  return true;
}

PayloadReader::~PayloadReader() { close_payload_reader(*this); }

void close_payload_reader(PayloadReader& r) {
  finish_reading_ahead(r);
  if (r.file) std::fclose(r.file);
  r.file = nullptr;
}
