#include "platform/console.h"

#ifdef _WIN32
#include <windows.h>
#include <cstdio>
#include <cstdlib>

namespace {

UINT& code_page_to_restore() {
  static UINT code_page = 0;
  return code_page;
}

extern "C" void restore_console_code_page() { SetConsoleOutputCP(code_page_to_restore()); }

}  // namespace

void use_parent_console() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output != nullptr && output != INVALID_HANDLE_VALUE) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::freopen("CONOUT$", "w", stdout);
  std::freopen("CONOUT$", "w", stderr);
}

void use_utf8_console_output() {
  const UINT previous = GetConsoleOutputCP();  // 0 without a console
  if (previous == 0 || previous == CP_UTF8 || code_page_to_restore() != 0) return;
  if (!SetConsoleOutputCP(CP_UTF8)) return;
  code_page_to_restore() = previous;
  std::atexit(restore_console_code_page);
}

#else

void use_parent_console() {}

void use_utf8_console_output() {}

#endif
