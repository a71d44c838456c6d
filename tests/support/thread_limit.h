// Running test code where the system has no threads to spare, as on a
// machine whose process table is full: the real std::thread and FFmpeg thread
// starts fail there, as they would for a user.
#pragma once

#include <functional>
#include <string>

// A folder every user may read and write (inside the test temporary folder),
// for files the limited code opens.
std::string folder_for_everyone(const std::string& name);

// Runs `body` in a child process that may run at most `threads` threads in
// all (its main thread counts). As root the child first becomes the unused
// user "nobody", whose thread count the limit governs. Returns the body's
// result (0..123), or -1 when the body let an exception out or the child
// ended by a signal (std::terminate aborts): either would end the program;
// -1 also when the limit could not be set (a message on stderr says so).
int run_with_thread_limit(int threads, const std::function<int()>& body);
