#include "convert/temporary_files.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/files.h"
#include "platform/process.h"
#include "recording/folder_order.h"

namespace {

constexpr char kPrefix[] = ".tmp-";
constexpr char kSuffix[] = ".mp4";
constexpr size_t kMaxHostBytes = 63;
constexpr size_t kMaxNumberDigits = 18;  // fits a long on every platform we build for

// Paths of the temporaries being written, in fixed storage a signal handler
// may read: a slot is taken (`used`), its path stored, then marked `ready`;
// the handler reads only ready slots. A path is registered before its file
// exists, so no moment leaves a file the handler does not know.
constexpr int kTemporarySlots = 64;
constexpr size_t kTemporaryPathMax = 4096;
struct TemporarySlot {
  std::atomic<bool> used{false};
  std::atomic<bool> ready{false};
  char path[kTemporaryPathMax];
};
TemporarySlot g_temporaries[kTemporarySlots];

int claim_temporary_slot(const std::string& path) {
  if (path.size() >= kTemporaryPathMax) return -1;
  for (int i = 0; i < kTemporarySlots; ++i) {
    bool expected = false;
    if (!g_temporaries[i].used.compare_exchange_strong(expected, true)) continue;
    std::memcpy(g_temporaries[i].path, path.c_str(), path.size() + 1);
    g_temporaries[i].ready.store(true);
    return i;
  }
  return -1;
}

void release_temporary_slot(int slot) {
  if (slot < 0) return;
  g_temporaries[slot].ready.store(false);
  g_temporaries[slot].used.store(false);
}

bool host_byte_allowed(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_';
}

// A whole decimal number as to_string writes it: digits only, no leading zero.
bool parse_plain_number(const std::string& text, unsigned long long* value) {
  if (text.empty() || text.size() > kMaxNumberDigits) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  unsigned long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned long long>(c - '0');
  }
  *value = v;
  return true;
}

}  // namespace

std::string temporary_name(const std::string& host, long pid, unsigned long sequence) {
  return kPrefix + host + "-" + std::to_string(pid) + "-" + std::to_string(sequence) + kSuffix;
}

bool parse_temporary_name(const std::string& name, TemporaryOwner* owner) {
  const size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
  if (name.size() <= prefix + suffix || name.compare(0, prefix, kPrefix) != 0 ||
      name.compare(name.size() - suffix, suffix, kSuffix) != 0) {
    return false;
  }
  const std::string middle = name.substr(prefix, name.size() - prefix - suffix);
  const size_t first_dash = middle.find('-');
  const size_t last_dash = middle.rfind('-');
  if (first_dash == std::string::npos || first_dash == last_dash ||
      middle.find('-', first_dash + 1) != last_dash) {
    return false;
  }
  const std::string host = middle.substr(0, first_dash);
  if (host.empty() || host.size() > kMaxHostBytes) return false;
  for (char c : host) {
    if (!host_byte_allowed(c)) return false;
  }
  unsigned long long pid = 0, sequence = 0;
  if (!parse_plain_number(middle.substr(first_dash + 1, last_dash - first_dash - 1), &pid) ||
      !parse_plain_number(middle.substr(last_dash + 1), &sequence) || pid == 0) {
    return false;
  }
  owner->host = host;
  owner->pid = static_cast<long>(pid);
  return true;
}

std::string file_name_host(const std::string& raw) {
  std::string host = raw.substr(0, kMaxHostBytes);
  for (char& c : host) {
    if (!host_byte_allowed(c)) c = '_';
  }
  return host;
}

std::string temporary_host_name() {
  static const std::string host = file_name_host(host_name());
  return host;
}

TemporaryFile::~TemporaryFile() {
  if (!path.empty()) {
    std::error_code ignored;
    std::filesystem::remove(file_system_path(path), ignored);
  }
  release_temporary_slot(slot);  // after the file is gone, so no signal finds it unregistered
}

bool create_temporary_beside(const std::string& output_path, TemporaryFile& file) {
  static std::atomic<unsigned long> sequence{0};
  const std::string host = temporary_host_name();
  const std::string folder = folder_of(output_path);
  for (int attempt = 0; attempt < 16; ++attempt) {
    // In the target's folder, so moving it there is a rename within one file
    // system; the name does not grow with the target's.
    const std::string path = folder + temporary_name(host.empty() ? "unknown" : host,
                                                     current_process_id(), sequence.fetch_add(1));
    const int slot = claim_temporary_slot(path);
    const CreateResult created = create_new_file(path);
    if (created == CreateResult::created) {
      file.path = path;
      file.slot = slot;
      return true;
    }
    release_temporary_slot(slot);
    if (created == CreateResult::failed) return false;
  }
  return false;
}

int remove_stale_temporaries(const std::string& folder) {
  const std::string host = temporary_host_name();
  if (host.empty()) return 0;  // no way to tell ours from another machine's
  int removed = 0;
  std::error_code error;
  std::filesystem::directory_iterator entry(file_system_path(folder), error);
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    // UTF-8 bytes, which need no conversion: a temporary's name is plain ASCII.
    const std::u8string name_bytes = entry->path().filename().u8string();
    TemporaryOwner owner;
    if (!parse_temporary_name(std::string(name_bytes.begin(), name_bytes.end()), &owner)) continue;
    if (owner.host != host || owner.pid == current_process_id()) continue;
    if (process_is_running(owner.pid)) continue;
    std::error_code ignored;
    if (std::filesystem::remove(entry->path(), ignored)) ++removed;
  }
  return removed;
}

void remove_active_temporaries() {
  for (TemporarySlot& slot : g_temporaries) {
    if (slot.ready.load()) remove_file_now(slot.path);
  }
}
