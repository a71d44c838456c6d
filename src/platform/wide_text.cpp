#include "platform/wide_text.h"

#ifdef _WIN32

#include <windows.h>

#include <climits>

namespace {

std::wstring wide_from(UINT code_page, DWORD flags, const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(code_page, flags, text.data(), size, wide.data(), length);
  return wide;
}

}  // namespace

std::wstring wide_from_utf8(const std::string& text) {
  return wide_from(CP_UTF8, MB_ERR_INVALID_CHARS, text);
}

std::wstring wide_from_ansi(const std::string& text) { return wide_from(CP_ACP, 0, text); }

std::wstring wide_path(const std::string& path) {
  const std::wstring wide = wide_from_utf8(path);
  return wide.empty() ? wide_from_ansi(path) : wide;
}

std::string utf8_from_wide(const wchar_t* text, size_t count) {
  if (!text || count == 0 || count > INT_MAX) return {};
  const int size = static_cast<int>(count);
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::string utf8_from_wide(const std::wstring& text) {
  return utf8_from_wide(text.data(), text.size());
}

#endif  // _WIN32
