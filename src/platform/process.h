// Which machine and process this is, and whether a process of this machine
// still runs: the calls differ between Windows and POSIX.
#pragma once

#include <string>

// This process's id.
long current_process_id();

// True when process `pid` of this machine runs, also when it belongs to
// someone this process may not signal; false when there is no such process.
bool process_is_running(long pid);

// This machine's name as the system gives it (gethostname, or the Windows
// computer name); empty when the system does not say.
std::string host_name();

