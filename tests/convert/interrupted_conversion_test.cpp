// Conversions that are interrupted or run short of memory: no abort, no
// temporary MP4 left in the recordings' folder.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "ui/batch_screen.h"
#include "convert/remux.h"
#include "convert_fixtures.h"
#include "media_probe.h"
#include "thread_limit.h"

namespace {

const std::string kTools = H264_TOOLS_DIR;

// A made recording followed by `size` bytes of zeros that take no disk space.
std::string padded_recording(const std::string& folder, uintmax_t size) {
  RecordingSpec recipe;
  recipe.width = 160;
  recipe.height = 120;
  recipe.frames = 25;
  const std::string path = make_recording_file(recipe, folder + "/big.264");
  if (path.empty()) return "";
  std::error_code error;
  std::filesystem::resize_file(path, size, error);
  return error ? "" : path;
}

// Under a 300 MB address-space limit (the programs start near 200 MB with
// their libraries and threads) a 400 MB recording cannot be mapped: the
// inspector says so and fails cleanly, and converting it works in bounded
// memory.
TEST(OutOfMemory, LoaderSaysSoAndTheConverterStreamsWithinTheLimit) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "the address sanitizer reserves more address space than any such limit";
  }
  const std::string folder = fresh_folder("oom");
  const std::string input = padded_recording(folder, uintmax_t{400} << 20);
  ASSERT_FALSE(input.empty());
  const std::string limit = "ulimit -v 300000; ";
  int status = -1;
  const std::string inspected = run_command(limit + kTools + "/inspect_recording " + shell_quoted(input), &status);
  EXPECT_EQ(status, 1) << inspected;
  EXPECT_NE(inspected.find("Error: Cannot map '" + input + "' into memory\n"), std::string::npos)
      << inspected;
  const std::string converted =
      run_command(limit + kTools + "/convert_mp4 --quiet " + shell_quoted(input), &status);
  EXPECT_EQ(status, 0) << converted;
  EXPECT_EQ(probe_streams(folder + "/big.mp4").frames_decoded, 25);
  EXPECT_TRUE(temporaries_in(folder).empty());
}

// SIGINT or SIGTERM while writing: the process ends by the signal and its
// temporary MP4 is gone.
TEST(Interrupted, ConverterRemovesItsTemporaryOnSigintAndSigterm) {
  for (int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    const std::string folder = fresh_folder("interrupted");
    const std::string input = padded_recording(folder, uintmax_t{6} << 30);
    ASSERT_FALSE(input.empty());
    const pid_t pid = fork();
    if (pid == 0) {
      execl((kTools + "/convert_mp4").c_str(), "convert_mp4", "--quiet", input.c_str(), nullptr);
      _exit(127);
    }
    ASSERT_GT(pid, 0);
    // Wait until the temporary exists, then interrupt.
    bool seen = false;
    for (int i = 0; i < 400 && !seen; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      seen = !temporaries_in(folder).empty();
    }
    kill(pid, signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(seen) << "the conversion ended before it could be interrupted";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    EXPECT_TRUE(temporaries_in(folder).empty());
    EXPECT_FALSE(std::filesystem::exists(folder + "/big.mp4"));
  }
}

// Temporaries are judged only on the machine that wrote them: one of this
// machine's ended processes goes with the next conversion into the folder; a
// running process's stays, and so do another machine's (its pid means nothing
// here, as in a folder two computers share), those of the old unnamed-host
// kind, and every name that is not exactly a temporary's.
TEST(Interrupted, OnlyThisMachinesEndedProcessesLoseTheirTemporaries) {
  const std::string folder = fresh_folder("stale");
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  waitpid(ended, nullptr, 0);
  const std::string host = temporary_host_name();
  ASSERT_FALSE(host.empty()) << "this machine has no name to tell its temporaries by";
  const std::string other_host = host == "camera_pc" ? "office_pc" : "camera_pc";
  const std::string pid = std::to_string(ended);
  const std::string stale = temporary_name(host, ended, 3);
  const std::vector<std::string> kept = {
      temporary_name(host, getppid(), 0),        // running
      temporary_name(other_host, ended, 3),      // another machine's
      ".tmp-" + pid + "-3.mp4",                  // no host: cannot be told
      ".tmp-" + host + "- " + pid + "-0.mp4",    // not exactly a temporary's name
      ".tmp-" + host + "-+" + pid + "-0.mp4",
      ".tmp-" + host + "-0" + pid + "-0.mp4",
      ".tmp-" + host + "-" + pid + "-0.mp4.part",
      ".tmp-" + host + "-" + pid + "-x.mp4",
      ".tmp-notes.mp4",
  };
  ASSERT_TRUE(write_bytes(folder + "/" + stale, {1, 2, 3}));
  for (const std::string& name : kept) ASSERT_TRUE(write_bytes(folder + "/" + name, {1, 2, 3}));
  RecordingSpec recipe;
  recipe.width = 160;
  recipe.height = 120;
  recipe.frames = 10;
  const std::string input = make_recording_file(recipe, folder + "/rec.264");
  ASSERT_FALSE(input.empty());
  ASSERT_TRUE(remux_to_mp4(input, folder + "/rec.mp4", {}, false));
  EXPECT_FALSE(std::filesystem::exists(folder + "/" + stale));
  for (const std::string& name : kept) {
    EXPECT_TRUE(std::filesystem::exists(folder + "/" + name)) << name;
  }
}

// Where the system has no thread to spare, a conversion and a batch end with
// their reason, leaving neither MP4 nor temporary; with one thread to spare
// the conversion works.
TEST(ThreadLimit, ConversionsWithoutAThreadToSpareFailWithTheirReason) {
  const std::string folder = folder_for_everyone("convert-threads");
  RecordingSpec recipe;
  recipe.frames = 25;
  const std::string input = make_recording_file(recipe, folder + "/rec.264");
  ASSERT_FALSE(input.empty());
  const std::string output = folder + "/rec.mp4";
  auto convert = [&] {
    const RemuxResult result = convert_to_mp4(input, output, {}, RemuxOptions{false, true, nullptr});
    return result.succeeded ? 0 : result.reason == "cannot start a reading thread" ? 1 : 2;
  };
  EXPECT_EQ(run_with_thread_limit(1, convert), 1);
  EXPECT_FALSE(std::filesystem::exists(output));
  testing::internal::CaptureStdout();
  const int batch = run_with_thread_limit(1, [&] {
    return run_batch_conversion_with_results(nullptr, nullptr, {input}) == std::vector<bool>{false} ? 1 : 2;
  });
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(batch, 1);
  EXPECT_EQ(printed, "FAILED  " + input + ": cannot start a worker\n");
  EXPECT_FALSE(std::filesystem::exists(output));
  EXPECT_TRUE(temporaries_in(folder).empty());
  EXPECT_EQ(run_with_thread_limit(2, convert), 0);
  EXPECT_EQ(probe_streams(output).frames_decoded, 25);
}

}  // namespace
