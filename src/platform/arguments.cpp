#include "platform/arguments.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "platform/wide_text.h"
#endif

namespace {

std::vector<std::string> narrow_arguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return args;
}

}  // namespace

#ifdef _WIN32

std::vector<std::string> program_arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) {
    std::vector<std::string> args = narrow_arguments(argc, argv);
    for (std::string& arg : args) arg = utf8_from_wide(wide_from_ansi(arg));
    return args;
  }
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(utf8_from_wide(wide[i], std::wcslen(wide[i])));
  LocalFree(wide);
  return args;
}

#else

std::vector<std::string> program_arguments(int argc, char** argv) {
  return narrow_arguments(argc, argv);
}

#endif
