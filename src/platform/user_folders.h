// The user's pictures folder and file times, which the platforms keep in
// different places.
#pragma once

#include <ctime>
#include <optional>
#include <string>

// The folder where the user keeps pictures, in UTF-8 (as open_file and SDL
// take names), without a closing separator; empty when there is none.
// Windows: the known folder "Pictures". Elsewhere: XDG_PICTURES_DIR from the
// user's user-dirs.dirs ($XDG_CONFIG_HOME, else ~/.config), else ~/Pictures
// when it exists, else the home folder.
std::string user_pictures_folder();

// The same for videos (exported stretches): the known folder "Videos", or
// XDG_VIDEOS_DIR, else ~/Videos when it exists, else the home folder.
std::string user_videos_folder();

// The folder a user-dirs.dirs text sets `name` (e.g. XDG_VIDEOS_DIR) to, read
// as xdg_pictures_dir_from reads XDG_PICTURES_DIR. Pure.
std::string xdg_user_dir_from(const std::string& user_dirs_text, const std::string& name,
                              const std::string& home);

// XDG_PICTURES_DIR as a user-dirs.dirs text sets it, with "$HOME" expanded;
// empty when the text does not set it (or sets it to the home folder itself,
// which by the XDG rules means "not set"). Pure.
std::string xdg_pictures_dir_from(const std::string& user_dirs_text, const std::string& home);

// The modification time of a file; nothing when it cannot be read.
std::optional<std::time_t> file_modified_time(const std::string& path);
