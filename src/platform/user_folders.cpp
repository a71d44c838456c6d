#include "platform/user_folders.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#else
#include <cstdlib>
#endif

namespace fs = std::filesystem;

std::string xdg_pictures_dir_from(const std::string& text, const std::string& home) {
  return xdg_user_dir_from(text, "XDG_PICTURES_DIR", home);
}

std::string xdg_user_dir_from(const std::string& text, const std::string& name,
                              const std::string& home) {
  std::istringstream lines(text);
  std::string line, value;
  bool found = false;
  const std::string kKey = name + "=";
  while (std::getline(lines, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, kKey.size(), kKey) != 0) continue;
    std::string v = line.substr(start + kKey.size());
    while (!v.empty() && (v.back() == '\r' || v.back() == ' ' || v.back() == '\t')) v.pop_back();
    if (v.size() < 2 || v.front() != '"' || v.back() != '"') continue;
    value = v.substr(1, v.size() - 2);
    found = true;  // the last assignment wins, as the shell would read it
  }
  if (!found) return "";
  if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
  else if (value.empty() || value.front() != '/') return "";  // only absolute or $HOME paths count
  while (value.size() > 1 && value.back() == '/') value.pop_back();
  std::string home_trimmed = home;
  while (home_trimmed.size() > 1 && home_trimmed.back() == '/') home_trimmed.pop_back();
  return value == home_trimmed ? "" : value;
}

#ifdef _WIN32

namespace {

std::string known_folder(REFKNOWNFOLDERID id) {
  PWSTR wide = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &wide)) && wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length > 1) {
      folder.resize(static_cast<size_t>(length - 1));
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, folder.data(), length, nullptr, nullptr);
    }
  }
  CoTaskMemFree(wide);
  return folder;
}

}  // namespace

std::string user_pictures_folder() { return known_folder(FOLDERID_Pictures); }

std::string user_videos_folder() { return known_folder(FOLDERID_Videos); }

#else

namespace {

// The user's folder that user-dirs.dirs names `xdg_name`, else ~/`usual`
// when it exists, else the home folder.
std::string xdg_user_folder(const char* xdg_name, const char* usual) {
  const char* home_env = std::getenv("HOME");
  const std::string home = home_env ? home_env : "";
  const char* config_env = std::getenv("XDG_CONFIG_HOME");
  const std::string config = config_env && *config_env ? config_env : home + "/.config";
  std::ifstream file(config + "/user-dirs.dirs");
  if (file) {
    std::ostringstream text;
    text << file.rdbuf();
    const std::string xdg = xdg_user_dir_from(text.str(), xdg_name, home);
    std::error_code error;
    if (!xdg.empty() && fs::is_directory(xdg, error)) return xdg;
  }
  if (home.empty()) return "";
  std::error_code error;
  const std::string folder = home + "/" + usual;
  if (fs::is_directory(folder, error)) return folder;
  return home;
}

}  // namespace

std::string user_pictures_folder() { return xdg_user_folder("XDG_PICTURES_DIR", "Pictures"); }

std::string user_videos_folder() { return xdg_user_folder("XDG_VIDEOS_DIR", "Videos"); }

#endif

std::optional<std::time_t> file_modified_time(const std::string& path) {
#ifdef _WIN32
  struct _stat64 info {};
  if (_wstat64(file_system_path(path).c_str(), &info) != 0) return std::nullopt;
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
#endif
  return static_cast<std::time_t>(info.st_mtime);
}
