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
