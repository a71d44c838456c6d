// Keeps what one reader of a mapped recording touched from piling up in
// the process's resident memory: a reader going through the file (the
// decoding thread) notes each read, and the pages it has left behind are
// released a span at a time; a jump elsewhere (a seek) releases the whole
// span read before it. Released pages read back from the file when touched.
#pragma once

#include <cstddef>
#include <cstdint>

struct MappedFile;

// Bytes read past before the pages behind the reader are released, and how
// much just behind it stays (a unit read again shortly, sound blocks
// between the pictures).
constexpr int64_t kResidentSpanBytes = int64_t{8} << 20;
constexpr int64_t kResidentKeepBytes = int64_t{1} << 20;

struct ResidentPages {
  const MappedFile* file = nullptr;  // null: nothing is tracked
  int64_t begin = -1, end = -1;      // file offsets of the span read and not yet released
  int64_t released_bytes = 0;        // over the reader's life, for tests and benchmarks
};

// Notes a read of `size` bytes at `data` (inside the file's mapping).
void note_resident_read(ResidentPages& pages, const uint8_t* data, size_t size);

// Releases everything noted so far (the reader stops or starts elsewhere).
void release_resident_pages(ResidentPages& pages);
