#include "app/program_info.h"

#include <cstdio>
#include <cstring>

#ifndef H264_VERSION
#define H264_VERSION "0.0.0"
#endif

const char* program_version() { return H264_VERSION; }

bool answer_help_or_version(int argc, char** argv, const char* program, const char* usage) {
  if (argc != 2) return false;
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(usage, stdout);
    std::fflush(stdout);
    return true;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("%s %s\n", program, program_version());
    std::fflush(stdout);
    return true;
  }
  return false;
}
