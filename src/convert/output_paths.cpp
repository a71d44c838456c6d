#include "convert/output_paths.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "convert/remux.h"
#include "platform/files.h"

namespace {

// The names tried for one input, best first; the numbered ones go on without end.
std::string candidate_output(const std::string& input, int attempt) {
  const std::string usual = mp4_output_path(input);
  if (attempt == 0) return usual;
  if (attempt == 1) return input + ".mp4";
  return usual.substr(0, usual.size() - 4) + "-" + std::to_string(attempt) + ".mp4";
}

}  // namespace

std::string path_comparison_key(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(file_system_path(path), error);
  if (error) absolute = file_system_path(path);
  const std::u8string text = absolute.lexically_normal().generic_u8string();
  std::string key(text.begin(), text.end());
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

std::vector<std::string> batch_output_paths(const std::vector<std::string>& inputs) {
  std::set<std::string> taken;
  for (const std::string& input : inputs) taken.insert(path_comparison_key(input));
  std::vector<std::string> outputs;
  for (const std::string& input : inputs) {
    std::string output;
    for (int attempt = 0;; ++attempt) {
      output = candidate_output(input, attempt);
      if (taken.insert(path_comparison_key(output)).second) break;
    }
    outputs.push_back(output);
  }
  return outputs;
}
