#include "platform/chooser_program.h"

#ifndef _WIN32

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

bool is_executable_file(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The folder with its closing separator: zenity opens a name ending in "/" as
// a folder to browse, and takes anything else for a file to preselect.
std::string as_folder(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + "/";
}

std::vector<std::string> zenity_arguments(bool multiple, const ChooserTexts& texts,
                                          unsigned long owner, const std::string& start_folder) {
  std::vector<std::string> args = {"zenity", "--file-selection"};
  if (multiple) {
    // A newline separates the paths: spaces and any other bytes stay inside names.
    args.push_back("--multiple");
    args.push_back("--separator=\n");
  }
  args.push_back(std::string("--title=") + texts.title);
  args.push_back(std::string("--file-filter=") + texts.recordings_filter + " | *.264");
  args.push_back(std::string("--file-filter=") + texts.all_files_filter + " | *");
  if (owner != 0) args.push_back("--attach=" + std::to_string(owner));
  if (!start_folder.empty()) args.push_back("--filename=" + as_folder(start_folder));
  return args;
}

std::vector<std::string> kdialog_arguments(bool multiple, const ChooserTexts& texts,
                                           unsigned long owner, const std::string& start_folder) {
  std::vector<std::string> args = {"kdialog", "--title", texts.title};
  if (multiple) {
    args.push_back("--multiple");
    args.push_back("--separate-output");
  }
  if (owner != 0) {
    args.push_back("--attach");
    args.push_back(std::to_string(owner));
  }
  args.push_back("--getopenfilename");
  args.push_back(start_folder.empty() ? std::string(".") : as_folder(start_folder));
  args.push_back(std::string("*.264|") + texts.recordings_filter + "\n*|" +
                 texts.all_files_filter);
  return args;
}

void append_limited(ProgramRun& run, const char* bytes, size_t count, size_t max_output) {
  size_t room = max_output - run.output.size();
  if (count > room) {
    run.overflowed = true;
    count = room;
  }
  run.output.append(bytes, count);
}

// Reads the pipe to its end, so the program never blocks on a full pipe.
void drain_output(int fd, ProgramRun& run, size_t max_output) {
  char buffer[4096];
  while (true) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return;
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    append_limited(run, buffer, static_cast<size_t>(n), max_output);
  }
}

int wait_for_exit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string find_program_in(const std::string& name, const char* search_path) {
  if (name.empty() || !search_path) return "";
  std::string list = search_path;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string dir = list.substr(start, end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (is_executable_file(candidate)) return candidate;
    start = end + 1;
  }
  return "";
}

ChooserProgram find_chooser_program() {
  const char* path = std::getenv("PATH");
  if (!find_program_in("zenity", path).empty()) return ChooserProgram::zenity;
  if (!find_program_in("kdialog", path).empty()) return ChooserProgram::kdialog;
  return ChooserProgram::none;
}

const char* no_chooser_message() {
  return "No file chooser found: install zenity or kdialog (looked for both on PATH)\n";
}

std::vector<std::string> chooser_arguments(ChooserProgram program, bool multiple,
                                           const ChooserTexts& texts, unsigned long owner,
                                           const std::string& start_folder) {
  switch (program) {
    case ChooserProgram::zenity:
      return zenity_arguments(multiple, texts, owner, start_folder);
    case ChooserProgram::kdialog:
      return kdialog_arguments(multiple, texts, owner, start_folder);
    case ChooserProgram::none:
      break;
  }
  return {};
}

ProgramRun run_program_for_output(const std::vector<std::string>& args, size_t max_output) {
  ProgramRun run;
  if (args.empty()) return run;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return run;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return run;
  }
  run.started = true;
  drain_output(fds[0], run, max_output);
  close(fds[0]);
  run.exit_status = wait_for_exit(pid);
  return run;
}

std::string single_choice_from_output(const std::string& output) {
  // The program ends its one path with a newline; anything before it, a
  // newline inside the name included, is the path.
  std::string path = output;
  if (!path.empty() && path.back() == '\n') path.pop_back();
  if (path.empty() || path.size() + 1 > kSingleChoiceLimit) return "";
  return path;
}

std::vector<std::string> multiple_choices_from_output(const std::string& output) {
  std::vector<std::string> paths = split_lines(output);
  size_t needed = 1;
  for (const std::string& p : paths) needed += p.size() + 1;
  if (needed > kMultipleChoiceLimit) return {};
  return paths;
}

#endif  // _WIN32
