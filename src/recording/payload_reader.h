// Reading a recording's payload in bounded windows, for converting files of
// any size in a fixed amount of memory. Each window is what the caller left
// unconsumed of the last one followed by the next piece of the file; the
// piece after it is read on a helper thread while the caller works.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

constexpr size_t kPieceBytes = size_t{8} << 20;
constexpr size_t kCarryRoom = size_t{4} << 20;  // unconsumed bytes that move without a regrow

struct PayloadReader {
  FILE* file = nullptr;
  int64_t payload_size = 0;     // bytes after the 32-byte file header
  int64_t window_offset = 0;    // payload offset of window()[0]
  std::vector<uint8_t> buffers[2];
  int current = 0;
  size_t begin = 0, end = 0;    // the window is buffers[current][begin, end)
  int64_t read_total = 0;       // payload bytes read so far (current window included)
  bool at_end = false;          // the window reaches the payload's end
  bool failed = false;          // a read error
  size_t first_piece_bytes = kPieceBytes;  // set before opening: a smaller first window comes sooner
  // The next piece, read ahead into buffers[1 - current] at kCarryRoom.
  std::thread ahead;
  size_t ahead_bytes = 0;

  PayloadReader() = default;
  PayloadReader(const PayloadReader&) = delete;
  PayloadReader& operator=(const PayloadReader&) = delete;
  ~PayloadReader();  // waits for the helper thread and closes the file
};

// Opens `path` and reads the first window, which starts `start` bytes into
// the payload (0: at its start; a later start reads nothing before it); at
// most `payload_limit` payload bytes count (a file that grows meanwhile is
// read as it was). False with *reason set when the file cannot be opened, is
// 32 bytes or less, cannot be read, or ends at or before `start`. May throw
// std::bad_alloc or std::system_error (no thread); the reader stays safe to
// destroy.
bool open_payload_reader(PayloadReader& reader, const std::string& path, std::string* reason,
                         int64_t start = 0, int64_t payload_limit = INT64_MAX);

// The current window and its length.
const uint8_t* window_data(const PayloadReader& reader);
size_t window_length(const PayloadReader& reader);

// Drops the first `consumed` bytes of the window and appends the next piece
// to the rest. When nothing was consumed the window grows instead, so a unit
// longer than a piece still fits. False on a read error or when already at the end.
bool advance_window(PayloadReader& reader, size_t consumed);

// Waits for the helper thread and closes the file; safe to call twice.
void close_payload_reader(PayloadReader& reader);
