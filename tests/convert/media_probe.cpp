#include "media_probe.h"

#ifdef _WIN32
#include "host_runner.h"
#else
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

std::string shell_quoted(const std::string& path) {
  std::string unix_path = path;
#ifdef _WIN32
  // Wine's Z: drive is the Linux side's root, where the command runs.
  if (unix_path.rfind("Z:", 0) == 0) {
    unix_path.erase(0, 2);
    for (char& c : unix_path) c = c == '\\' ? '/' : c;
  }
#endif
  std::string quoted = "'";
  for (char c : unix_path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

#ifdef _WIN32

// Windows test programs run the FFmpeg tools on the Linux side.
std::string run_command(const std::string& command, int* status) {
  std::string output;
  const int result = host_run({"sh", "-c", command}, &output);
  if (status) *status = result;
  return output;
}

#else

std::string run_command(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) {
    if (status) *status = -1;
    return output;
  }
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int raw = pclose(pipe);
  if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

#endif

namespace {

// "key=value" lines of ffprobe's default writer without section wrappers.
std::multimap<std::string, std::string> key_values(const std::string& text) {
  std::multimap<std::string, std::string> values;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return values;
}

std::string first_of(const std::multimap<std::string, std::string>& values, const char* key) {
  auto it = values.find(key);
  return it == values.end() ? "" : it->second;
}

int64_t number_of(const std::multimap<std::string, std::string>& values, const char* key) {
  const std::string text = first_of(values, key);
  return text.empty() || text == "N/A" ? -1 : std::strtoll(text.c_str(), nullptr, 10);
}

}  // namespace

StreamFacts probe_streams(const std::string& path) {
  const std::string text = run_command(
      "ffprobe -v error -count_frames -show_entries "
      "stream=codec_type,codec_name,width,height,nb_read_frames,time_base,duration_ts:"
      "format=format_name:format_tags=major_brand -of default=noprint_wrappers=1 " +
      shell_quoted(path));
  const auto values = key_values(text);
  StreamFacts facts;
  facts.stream_count = static_cast<int>(values.count("codec_type"));
  facts.codec_type = first_of(values, "codec_type");
  facts.codec_name = first_of(values, "codec_name");
  facts.width = static_cast<int>(number_of(values, "width"));
  facts.height = static_cast<int>(number_of(values, "height"));
  facts.frames_decoded = number_of(values, "nb_read_frames");
  facts.duration_ts = number_of(values, "duration_ts");
  const std::string time_base = first_of(values, "time_base");
  std::sscanf(time_base.c_str(), "%d/%d", &facts.time_base_num, &facts.time_base_den);
  facts.format_name = first_of(values, "format_name");
  facts.major_brand = first_of(values, "TAG:major_brand");
  return facts;
}

std::vector<PacketFacts> probe_packets(const std::string& path) {
  const std::string text =
      run_command("ffprobe -v error -select_streams 0 -show_entries "
                  "packet=pts,dts,duration,size,flags -of csv=p=0 " +
                  shell_quoted(path));
  std::vector<PacketFacts> packets;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    PacketFacts packet;
    long long pts = 0, dts = 0, duration = 0, size = 0;
    char flags[8] = {0};
    if (std::sscanf(line.c_str(), "%lld,%lld,%lld,%lld,%7s", &pts, &dts, &duration, &size,
                    flags) != 5) {
      continue;
    }
    packet.pts = pts;
    packet.dts = dts;
    packet.duration = duration;
    packet.size = size;
    packet.key = flags[0] == 'K';
    packets.push_back(packet);
  }
  return packets;
}

std::string decode_errors(const std::string& path) {
  return run_command("ffmpeg -nostdin -v error -i " + shell_quoted(path) + " -f null -");
}

std::vector<uint8_t> avcc_box_payload(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  static const char kType[4] = {'a', 'v', 'c', 'C'};
  for (size_t i = 4; i + 4 <= bytes.size(); ++i) {
    if (std::memcmp(&bytes[i], kType, 4) != 0) continue;
    const size_t box_size = static_cast<size_t>(bytes[i - 4]) << 24 |
                            static_cast<size_t>(bytes[i - 3]) << 16 |
                            static_cast<size_t>(bytes[i - 2]) << 8 | bytes[i - 1];
    if (box_size < 8 || i - 4 + box_size > bytes.size()) return {};
    return std::vector<uint8_t>(bytes.begin() + static_cast<long>(i + 4),
                                bytes.begin() + static_cast<long>(i - 4 + box_size));
  }
  return {};
}

std::vector<std::string> decoded_picture_sizes(const std::string& path) {
  const std::string text = run_command(
      "ffprobe -v error -select_streams v:0 -show_entries frame=width,height "
      "-of csv=p=0 " + shell_quoted(path));
  std::vector<std::string> sizes;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    int w = 0, h = 0;
    if (std::sscanf(line.c_str(), "%d,%d", &w, &h) != 2) continue;
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) sizes.push_back(size);
  }
  return sizes;
}

SoundFacts probe_sound(const std::string& path) {
  const auto values = key_values(run_command(
      "ffprobe -v error -select_streams a:0 -show_entries "
      "stream=codec_name,profile,sample_rate,channels,start_time,duration "
      "-of default=noprint_wrappers=1 " + shell_quoted(path)));
  SoundFacts facts;
  facts.codec_name = first_of(values, "codec_name");
  facts.present = !facts.codec_name.empty();
  facts.profile = first_of(values, "profile");
  facts.sample_rate = static_cast<int>(number_of(values, "sample_rate"));
  facts.channels = static_cast<int>(number_of(values, "channels"));
  const std::string start = first_of(values, "start_time"), duration = first_of(values, "duration");
  if (!start.empty() && start != "N/A") facts.start_s = std::strtod(start.c_str(), nullptr);
  if (!duration.empty() && duration != "N/A") facts.duration_s = std::strtod(duration.c_str(), nullptr);
  return facts;
}

namespace {

std::vector<int16_t> decode_sound(const std::string& path, const std::string& filter) {
  const std::string raw = path + ".sound.raw";
  run_command("ffmpeg -nostdin -v error -y -i " + shell_quoted(path) + " -map 0:a:0 " + filter +
              "-f s16le -ac 1 -ar 8000 " + shell_quoted(raw));
  std::ifstream in(raw, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(raw.c_str());
  std::vector<int16_t> samples(bytes.size() / 2);
  if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

}  // namespace

std::vector<int16_t> decoded_sound(const std::string& path) { return decode_sound(path, ""); }

std::vector<int16_t> decoded_sound_on_timeline(const std::string& path) {
  return decode_sound(path, "-af aresample=async=1:first_pts=0 ");
}

std::vector<double> tone_onsets(const std::vector<int16_t>& samples) {
  std::vector<double> found;
  int quiet = 800;
  for (size_t i = 0; i < samples.size(); ++i) {
    const bool loud = std::abs(samples[i]) > 1000;
    if (loud && quiet >= 800) found.push_back(static_cast<double>(i) / 8000);
    quiet = loud ? 0 : quiet + 1;
  }
  return found;
}
