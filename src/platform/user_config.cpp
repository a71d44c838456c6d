#include "platform/user_config.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>

#include "platform/wide_text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif


std::string posix_config_folder(const std::string& xdg_config_home, const std::string& home) {
  // A relative XDG_CONFIG_HOME is to be ignored.
  if (!xdg_config_home.empty() && xdg_config_home[0] == '/') return xdg_config_home + "/h264player";
  if (!home.empty()) return home + "/.config/h264player";
  return "";
}

#ifdef _WIN32

std::string user_config_folder() {
  const wchar_t* appdata = _wgetenv(L"APPDATA");
  if (!appdata || !*appdata) return "";
  return utf8_from_wide(appdata) + "\\H264Player";
}

bool ensure_private_folder(const std::string& folder, std::string& error) {
  std::error_code code;
  std::filesystem::create_directories(file_system_path(folder), code);
  if (code) {
    error = "cannot make " + folder + ": " + code.message();
    return false;
  }
  return true;
}

bool write_private_file(const std::string& path, const std::string& text, std::string& error) {
  const std::string temporary = path + ".new";
  std::FILE* file = open_file(temporary, "wb");
  if (!file) {
    error = "cannot write " + temporary;
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed ||
      !MoveFileExW(wide_path(temporary).c_str(), wide_path(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(wide_path(temporary).c_str());
    error = "cannot write " + path;
    return false;
  }
  return true;
}

const char* secret_protection() { return "dpapi"; }

bool protect_secret(const std::string& secret, std::string& kept) {
  kept.clear();
  DATA_BLOB in{static_cast<DWORD>(secret.size()), reinterpret_cast<BYTE*>(const_cast<char*>(secret.data()))};
  DATA_BLOB out{};
  if (!CryptProtectData(&in, L"H264Player camera password", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                        &out))
    return false;
  kept.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  LocalFree(out.pbData);
  return true;
}

bool unprotect_secret(const std::string& kept, std::string& secret) {
  secret.clear();
  DATA_BLOB in{static_cast<DWORD>(kept.size()), reinterpret_cast<BYTE*>(const_cast<char*>(kept.data()))};
  DATA_BLOB out{};
  if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
  secret.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  SecureZeroMemory(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return true;
}

#else

std::string user_config_folder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  return posix_config_folder(xdg ? xdg : "", home ? home : "");
}

bool ensure_private_folder(const std::string& folder, std::string& error) {
  std::error_code code;
  if (std::filesystem::is_directory(folder, code)) return true;
  const std::filesystem::path parent = std::filesystem::path(folder).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, code);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot make " + folder + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool write_private_file(const std::string& path, const std::string& text, std::string& error) {
  const std::string temporary = path + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot write " + temporary + ": " + std::strerror(errno);
    return false;
  }
  // A file left by an earlier run keeps its mode through O_CREAT: set it.
  bool ok = ::fchmod(fd, 0600) == 0;
  size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

const char* secret_protection() { return "plain"; }

bool protect_secret(const std::string& secret, std::string& kept) {
  kept = secret;
  return true;
}

bool unprotect_secret(const std::string& kept, std::string& secret) {
  secret = kept;
  return true;
}

#endif

bool read_text_file(const std::string& path, std::string& text) {
  std::FILE* file = open_file(path, "rb");
  if (!file) return false;
  text.clear();
  char chunk[4096];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}
