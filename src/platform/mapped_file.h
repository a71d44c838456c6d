// A file mapped read-only into the address space (mmap, or a file mapping
// object and a view on Windows): its bytes are read through pointers without
// being copied onto the heap, and only the pages being read are resident.
// Files of any size map whole on the 64-bit systems this program is built for.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

struct MappedFile {
  const uint8_t* data = nullptr;
  int64_t size = 0;
  void* mapping = nullptr;  // Windows: the file mapping object; unused elsewhere

  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();  // unmaps
};

// Maps the whole of the open file `file` (at least one byte long) read-only;
// null when the system cannot map it. `file` may be closed afterwards: the
// mapping keeps the file's bytes. On Linux a read from pages that the file
// no longer has (it was cut short while mapped) reads zeros instead of
// ending the process.
std::unique_ptr<MappedFile> map_open_file(std::FILE* file);

// Drops the pages wholly inside file offsets [begin, end) from the process's
// resident memory; touched again they are read back from the file (usually
// from the system's cache). The bytes do not change.
void release_mapped_pages(const MappedFile& file, int64_t begin, int64_t end);

// Tells the system that file offsets [begin, end) will be read soon.
void prefetch_mapped_pages(const MappedFile& file, int64_t begin, int64_t end);
