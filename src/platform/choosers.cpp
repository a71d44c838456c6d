#include "platform/choosers.h"

#include <SDL_syswm.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/chooser_texts.h"
#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>
#include <commdlg.h>
#include <cwchar>

#include "platform/wide_text.h"
#else
#include "platform/chooser_program.h"
#endif

std::vector<std::string> split_multiselect_result(const char* buffer, size_t size) {
  std::vector<std::string> paths;
  if (!buffer || size == 0) return paths;
  // Every item must end inside the buffer; a buffer without its closing NULs
  // yields what is complete.
  const char* end = buffer + size;
  const char* first_end = static_cast<const char*>(std::memchr(buffer, '\0', size));
  if (!first_end || first_end == buffer) return paths;
  std::string first(buffer, first_end);
  const char* name = first_end + 1;
  if (name >= end || *name == '\0') {
    paths.push_back(first);
    return paths;
  }
  // A directory, then names: the separator is added even after a drive root,
  // which the file functions accept as it is.
  while (name < end && *name != '\0') {
    const char* name_end = static_cast<const char*>(std::memchr(name, '\0', end - name));
    if (!name_end) break;
    paths.push_back(first + "\\" + std::string(name, name_end));
    name = name_end + 1;
  }
  return paths;
}

namespace {

std::string& used_folder() {
  static std::string folder;
  return folder;
}

// Dialogs take a folder relative to the working folder as no folder at all.
std::string absolute_folder(const std::string& folder) {
  if (folder.empty()) return folder;
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(file_system_path(folder), error);
  return error ? folder : path_text(full);
}

// Where a chooser opens: the given folder, else the last one used.
std::string start_folder(const std::string& folder) {
  return absolute_folder(folder.empty() ? last_used_folder() : folder);
}

}  // namespace

void remember_used_folder(const std::string& recording_path) {
  const size_t cut = recording_path.find_last_of("/\\");
  // A bare name lies in the working folder.
  used_folder() = cut == std::string::npos ? std::string("./") : recording_path.substr(0, cut + 1);
}

const std::string& last_used_folder() { return used_folder(); }

std::string choose_recording(void* owner) { return choose_recording_in(owner, ""); }

void* owner_window_handle(SDL_Window* window) {
  if (!window) return nullptr;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info)) return nullptr;
#ifdef _WIN32
  return info.info.win.window;
#else
#if defined(SDL_VIDEO_DRIVER_X11)
  // Only an X11 window id can be handed to a chooser program (--attach).
  if (info.subsystem == SDL_SYSWM_X11)
    return reinterpret_cast<void*>(static_cast<uintptr_t>(info.info.x11.window));
#endif
  return nullptr;
#endif
}

#ifdef _WIN32

namespace {

// Room for the longest path Windows has, or for several names of one folder.
constexpr size_t kDialogBufferUnits = 32768;

constexpr DWORD kSingleFlags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
constexpr DWORD kMultipleFlags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST |
                                 OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;

// "name\0pattern\0name\0pattern\0"; the string's own terminator closes the list.
std::wstring filter_list(const ChooserTexts& texts) {
  std::wstring list = wide_from_utf8(texts.recordings_filter);
  list.append(L"\0*.264\0", 7);
  list += wide_from_utf8(texts.all_files_filter);
  list.append(L"\0*.*\0", 5);
  return list;
}

// The wide dialog shows its texts in any language, whatever the code page.
bool run_open_dialog(void* owner, bool multiple, const std::string& folder,
                     std::vector<wchar_t>& buffer) {
  const ChooserTexts texts = user_chooser_texts(multiple);
  const std::wstring filter = filter_list(texts);
  const std::wstring title = wide_from_utf8(texts.title);
  const std::wstring initial_folder = wide_path(folder);
  OPENFILENAMEW ofn;
  std::memset(&ofn, 0, sizeof ofn);
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = static_cast<HWND>(owner);
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrTitle = title.c_str();
  ofn.lpstrInitialDir = initial_folder.empty() ? nullptr : initial_folder.c_str();
  ofn.Flags = multiple ? kMultipleFlags : kSingleFlags;
  return GetOpenFileNameW(&ofn) != 0;
}

}  // namespace

std::string choose_recording_in(void* owner, const std::string& folder) {
  std::vector<wchar_t> buffer(kDialogBufferUnits, L'\0');
  if (!run_open_dialog(owner, false, start_folder(folder), buffer)) return "";
  const std::string path = utf8_from_wide(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
  if (!path.empty()) remember_used_folder(path);
  return path;
}

std::vector<std::string> choose_recordings(void* owner) {
  std::vector<wchar_t> buffer(kDialogBufferUnits, L'\0');
  if (!run_open_dialog(owner, true, start_folder(""), buffer)) return {};
  // Converted whole, NULs and all, so the list splits as the dialog laid it out.
  const std::string list = utf8_from_wide(buffer.data(), buffer.size());
  std::vector<std::string> paths = split_multiselect_result(list.data(), list.size());
  if (!paths.empty()) remember_used_folder(paths.front());
  return paths;
}

#else  // desktops with an external chooser program

namespace {

unsigned long owner_window_id(void* owner) {
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(owner));
}

// The chooser's output, or empty when there is no chooser, the user cancelled,
// the program failed or it printed more than any allowed result.
std::string run_chooser(bool multiple, void* owner, const std::string& folder) {
  ChooserProgram program = find_chooser_program();
  if (program == ChooserProgram::none) {
    std::fputs(no_chooser_message(), stdout);
    return "";
  }
  ProgramRun run = run_program_for_output(
      chooser_arguments(program, multiple, user_chooser_texts(multiple), owner_window_id(owner),
                        folder),
      kChooserOutputCap);
  if (!run.started || run.exit_status != 0 || run.overflowed) return "";
  return run.output;
}

}  // namespace

std::string choose_recording_in(void* owner, const std::string& folder) {
  std::string path = single_choice_from_output(
      run_chooser(false, owner, start_folder(folder)));
  if (!path.empty()) remember_used_folder(path);
  return path;
}

std::vector<std::string> choose_recordings(void* owner) {
  std::vector<std::string> paths =
      multiple_choices_from_output(run_chooser(true, owner, start_folder("")));
  if (!paths.empty()) remember_used_folder(paths.front());
  return paths;
}

#endif
