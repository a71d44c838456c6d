// Temporary MP4s: written beside their target under a name that says which
// machine and process writes them, and moved over the target when complete.
// A folder may be shared by several computers, so only this machine's
// temporaries whose process has ended are ever removed as stale.
#pragma once

#include <string>

// ".tmp-<host>-<pid>-<n>.mp4"; `host` as temporary_host_name gives it.
std::string temporary_name(const std::string& host, long pid, unsigned long sequence);

struct TemporaryOwner {
  std::string host;
  long pid = 0;
};

// True only for names exactly as temporary_name writes them: a host of the
// allowed bytes, then a pid above 0 and a sequence number in plain decimal
// digits (no sign, space or leading zero); the owner goes to *owner.
bool parse_temporary_name(const std::string& name, TemporaryOwner* owner);

// A host name as temporaries carry it: letters, digits, '.' and '_' kept,
// every other byte (also '-', the name's separator, which parsing splits on
// from the right) becomes '_'; at most 63 bytes. Empty stays empty.
std::string file_name_host(const std::string& raw);

// This machine's name as file_name_host makes it; empty when the system
// gives none (no temporary is then ever judged stale).
std::string temporary_host_name();

// The temporary file being written: registered for remove_active_temporaries
// while it exists, and removed when this goes out of scope unless `path` was
// cleared (it was moved over the target).
struct TemporaryFile {
  std::string path;
  int slot = -1;
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();
};

// Creates a new, empty temporary in the folder of `output_path`; false when
// the folder does not let us.
bool create_temporary_beside(const std::string& output_path, TemporaryFile& file);

// Removes from `folder` the temporaries of this machine whose process no
// longer runs (other machines' and unreadable names are left alone). Returns
// how many it removed.
int remove_stale_temporaries(const std::string& folder);

// Removes every temporary this process is writing; async-signal-safe, for a
// signal handler that ends the process.
void remove_active_temporaries();
