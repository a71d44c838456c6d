// A headless window of its own for a whole live-view session, run from a fresh
// working folder that is also the user's pictures folder, so that the
// screenshots it saves are the test's to find.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "draw/toast.h"
#include "headless_sdl.h"
#include "pictures_folder.h"
#include "rtsp/live_session.h"

class LiveSessionTest : public ::testing::Test {
 protected:
  LiveSessionTest(int width, int height, std::string folder_name)
      : width_(width), height_(height), folder_name_(std::move(folder_name)) {}

  void SetUp() override {
    canvas = make_headless_canvas(width_, height_);
    ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    show_toast("", 0);
    folder = std::filesystem::temp_directory_path() /
             (folder_name_ + "_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    pictures = std::make_unique<ScopedPicturesFolder>(folder.string());
  }
  void TearDown() override {
    pictures.reset();
    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  // The BMP files saved so far in the session's working folder.
  std::vector<std::filesystem::path> screenshots() const {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.path().extension() == ".bmp") found.push_back(entry.path());
    return found;
  }

  HeadlessCanvas canvas;
  std::filesystem::path folder, previous;
  std::unique_ptr<ScopedPicturesFolder> pictures;

 private:
  int width_, height_;
  std::string folder_name_;
};

// Short waits, so that a loss and a return fit in a test.
inline LiveSessionSettings quick_live_settings() {
  LiveSessionSettings s;
  s.silence_limit_ms = 1500;
  s.first_retry_ms = 100;
  s.longest_retry_ms = 400;
  s.exchange_timeout_ms = 1000;
  return s;
}
