// Recordings bigger than the reader's window, and past 4 GiB, made quickly
// from small made recordings: repeated with their clock running on, or two
// joined with a hole of zeros between them (a sparse file: almost nothing
// is written, on Linux and under Wine alike).
#pragma once

#include <cstdint>
#include <string>

// `copies` repetitions of the payload of the recording at `source`, each
// one's block timestamps moved on by the source's span so the camera's
// clock runs on. False on failure.
bool write_repeated_recording(const std::string& source, int copies, const std::string& path);

// The recording at `first`, then zeros up to file offset `second_at`, then
// the payload of the recording at `second`. False on failure.
bool write_joined_with_hole(const std::string& first, const std::string& second, int64_t second_at,
                            const std::string& path);

// A folder for sparse files: in memory where the system has one (/dev/shm,
// also under Wine as Z:/dev/shm), where reading a hole costs no allocation
// (on a disk the first read of 4 GiB of hole fills the cache with zeros for
// seconds); else the test's temporary folder. Removed at exit.
std::string sparse_file_folder();

// File offset past 4 GiB where write_joined_with_hole puts the second
// recording in the tests of files past 4 GiB.
constexpr int64_t kPast4GiB = (int64_t{1} << 32) + 4096 + 7;
