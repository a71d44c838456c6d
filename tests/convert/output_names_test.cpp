// Names the converter writes: the temporaries (which machine and process
// wrote them, read back exactly) and the outputs of a batch (never two
// recordings into one MP4).
#include <gtest/gtest.h>

#include <set>

#include "convert/output_paths.h"
#include "convert/temporary_files.h"

namespace {

TEST(TemporaryName, ReadsBackOnlyWhatItWrites) {
  EXPECT_EQ(temporary_name("cam_pc", 4711, 2), ".tmp-cam_pc-4711-2.mp4");
  const struct {
    const char* name;
    bool temporary;
    const char* host;
    long pid;
  } rows[] = {
      {".tmp-cam_pc-4711-2.mp4", true, "cam_pc", 4711},
      {".tmp-office.example.com-1-0.mp4", true, "office.example.com", 1},
      {".tmp-a-999999999-18446.mp4", true, "a", 999999999},
      {".tmp-4711-2.mp4", false, "", 0},             // without a host: an older kind
      {".tmp-cam_pc- 4711-2.mp4", false, "", 0},      // a space
      {".tmp-cam_pc-+4711-2.mp4", false, "", 0},      // a sign
      {".tmp-cam_pc--4711-2.mp4", false, "", 0},
      {".tmp-cam_pc-04711-2.mp4", false, "", 0},      // a leading zero
      {".tmp-cam_pc-4711-02.mp4", false, "", 0},
      {".tmp-cam_pc-0-2.mp4", false, "", 0},          // no process 0
      {".tmp-cam_pc-4711-2.mp4 ", false, "", 0},
      {".tmp-cam_pc-4711-2.MP4", false, "", 0},
      {".tmp-cam_pc-4711-2.mp4.mp4", false, "", 0},
      {".tmp-cam pc-4711-2.mp4", false, "", 0},       // a byte no host name keeps
      {".tmp-cam-pc-4711-2.mp4", false, "", 0},       // '-' never stays in a host
      {".tmp--4711-2.mp4", false, "", 0},             // an empty host
      {".tmp-cam_pc-4711-.mp4", false, "", 0},
      {".tmp-cam_pc-4711-2x.mp4", false, "", 0},
      {".tmp-cam_pc-99999999999999999999-2.mp4", false, "", 0},  // no such pid
      {"x.tmp-cam_pc-4711-2.mp4", false, "", 0},
      {".tmp-notes.mp4", false, "", 0},
      {"rec.mp4", false, "", 0},
  };
  for (const auto& row : rows) {
    TemporaryOwner owner;
    EXPECT_EQ(parse_temporary_name(row.name, &owner), row.temporary) << "'" << row.name << "'";
    if (row.temporary) {
      EXPECT_EQ(owner.host, row.host) << row.name;
      EXPECT_EQ(owner.pid, row.pid) << row.name;
    }
  }
}

TEST(TemporaryName, HostNamesKeepOnlyBytesThatReadBack) {
  const struct {
    std::string raw, host;
  } rows[] = {
      {"cam-pc", "cam_pc"},
      {"office.example.com", "office.example.com"},
      {"DESKTOP-7Q2 X", "DESKTOP_7Q2_X"},
      {"k\xc3\xa4mera", "k__mera"},
      {"", ""},
      {std::string(80, 'a'), std::string(63, 'a')},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(file_name_host(row.raw), row.host) << row.raw;
    if (row.host.empty()) continue;
    TemporaryOwner owner;
    EXPECT_TRUE(parse_temporary_name(temporary_name(row.host, 12, 0), &owner)) << row.raw;
    EXPECT_EQ(owner.host, row.host);
  }
  EXPECT_FALSE(temporary_host_name().empty()) << "this machine gives no name";
}

TEST(BatchOutputs, NoTwoRecordingsShareAnMp4NorReplaceAnInput) {
  const struct {
    const char* name;
    std::vector<std::string> inputs, outputs;
  } rows[] = {
      {"distinct", {"/r/a.264", "/r/b.264"}, {"/r/a.mp4", "/r/b.mp4"}},
      {"same name, two extensions", {"/r/a.264", "/r/a.h264"}, {"/r/a.mp4", "/r/a.h264.mp4"}},
      {"three of one name", {"/r/a.264", "/r/a.h264", "/r/a.avc"},
       {"/r/a.mp4", "/r/a.h264.mp4", "/r/a.avc.mp4"}},
      {"listed twice", {"/r/a.264", "/r/a.264"}, {"/r/a.mp4", "/r/a.264.mp4"}},
      {"the long name taken too", {"/r/a.264", "/r/a.h264.264", "/r/a.h264"},
       {"/r/a.mp4", "/r/a.h264.mp4", "/r/a-2.mp4"}},
      {"case differs only", {"/r/A.264", "/r/a.264"}, {"/r/A.mp4", "/r/a.264.mp4"}},
      {"one folder spelt two ways", {"/r/a.264", "/r/x/../a.h264"},
       {"/r/a.mp4", "/r/x/../a.h264.mp4"}},
      {"an input named .mp4", {"/r/a.mp4"}, {"/r/a.mp4.mp4"}},
      {"an output that is another input", {"/r/a.264", "/r/a.mp4"}, {"/r/a.264.mp4", "/r/a.mp4.mp4"}},
      {"other folders", {"/r/a.264", "/s/a.264"}, {"/r/a.mp4", "/s/a.mp4"}},
  };
  for (const auto& row : rows) {
    const std::vector<std::string> outputs = batch_output_paths(row.inputs);
    EXPECT_EQ(outputs, row.outputs) << row.name;
    std::set<std::string> keys;
    for (const std::string& path : row.inputs) keys.insert(path_comparison_key(path));
    for (const std::string& path : outputs) {
      EXPECT_TRUE(keys.insert(path_comparison_key(path)).second) << row.name << ": " << path;
    }
  }
}

}  // namespace
