// A test whose files go in a fresh temporary folder of its own, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

class TempFolderTest : public ::testing::Test {
 protected:
  explicit TempFolderTest(std::string name) : name_(std::move(name)) {}
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() / (name_ + "_" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  std::filesystem::path folder;

 private:
  std::string name_;
};
