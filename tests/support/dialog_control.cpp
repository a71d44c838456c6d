#include "dialog_control.h"

#ifdef _WIN32

#include <windows.h>

namespace {

// Control ids of the common open dialog.
constexpr int kFileTypes = 0x470;     // cmb1: the file-type list
constexpr int kNameCombo = 0x47c;     // cmb13: the name box of the Explorer-style dialog
constexpr int kNameEdit = 0x480;      // edt1: the name box of the older one

std::wstring window_text(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

std::wstring combo_item(HWND combo, int index) {
  wchar_t text[1024] = {};
  if (!combo || SendMessageW(combo, CB_GETLBTEXTLEN, index, 0) >= 1024) return L"";
  SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
  return text;
}

void press(HWND dialog, int button) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

}  // namespace

SeenDialog answer_open_dialog(const std::wstring& title, const std::wstring& file_name,
                              int wait_ms) {
  SeenDialog seen;
  for (int waited = 0; waited < wait_ms; waited += 100) {
    HWND dialog = FindWindowW(L"#32770", title.c_str());
    if (!dialog) {
      Sleep(100);
      continue;
    }
    Sleep(300);  // the dialog fills its lists once shown
    seen.found = true;
    seen.title = window_text(dialog);
    HWND types = GetDlgItem(dialog, kFileTypes);
    seen.first_filter = combo_item(types, 0);
    seen.second_filter = combo_item(types, 1);
    if (file_name.empty()) {
      press(dialog, IDCANCEL);
      return seen;
    }
    HWND name = GetDlgItem(dialog, kNameCombo);
    if (!name) name = GetDlgItem(dialog, kNameEdit);
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file_name.c_str()));
    press(dialog, IDOK);
    return seen;
  }
  return seen;
}

#endif  // _WIN32
