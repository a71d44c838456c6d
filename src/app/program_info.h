// The --help and --version answers every program of the package gives.
#pragma once

// When the only argument is --help (or -h) prints `usage`, when it is
// --version prints "<program> <version>", both on standard output, and
// returns true: the caller then exits with status 0. Otherwise false.
bool answer_help_or_version(int argc, char** argv, const char* program, const char* usage);

// The package's version, such as "1.0.0".
const char* program_version();
