// Answering an open dialog from outside it, as a user would: by its title,
// the file name box and the Open or Cancel button. Windows only.
#pragma once

#ifdef _WIN32

#include <string>

struct SeenDialog {
  bool found = false;
  std::wstring title, first_filter, second_filter;  // the file-type list's first two names
};

// Waits up to `wait_ms` for a dialog window (of any process) titled `title`,
// reads its title and file types, then types `file_name` into its name box
// and presses Open, or presses Cancel when `file_name` is empty.
SeenDialog answer_open_dialog(const std::wstring& title, const std::wstring& file_name,
                              int wait_ms);

#endif  // _WIN32
