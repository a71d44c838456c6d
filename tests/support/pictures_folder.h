// Points the user's pictures folder (where the live view saves screenshots)
// at a folder of the test's own while it lives: XDG_CONFIG_HOME goes to that
// folder, holding a user-dirs.dirs that names it. POSIX only.
#pragma once

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

class ScopedPicturesFolder {
 public:
  explicit ScopedPicturesFolder(const std::string& folder) {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) previous_ = old;
    std::ofstream(folder + "/user-dirs.dirs") << "XDG_PICTURES_DIR=\"" << folder << "\"\n";
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  }
  ~ScopedPicturesFolder() {
    if (previous_) {
      setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }
  ScopedPicturesFolder(const ScopedPicturesFolder&) = delete;
  ScopedPicturesFolder& operator=(const ScopedPicturesFolder&) = delete;

 private:
  std::optional<std::string> previous_;
};
