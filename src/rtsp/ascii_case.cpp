#include "rtsp/ascii_case.h"

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && starts_with_ignoring_case(a, 0, b);
}

bool starts_with_ignoring_case(std::string_view text, size_t at, std::string_view word) {
  if (at > text.size() || text.size() - at < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if (ascii_lower(text[at + k]) != ascii_lower(word[k])) return false;
  return true;
}

size_t find_ignoring_case(std::string_view text, std::string_view word, size_t from) {
  for (size_t i = from; i + word.size() <= text.size(); ++i)
    if (starts_with_ignoring_case(text, i, word)) return i;
  return std::string_view::npos;
}
