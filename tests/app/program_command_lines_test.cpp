// Every program of the package run with the command lines users type: --help
// tells only what a user types, unknown options and missing names are refused
// with the usage naming the program (never its path) and exit status 2.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_recordings.h"

namespace {

struct Program {
  std::string name, path;
};

std::vector<Program> programs() {
  const std::string tools = H264_TOOLS_DIR;
  return {{"h264player", std::string(H264_BINARY_DIR) + "/src/h264player"},
          {"convert_mp4", tools + "/convert_mp4"},
          {"inspect_recording", tools + "/inspect_recording"},
          {"rtsp_probe", tools + "/rtsp_probe"}};
}

TEST(ProgramCommandLines, HelpTellsOnlyWhatUsersType) {
  for (const Program& p : programs()) {
    SCOPED_TRACE(p.name);
    std::string out;
    EXPECT_EQ(run_program(p.path, {"--help"}, &out), 0);
    EXPECT_EQ(out.rfind("Usage: " + p.name + " ", 0), 0u) << out;
    EXPECT_EQ(out.find("__"), std::string::npos) << out;
    EXPECT_EQ(out.find(H264_BINARY_DIR), std::string::npos) << out;
  }
}

TEST(ProgramCommandLines, UnknownOptionsAndMissingNamesAreRefusedWithTheUsage) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> lines = {
      {"h264player", {"--fullscreen"}},
      {"h264player", {"-x", "a.264"}},
      {"convert_mp4", {"--verbose", "a.264"}},
      {"convert_mp4", {}},
      {"inspect_recording", {"--bogus"}},
      {"inspect_recording", {}},
      {"inspect_recording", {"a.264", "b.264"}},
      {"rtsp_probe", {"--tcp", "rtsp://127.0.0.1:9/x"}},
      {"rtsp_probe", {"rtsp://127.0.0.1:9/x", "five"}},
      {"rtsp_probe", {}},
  };
  for (const auto& [name, args] : lines) {
    for (const Program& p : programs()) {
      if (p.name != name) continue;
      SCOPED_TRACE(name + " " + (args.empty() ? std::string("(nothing)") : args.front()));
      std::string out;
      EXPECT_EQ(run_program(p.path, args, &out), 2);
      EXPECT_EQ(out.rfind(name + ": ", 0), 0u) << out;
      EXPECT_NE(out.find("\nUsage: " + name + " "), std::string::npos) << out;
      EXPECT_EQ(out.find(H264_BINARY_DIR), std::string::npos) << "a path in the usage: " << out;
    }
  }
}

// "--" lets a name that starts with a dash through as a name.
TEST(ProgramCommandLines, DoubleDashEndsTheOptions) {
  std::string out;
  EXPECT_EQ(run_program(std::string(H264_TOOLS_DIR) + "/inspect_recording", {"--", "-no such.264"}, &out), 1);
  EXPECT_NE(out.find("-no such.264"), std::string::npos) << out;
}

}  // namespace
