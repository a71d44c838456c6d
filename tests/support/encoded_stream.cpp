#include "encoded_stream.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

EncodedStream encode_h264_stream(int w, int h, const char* pix_fmt, unsigned left, unsigned right,
                                 int frames, int key_interval) {
  static std::atomic<int> counter{0};
  EncodedStream s;
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("encoded_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".h264");
  char command[1024];
  std::snprintf(command, sizeof command,
                "ffmpeg -nostdin -v error -y -f lavfi -i "
                "\"color=c=0x%06X:size=%dx%d:rate=25,"
                "drawbox=x=0:y=0:w=iw/2:h=ih:color=0x%06X:t=fill\""
                " -frames:v %d -c:v libx264 -pix_fmt %s -bf 0 -g %d -f h264 '%s'",
                right, w, h, left, frames, pix_fmt, key_interval, file.c_str());
  const int status = std::system(command);
  std::ifstream in(file, std::ios::binary);
  s.bytes.assign(std::istreambuf_iterator<char>(in), {});
  in.close();
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  if (status != 0 || s.bytes.empty()) {
    s.error = "ffmpeg with libx264 could not make the stream: " + std::string(command);
    return s;
  }
  s.units = index_nal_units(s.bytes.data(), s.bytes.size());
  return s;
}
