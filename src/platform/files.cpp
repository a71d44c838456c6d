#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <vector>
#else
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#include <cerrno>

#ifdef _WIN32

namespace {

// The UTF-16 form of a valid UTF-8 string; empty when it is not valid UTF-8.
std::wstring wide_from_utf8(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      wide.data(), length);
  return wide;
}

// The UTF-16 form of text in the ANSI code page.
std::wstring wide_from_ansi(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

}  // namespace

std::filesystem::path file_system_path(const std::string& path) {
  const std::wstring wide_path = wide_from_utf8(path);
  return std::filesystem::path(wide_path.empty() ? wide_from_ansi(path) : wide_path);
}

std::string utf8_path(const std::string& path) {
  if (path.empty() || !wide_from_utf8(path).empty()) return path;
  const std::wstring wide = wide_from_ansi(path);
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (length <= 0) return path;
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                      nullptr, nullptr);
  return text;
}

std::FILE* open_file(const std::string& path, const char* mode) {
  const std::wstring wide_path = wide_from_utf8(path);
  if (wide_path.empty()) return std::fopen(path.c_str(), mode);
  const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(wide_path.c_str(), wide_mode.c_str());
}

bool seek_file(std::FILE* file, int64_t offset, int origin) {
  return _fseeki64(file, offset, origin) == 0;
}

int64_t file_position(std::FILE* file) { return _ftelli64(file); }

CreateResult create_new_file(const std::string& path) {
  // msvcrt ignores fopen's "x": only _O_EXCL makes the creation exclusive.
  const int flags = _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY;
  const std::wstring wide_path = wide_from_utf8(path);
  const int fd = wide_path.empty() ? _open(path.c_str(), flags, _S_IREAD | _S_IWRITE)
                                   : _wopen(wide_path.c_str(), flags, _S_IREAD | _S_IWRITE);
  if (fd < 0) return errno == EEXIST ? CreateResult::exists : CreateResult::failed;
  _close(fd);
  return CreateResult::created;
}

bool local_time(std::time_t when, std::tm& out) { return localtime_s(&out, &when) == 0; }

#else

std::FILE* open_file(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::filesystem::path file_system_path(const std::string& path) { return path; }

std::string utf8_path(const std::string& path) { return path; }

bool seek_file(std::FILE* file, int64_t offset, int origin) {
  static_assert(sizeof(off_t) == 8, "file positions must be 64-bit");
  return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

int64_t file_position(std::FILE* file) { return static_cast<int64_t>(ftello(file)); }

CreateResult create_new_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? CreateResult::exists : CreateResult::failed;
  ::close(fd);
  return CreateResult::created;
}

bool local_time(std::time_t when, std::tm& out) { return localtime_r(&when, &out) != nullptr; }

#endif

int64_t open_file_size(std::FILE* file) {
  if (!seek_file(file, 0, SEEK_END)) return -1;
  return file_position(file);
}
