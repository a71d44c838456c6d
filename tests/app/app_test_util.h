// Helpers for the shell tests: scratch folders, working directory and
// environment changes undone at scope end, and stand-in chooser programs.
#pragma once

#include <string>
#include <vector>

// A fresh folder under /tmp, removed with its contents at scope end.
struct ScratchDir {
  std::string path;
  ScratchDir();
  ~ScratchDir();
  std::string file(const std::string& name) const { return path + "/" + name; }
};

// Writes bytes to a file; false when it cannot.
bool write_file(const std::string& path, const std::string& bytes);

// Changes the working directory until scope end.
struct ScopedCwd {
  std::string previous;
  explicit ScopedCwd(const std::string& dir);
  ~ScopedCwd();
};

// Sets an environment variable until scope end.
struct ScopedEnv {
  std::string name;
  std::string previous;
  bool had_value = false;
  ScopedEnv(const std::string& name, const std::string& value);
  ~ScopedEnv();
};

// A chooser program `name` (zenity or kdialog) of our own in a folder put
// first on PATH (alone when `alone`): it keeps its arguments, prints `output`
// and exits with `status`.
struct StandInChooser {
  ScratchDir dir;
  ScopedEnv path_env;
  StandInChooser(const std::string& name, const std::string& output, int status,
                 bool alone = false);
  // The arguments of its last run, program name excluded.
  std::vector<std::string> arguments() const;
  bool ran() const;
};
