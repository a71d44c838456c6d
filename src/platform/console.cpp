#include "platform/console.h"

#ifdef _WIN32
#include <windows.h>
#include <cstdio>

void use_parent_console() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output != nullptr && output != INVALID_HANDLE_VALUE) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::freopen("CONOUT$", "w", stdout);
  std::freopen("CONOUT$", "w", stderr);
}

#else

void use_parent_console() {}

#endif
