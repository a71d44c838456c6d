#include "encoded_stream.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// Runs ffmpeg with `arguments` writing an H.264 stream into a temporary file
// (its path replaces every "%s"), and indexes what it wrote.
EncodedStream run_encoder(const std::string& arguments) {
  static std::atomic<int> counter{0};
  EncodedStream s;
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("encoded_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".h264");
  const std::string command = "ffmpeg -nostdin -v error -y " + arguments + " -f h264 '" + file.string() + "'";
  const int status = std::system(command.c_str());
  std::ifstream in(file, std::ios::binary);
  s.bytes.assign(std::istreambuf_iterator<char>(in), {});
  in.close();
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  if (status != 0 || s.bytes.empty()) {
    s.error = "ffmpeg with libx264 could not make the stream: " + command;
    return s;
  }
  s.units = index_nal_units(s.bytes.data(), s.bytes.size());
  return s;
}

}  // namespace

EncodedStream encode_h264_stream(int w, int h, const char* pix_fmt, unsigned left, unsigned right,
                                 int frames, int key_interval) {
  char arguments[512];
  std::snprintf(arguments, sizeof arguments,
                "-f lavfi -i \"color=c=0x%06X:size=%dx%d:rate=25,"
                "drawbox=x=0:y=0:w=iw/2:h=ih:color=0x%06X:t=fill\""
                " -frames:v %d -c:v libx264 -pix_fmt %s -bf 0 -g %d",
                right, w, h, left, frames, pix_fmt, key_interval);
  return run_encoder(arguments);
}

EncodedStream encode_noisy_h264_stream(int w, int h, int frames, const char* bit_rate, const char* buffer) {
  char arguments[512];
  std::snprintf(arguments, sizeof arguments,
                "-f lavfi -i \"testsrc2=size=%dx%d:rate=25,noise=alls=30:allf=t\""
                " -frames:v %d -c:v libx264 -preset ultrafast -pix_fmt yuv420p -bf 0 -g 25"
                " -b:v %s -maxrate %s -bufsize %s",
                w, h, frames, bit_rate, bit_rate, buffer);
  return run_encoder(arguments);
}
