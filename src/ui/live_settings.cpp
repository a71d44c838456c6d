#include "ui/live_settings.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/files.h"
#include "platform/user_config.h"
#include "platform/user_folders.h"
#include "rtsp/address.h"

namespace {

std::vector<std::string> split_fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t from = 0;
  while (true) {
    const size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
    if (tab == std::string::npos) return fields;
    from = tab + 1;
  }
}

// Tabs and line breaks would split an entry: they become spaces.
std::string field(const std::string& text) {
  std::string out = text;
  std::replace_if(out.begin(), out.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return out;
}

std::string kept_password(const std::string& password) {
  if (password.empty()) return "";
  std::string kept;
  if (!protect_secret(password, kept)) return "";
  return std::string(secret_protection()) + ":" + base64_encode(kept);
}

std::string password_from(const std::string& kept) {
  const size_t colon = kept.find(':');
  if (colon == std::string::npos || kept.compare(0, colon, secret_protection()) != 0) return "";
  std::vector<uint8_t> bytes;
  std::string secret;
  if (!base64_decode(std::string_view(kept).substr(colon + 1), bytes)) return "";
  if (!unprotect_secret(std::string(bytes.begin(), bytes.end()), secret)) return "";
  return secret;
}

bool is_folder(const std::string& path) {
  std::error_code ignored;
  return !path.empty() && std::filesystem::is_directory(file_system_path(path), ignored);
}

}  // namespace

std::string format_live_settings(const LiveSettings& settings) {
  std::string text;
  for (const SavedCamera& camera : settings.cameras)
    text += "camera\t" + field(camera.name) + "\t" + field(address_without_password(camera.address)) + "\t" +
            kept_password(camera.password) + "\n";
  for (const std::string& address : settings.recent) text += "recent\t" + field(address_without_password(address)) + "\n";
  text += "split_minutes\t" + std::to_string(settings.split_minutes) + "\n";
  if (!settings.record_folder.empty()) text += "record_folder\t" + field(settings.record_folder) + "\n";
  return text;
}

LiveSettings parse_live_settings(const std::string& text) {
  LiveSettings settings;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(from, end - from);
    from = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> f = split_fields(line);
    if (f[0] == "camera" && f.size() >= 3 && !f[1].empty() && !f[2].empty()) {
      settings.cameras.push_back({f[1], address_without_password(f[2]), f.size() >= 4 ? password_from(f[3]) : ""});
    } else if (f[0] == "recent" && f.size() == 2 && !f[1].empty() && settings.recent.size() < kMostRecentAddresses) {
      settings.recent.push_back(address_without_password(f[1]));
    } else if (f[0] == "split_minutes" && f.size() == 2) {
      const int32_t minutes = parse_decimal_prefix(f[1]);
      if (minutes >= 0 && minutes <= 24 * 60) settings.split_minutes = static_cast<uint32_t>(minutes);
    } else if (f[0] == "record_folder" && f.size() == 2) {
      settings.record_folder = f[1];
    }
  }
  return settings;
}

std::string live_settings_path() {
  const std::string folder = user_config_folder();
  if (folder.empty()) return "";
#ifdef _WIN32
  return folder + "\\live.txt";
#else
  return folder + "/live.txt";
#endif
}

bool load_live_settings(LiveSettings& settings, std::string& error) {
  settings = LiveSettings{};
  const std::string path = live_settings_path();
  if (path.empty()) return true;
  std::error_code ignored;
  if (!std::filesystem::exists(file_system_path(path), ignored)) return true;
  std::string text;
  if (!read_text_file(path, text)) {
    error = "cannot read " + path;
    return false;
  }
  settings = parse_live_settings(text);
  return true;
}

bool save_live_settings(const LiveSettings& settings, std::string& error) {
  const std::string folder = user_config_folder();
  if (folder.empty()) {
    error = "no configuration folder (HOME or APPDATA is not set)";
    return false;
  }
  return ensure_private_folder(folder, error) &&
         write_private_file(live_settings_path(), format_live_settings(settings), error);
}

void remember_address(LiveSettings& settings, const std::string& address) {
  const std::string bare = address_without_password(address);
  if (bare.empty()) return;
  settings.recent.erase(std::remove(settings.recent.begin(), settings.recent.end(), bare), settings.recent.end());
  settings.recent.insert(settings.recent.begin(), bare);
  if (settings.recent.size() > kMostRecentAddresses) settings.recent.resize(kMostRecentAddresses);
}

std::string camera_connect_address(const SavedCamera& camera) {
  return address_with_password(camera.address, camera.password);
}

const SavedCamera* camera_for_address(const LiveSettings& settings, const std::string& address) {
  const std::string bare = address_without_password(address);
  for (const SavedCamera& camera : settings.cameras)
    if (camera.address == bare) return &camera;
  return nullptr;
}

std::string recording_folder(const LiveSettings& settings) {
  return is_folder(settings.record_folder) ? settings.record_folder : user_videos_folder();
}
