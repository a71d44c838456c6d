// Where the program keeps what the user chose to keep (saved cameras, the
// last addresses, the recording settings), and how it keeps secrets there:
// files only the user can read, passwords protected for the user where the
// system offers that (Windows' DPAPI).
#pragma once

#include <string>

// The program's folder in the user's configuration folder, in UTF-8 without
// a closing separator: "$XDG_CONFIG_HOME/h264player", else
// "$HOME/.config/h264player" (POSIX); "%APPDATA%\H264Player" (Windows).
// Empty when the environment names none.
std::string user_config_folder();

// The POSIX rule from given values (pure): XDG_CONFIG_HOME when it is an
// absolute path, else HOME + "/.config"; "h264player" inside; empty when neither
// gives a folder.
std::string posix_config_folder(const std::string& xdg_config_home, const std::string& home);

// Creates `folder` and its parents; a folder made here is the user's alone
// (mode 0700 on POSIX). False with `error` when it cannot be made.
bool ensure_private_folder(const std::string& folder, std::string& error);

// The whole file; false when it cannot be read (a missing file included).
bool read_text_file(const std::string& path, std::string& text);

// Replaces `path` with `text` as a whole (written beside it under another
// name, then renamed over it), readable and writable by the user alone (mode
// 0600 on POSIX; on Windows the user's AppData folder keeps others out).
// False with `error` when it cannot be written; the old file is then kept.
bool write_private_file(const std::string& path, const std::string& text, std::string& error);

// A secret made fit to keep in such a file: on Windows encrypted for the
// user's logon with DPAPI; elsewhere the bytes as they are, the file's mode
// being the protection. False when the system refuses.
bool protect_secret(const std::string& secret, std::string& kept);

// The secret back; false when `kept` is not something protect_secret made
// for this user on this machine (another user's, or damaged).
bool unprotect_secret(const std::string& kept, std::string& secret);

// How protect_secret protects, as a word a file can keep: "dpapi" or "plain".
const char* secret_protection();
