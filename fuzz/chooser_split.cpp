// The multi-select chooser's result splitter on arbitrary buffers, including
// ones without their closing NULs. The buffer is copied to a heap block of
// exactly its size so a read past it is caught, and the result is compared
// with a plain reading of the layout: "path\0\0", or "dir\0name\0...name\0\0".
#include <cstring>
#include <string>
#include <vector>

#include "platform/choosers.h"
#include "fuzz_support.h"

namespace {

// Items ended by a NUL inside the buffer, up to the first empty one.
std::vector<std::string> complete_items(const char* p, size_t size) {
  std::vector<std::string> items;
  size_t begin = 0;
  for (size_t i = 0; i < size; ++i) {
    if (p[i] != '\0') continue;
    if (i == begin) break;  // an empty item ends the list
    items.emplace_back(p + begin, p + i);
    begin = i + 1;
  }
  return items;
}

std::vector<std::string> plain_split(const char* p, size_t size) {
  const auto items = complete_items(p, size);
  if (items.empty()) return items;
  const size_t after_first = items[0].size() + 1;
  if (after_first >= size || p[after_first] == '\0') return items;  // one full path
  // A directory: only its complete names count, and without one there is no path.
  std::vector<std::string> paths;
  for (size_t k = 1; k < items.size(); ++k) paths.push_back(items[0] + "\\" + items[k]);
  return paths;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> buffer(data, data + size);  // exact size: no slack to hide an overread
  const auto paths = split_multiselect_result(size ? buffer.data() : nullptr, size);
  FUZZ_CHECK(paths == plain_split(buffer.data(), size));
  for (const std::string& path : paths) FUZZ_CHECK(!path.empty() && path.find('\0') == std::string::npos);
  return 0;
}
