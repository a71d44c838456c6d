#include "thread_limit.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "test_recordings.h"

namespace {

constexpr uid_t kNobody = 65534;

}  // namespace

std::string folder_for_everyone(const std::string& name) {
  const std::string folder = test_temp_dir() + "/" + name;
  std::filesystem::create_directories(folder);
  chmod(test_temp_dir().c_str(), 0755);
  chmod(folder.c_str(), 0777);
  return folder;
}

int run_with_thread_limit(int threads, const std::function<int()>& body) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      std::fprintf(stderr, "cannot become nobody to limit the threads\n");
      _exit(125);
    }
    const rlimit limit = {static_cast<rlim_t>(threads), static_cast<rlim_t>(threads)};
    if (setrlimit(RLIMIT_NPROC, &limit) != 0) {
      std::fprintf(stderr, "cannot limit the threads\n");
      _exit(125);
    }
    int result = 124;  // an exception: it would have ended the program
    try {
      result = body();
    } catch (...) {
    }
    std::fflush(stdout);
    _exit(result);
  }
  if (pid < 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  if (WEXITSTATUS(status) == 124 || WEXITSTATUS(status) == 125) return -1;
  return WEXITSTATUS(status);
}
