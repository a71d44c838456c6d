#include "recording/folder_order.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/files.h"

std::string folder_of(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string file_name_of(const std::string& path) { return path.substr(folder_of(path).size()); }

std::string file_stem_of(const std::string& path) {
  const std::string name = file_name_of(path);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string safe_file_part(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || std::string("<>:\"/\\|?*").find(c) != std::string::npos) c = '_';
  }
  return out;
}

std::string numbered_name(const std::string& name, int n) {
  if (n <= 1) return name;
  const size_t dot = name.find_last_of('.');
  const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  return base + "_" + std::to_string(n) + ext;
}

bool is_recording_name(const std::string& name) {
  if (name.size() <= 4) return false;
  const std::string tail = name.substr(name.size() - 4);
  return tail == ".264";  // digits and a dot: no letter case to fold
}

std::vector<std::string> recording_names_in(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator it(file_system_path(folder.empty() ? "." : folder), error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    std::error_code type_error;
    if (!it->is_regular_file(type_error)) continue;
    std::string name = path_text(it->path().filename());
    if (is_recording_name(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string neighbour_name(const std::vector<std::string>& names, const std::string& current,
                           int step) {
  if (step == 0) return current;
  // Where current stands or would stand: a recording deleted meanwhile still
  // has neighbours.
  const auto at = std::lower_bound(names.begin(), names.end(), current);
  const bool present = at != names.end() && *at == current;
  const ptrdiff_t here = at - names.begin();
  const ptrdiff_t target = step > 0 ? here + (present ? step : step - 1) : here + step;
  if (target < 0 || target >= static_cast<ptrdiff_t>(names.size())) return "";
  return names[static_cast<size_t>(target)];
}

std::string neighbour_recording(const std::string& path, int step) {
  // Names are compared, and the result given, in UTF-8: on Windows the path
  // may come in the ANSI code page, the folder's listing comes in UTF-8.
  const std::string folder = folder_of(path);
  const std::string name =
      neighbour_name(recording_names_in(folder), utf8_path(file_name_of(path)), step);
  return name.empty() ? name : utf8_path(folder) + name;
}
