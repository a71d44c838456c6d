// Answers another program's open dialog, for the Windows checks under Wine:
//
//   dialog_driver TITLE [FILE-NAMES] [SECONDS]
//
// waits (20 s by default) for a dialog titled TITLE, prints its title and its
// first two file types (UTF-8, one a line), then types FILE-NAMES into its
// name box and presses Open (Cancel without FILE-NAMES). Exit status 1 when
// no such dialog appeared.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dialog_control.h"
#include "platform/wide_text.h"

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args || count < 2) {
    std::fputs("usage: dialog_driver TITLE [FILE-NAMES] [SECONDS]\n", stderr);
    return 2;
  }
  const std::wstring names = count > 2 ? args[2] : L"";
  const int seconds = count > 3 ? _wtoi(args[3]) : 20;
  const SeenDialog seen = answer_open_dialog(args[1], names, seconds * 1000);
  if (!seen.found) {
    std::fputs("no such dialog\n", stdout);
    return 1;
  }
  for (const std::wstring& text : {seen.title, seen.first_filter, seen.second_filter}) {
    std::printf("%s\n", utf8_from_wide(text).c_str());
  }
  return 0;
}
