// The recordings of one folder in name order, for stepping to the next or the
// previous one. Cameras name their recordings by start time, so name order is
// time order.
#pragma once

#include <string>
#include <vector>

// The folder part of `path` including its last separator ('/' or '\\');
// empty for a bare file name.
std::string folder_of(const std::string& path);

// The part of `path` after its folder.
std::string file_name_of(const std::string& path);

// The file name of `path` without its last extension ("a.264" -> "a"); a
// name whose only dot is its first character is kept whole.
std::string file_stem_of(const std::string& path);

// `text` with the characters file systems refuse in names (those Windows
// refuses, <>:"/\|?*, and control bytes) as "_".
std::string safe_file_part(const std::string& text);

// `name` for n <= 1, else "_n" before its extension ("a.bmp" -> "a_2.bmp").
std::string numbered_name(const std::string& name, int n);

// True for names ending in ".264" (and not just the extension).
bool is_recording_name(const std::string& name);

// The names (in UTF-8) of the recordings directly in `folder` ("" is the
// working folder), sorted byte by byte. Empty when the folder cannot be read.
std::vector<std::string> recording_names_in(const std::string& folder);

// In sorted `names`, the name `step` places after (positive) or before
// (negative) `current`, which need not be among them any more; empty when
// there is none that far.
std::string neighbour_name(const std::vector<std::string>& names, const std::string& current,
                           int step);

// The full path (in UTF-8, which the file openers take on every platform) of
// the next (step 1) or previous (step -1) recording beside `path`; empty when
// there is none.
std::string neighbour_recording(const std::string& path, int step);
