// What the live screens keep between runs: the saved cameras (name and
// address; a password only when the user asked to keep it), the last
// addresses typed (never with a password), and the recording settings. Kept
// in "live.txt" in the user's configuration folder, readable by the user alone.
//
// The file is UTF-8 text, one entry per line, fields separated by tabs:
//   camera<TAB>name<TAB>address without password<TAB>kept password
//   recent<TAB>address without password
//   split_minutes<TAB>N
//   record_folder<TAB>folder
// A kept password is "<protection>:<Base64>" (platform/user_config.h); lines
// that do not read are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Most recent addresses kept, newest first.
constexpr size_t kMostRecentAddresses = 10;
// The recording split a fresh installation uses, in minutes.
constexpr uint32_t kDefaultSplitMinutes = 30;

struct SavedCamera {
  std::string name;
  std::string address;   // without a password
  std::string password;  // as it is typed in an address (percent escapes kept); empty: none kept
};

struct LiveSettings {
  std::vector<SavedCamera> cameras;
  std::vector<std::string> recent;  // newest first, without passwords
  uint32_t split_minutes = kDefaultSplitMinutes;  // 0: one file per recording
  std::string record_folder;                       // empty: the user's videos folder
};

// The file's text for `settings` (passwords protected) and back. Pure apart
// from the protection of passwords.
std::string format_live_settings(const LiveSettings& settings);
LiveSettings parse_live_settings(const std::string& text);

// The file's path: "<user config folder>/live.txt"; empty without a folder.
std::string live_settings_path();

// Reads the file (a missing file gives the defaults and true); false with
// `error` when it exists but cannot be read.
bool load_live_settings(LiveSettings& settings, std::string& error);

// Writes the file, making the folder when needed; false with `error`.
bool save_live_settings(const LiveSettings& settings, std::string& error);

// Puts `address` (its password left out) first among the recent addresses,
// once, keeping at most kMostRecentAddresses.
void remember_address(LiveSettings& settings, const std::string& address);

// The address to connect to: the saved address with its kept password.
std::string camera_connect_address(const SavedCamera& camera);

// The saved camera whose address (password aside) is `address`'s; null when none.
const SavedCamera* camera_for_address(const LiveSettings& settings, const std::string& address);

// Where recordings go: the folder set when it exists, else the user's videos
// folder (user_videos_folder), else the working folder ("").
std::string recording_folder(const LiveSettings& settings);
