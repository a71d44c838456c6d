// Letter-case-blind comparisons of ASCII text, the way RTSP header names,
// Digest parameters and the address scheme are matched. Only A-Z and a-z are
// taken as the same letter; every other byte must match exactly.
#pragma once

#include <cstddef>
#include <string_view>

// The lower-case letter for A-Z; every other byte as it is.
char ascii_lower(char c);

// True when `a` and `b` have the same length and bytes, letter case aside.
bool equals_ignoring_case(std::string_view a, std::string_view b);

// True when `word` appears in `text` at `at`, letter case aside (false when it
// would run past the end).
bool starts_with_ignoring_case(std::string_view text, size_t at, std::string_view word);

// The first position at or after `from` where `word` appears in `text`, letter
// case aside; std::string_view::npos when it does not.
size_t find_ignoring_case(std::string_view text, std::string_view word, size_t from = 0);
