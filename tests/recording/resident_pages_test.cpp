// What a reader of a mapped recording leaves behind is released a span at a
// time, and all of it when it jumps elsewhere; released bytes read back
// unchanged.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "big_recordings.h"
#include "platform/files.h"
#include "platform/mapped_file.h"
#include "recording/resident_pages.h"

namespace {

constexpr int64_t kMiB = int64_t{1} << 20;

TEST(ResidentPages, ReleasesWhatTheReaderLeftBehindAndAllOfItOnAJump) {
  const std::string path = sparse_file_folder() + "/pages.bin";
  std::FILE* out = open_file(path, "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(seek_file(out, 48 * kMiB, SEEK_SET));
  std::fputs("end", out);
  ASSERT_EQ(std::fclose(out), 0);
  std::FILE* in = open_file(path, "rb");
  ASSERT_NE(in, nullptr);
  const std::unique_ptr<MappedFile> file = map_open_file(in);
  std::fclose(in);
  ASSERT_NE(file, nullptr);

  struct Read {
    int64_t at, size;
    int64_t begin, end, released;  // afterwards
  };
  const Read reads[] = {
      {1000, 100, 1000, 1100, 0},
      {1100, 8 * kMiB, 1000, 8 * kMiB + 1100, 0},
      // Past the span: everything up to 1 MiB behind the reader goes.
      {9 * kMiB, 1000, 8 * kMiB, 9 * kMiB + 1000, 8 * kMiB - 1000},
      // A jump (a seek): the whole span goes.
      {40 * kMiB, 10, 40 * kMiB, 40 * kMiB + 10, 9 * kMiB},
      // A little way back (a unit read again) stays in the span.
      {40 * kMiB - 512 * 1024, 10, 40 * kMiB - 512 * 1024, 40 * kMiB + 10, 9 * kMiB},
  };
  ResidentPages pages;
  pages.file = file.get();
  for (const Read& r : reads) {
    SCOPED_TRACE(r.at);
    note_resident_read(pages, file->data + r.at, static_cast<size_t>(r.size));
    EXPECT_EQ(pages.begin, r.begin);
    EXPECT_EQ(pages.end, r.end);
    EXPECT_EQ(pages.released_bytes, r.released);
  }
  release_resident_pages(pages);
  EXPECT_EQ(pages.begin, -1);
  EXPECT_EQ(pages.released_bytes, 9 * kMiB + 512 * 1024 + 10);
  EXPECT_EQ(file->data[48 * kMiB], 'e');
  EXPECT_EQ(file->data[1000], 0);
  std::remove(path.c_str());
}

}  // namespace
