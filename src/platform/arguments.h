// A console program's command line in UTF-8, the program's inner form.
#pragma once

#include <string>
#include <vector>

// The program's arguments, its own name first. On Windows they are read from
// the wide command line, so names outside the ANSI code page arrive whole
// (argv holds them in that code page, with '?' for what it lacks); elsewhere
// they are argv as given.
std::vector<std::string> program_arguments(int argc, char** argv);
