// Converts camera recordings to MP4 files beside them, without re-encoding.
//
//   convert_mp4 [--quiet] [--no-sound] FILE.264...
//   convert_mp4 [--quiet] [--no-sound] [--from POINT] [--to POINT] FILE.264
//
// With --from or --to, only that stretch: from the key picture at or before
// --from (seconds from the first picture, or a time of day HH:MM:SS where the
// recording's name gives its start) to --to, which may lie in a following
// recording of the folder; the MP4 is named after the recording and the
// stretch's time of day and goes beside it (or into the user's videos folder
// when that folder takes no file), never replacing a file.
//
// One result line per file: "OK  in -> out", followed by "  (notes)" when
// something was left out or an existing file replaced, or "FAILED  in:
// reason". Each MP4 goes beside its recording; two recordings that would
// share one (a.264 and a.h264) get distinct names (a.mp4, a.h264.mp4). On a
// terminal a progress bar shows while each file converts. --quiet prints only
// the result lines (no progress bar, no frame-rate line); --no-sound leaves
// the sound out of the MP4s. Interrupted (SIGINT, SIGTERM), it removes the
// temporary file it was writing. Exit status: 0 when every file converted, 1
// when any failed, 2 on a usage error.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define stdout_is_terminal() _isatty(_fileno(stdout))
#else
#include <unistd.h>
#define stdout_is_terminal() isatty(STDOUT_FILENO)
#endif

extern "C" {
#include <libavutil/log.h>
}

#include "app/program_info.h"
#include "convert/output_paths.h"
#include "convert/remux.h"
#include "convert/stretch_export.h"
#include "convert/stretch_points.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "platform/user_folders.h"
#include "recording/folder_order.h"
#include "player/time_of_day.h"

namespace {

constexpr int kBarWidth = 30;

const char kProgram[] = "convert_mp4";
const char kUsage[] =
    "Usage: convert_mp4 [--quiet] [--no-sound] FILE.264...\n"
    "       convert_mp4 [--quiet] [--no-sound] [--from POINT] [--to POINT] FILE.264\n"
    "Writes FILE.mp4 beside each recording, with its sound as AAC unless --no-sound;\n"
    "recordings that would share an MP4 get distinct names (a.264 -> a.mp4,\n"
    "a.h264 -> a.h264.mp4). An existing MP4 is replaced, and the result line says so.\n"
    "--from and --to export only that stretch of FILE, from the key picture at or\n"
    "before --from; a POINT is seconds from the first picture (95.5) or a time of\n"
    "day (08:04:12) where FILE's name gives its start. --to may lie in the next\n"
    "recordings of the folder, which are joined on. The MP4 is named after FILE\n"
    "and the stretch's time of day, beside FILE or in the user's videos folder,\n"
    "and replaces nothing.\n"
    "--quiet prints only the result lines. Exits 1 when any conversion failed.\n";

// Recordings of a chain: the one named and those after it in its folder,
// with what is known of each, read as the points need them.
struct Chain {
  std::vector<std::string> paths;
  std::vector<ChainRecording> recordings;
};

// The most recordings a stretch may run through.
constexpr size_t kMostChainRecordings = 1000;

bool add_to_chain(Chain& chain, const std::string& path, std::string* reason) {
  RecordingEnds ends;
  if (!read_recording_ends(path, &ends, reason)) return false;
  if (!ends.has_headers) return *reason = "no picture timestamps to find the stretch by", false;
  chain.paths.push_back(path);
  chain.recordings.push_back({start_time_from_name(path), recording_length(ends)});
  return true;
}

// The next recording of the folder joins the chain; false when there is none
// (or it cannot be read: *reason then says why).
bool extend_chain(Chain& chain, std::string* reason) {
  if (chain.paths.size() >= kMostChainRecordings) return false;
  const std::string next = neighbour_recording(chain.paths.back(), 1);
  return !next.empty() && add_to_chain(chain, next, reason);
}

// Places a point, extending the chain while it lies past its end. False with
// the reason when it cannot be placed.
bool place_in_chain(Chain& chain, const StretchPoint& point, bool out_point, ChainPlace* place,
                    std::string* reason) {
  const std::string which = std::string(out_point ? "--to " : "--from ") + describe_stretch_point(point);
  for (;;) {
    switch (place_stretch_point(point, chain.recordings, out_point, place)) {
      case PlaceOutcome::placed: return true;
      case PlaceOutcome::no_time_of_day:
        return *reason = which + ": the recording's name gives no time of day; give seconds", false;
      case PlaceOutcome::before_start:
        return *reason = which + " lies before the recording's start (" +
                         format_civil_time(*chain.recordings.front().start, false, false) + ")",
               false;
      case PlaceOutcome::past_the_end: {
        std::string why;
        if (extend_chain(chain, &why)) continue;
        if (!why.empty()) return *reason = file_name_of(neighbour_recording(chain.paths.back(), 1)) + ": " + why, false;
        char length[64];
        double total = 0;
        for (const ChainRecording& r : chain.recordings) total += r.duration_s;
        std::snprintf(length, sizeof length, "%.1f s", total);
        return *reason = which + " lies past the end (" +
                         (chain.paths.size() > 1 ? "the recordings run " : "the recording runs ") +
                         length + ")",
               false;
      }
    }
  }
}

// Seconds from the chain's first picture to a place.
double chain_time(const Chain& chain, const ChainPlace& place) {
  double t = place.seconds;
  for (size_t i = 0; i < place.recording; ++i) t += chain.recordings[i].duration_s;
  return t;
}

// The folder of `path` without its closing separator ("" the working folder).
std::string folder_without_separator(const std::string& path) {
  std::string folder = folder_of(path);
  if (folder.size() > 1) folder.pop_back();
  return folder;
}

void draw_progress_bar(const std::string& name, float fraction) {
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string bar(static_cast<size_t>(kBarWidth), '.');
  for (int i = 0; i < filled && i < kBarWidth; ++i) bar[static_cast<size_t>(i)] = '#';
  std::printf("\r[%s] %3d%%  %s", bar.c_str(), static_cast<int>(fraction * 100.0f), name.c_str());
}

// The bar's line is cleared so the result line replaces it.
void clear_progress_bar() { std::printf("\r\033[K"); }

bool convert_file(const std::string& input, const std::string& output, bool show_bar, bool quiet,
                  bool sound) {
  ProgressCallback progress;
  if (show_bar) progress = [&input](float fraction) { draw_progress_bar(input, fraction); };
  RemuxOptions options;
  options.print_frame_rate = !quiet;
  options.sound = sound;
  const RemuxResult result = convert_to_mp4(input, output, progress, options);
  if (show_bar) clear_progress_bar();
  std::fputs(remux_result_line(input, output, result).c_str(), stdout);
  return result.succeeded;
}

struct StretchLine {
  std::optional<StretchPoint> from, to;
};

// The stretch of `input` from --from to --to into an MP4; prints its result
// line. False when it failed.
bool export_file_stretch(const std::string& input, const StretchLine& points, bool show_bar,
                         bool sound) {
  Chain chain;
  std::string reason;
  ChainPlace from, to;
  StretchRequest request;
  bool ok = add_to_chain(chain, input, &reason) &&
            place_in_chain(chain, points.from.value_or(StretchPoint{}), false, &from, &reason);
  if (ok && points.to) ok = place_in_chain(chain, *points.to, true, &to, &reason);
  if (ok && points.to && !place_before(from, to)) {
    reason = "--to " + describe_stretch_point(*points.to) + " does not come after --from " +
             describe_stretch_point(points.from.value_or(StretchPoint{}));
    ok = false;
  }
  if (!ok) {
    std::printf("FAILED  %s: %s\n", input.c_str(), reason.c_str());
    return false;
  }
  if (!points.to) to = {from.recording, chain.recordings[from.recording].duration_s};
  request.inputs.assign(chain.paths.begin() + static_cast<std::ptrdiff_t>(from.recording),
                        chain.paths.begin() + static_cast<std::ptrdiff_t>(to.recording) + 1);
  request.in_s = from.seconds;
  request.out_s = points.to ? to.seconds : -1;
  request.planned_s = chain_time(chain, to) - chain_time(chain, from);
  const auto start_of = [&](size_t i) {
    return recording_start(chain.paths[i], chain.recordings[i].duration_s,
                           file_modified_time(chain.paths[i]));
  };
  request.name = stretch_file_name(request.inputs.front(), start_of(from.recording), from.seconds,
                                   start_of(to.recording), to.seconds);
  request.folders = {folder_without_separator(input), user_videos_folder()};
  request.options.print_frame_rate = false;
  request.options.sound = sound;
  ProgressCallback progress;
  if (show_bar) progress = [&input](float fraction) { draw_progress_bar(input, fraction); };
  const StretchResult result = export_stretch(request, progress);
  if (show_bar) clear_progress_bar();
  std::fputs(stretch_result_line(input, request, result).c_str(), stdout);
  return result.remux.succeeded;
}

// --from and --to as written; the problem with them, for the usage, when
// they cannot be read.
bool read_stretch_line(const CommandLine& line, StretchLine* points, std::string* problem) {
  for (const char* option : {"--from", "--to"}) {
    const std::string* text = line.value(option);
    if (!text) continue;
    const std::optional<StretchPoint> point = parse_stretch_point(*text);
    if (!point) {
      *problem = std::string(option) + ": '" + *text +
                 "' is neither seconds (95.5) nor a time of day (08:04:12)";
      return false;
    }
    (std::string(option) == "--from" ? points->from : points->to) = point;
  }
  // Seconds can be compared now; times of day only in the recordings (a
  // stretch may cross midnight).
  if (points->from && points->to && !points->from->time_of_day && !points->to->time_of_day &&
      points->to->seconds <= points->from->seconds) {
    *problem = "--to must come after --from";
    return false;
  }
  return true;
}

// The temporary MP4 goes with the process; then the signal ends it as usual.
extern "C" void remove_temporary_and_stop(int signal_number) {
  remove_active_temporaries();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics are not the user's business
  // The decoder's complaints go to standard error; Windows' C runtime buffers
  // it when it is a file, which would put them after the result line.
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  use_utf8_console_output();
  const CommandLine line = parse_command_line(program_arguments(argc, argv),
                                              {"--quiet", "--no-sound"}, {"--from", "--to"});
  if (const auto status = early_exit_status(line, kProgram, kUsage)) return *status;
  if (line.operands.empty()) return refuse_command_line(kProgram, "no recording named", kUsage);
  StretchLine points;
  std::string problem;
  if (!read_stretch_line(line, &points, &problem)) return refuse_command_line(kProgram, problem, kUsage);
  const bool stretch = points.from || points.to;
  if (stretch && line.operands.size() != 1) {
    return refuse_command_line(kProgram, "--from and --to take one recording", kUsage);
  }
  const bool quiet = line.has("--quiet");
  const bool sound = !line.has("--no-sound");
  std::signal(SIGINT, remove_temporary_and_stop);
  std::signal(SIGTERM, remove_temporary_and_stop);
  const bool show_bar = !quiet && stdout_is_terminal();
  if (stretch) return export_file_stretch(line.operands.front(), points, show_bar, sound) ? 0 : 1;
  int failed = 0;
  const std::vector<std::string> outputs = batch_output_paths(line.operands);
  for (size_t i = 0; i < line.operands.size(); ++i) {
    if (!convert_file(line.operands[i], outputs[i], show_bar, quiet, sound)) ++failed;
  }
  return failed ? 1 : 0;
}
