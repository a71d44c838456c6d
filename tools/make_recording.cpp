// Test-recording maker: encodes moving pictures with libx264 and writes them
// in the camera's .264 layout ("HXVF" video headers, "HXAF" A-law sound
// blocks interleaved by time), with options for the awkward cases a player
// meets: odd frame rates, full-range video, files that start inside a group,
// size changes, missing headers, malformed sound blocks, sound written after
// its picture, stretches of erased flash and units stuffed with headers; and
// still scenes with activity only in known seconds.
//
// Every picture carries its frame number as a row of 16 black/white cells
// across the top (most significant bit on the left), so decoders and seeks
// can be checked by reading the picture back.
extern "C" {
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "app/program_info.h"
#include "media/av_handles.h"
#include "recording/recording.h"
#include "recording/recording_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kMaxFrames = 100000;
constexpr int kSampleRate = 8000;
constexpr double kToneHz = 440.0;
// Below 4096 the A-law codes never reach 0x00 or 0x01; --loud-audio goes
// well past it.
constexpr double kToneAmplitude = 3000.0;
constexpr double kLoudAmplitude = 20000.0;

struct MakerOptions {
  // The camera's clock and rough bytes: rate changes, dropped pictures,
  // timestamps that jump, start-code bytes in headers and sound, tone bursts.
  double fps2 = 0;
  double rate_change_at_s = -1;
  int drop_every = 0;
  int ts_jump_at = -1;
  long long ts_jump_ms = 0;
  bool header_start_codes = false;
  bool loud_audio = false;
  int tone_period_ms = 0;
  int tone_on_ms = 0;
  std::string out;
  int width = 320, height = 240;
  double fps = 25;
  double duration_s = 4;
  int frames = 0;  // > 0: given explicitly
  int gop = 0;     // 0: round(fps)
  long long first_ts = 1000;
  bool audio = false;
  int audio_offset_ms = 0;
  int block_samples = 160;
  bool full_range = false;
  int mid_gop = 0;
  double size_change_at_s = -1;
  int width2 = 0, height2 = 0;
  bool no_hxvf = false;
  int bad_hxaf = 0;
  int slices = 1;
  int seed = 0;
  bool help = false;
  // Camera-like pictures: sensor noise and a camera's bit rate.
  int noise = 0;         // noise amplitude in luma steps; 0: clean pictures
  int bitrate_kbps = 0;  // 0: the encoder's own quality-based rate
  // Damage and orders other cameras write.
  bool sound_after = false;     // a picture's sound blocks follow it instead of leading it
  long long erased_bytes = 0;   // 0xFF bytes (erased flash) after picture erased_after
  int erased_after = -1;
  int header_run = 0;           // "HXVF" headers inside the last unit of picture header_run_at
  int header_run_at = -1;
  // Known activity: a still scene, changed only where asked, and the
  // quantiser limits a camera's rate control works within.
  bool still = false;
  std::vector<std::pair<double, double>> moving;  // seconds [from, to) an object moves
  std::vector<double> exposure_steps;             // seconds at which the brightness jumps
  int qp = -1;      // >= 0: one quantiser for every picture, as a camera's fixed-quality mode
  int qp_min = -1;  // >= 0: the lowest quantiser, as a camera keeps one under its bit rate
};

void print_usage() {
  std::printf(
      "usage: make_recording --out PATH [options]\n"
      "  --out PATH             recording to write (required)\n"
      "  --width W --height H   picture size, even numbers (320x240)\n"
      "  --fps F                frames per second, e.g. 12.5 or 29.97 (25)\n"
      "  --duration S           seconds; frames = round(S * F) (4)\n"
      "  --frames N             frame count, overrides --duration\n"
      "  --gop N                key-frame interval in frames (round(F))\n"
      "  --first-ts MS          timestamp of the first frame (1000)\n"
      "  --audio                add a 440 Hz A-law tone in \"HXAF\" blocks\n"
      "  --audio-offset-ms MS   sound starts this many ms before the first picture (0)\n"
      "  --block-samples N      samples per sound block (160)\n"
      "  --full-range           full-range (JPEG) YUV\n"
      "  --mid-gop N            start N frames into a group (first frames are not key frames)\n"
      "  --size-change-at S     from second S on, pictures are --width2 x --height2\n"
      "  --width2 W --height2 H picture size after the change\n"
      "  --no-hxvf              leave out the \"HXVF\" headers\n"
      "  --bad-hxaf N           add N malformed \"HXAF\" headers between units\n"
      "  --slices N             slices per picture (1)\n"
      "  --seed N               varies the picture pattern (0)\n"
      "  --fps2 F --rate-change-at S  from second S on, pictures come at F per second\n"
      "  --drop-every N         every Nth picture comes one interval late (a dropped picture)\n"
      "  --ts-jump-at K --ts-jump-ms D  timestamps from picture K on move by D ms (may be < 0)\n"
      "  --header-start-codes   headers' unread field holds 00 00 01 00\n"
      "  --loud-audio           loud tone; every sound block starts with the codes 00 00 01\n"
      "  --tone-period MS --tone-on MS  tone only for the first MS of each period, from the\n"
      "                         first picture's time; silence between\n"
      "  --noise N              sensor noise of up to N luma steps on every pixel (0)\n"
      "  --bitrate KBPS         constant bit rate like a camera's, e.g. 8000 (quality-based)\n"
      "  --sound-after          the sound up to a picture's time follows the picture\n"
      "                         (by default it comes before it)\n"
      "  --erased BYTES --erased-after K  BYTES of 0xFF (erased flash) right after picture K\n"
      "                         and its sound, before the next start code\n"
      "  --header-run N --header-run-at K  N \"HXVF\" headers back to back in the middle of\n"
      "                         picture K's last unit (their length and unread fields 0xFF)\n"
      "  --still                a still scene: only the frame-number band changes\n"
      "  --moving-object A-B    a still scene with an object crossing it from second A\n"
      "                         to B (from the first picture); may be repeated\n"
      "  --exposure-step S      a still scene whose brightness jumps at second S, as a\n"
      "                         camera's auto-exposure does (up, then down); may be repeated\n"
      "  --qp N                 one quantiser for every picture, as a camera's fixed-quality\n"
      "                         (variable-rate) mode\n"
      "  --qp-min N             the lowest quantiser, as a camera keeps one under --bitrate\n"
      "Timestamps are written as they fall, even where their bytes read 00 00 01.\n");
}

bool parse_number(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return errno == 0 && *end == '\0' && std::isfinite(value);
}

bool parse_integer(const std::string& text, long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0';
}

// Reads "--name value" or "--name=value" at argv[i]; advances i past the value.
struct ArgReader {
  int argc = 0;
  char** argv = nullptr;
  int i = 1;
  std::string name, value;
  bool has_inline_value = false;

  bool next() {
    if (i >= argc) return false;
    const std::string arg = argv[i++];
    const size_t eq = arg.find('=');
    has_inline_value = arg.rfind("--", 0) == 0 && eq != std::string::npos;
    name = has_inline_value ? arg.substr(0, eq) : arg;
    value = has_inline_value ? arg.substr(eq + 1) : "";
    return true;
  }
  bool take_value(std::string& error) {
    if (has_inline_value) return true;
    if (i >= argc) {
      error = name + " needs a value";
      return false;
    }
    value = argv[i++];
    return true;
  }
};

bool read_clock_option(ArgReader& args, MakerOptions& o, std::string& error);
bool is_activity_option(const std::string& name);
bool check_activity_options(const MakerOptions& o, std::string& error);
bool read_activity_option(ArgReader& args, MakerOptions& o, std::string& error);

bool read_int_option(ArgReader& args, long long low, long long high, long long& out,
                     std::string& error) {
  if (!args.take_value(error)) return false;
  if (!parse_integer(args.value, out) || out < low || out > high) {
    error = args.name + " needs a whole number from " + std::to_string(low) + " to " +
            std::to_string(high) + ", got '" + args.value + "'";
    return false;
  }
  return true;
}

bool read_int_option(ArgReader& args, int low, int high, int& out, std::string& error) {
  long long value = 0;
  if (!read_int_option(args, static_cast<long long>(low), static_cast<long long>(high), value,
                       error)) {
    return false;
  }
  out = static_cast<int>(value);
  return true;
}

bool read_real_option(ArgReader& args, double& out, std::string& error) {
  if (!args.take_value(error)) return false;
  if (!parse_number(args.value, out)) {
    error = args.name + " needs a number, got '" + args.value + "'";
    return false;
  }
  return true;
}

bool read_flag(ArgReader& args, bool& out, std::string& error) {
  if (args.has_inline_value) {
    error = args.name + " takes no value";
    return false;
  }
  out = true;
  return true;
}

// ---- camera-like pictures ---------------------------------------------

bool is_camera_option(const std::string& name) {
  return name == "--noise" || name == "--bitrate" || name == "--sound-after" || name == "--erased" ||
         name == "--erased-after" || name == "--header-run" || name == "--header-run-at";
}

bool read_camera_option(ArgReader& args, MakerOptions& o, std::string& error) {
  const std::string& n = args.name;
  if (n == "--noise") return read_int_option(args, 0, 100, o.noise, error);
  if (n == "--sound-after") return read_flag(args, o.sound_after, error);
  if (n == "--erased") return read_int_option(args, 1LL, 1LL << 31, o.erased_bytes, error);
  if (n == "--erased-after") return read_int_option(args, 0, kMaxFrames, o.erased_after, error);
  if (n == "--header-run") return read_int_option(args, 1, 10000000, o.header_run, error);
  if (n == "--header-run-at") return read_int_option(args, 0, kMaxFrames, o.header_run_at, error);
  return read_int_option(args, 0, 1000000, o.bitrate_kbps, error);
}

// A camera's constant rate: the encoder keeps to it over one second.
void set_camera_bit_rate(AVCodecContext* c, int kbps) {
  if (kbps <= 0) return;
  c->bit_rate = static_cast<int64_t>(kbps) * 1000;
  c->rc_max_rate = c->bit_rate;
  c->rc_min_rate = c->bit_rate;
  c->rc_buffer_size = static_cast<int>(c->bit_rate);
}

// Sensor noise: every pixel below the frame-number band moves by up to
// `amplitude` steps (chroma by half), different in every picture, so no two
// pictures share their fine detail, as with a real sensor.
void add_sensor_noise(AVFrame* frame, int amplitude, uint32_t& state) {
  if (amplitude <= 0) return;
  const int band_h = std::max(8, frame->height / 10);
  for (int plane = 0; plane < 3; ++plane) {
    const int shift = plane == 0 ? 0 : 1;
    const int a = std::max(1, amplitude >> shift);
    const int w = frame->width >> shift, h = frame->height >> shift;
    for (int y = (band_h >> shift) + 1; y < h; ++y) {
      uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
      for (int x = 0; x < w; ++x) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const int v = row[x] + static_cast<int>(state % static_cast<uint32_t>(2 * a + 1)) - a;
        row[x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
    }
  }
}

bool read_option(ArgReader& args, MakerOptions& o, std::string& error) {
  const std::string& n = args.name;
  if (is_camera_option(n)) return read_camera_option(args, o, error);
  if (is_activity_option(n)) return read_activity_option(args, o, error);
  if (n == "--help" || n == "-h") return read_flag(args, o.help, error);
  if (n == "--out") {
    if (!args.take_value(error)) return false;
    o.out = args.value;
    return true;
  }
  if (n == "--width") return read_int_option(args, 16, 4096, o.width, error);
  if (n == "--height") return read_int_option(args, 16, 4096, o.height, error);
  if (n == "--width2") return read_int_option(args, 16, 4096, o.width2, error);
  if (n == "--height2") return read_int_option(args, 16, 4096, o.height2, error);
  if (n == "--fps") return read_real_option(args, o.fps, error);
  if (n == "--duration") return read_real_option(args, o.duration_s, error);
  if (n == "--size-change-at") return read_real_option(args, o.size_change_at_s, error);
  if (n == "--frames") return read_int_option(args, 1, kMaxFrames, o.frames, error);
  if (n == "--gop") return read_int_option(args, 1, kMaxFrames, o.gop, error);
  if (n == "--first-ts") return read_int_option(args, 0LL, 4294967295LL, o.first_ts, error);
  if (n == "--audio") return read_flag(args, o.audio, error);
  if (n == "--audio-offset-ms") return read_int_option(args, 0, 3600000, o.audio_offset_ms, error);
  if (n == "--block-samples") return read_int_option(args, 1, 65531, o.block_samples, error);
  if (n == "--full-range") return read_flag(args, o.full_range, error);
  if (n == "--mid-gop") return read_int_option(args, 0, kMaxFrames, o.mid_gop, error);
  if (n == "--no-hxvf") return read_flag(args, o.no_hxvf, error);
  if (n == "--bad-hxaf") return read_int_option(args, 0, 1000, o.bad_hxaf, error);
  if (n == "--slices") return read_int_option(args, 1, 256, o.slices, error);
  if (n == "--seed") return read_int_option(args, -1000000, 1000000, o.seed, error);
  return read_clock_option(args, o, error);
}

bool read_clock_option(ArgReader& args, MakerOptions& o, std::string& error) {
  const std::string& n = args.name;
  if (n == "--fps2") return read_real_option(args, o.fps2, error);
  if (n == "--rate-change-at") return read_real_option(args, o.rate_change_at_s, error);
  if (n == "--drop-every") return read_int_option(args, 2, kMaxFrames, o.drop_every, error);
  if (n == "--ts-jump-at") return read_int_option(args, 1, kMaxFrames, o.ts_jump_at, error);
  if (n == "--ts-jump-ms") {
    return read_int_option(args, -4294967295LL, 4294967295LL, o.ts_jump_ms, error);
  }
  if (n == "--header-start-codes") return read_flag(args, o.header_start_codes, error);
  if (n == "--loud-audio") return read_flag(args, o.loud_audio, error);
  if (n == "--tone-period") return read_int_option(args, 1, 3600000, o.tone_period_ms, error);
  if (n == "--tone-on") return read_int_option(args, 0, 3600000, o.tone_on_ms, error);
  error = "unknown option '" + n + "' (--help lists them)";
  return false;
}

// Frame number (within the file) at which the second picture size starts,
// or -1 without a size change.
int size_change_frame(const MakerOptions& o) {
  if (o.size_change_at_s < 0) return -1;
  return static_cast<int>(std::llround(o.size_change_at_s * o.fps));
}

// ---- the camera's clock --------------------------------------------------

// When each picture was taken, in ms from the first: intervals at --fps, at
// --fps2 from --rate-change-at on, one interval more after every
// --drop-every'th picture.
std::vector<double> picture_real_ms(const MakerOptions& o) {
  std::vector<double> times(static_cast<size_t>(o.frames));
  double t = 0;
  for (int k = 0; k < o.frames; ++k) {
    times[static_cast<size_t>(k)] = t;
    const bool second_rate = o.fps2 > 0 && t >= o.rate_change_at_s * 1000.0;
    const double interval = 1000.0 / (second_rate ? o.fps2 : o.fps);
    t += interval;
    if (o.drop_every > 0 && (k + 1) % o.drop_every == 0) t += interval;
  }
  return times;
}

// The timestamp the camera writes for something taken at `real_ms`; the
// clock jumps by --ts-jump-ms when picture --ts-jump-at is taken.
long long stamp_ms(const MakerOptions& o, const std::vector<double>& pictures, double real_ms) {
  long long stamp = o.first_ts + std::llround(real_ms);
  if (o.ts_jump_at > 0 && real_ms >= pictures[static_cast<size_t>(o.ts_jump_at)]) {
    stamp += o.ts_jump_ms;
  }
  return stamp;
}

bool check_damage_options(const MakerOptions& o, std::string& error) {
  if ((o.erased_bytes > 0) != (o.erased_after >= 0)) {
    return error = "--erased and --erased-after go together", false;
  }
  if (o.erased_after >= o.frames) return error = "--erased-after must be below the frame count", false;
  if ((o.header_run > 0) != (o.header_run_at >= 0)) {
    return error = "--header-run and --header-run-at go together", false;
  }
  if (o.header_run_at >= o.frames) return error = "--header-run-at must be below the frame count", false;
  return true;
}

bool check_clock_options(const MakerOptions& o, std::string& error) {
  if (!check_damage_options(o, error)) return false;
  if ((o.fps2 > 0) != (o.rate_change_at_s >= 0)) {
    return error = "--fps2 and --rate-change-at go together", false;
  }
  if (o.fps2 < 0 || o.fps2 > 240) return error = "--fps2 must be above 0 and at most 240", false;
  if (o.ts_jump_at >= o.frames) return error = "--ts-jump-at must be below the frame count", false;
  if (o.tone_on_ms > o.tone_period_ms) return error = "--tone-on must not exceed --tone-period", false;
  const std::vector<double> pictures = picture_real_ms(o);
  const double first_sound = -o.audio_offset_ms;
  for (const double real : {first_sound, pictures.back() + 1000.0}) {
    const long long stamp = stamp_ms(o, pictures, real);
    if (stamp < 0 || stamp > 4294967295LL - 1000) {
      return error = "timestamps would fall outside 0..2^32 ms", false;
    }
  }
  if (o.ts_jump_at > 0 && stamp_ms(o, pictures, pictures[static_cast<size_t>(o.ts_jump_at)]) < 0) {
    return error = "--ts-jump-ms puts timestamps below 0", false;
  }
  return true;
}

bool check_options(MakerOptions& o, std::string& error) {
  if (o.out.empty()) return error = "--out PATH is required", false;
  if (!(o.fps > 0 && o.fps <= 240)) return error = "--fps must be above 0 and at most 240", false;
  if (o.frames == 0) {
    const double frames = o.duration_s * o.fps;
    if (!(o.duration_s > 0) || !(frames >= 0.5 && frames <= kMaxFrames)) {
      return error = "--duration must give 1 to " + std::to_string(kMaxFrames) + " frames", false;
    }
    o.frames = static_cast<int>(std::llround(frames));
  }
  if (o.gop == 0) o.gop = std::max(1, static_cast<int>(std::lround(o.fps)));
  if (o.width % 2 || o.height % 2 || o.width2 % 2 || o.height2 % 2) {
    return error = "picture sizes must be even", false;
  }
  if (o.mid_gop >= o.gop) return error = "--mid-gop must be below the key-frame interval", false;
  if (o.audio_offset_ms > o.first_ts) {
    return error = "--audio-offset-ms puts sound before timestamp 0 (raise --first-ts)", false;
  }
  if (o.slices > o.height / 16 || (o.height2 && o.slices > o.height2 / 16)) {
    return error = "--slices must not exceed the picture height / 16", false;
  }
  const bool second_size = o.width2 > 0 || o.height2 > 0;
  if (o.size_change_at_s >= 0 || second_size) {
    if (o.size_change_at_s < 0 || o.width2 == 0 || o.height2 == 0) {
      return error = "--size-change-at, --width2 and --height2 go together", false;
    }
    const int change = size_change_frame(o);
    if (change < 1 || change >= o.frames) {
      return error = "--size-change-at must fall after the first and before the last frame", false;
    }
  }
  return check_clock_options(o, error) && check_activity_options(o, error);
}

bool parse_options(int argc, char** argv, MakerOptions& o, std::string& error) {
  ArgReader args;
  args.argc = argc;
  args.argv = argv;
  while (args.next()) {
    if (!read_option(args, o, error)) return false;
  }
  return o.help || check_options(o, error);
}

// ---- pictures ----------------------------------------------------------

void draw_frame_number(AVFrame* frame, int number);

// Paints picture `number`: a diagonal gradient drifting each frame, a box
// crossing the picture, and the frame-number cells along the top.
void draw_picture(AVFrame* frame, int number, int seed) {
  const int w = frame->width, h = frame->height;
  const int drift = number * 3 + seed * 17;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
    for (int x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(40 + (x + y + drift) % 160);
  }
  const int box = std::max(4, std::min(w, h) / 5);
  const int box_x = (number * 4 + seed * 13) % std::max(1, w - box);
  const int box_y = h / 2 - box / 2;
  for (int y = box_y; y < box_y + box && y < h; ++y) {
    std::memset(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0] + box_x, 220,
                static_cast<size_t>(std::min(box, w - box_x)));
  }
  for (int plane = 1; plane <= 2; ++plane) {
    for (int y = 0; y < h / 2; ++y) {
      uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
      for (int x = 0; x < w / 2; ++x) {
        const bool in_box = x * 2 >= box_x && x * 2 < box_x + box && y * 2 >= box_y &&
                            y * 2 < box_y + box;
        row[x] = in_box ? (plane == 1 ? 80 : 200)
                        : static_cast<uint8_t>(96 + (x * plane + drift) % 64);
      }
    }
  }
  draw_frame_number(frame, number);
}

// The frame number as 16 cells across the top band, most significant bit
// left, white for 1, on neutral chroma.
void draw_frame_number(AVFrame* frame, int number) {
  const int w = frame->width, h = frame->height;
  const int cell_w = w / 16, band_h = std::max(8, h / 10);
  const auto bits = static_cast<uint16_t>(number);
  for (int y = 0; y < band_h; ++y) {
    uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
    for (int cell = 0; cell < 16; ++cell) {
      const bool one = (bits >> (15 - cell)) & 1;
      std::memset(row + cell * cell_w, one ? 235 : 16, static_cast<size_t>(cell_w));
    }
  }
  for (int plane = 1; plane <= 2; ++plane) {
    for (int y = 0; y < band_h / 2; ++y) {
      std::memset(frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane], 128,
                  static_cast<size_t>(w / 2));
    }
  }
}

// ---- known activity ----------------------------------------------------
// A still scene that changes only where asked, so a test knows which seconds
// hold activity: an object crossing it, or the brightness jumping as a
// camera's auto-exposure makes it. Sensor noise (--noise) still moves every
// pixel of every picture, and the frame-number band changes like a camera's
// on-screen clock.

// How far the brightness jumps at an exposure step, in luma steps: a camera
// correcting its exposure moves the whole picture by about a tenth of the range.
constexpr int kExposureStepLuma = 24;

bool is_activity_option(const std::string& name) {
  return name == "--still" || name == "--moving-object" || name == "--exposure-step" ||
         name == "--qp" || name == "--qp-min";
}

// "A-B" in seconds with 0 <= A < B.
bool parse_span(const std::string& text, std::pair<double, double>& span) {
  const size_t dash = text.find('-');
  if (dash == std::string::npos) return false;
  return parse_number(text.substr(0, dash), span.first) &&
         parse_number(text.substr(dash + 1), span.second) && span.first >= 0 &&
         span.first < span.second;
}

bool read_activity_option(ArgReader& args, MakerOptions& o, std::string& error) {
  if (args.name == "--still") return read_flag(args, o.still, error);
  if (args.name == "--qp") return read_int_option(args, 0, 51, o.qp, error);
  if (args.name == "--qp-min") return read_int_option(args, 0, 51, o.qp_min, error);
  o.still = true;
  if (!args.take_value(error)) return false;
  if (args.name == "--exposure-step") {
    double at = 0;
    if (!parse_number(args.value, at) || at < 0) {
      return error = "--exposure-step needs a second from 0 on, got '" + args.value + "'", false;
    }
    o.exposure_steps.push_back(at);
    return true;
  }
  std::pair<double, double> span;
  if (!parse_span(args.value, span)) {
    return error = "--moving-object needs seconds FROM-TO with FROM < TO, got '" + args.value + "'",
           false;
  }
  o.moving.push_back(span);
  return true;
}

bool check_activity_options(const MakerOptions& o, std::string& error) {
  if (o.qp >= 0 && o.bitrate_kbps > 0) return error = "--qp and --bitrate exclude each other", false;
  return true;
}

// When picture `number` was taken, in seconds from the first; pictures
// before the first (a group's lead-in) are spaced at --fps.
double picture_seconds(const MakerOptions& o, const std::vector<double>& real_ms, int number) {
  if (number >= 0 && number < static_cast<int>(real_ms.size())) {
    return real_ms[static_cast<size_t>(number)] / 1000.0;
  }
  return number / o.fps;
}

// Brightness offset at second t: up after the first step, down after the next, ...
int exposure_offset(const MakerOptions& o, double t) {
  int passed = 0;
  for (const double at : o.exposure_steps) passed += t >= at ? 1 : 0;
  return passed % 2 ? kExposureStepLuma : 0;
}

// The object's left edge at second t, or -1 when it is not moving then: it
// crosses the picture from left to right over its span.
int object_x(const MakerOptions& o, double t, int width, int size) {
  for (const auto& [from, to] : o.moving) {
    if (t >= from && t < to) return static_cast<int>((t - from) / (to - from) * (width - size));
  }
  return -1;
}

// The scene: a fixed gradient with fixed blocks of detail, every luma value
// moved by the exposure offset; while an object moves, a striped box (its
// stripes shifting as it goes, like a walker's legs or a car's wheels)
// crosses the middle of the picture.
void draw_still_scene(AVFrame* frame, int number, double t, const MakerOptions& o) {
  const int w = frame->width, h = frame->height;
  const int light = exposure_offset(o, t);
  const int drift = o.seed * 17;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
    for (int x = 0; x < w; ++x) {
      const int detail = ((x / 24 + y / 24) % 3 == 0) ? 30 : 0;
      row[x] = static_cast<uint8_t>(std::min(255, 30 + (x + y + drift) % 150 + detail + light));
    }
  }
  for (int plane = 1; plane <= 2; ++plane) {
    for (int y = 0; y < h / 2; ++y) {
      uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
      for (int x = 0; x < w / 2; ++x) row[x] = static_cast<uint8_t>(96 + (x * plane + drift) % 64);
    }
  }
  const int size = std::max(8, std::min(w, h) / 4) & ~1;
  const int left = object_x(o, t, w, size);
  if (left >= 0) {
    const int top = (h / 2 - size / 2) & ~1;
    const int shift = static_cast<int>(t * 40);
    for (int y = top; y < top + size && y < h; ++y) {
      uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
      for (int x = left; x < left + size && x < w; ++x) {
        row[x] = static_cast<uint8_t>(((x - left + y + shift) / 6) % 2 ? 210 : 50);
      }
    }
    for (int plane = 1; plane <= 2; ++plane) {
      for (int y = top / 2; y < (top + size) / 2 && y < h / 2; ++y) {
        uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
        std::memset(row + left / 2, plane == 1 ? 90 : 180,
                    static_cast<size_t>(std::min(size / 2, w / 2 - left / 2)));
      }
    }
  }
  draw_frame_number(frame, number);
}

// ---- encoding ----------------------------------------------------------

struct EncodedPicture {
  Bytes data;  // Annex-B units of one picture (parameter sets before key frames)
  bool key = false;
};

struct Encoder {
  CodecContextPtr context;
  FramePtr frame;
  PacketPtr packet;
};

bool open_encoder(const MakerOptions& o, int width, int height, Encoder& enc, std::string& error) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) return error = "the libx264 encoder is not available in this FFmpeg build", false;
  enc.context.reset(avcodec_alloc_context3(codec));
  enc.frame.reset(av_frame_alloc());
  enc.packet.reset(av_packet_alloc());
  if (!enc.context || !enc.frame || !enc.packet) return error = "out of memory", false;
  AVCodecContext* c = enc.context.get();
  c->width = width;
  c->height = height;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->color_range = o.full_range ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
  c->framerate = av_d2q(o.fps, 1 << 20);
  c->time_base = av_inv_q(c->framerate);
  c->gop_size = o.gop;
  c->max_b_frames = 0;
  c->thread_count = 1;  // one slice per picture unless asked: no sliced threads
  set_camera_bit_rate(c, o.bitrate_kbps);
  if (o.qp >= 0) av_opt_set_int(c->priv_data, "qp", o.qp, 0);
  if (o.qp_min >= 0) c->qmin = o.qp_min;
  av_opt_set(c->priv_data, "preset", "ultrafast", 0);
  av_opt_set(c->priv_data, "tune", "zerolatency", 0);
  av_opt_set_int(c->priv_data, "forced-idr", 1, 0);
  // Parameter sets before every key frame, as cameras send them; key frames
  // exactly every `gop` pictures.
  const std::string params = "keyint=" + std::to_string(o.gop) +
                             ":min-keyint=" + std::to_string(o.gop) +
                             ":scenecut=0:bframes=0:repeat-headers=1:annexb=1:sliced-threads=0"
                             ":slices=" + std::to_string(o.slices);
  av_opt_set(c->priv_data, "x264-params", params.c_str(), 0);
  char reason[256];
  const int rc = avcodec_open2(c, codec, nullptr);
  if (rc < 0) {
    av_strerror(rc, reason, sizeof reason);
    return error = std::string("cannot open the libx264 encoder: ") + reason, false;
  }
  AVFrame* f = enc.frame.get();
  f->format = c->pix_fmt;
  f->width = width;
  f->height = height;
  f->color_range = c->color_range;
  if (av_frame_get_buffer(f, 0) < 0) return error = "out of memory", false;
  return true;
}

bool receive_packets(Encoder& enc, std::vector<EncodedPicture>& out, std::string& error) {
  for (;;) {
    const int rc = avcodec_receive_packet(enc.context.get(), enc.packet.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return error = "the encoder failed", false;
    const AVPacket* p = enc.packet.get();
    out.push_back({Bytes(p->data, p->data + p->size), (p->flags & AV_PKT_FLAG_KEY) != 0});
    av_packet_unref(enc.packet.get());
  }
}

// Encodes pictures first..first+count-1 at one size, after `lead_in` pictures
// that are encoded but dropped (so the kept ones can start inside a group).
bool encode_run(const MakerOptions& o, int width, int height, int first, int count, int lead_in,
                std::vector<EncodedPicture>& out, std::string& error) {
  Encoder enc;
  if (!open_encoder(o, width, height, enc, error)) return false;
  std::vector<EncodedPicture> run;
  AVFrame* f = enc.frame.get();
  uint32_t noise_state = 2463534242u + static_cast<uint32_t>(o.seed);
  const std::vector<double> real = picture_real_ms(o);
  for (int i = 0; i < lead_in + count; ++i) {
    if (av_frame_make_writable(f) < 0) return error = "out of memory", false;
    const int number = first + i - lead_in;
    if (o.still) {
      draw_still_scene(f, number, picture_seconds(o, real, number), o);
    } else {
      draw_picture(f, number, o.seed);
    }
    add_sensor_noise(f, o.noise, noise_state);
    f->pts = i;
    f->pict_type = i % o.gop == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(enc.context.get(), f) < 0) return error = "the encoder failed", false;
    if (!receive_packets(enc, run, error)) return false;
  }
  if (avcodec_send_frame(enc.context.get(), nullptr) < 0) return error = "the encoder failed", false;
  if (!receive_packets(enc, run, error)) return false;
  if (static_cast<int>(run.size()) != lead_in + count) {
    return error = "the encoder returned " + std::to_string(run.size()) + " pictures for " +
                   std::to_string(lead_in + count),
           false;
  }
  out.insert(out.end(), std::make_move_iterator(run.begin() + lead_in),
             std::make_move_iterator(run.end()));
  return true;
}

bool encode_all(const MakerOptions& o, std::vector<EncodedPicture>& pictures, std::string& error) {
  const int change = size_change_frame(o);
  const int first_run = change > 0 ? change : o.frames;
  if (!encode_run(o, o.width, o.height, 0, first_run, o.mid_gop, pictures, error)) return false;
  if (change > 0 &&
      !encode_run(o, o.width2, o.height2, change, o.frames - change, 0, pictures, error)) {
    return false;
  }
  return true;
}

// ---- sound -------------------------------------------------------------

// A continuous tone cut into blocks of A-law samples, silent outside the
// bursts when --tone-period is given.
struct Tone {
  long long next_sample = 0;
  double first_sample_ms = 0;  // real time of sample 0 (before the first picture)

  bool sounding(const MakerOptions& o, double real_ms) const {
    if (o.tone_period_ms <= 0) return true;
    if (real_ms < 0) return false;
    return std::fmod(real_ms, o.tone_period_ms) < o.tone_on_ms;
  }

  Bytes next_block(const MakerOptions& o, int count) {
    Bytes block(static_cast<size_t>(count));
    const double amplitude = o.loud_audio ? kLoudAmplitude : kToneAmplitude;
    for (auto& byte : block) {
      const double t = static_cast<double>(next_sample++) / kSampleRate;
      const double value = sounding(o, first_sample_ms + t * 1000.0)
                               ? amplitude * std::sin(2 * std::numbers::pi * kToneHz * t)
                               : 0.0;
      byte = encode_alaw(static_cast<int16_t>(std::lround(value)));
    }
    // Loud sound reaches the codes 00 and 01; a camera's blocks hold such runs.
    if (o.loud_audio && count >= 3) block[0] = block[1] = 0x00, block[2] = 0x01;
    return block;
  }
};

int audio_block_count(const MakerOptions& o, const std::vector<double>& pictures) {
  if (!o.audio) return 0;
  const double last_interval = 1000.0 / (o.fps2 > 0 ? std::min(o.fps, o.fps2) : o.fps);
  const double total_ms = o.audio_offset_ms + pictures.back() + last_interval;
  return static_cast<int>(std::ceil(total_ms * kSampleRate / 1000.0 / o.block_samples));
}

// When sound block n starts, in real ms from the first picture.
double audio_block_real_ms(const MakerOptions& o, int n) {
  return -o.audio_offset_ms + static_cast<double>(n) * o.block_samples * 1000.0 / kSampleRate;
}

// ---- layout ------------------------------------------------------------

// Length fields of the malformed "HXAF" headers, in the order they are used:
// one too short, one too long, then other impossible lengths. (The header
// that runs past the end of the file is written separately, last.)
uint32_t bad_length(int j) {
  static const uint32_t kLengths[] = {4, 65536, 0, 0xFFFFFFFFu, 3, 70000, 1};
  return kLengths[j % 7];
}

struct Layout {
  Bytes file;
  int audio_blocks = 0;
};

// A picture's bytes with `count` "HXVF" headers stamped `timestamp` back to
// back in the middle of its last unit: a camera that stamps the stream at
// any byte may leave runs of them. Their length and unread fields are
// 0xFFFFFFFF, so the run holds no 00 00 00 that would end the unit.
void append_with_header_run(Bytes& b, const Bytes& picture, int count, uint32_t timestamp) {
  size_t last_unit = 0;
  for (size_t i = 0; i + 3 <= picture.size(); ++i) {
    if (picture[i] == 0 && picture[i + 1] == 0 && picture[i + 2] == 1) last_unit = i + 3;
  }
  const size_t middle = last_unit + (picture.size() - last_unit) / 2;
  b.insert(b.end(), picture.begin(), picture.begin() + static_cast<ptrdiff_t>(middle));
  for (int i = 0; i < count; ++i) {
    b.insert(b.end(), {'H', 'X', 'V', 'F'});
    append_le32(b, 0xFFFFFFFFu);
    append_le32(b, timestamp);
    append_le32(b, 0xFFFFFFFFu);
  }
  b.insert(b.end(), picture.begin() + static_cast<ptrdiff_t>(middle), picture.end());
}

Layout assemble(const MakerOptions& o, const std::vector<EncodedPicture>& pictures) {
  Layout out;
  Bytes& b = out.file;
  append_file_header(b);
  const std::vector<double> real = picture_real_ms(o);
  auto stamp = [&](double real_ms) { return static_cast<uint32_t>(stamp_ms(o, real, real_ms)); };
  const uint32_t unread = o.header_start_codes ? 0x10000u : 0u;
  const int blocks = audio_block_count(o, real);
  const bool past_end_header = o.bad_hxaf >= 3;
  const int bad_in_middle = o.bad_hxaf - (past_end_header ? 1 : 0);
  Tone tone;
  tone.first_sample_ms = audio_block_real_ms(o, 0);
  int next_block = 0, next_bad = 0;
  auto write_blocks_until = [&](double until_real_ms) {
    while (next_block < blocks && audio_block_real_ms(o, next_block) <= until_real_ms) {
      const double at = audio_block_real_ms(o, next_block++);
      append_audio_block(b, stamp(at), tone.next_block(o, o.block_samples), unread);
      ++out.audio_blocks;
    }
  };
  for (int k = 0; k < static_cast<int>(pictures.size()); ++k) {
    const double at = real[static_cast<size_t>(k)];
    if (!o.sound_after) write_blocks_until(at);
    const Bytes& video = pictures[static_cast<size_t>(k)].data;
    if (!o.no_hxvf) append_video_header(b, static_cast<uint32_t>(video.size()), stamp(at), unread);
    if (k == o.header_run_at) {
      append_with_header_run(b, video, o.header_run, stamp(at));
    } else {
      b.insert(b.end(), video.begin(), video.end());
    }
    if (o.sound_after) write_blocks_until(at);
    // Malformed headers trail a picture's last slice, spread over the file.
    while (next_bad < bad_in_middle &&
           static_cast<long long>(next_bad + 1) * o.frames / (bad_in_middle + 1) <= k) {
      append_audio_header(b, bad_length(next_bad), stamp(at));
      ++next_bad;
    }
    if (k == o.erased_after) b.insert(b.end(), static_cast<size_t>(o.erased_bytes), uint8_t{0xFF});
  }
  write_blocks_until(1e300);
  if (past_end_header) append_audio_header(b, 1000, stamp(real.back()));
  return out;
}

// The file read back as the player reads it must hold exactly what was made.
bool verify(const MakerOptions& o, const Layout& layout, std::string& error) {
  const uint8_t* payload = layout.file.data() + kFileHeaderSize;
  const size_t length = layout.file.size() - kFileHeaderSize;
  auto units = index_nal_units(payload, length);
  take_oversized_units(units, payload);
  const size_t slices = build_frame_list(units).size();
  const size_t blocks = index_audio_blocks(payload, length).size();
  size_t want_slices = static_cast<size_t>(o.frames) * static_cast<size_t>(o.slices);
  // A stretch longer than any unit may be takes the slice before it along.
  if (static_cast<unsigned long long>(o.erased_bytes) > kMaxUnitBytes) --want_slices;
  if (slices != want_slices || blocks != static_cast<size_t>(layout.audio_blocks)) {
    error = "self-check failed: read back " + std::to_string(slices) + " slices and " +
            std::to_string(blocks) + " sound blocks, made " + std::to_string(want_slices) +
            " and " + std::to_string(layout.audio_blocks);
    return false;
  }
  return true;
}

bool write_file(const std::string& path, const Bytes& bytes, std::string& error) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return error = "cannot write '" + path + "': " + std::strerror(errno), false;
  const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
  const bool closed = std::fclose(f) == 0;
  if (written != bytes.size() || !closed) {
    std::remove(path.c_str());
    return error = "cannot write '" + path + "'", false;
  }
  return true;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "make_recording: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  av_log_set_level(AV_LOG_ERROR);
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("make_recording %s\n", program_version());
    return 0;
  }
  MakerOptions o;
  std::string error;
  if (!parse_options(argc, argv, o, error)) return fail(error);
  if (o.help) {
    print_usage();
    return 0;
  }
  std::vector<EncodedPicture> pictures;
  if (!encode_all(o, pictures, error)) return fail(error);
  const Layout layout = assemble(o, pictures);
  if (!verify(o, layout, error)) return fail(error);
  if (!write_file(o.out, layout.file, error)) return fail(error);
  int keys = 0;
  for (const EncodedPicture& p : pictures) keys += p.key ? 1 : 0;
  std::printf("%s: %d frames, %d key frames, %d audio blocks, %zu bytes\n", o.out.c_str(),
              o.frames, keys, layout.audio_blocks, layout.file.size());
  return 0;
}
