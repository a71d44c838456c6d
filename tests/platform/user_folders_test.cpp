// The user's pictures folder as the XDG user-dirs file names it, and file times.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "platform/user_folders.h"
#include "test_recordings.h"

namespace {

TEST(UserFolders, PicturesFolderFromUserDirs) {
  const struct {
    const char* text;
    const char* folder;
  } cases[] = {
      {"XDG_PICTURES_DIR=\"$HOME/Pictures\"\n", "/home/ann/Pictures"},
      {"# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
       "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n",
       "/home/ann/Bilder"},
      {"XDG_PICTURES_DIR=\"/srv/photos/\"\r\n", "/srv/photos"},
      {"  XDG_PICTURES_DIR=\"$HOME/A\"\nXDG_PICTURES_DIR=\"$HOME/B\"\n", "/home/ann/B"},
      {"XDG_PICTURES_DIR=\"$HOME/\"\n", ""},  // the home folder itself means "not set"
      {"XDG_PICTURES_DIR=\"relative/path\"\n", ""},
      {"XDG_PICTURES_DIR=$HOME/Pictures\n", ""},  // unquoted lines are not the file's form
      {"#XDG_PICTURES_DIR=\"$HOME/Pictures\"\n", ""},
      {"XDG_MUSIC_DIR=\"$HOME/Music\"\n", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(xdg_pictures_dir_from(c.text, "/home/ann"), c.folder) << c.text;
}

TEST(UserFolders, VideosFolderFromTheSameFile) {
  const std::string text =
      "XDG_PICTURES_DIR=\"$HOME/Bilder\"\nXDG_VIDEOS_DIR=\"$HOME/Videos\"\nXDG_VIDEOS_DIR_X=\"/x\"\n";
  EXPECT_EQ(xdg_user_dir_from(text, "XDG_VIDEOS_DIR", "/home/ann"), "/home/ann/Videos");
  EXPECT_EQ(xdg_user_dir_from(text, "XDG_PICTURES_DIR", "/home/ann"), "/home/ann/Bilder");
  EXPECT_EQ(xdg_user_dir_from(text, "XDG_MUSIC_DIR", "/home/ann"), "");
  EXPECT_FALSE(user_videos_folder().empty()) << "a home folder at least";
}

TEST(UserFolders, ModificationTimeOfAFile) {
  const std::string path = test_temp_dir() + "/modified.txt";
  const std::time_t before = std::time(nullptr);
  ASSERT_TRUE(write_file_bytes(path, {'x'}));
  const auto modified = file_modified_time(path);
  ASSERT_TRUE(modified.has_value());
  EXPECT_GE(*modified, before - 2);
  EXPECT_LE(*modified, std::time(nullptr) + 2);
  EXPECT_FALSE(file_modified_time(test_temp_dir() + "/no such file").has_value());
  EXPECT_FALSE(user_pictures_folder().empty()) << "a home folder at least";
}

}  // namespace
