// The command-line converter run as a user runs it: result lines, exit status,
// and the progress bar that shows only on a terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "convert_fixtures.h"
#include "media_probe.h"

namespace {

const std::string kTool = std::string(H264_TOOLS_DIR) + "/convert_mp4";

std::string made_recording(const std::string& folder, const std::string& name) {
  RecordingSpec recipe;
  recipe.width = 128;
  recipe.height = 96;
  recipe.frames = 45;
  return make_recording_file(recipe, folder + "/" + name);
}

TEST(ConvertTool, OneResultLinePerFileAndFailureInTheExitStatus) {
  const std::string folder = fresh_folder("tool");
  const std::string good = made_recording(folder, "good.264");
  ASSERT_FALSE(good.empty());
  const std::string missing = folder + "/missing.264";

  int status = -1;
  std::string out = run_command(kTool + " --quiet " + shell_quoted(good) + " " +
                                shell_quoted(missing), &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, "OK  " + good + " -> " + folder + "/good.mp4\nFAILED  " + missing + ": cannot open the recording\n");
  EXPECT_EQ(probe_streams(folder + "/good.mp4").frames_decoded, 45);

  // Not quiet, not a terminal: the frame-rate line, no progress bar; the MP4
  // of the first run is replaced, and the line says so.
  out = run_command(kTool + " " + shell_quoted(good), &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("Detected FPS: 25.0 (from HXVF timestamps, duration=1.8s)"), std::string::npos)
      << out;
  EXPECT_NE(out.find("OK  " + good + " -> " + folder + "/good.mp4  (replaced the existing file)\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find('\r'), std::string::npos);
  EXPECT_TRUE(temporaries_in(folder).empty());
}

// a.264 and a.h264 would both be a.mp4: each gets its own MP4, named in its line.
TEST(ConvertTool, RecordingsThatWouldShareAnMp4GetOneEach) {
  const std::string folder = fresh_folder("tool-names");
  const std::string first = made_recording(folder, "a.264");
  ASSERT_FALSE(first.empty());
  const std::string second = folder + "/a.h264";
  std::filesystem::copy_file(first, second);
  int status = -1;
  const std::string out = run_command(kTool + " --quiet " + shell_quoted(first) + " " +
                                      shell_quoted(second), &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "OK  " + first + " -> " + folder + "/a.mp4\nOK  " + second + " -> " + folder +
                     "/a.h264.mp4\n");
  EXPECT_EQ(probe_streams(folder + "/a.mp4").frames_decoded, 45);
  EXPECT_EQ(probe_streams(folder + "/a.h264.mp4").frames_decoded, 45);
}

TEST(ConvertTool, UsageErrorsExitWithTwoAndConvertNothing) {
  const std::string folder = fresh_folder("tool-usage");
  const std::string good = made_recording(folder, "good.264");
  ASSERT_FALSE(good.empty());
  const std::string rows[] = {"", " --verbose " + shell_quoted(good), " --quiet"};
  for (const std::string& args : rows) {
    int status = -1;
    const std::string out = run_command(kTool + args, &status);
    EXPECT_EQ(status, 2) << args;
    EXPECT_TRUE(out.find("Usage: convert_mp4") != std::string::npos ||
                out.find("unknown option") != std::string::npos)
        << out;
  }
  EXPECT_FALSE(std::filesystem::exists(folder + "/good.mp4"));
  int status = -1;
  run_command(kTool + " -- " + shell_quoted(good), &status);
  EXPECT_EQ(status, 0);
}

// Runs the tool with its output on a pseudo-terminal and returns what it wrote.
std::string run_on_terminal(const std::vector<std::string>& args, int* exit_status) {
  *exit_status = -1;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "";
  const std::string slave_name = ptsname(master);
  const pid_t pid = fork();
  if (pid == 0) {
    const int slave = open(slave_name.c_str(), O_RDWR);
    if (slave < 0) _exit(127);
    dup2(slave, STDOUT_FILENO);
    dup2(slave, STDERR_FILENO);
    close(master);
    std::vector<char*> argv = {const_cast<char*>(kTool.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(kTool.c_str(), argv.data());
    _exit(127);
  }
  std::string out;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = read(master, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  close(master);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) *exit_status = WEXITSTATUS(status);
  return out;
}

TEST(ConvertTool, ShowsAProgressBarOnATerminal) {
  const std::string folder = fresh_folder("tool-tty");
  const std::string good = made_recording(folder, "good.264");
  ASSERT_FALSE(good.empty());
  int status = -1;
  const std::string out = run_on_terminal({good}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("\r[###"), std::string::npos) << out;
  EXPECT_NE(out.find("] 100%  " + good), std::string::npos) << out;
  EXPECT_NE(out.find("OK  " + good + " -> "), std::string::npos) << out;

  const std::string quiet = run_on_terminal({"--quiet", good}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(quiet.find('['), std::string::npos) << quiet;
}

}  // namespace
