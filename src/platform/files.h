// File and clock calls that differ between Windows (msvcrt) and POSIX, behind
// one set of functions: 64-bit sizes and positions, exclusive creation of a new
// file, opening paths, and local time. Paths are UTF-8 throughout the program;
// on Windows they become wide text at the system call, so any name opens.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

// fopen for `path`. On Windows the path is opened by its wide form: a valid
// UTF-8 path as such, any other as bytes of the ANSI code page (the form
// narrow calls took).
std::FILE* open_file(const std::string& path, const char* mode);

// Moves to a 64-bit position (SEEK_SET, SEEK_CUR or SEEK_END); false on failure.
bool seek_file(std::FILE* file, int64_t offset, int origin);

// The 64-bit position in the file; -1 on failure.
int64_t file_position(std::FILE* file);

// The size of an open file, found by seeking to its end; -1 on failure. The
// position is left at the end.
int64_t open_file_size(std::FILE* file);

// The std::filesystem form of `path`, read as open_file reads it
// (std::filesystem's own narrow constructor does not read UTF-8 on Windows).
std::filesystem::path file_system_path(const std::string& path);

// A std::filesystem path as the program's UTF-8 text.
std::string path_text(const std::filesystem::path& path);

// `path` in UTF-8, as FFmpeg and SDL take file names: on Windows a name in
// the ANSI code page is converted, one already in UTF-8 is kept.
std::string utf8_path(const std::string& path);

// Removes the file at `path` without allocating, so an interrupt handler may
// call it; failures are ignored.
void remove_file_now(const char* path);

enum class CreateResult { created, exists, failed };

// Creates `path` as a new, empty file, failing with `exists` when the name is
// taken (also by a file made at the same moment by another process).
CreateResult create_new_file(const std::string& path);

// The local time of `when`; false when it cannot be converted.
bool local_time(std::time_t when, std::tm& out);
