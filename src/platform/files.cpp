#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/wide_text.h"
#else
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#include <cerrno>

#ifdef _WIN32

std::filesystem::path file_system_path(const std::string& path) {
  return std::filesystem::path(wide_path(path));
}

std::string utf8_path(const std::string& path) {
  if (path.empty() || !wide_from_utf8(path).empty()) return path;
  const std::string converted = utf8_from_wide(wide_from_ansi(path));
  return converted.empty() ? path : converted;
}

std::FILE* open_file(const std::string& path, const char* mode) {
  const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(wide_path(path).c_str(), wide_mode.c_str());
}

bool seek_file(std::FILE* file, int64_t offset, int origin) {
  return _fseeki64(file, offset, origin) == 0;
}

int64_t file_position(std::FILE* file) { return _ftelli64(file); }

CreateResult create_new_file(const std::string& path) {
  // msvcrt ignores fopen's "x": only _O_EXCL makes the creation exclusive.
  const int flags = _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY;
  const int fd = _wopen(wide_path(path).c_str(), flags, _S_IREAD | _S_IWRITE);
  if (fd < 0) return errno == EEXIST ? CreateResult::exists : CreateResult::failed;
  _close(fd);
  return CreateResult::created;
}

bool local_time(std::time_t when, std::tm& out) { return localtime_s(&out, &when) == 0; }

void remove_file_now(const char* path) {
  // Converted on the stack: no allocation, as an interrupt needs. 32767
  // units is the longest path Windows has.
  wchar_t wide[32768];
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, 32768);
  if (length > 0) {
    DeleteFileW(wide);
  } else {
    DeleteFileA(path);
  }
}

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

void remove_file_now(const char* path) { ::unlink(path); }

#endif

std::string path_text(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

int64_t open_file_size(std::FILE* file) {
  if (!seek_file(file, 0, SEEK_END)) return -1;
  return file_position(file);
}
