#include "app_test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

ScratchDir::ScratchDir() {
  char name[] = "/tmp/h264_app_test_XXXXXX";
  if (mkdtemp(name)) path = name;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

ScopedCwd::ScopedCwd(const std::string& dir) {
  previous = std::filesystem::current_path().string();
  std::filesystem::current_path(dir);
}

ScopedCwd::~ScopedCwd() { std::filesystem::current_path(previous); }

ScopedEnv::ScopedEnv(const std::string& n, const std::string& value) : name(n) {
  if (const char* old = std::getenv(name.c_str())) {
    had_value = true;
    previous = old;
  }
  setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_value)
    setenv(name.c_str(), previous.c_str(), 1);
  else
    unsetenv(name.c_str());
}

namespace {

std::string path_with(const std::string& dir, bool alone) {
  const char* old = std::getenv("PATH");
  return alone || !old ? dir : dir + ":" + old;
}

}  // namespace

StandInChooser::StandInChooser(const std::string& name, const std::string& output, int status,
                               bool alone)
    : path_env("PATH", path_with(dir.path, alone)) {
  write_file(dir.file("output"), output);
  std::string script = "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + dir.file("args") + "'\n" +
                       "/bin/cat '" + dir.file("output") + "'\nexit " + std::to_string(status) +
                       "\n";
  write_file(dir.file(name), script);
  chmod(dir.file(name).c_str(), 0755);
}

std::vector<std::string> StandInChooser::arguments() const {
  std::ifstream in(dir.file("args"), std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  size_t start = 0;
  for (size_t end; (end = all.find('\0', start)) != std::string::npos; start = end + 1)
    args.push_back(all.substr(start, end - start));
  return args;
}

bool StandInChooser::ran() const { return access(dir.file("args").c_str(), F_OK) == 0; }
