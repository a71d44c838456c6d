// File helpers that differ between Windows and POSIX: sizes past 2 and 4 GiB
// (sparse files, so the tests write almost nothing), read and mapped,
// exclusive creation, paths with spaces and ANSI code-page characters, and
// local time.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "recording/recording.h"

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;

// A fresh folder under the system's temporary one, removed at the end; the
// Windows build of these tests has no other test support.
struct ScratchFolder {
  std::string path;
  ScratchFolder() {
    const auto base = std::filesystem::temp_directory_path() /
                      ("h264-platform-" + std::to_string(std::time(nullptr)) + "-" +
                       std::to_string(reinterpret_cast<uintptr_t>(this) & 0xffff));
    std::filesystem::create_directories(base);
    path = base.string();
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// A file of `size` bytes of which only the last is written.
bool make_sparse_file(const std::string& path, int64_t size) {
  std::FILE* file = open_file(path, "wb");
  if (!file) return false;
  const bool ok = seek_file(file, size - 1, SEEK_SET) && std::fputc('x', file) != EOF;
  return std::fclose(file) == 0 && ok;
}

// Sizes that wrap or turn negative in 32 bits must still be read whole, and a
// recording of any size maps whole: its last byte is where the file has it
// (4 GiB + 1000 would wrap to 1000 bytes in 32 bits).
TEST(PlatformFiles, LargeSparseFilesKeepTheirSizeAndMapWhole) {
  const int64_t sizes[] = {1000, 2 * kGiB - 1, 2 * kGiB + 100, 3 * kGiB, 4 * kGiB + 1000};
  const ScratchFolder scratch;
  const std::string path = scratch.path + "/sparse.264";
  for (const int64_t size : sizes) {
    SCOPED_TRACE(size);
    ASSERT_TRUE(make_sparse_file(path, size));
    std::FILE* file = open_file(path, "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(open_file_size(file), size);
    EXPECT_TRUE(seek_file(file, size - 1, SEEK_SET));
    EXPECT_EQ(file_position(file), size - 1);
    EXPECT_EQ(std::fgetc(file), 'x');
    std::fclose(file);
    Recording recording;
    ASSERT_EQ(read_recording_payload(path, recording), LoadStatus::ok);
    ASSERT_EQ(static_cast<int64_t>(recording.length), size - 32);
    EXPECT_EQ(recording.payload()[recording.length - 1], 'x');
    EXPECT_EQ(recording.payload()[recording.length - 2], 0);
  }
}

TEST(PlatformFiles, NewFileIsCreatedOnlyOnce) {
  const ScratchFolder scratch;
  const std::string path = scratch.path + "/exclusive.tmp";
  EXPECT_EQ(create_new_file(path), CreateResult::created);
  EXPECT_EQ(create_new_file(path), CreateResult::exists);
  EXPECT_EQ(create_new_file(scratch.path + "/no such folder/x.tmp"), CreateResult::failed);
}

// Names as the program holds them, in UTF-8: spaces, accents, and scripts no
// ANSI code page has together (Japanese, Korean), also in a folder whose own
// name is outside the code pages; and, as narrow calls took them, bytes of the
// ANSI code page (0xE9 is "e acute" in code page 1252, not valid UTF-8).
TEST(PlatformFiles, PathsWithSpacesAccentsAndAnyScriptOpen) {
  const ScratchFolder scratch;
  const std::string folder = scratch.path + "/camera recordings";
  const std::string far_folder = scratch.path + "/カメラ 日본";
  for (const std::string& f : {folder, far_folder}) std::filesystem::create_directories(file_system_path(f));
  for (const std::string& path : {folder + "/front door.264", folder + "/r\xE9sum\xE9 1.264",
                                 folder + "/r\xC3\xA9sum\xC3\xA9 2.264", far_folder + "/日本 한 ü 3.264"}) {
    SCOPED_TRACE(path);
    std::FILE* file = open_file(path, "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("camera", file);
    std::fclose(file);
    file = open_file(path, "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(open_file_size(file), 6);
    std::fclose(file);
    EXPECT_EQ(create_new_file(path), CreateResult::exists);
    // The same file for std::filesystem (which the converter renames with).
    EXPECT_TRUE(std::filesystem::exists(file_system_path(path)));
  }
}

TEST(PlatformFiles, RemoveFileNowTakesAnyName) {
  const ScratchFolder scratch;
  for (const std::string name : {"plain.tmp", "カメラ 日本 é.tmp"}) {
    const std::string path = scratch.path + "/" + name;
    ASSERT_EQ(create_new_file(path), CreateResult::created) << name;
    remove_file_now(path.c_str());
    EXPECT_FALSE(std::filesystem::exists(file_system_path(path))) << name;
    EXPECT_EQ(path_text(file_system_path(path)), path) << "the UTF-8 text comes back";
  }
}

TEST(PlatformFiles, LocalTimeRoundTripsThroughMktime) {
  for (const std::time_t when : {std::time_t{0} + 86400, std::time_t{1700000000}, std::time(nullptr)}) {
    std::tm local{};
    ASSERT_TRUE(local_time(when, local));
    EXPECT_EQ(std::mktime(&local), when);
  }
}

}  // namespace
