#include "platform/mapped_file.h"

#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#endif

namespace {

int64_t page_size() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return static_cast<int64_t>(info.dwPageSize);
#else
  static const int64_t size = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
  return size;
#endif
}

// The whole pages inside [begin, end) of the mapping, as a pointer and a
// length; length 0 when there is none.
struct PageRange {
  uint8_t* start = nullptr;
  size_t length = 0;
};
PageRange whole_pages(const MappedFile& file, int64_t begin, int64_t end) {
  if (!file.data) return {};
  begin = begin < 0 ? 0 : begin;
  end = end > file.size ? file.size : end;
  const int64_t page = page_size();
  const auto base = reinterpret_cast<uintptr_t>(file.data);  // page-aligned
  const int64_t first = (begin + page - 1) / page * page;
  // The file's last partial page is released too: nothing lies after it.
  const int64_t last = end == file.size ? end : end / page * page;
  if (last <= first) return {};
  return {reinterpret_cast<uint8_t*>(base + static_cast<uintptr_t>(first)),
          static_cast<size_t>(last - first)};
}

#ifndef _WIN32

// A page of a mapped file that the file no longer has raises SIGBUS when it
// is read. Inside one of the ranges below a page of zeros is put in its place
// and the read goes on; any other SIGBUS goes where it went before. The
// ranges are process-wide because a signal handler can reach nothing else.
constexpr int kGuardedRanges = 64;
std::atomic<uintptr_t> guarded_begin[kGuardedRanges];
std::atomic<uintptr_t> guarded_end[kGuardedRanges];
struct sigaction previous_bus_action;
std::once_flag bus_handler_installed;

void on_bus_error(int signal_number, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (int i = 0; i < kGuardedRanges; ++i) {
    const uintptr_t begin = guarded_begin[i].load();
    if (begin == 0 || address < begin || address >= guarded_end[i].load()) continue;
    const auto page = static_cast<uintptr_t>(page_size());
    void* zeros = mmap(reinterpret_cast<void*>(address / page * page), page, PROT_READ,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros != MAP_FAILED) return;
    break;
  }
  if (previous_bus_action.sa_flags & SA_SIGINFO) {
    previous_bus_action.sa_sigaction(signal_number, info, context);
    return;
  }
  if (previous_bus_action.sa_handler != SIG_DFL && previous_bus_action.sa_handler != SIG_IGN) {
    previous_bus_action.sa_handler(signal_number);
    return;
  }
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void install_bus_handler() {
  struct sigaction action {};
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &previous_bus_action);
}

void guard_range(const uint8_t* data, int64_t size) {
  std::call_once(bus_handler_installed, install_bus_handler);
  const auto begin = reinterpret_cast<uintptr_t>(data);
  for (int i = 0; i < kGuardedRanges; ++i) {
    uintptr_t free_slot = 0;
    if (guarded_begin[i].compare_exchange_strong(free_slot, begin)) {
      guarded_end[i].store(begin + static_cast<uintptr_t>(size));
      return;
    }
  }
  // More mappings than slots: this one reads as any file does.
}

void unguard_range(const uint8_t* data) {
  const auto begin = reinterpret_cast<uintptr_t>(data);
  for (int i = 0; i < kGuardedRanges; ++i) {
    uintptr_t expected = begin;
    if (guarded_begin[i].compare_exchange_strong(expected, 0)) return;
  }
}

#endif

}  // namespace

#ifdef _WIN32

std::unique_ptr<MappedFile> map_open_file(std::FILE* file) {
  const int64_t size = open_file_size(file);
  if (size <= 0) return nullptr;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (!view) {
    CloseHandle(mapping);
    return nullptr;
  }
  auto mapped = std::make_unique<MappedFile>();
  mapped->data = static_cast<const uint8_t*>(view);
  mapped->size = size;
  mapped->mapping = mapping;
  return mapped;
}

MappedFile::~MappedFile() {
  if (data) UnmapViewOfFile(data);
  if (mapping) CloseHandle(static_cast<HANDLE>(mapping));
}

void release_mapped_pages(const MappedFile& file, int64_t begin, int64_t end) {
  const PageRange pages = whole_pages(file, begin, end);
  // Unlocking pages that are not locked takes them out of the working set.
  if (pages.length > 0) VirtualUnlock(pages.start, pages.length);
}

void prefetch_mapped_pages(const MappedFile&, int64_t, int64_t) {
  // The system reads mapped files ahead by itself; no hint is needed.
}

#else

std::unique_ptr<MappedFile> map_open_file(std::FILE* file) {
  const int64_t size = open_file_size(file);
  if (size <= 0) return nullptr;
  void* view = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fileno(file), 0);
  if (view == MAP_FAILED) return nullptr;
  auto mapped = std::make_unique<MappedFile>();
  mapped->data = static_cast<const uint8_t*>(view);
  mapped->size = size;
  guard_range(mapped->data, size);
  return mapped;
}

MappedFile::~MappedFile() {
  if (!data) return;
  munmap(const_cast<uint8_t*>(data), static_cast<size_t>(size));
  unguard_range(data);
}

void release_mapped_pages(const MappedFile& file, int64_t begin, int64_t end) {
  const PageRange pages = whole_pages(file, begin, end);
  if (pages.length > 0) madvise(pages.start, pages.length, MADV_DONTNEED);
}

void prefetch_mapped_pages(const MappedFile& file, int64_t begin, int64_t end) {
  begin = begin < 0 ? 0 : begin / page_size() * page_size();
  const PageRange pages = whole_pages(file, begin, end < file.size ? end : file.size);
  if (pages.length > 0) madvise(pages.start, pages.length, MADV_WILLNEED);
}

#endif
