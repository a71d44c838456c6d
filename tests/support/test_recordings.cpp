#include "test_recordings.h"

#ifdef _WIN32
#include <windows.h>

#include <random>

#include "host_runner.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

namespace {

std::string format_number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// Removes the folder when the test process ends.
struct TempDir {
  std::string path;
#ifdef _WIN32
  // Under Wine, on the Linux side's /tmp (drive Z:), where the Linux programs
  // started through the host runner can reach it too.
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::random_device random;
    const std::string name = "/h264test-" + std::to_string(random()) + std::to_string(random());
    std::string candidate = "Z:" + std::string(base && *base ? base : "/tmp") + name;
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error) && !error) path = candidate;
  }
#else
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/h264test-XXXXXX";
    if (mkdtemp(pattern.data())) path = pattern;
  }
#endif
  ~TempDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

std::string join(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& a : args) text += (text.empty() ? "" : " ") + a;
  return text;
}

}  // namespace

std::vector<std::string> recording_arguments(const RecordingSpec& s, const std::string& path) {
  std::vector<std::string> a = {"--out", path,
                                "--width", std::to_string(s.width),
                                "--height", std::to_string(s.height),
                                "--fps", format_number(s.fps),
                                "--first-ts", std::to_string(s.first_ts),
                                "--block-samples", std::to_string(s.block_samples),
                                "--slices", std::to_string(s.slices),
                                "--seed", std::to_string(s.seed)};
  auto add = [&](const char* name, const std::string& value) {
    a.push_back(name);
    if (!value.empty()) a.push_back(value);
  };
  if (s.frames > 0) add("--frames", std::to_string(s.frames));
  else add("--duration", format_number(s.duration_s));
  if (s.gop > 0) add("--gop", std::to_string(s.gop));
  if (s.audio) add("--audio", "");
  if (s.audio_offset_ms) add("--audio-offset-ms", std::to_string(s.audio_offset_ms));
  if (s.full_range) add("--full-range", "");
  if (s.mid_gop) add("--mid-gop", std::to_string(s.mid_gop));
  if (s.size_change_at_s >= 0) {
    add("--size-change-at", format_number(s.size_change_at_s));
    add("--width2", std::to_string(s.width2));
    add("--height2", std::to_string(s.height2));
  }
  if (s.no_hxvf) add("--no-hxvf", "");
  if (s.bad_hxaf) add("--bad-hxaf", std::to_string(s.bad_hxaf));
  return a;
}

#ifdef _WIN32

namespace {

// One argument quoted for CommandLineToArgv-style parsing.
std::string quoted_argument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string text = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    text += c;
  }
  text.append(backslashes * 2, '\\');
  return text + "\"";
}

}  // namespace

int run_program(const std::string& program, const std::vector<std::string>& args,
                std::string* output) {
  static std::atomic<int> runs{0};
  const std::string log = test_temp_dir() + "/run-" + std::to_string(++runs) + ".log";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE log_file = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string command = quoted_argument(program);
  for (const std::string& a : args) command += " " + quoted_argument(a);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = log_file;
  startup.hStdError = log_file;
  PROCESS_INFORMATION process{};
  const bool started = log_file != INVALID_HANDLE_VALUE &&
                       CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  DWORD status = static_cast<DWORD>(-1);
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  if (log_file != INVALID_HANDLE_VALUE) CloseHandle(log_file);
  if (output) {
    const std::vector<uint8_t> bytes = read_file_bytes(log);
    output->assign(bytes.begin(), bytes.end());
    // Windows programs end their lines with CR LF; the tests compare LF lines.
    output->erase(std::remove(output->begin(), output->end(), '\r'), output->end());
    if (!started) *output += "cannot start " + program + "\n";
  }
  std::remove(log.c_str());
  return started ? static_cast<int>(status) : -1;
}

#else

int run_program(const std::string& program, const std::vector<std::string>& args,
                std::string* output) {
  static std::atomic<int> runs{0};
  const std::string log = test_temp_dir() + "/run-" + std::to_string(++runs) + ".log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> words = args;
  words.insert(words.begin(), program);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  const bool waited = spawned == 0 && waitpid(pid, &status, 0) == pid;
  if (output) {
    const std::vector<uint8_t> bytes = read_file_bytes(log);
    output->assign(bytes.begin(), bytes.end());
    if (spawned != 0) *output += "cannot start " + program + ": " + std::strerror(spawned) + "\n";
  }
  std::remove(log.c_str());
  if (!waited || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

#endif

std::string make_recording_file(const RecordingSpec& recipe, const std::string& path) {
  static std::mutex mutex;
  static std::map<std::string, std::string> made;  // path -> arguments it was made with
  const std::vector<std::string> args = recording_arguments(recipe, path);
  const std::string key = join(args);
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = made.find(path);
  if (found != made.end() && found->second == key && std::filesystem::exists(path)) return path;
  made.erase(path);
  std::string output;
#ifdef _WIN32
  // There is no Windows maker (it needs libx264): the Linux one makes it.
  std::vector<std::string> command = args;
  command.insert(command.begin(), "make_recording");
  const int status = host_run(command, &output);
#else
  const std::string tool = std::string(H264_TOOLS_DIR) + "/make_recording";
  const int status = run_program(tool, args, &output);
#endif
  if (status != 0) {
    ADD_FAILURE() << "make_recording " << key << " failed (status " << status << "):\n" << output;
    return "";
  }
  made[path] = key;
  return path;
}

std::string test_temp_dir() {
  static TempDir dir;
  if (dir.path.empty()) ADD_FAILURE() << "cannot create a temporary folder";
  return dir.path;
}

std::vector<uint8_t> read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

int read_frame_number(const std::function<int(int x, int y)>& gray, int width, int height) {
  const int cell_w = width / 16, band_h = std::max(8, height / 10);
  int number = 0;
  for (int cell = 0; cell < 16; ++cell) {
    const int bit = gray(cell * cell_w + cell_w / 2, band_h / 2) >= 128 ? 1 : 0;
    number = number * 2 + bit;
  }
  return number;
}
