// Conversions between UTF-8, the form every text and path takes inside the
// program, and UTF-16, which Windows' wide calls take. Windows only: the rest
// of the program never sees wide text.
#pragma once

#ifdef _WIN32

#include <cstddef>
#include <string>

// The UTF-16 form of valid UTF-8; empty for empty or invalid text.
std::wstring wide_from_utf8(const std::string& text);

// The UTF-16 form of bytes in the ANSI code page.
std::wstring wide_from_ansi(const std::string& text);

// The wide form of a path: its UTF-8, or, when it is not valid UTF-8, its
// bytes in the ANSI code page (as narrow calls would have taken them).
std::wstring wide_path(const std::string& path);

// The UTF-8 form of `count` UTF-16 units, NULs among them kept.
std::string utf8_from_wide(const wchar_t* text, size_t count);
std::string utf8_from_wide(const std::wstring& text);

#endif  // _WIN32
