#include "player/find_and_share.h"

#include <cstdio>
#include <cstring>

#include "draw/overlay.h"
#include "draw/text.h"
#include "draw/toast.h"
#include "platform/user_folders.h"
#include "recording/folder_order.h"
#include "player/marks.h"

namespace {

constexpr uint32_t kFindMessageMs = 2000;
constexpr uint32_t kResultMessageMs = 5000;
constexpr uint32_t kProgressMessageMs = 1000;
constexpr size_t kMostChainRecordings = 1000;
constexpr const char* kProgressPrefix = "EXPORTING ";

int top_speed_index() { return kSpeedStepCount - 1; }

// The time of day of a position, or its time in the recording when the
// recording's start is unknown.
std::string time_text(const PlayerState& st, double position_s) {
  const TimeOfDayTexts clock = time_of_day_texts(st.start, position_s, false);
  if (!clock.bar.empty()) return clock.bar;
  char text[32];
  format_clock(text, sizeof text, position_s, clock_needs_hours(st.duration));
  return text;
}

void say(const std::string& text, uint32_t ms = kFindMessageMs) { show_toast(text.c_str(), ms); }

// Said after "no activity found" while the index still grows.
std::string not_yet(const PlayerState& st) {
  return st.recording.index_complete ? "" : " YET - INDEXING " + std::to_string(index_percent(st)) + "%";
}

void watch_stretch(PlayerState& st, double seek_to, double until) {
  set_speed(st, kNormalSpeedIndex);
  if (seek_to >= 0) seek_to_frame(st, frame_at_time(st, seek_to));
  st.skip = {true, video_position(st), until};
  say("ACTIVITY - 1x");
}

void skip_fast(PlayerState& st) {
  st.skip = {};
  set_speed(st, top_speed_index());
  say(st.activity.stretches.empty() ? "SKIPPING QUIET - NO ACTIVITY FOUND" + not_yet(st)
                                    : std::string("SKIPPING QUIET - 8x"));
}

// The stretch starting at `start`.
const ActivityStretch* stretch_starting_at(const PlayerState& st, double start) {
  for (const ActivityStretch& s : st.activity.stretches) {
    if (s.from == start) return &s;
  }
  return nullptr;
}

// Where an export from the playing recording starts: the key picture at or
// before the in-point, read from the index, and the end of the picture before
// it (its camera blocks and parameter sets follow there).
StretchStart start_from_index(const PlayerState& st, double in_s) {
  const Recording& rec = st.recording;
  StretchStart start;
  if (rec.frames.empty()) return start;
  const int k = find_seek_frame(rec.units, rec.frames, frame_at_time(st, in_s));
  auto u = static_cast<size_t>(rec.frames[static_cast<size_t>(k)]);
  while (u > 0 && !is_slice_type(rec.units[u - 1].type)) --u;
  if (u > 0) {
    const NalUnit& before = rec.units[u - 1];
    start.offset = before.data + before.size - rec.payload();
  }
  start.time_s = frame_time(st, k);
  return start;
}

// The stretch's length: by the times of day when both recordings know theirs,
// else from what the marks know of their recordings.
double planned_length(const MarkPoint& in, const MarkPoint& out, bool one_recording) {
  if (one_recording) return out.time_s - in.time_s;
  if (in.start.source != StartSource::none && out.start.source != StartSource::none) {
    const double between = seconds_between(civil_time_after(in.start.start, in.time_s),
                                           civil_time_after(out.start.start, out.time_s));
    if (between > 0) return between;
  }
  return in.duration_s - in.time_s + out.time_s;
}

std::string folder_without_separator(const std::string& path) {
  std::string folder = folder_of(path);
  if (folder.size() > 1) folder.pop_back();
  return folder;
}

void report_export(const StretchRequest& request, const StretchResult& result) {
  say(export_result_message(request, result), kResultMessageMs);
  if (result.remux.succeeded) {
    std::printf("Export: %s\n", result.output.c_str());
  } else {
    std::printf("Export %s\n", result.remux.reason == kCancelledReason
                                   ? "cancelled"
                                   : ("failed: " + result.remux.reason).c_str());
  }
}

}  // namespace

void jump_to_activity(PlayerState& st, int direction) {
  const std::vector<ActivityStretch>& stretches = st.activity.stretches;
  const double from = activity_query_time(st.activity, video_position(st));
  const std::optional<double> target =
      direction > 0 ? next_activity_start(stretches, from) : previous_activity_start(stretches, from);
  if (!target) {
    // Before the index is complete, what lies past its reach is not known yet.
    if (direction > 0 && !st.recording.index_complete) {
      say("NO MORE ACTIVITY SO FAR - INDEXING " + std::to_string(index_percent(st)) + "%");
      return;
    }
    say(direction > 0 ? "NO MORE ACTIVITY" : "NO ACTIVITY BEFORE");
    return;
  }
  seek_to_frame(st, frame_at_time(st, *target));
  note_activity_jump(st.activity, *target, video_position(st));
  const ActivityStretch* stretch = stretch_starting_at(st, *target);
  if (player_preferences().skip_quiet && stretch) {
    set_speed(st, kNormalSpeedIndex);
    st.skip = {true, video_position(st), stretch->to};
  }
  say("ACTIVITY AT " + time_text(st, *target));
}

void toggle_skip_quiet(PlayerState& st) {
  bool& on = player_preferences().skip_quiet;
  if (on) {
    end_skip_quiet(st);
    set_speed(st, kNormalSpeedIndex);
    say("SKIP QUIET OFF");
    return;
  }
  on = true;
  st.skip = {};
  // Said at once; playing, the first decision (made now) says what it does.
  say(st.activity.stretches.empty() ? "SKIP QUIET ON - NO ACTIVITY FOUND" + not_yet(st)
                                    : std::string("SKIP QUIET ON"));
  follow_skip_quiet(st);
}

bool end_skip_quiet(PlayerState& st) {
  bool& on = player_preferences().skip_quiet;
  const bool was_on = on;
  on = false;
  st.skip = {};
  return was_on;
}

void follow_skip_quiet(PlayerState& st) {
  if (!player_preferences().skip_quiet || st.paused || st.ended) return;
  const bool fast = st.speed_index == top_speed_index();
  const SkipDecision decision = decide_skip(st.skip, st.activity.stretches, video_position(st), fast);
  switch (decision.move) {
    case SkipMove::none: break;
    case SkipMove::go_fast: skip_fast(st); break;
    case SkipMove::watch: watch_stretch(st, decision.seek_to, decision.watch_to); break;
  }
}

void mark_stretch_point(PlayerState& st, bool out_point) {
  const double position = video_position(st);
  const MarkPoint point{st.path, position, st.duration, st.start};
  const bool cleared = set_mark(stretch_marks(), out_point, point);
  std::string text = (out_point ? "OUT " : "IN ") + time_text(st, position);
  if (cleared) text += out_point ? "  (IN CLEARED)" : "  (OUT CLEARED)";
  say(text);
}

void clear_stretch_marks() {
  stretch_marks() = StretchMarks{};
  say("MARKS CLEARED");
}

std::vector<std::string> recordings_from_to(const std::string& first, const std::string& last) {
  std::vector<std::string> chain{first};
  while (!same_recording_path(chain.back(), last)) {
    if (chain.size() >= kMostChainRecordings) return {};
    std::string next = neighbour_recording(chain.back(), 1);
    if (next.empty()) return {};
    chain.push_back(std::move(next));
  }
  return chain;
}

StretchRequest marked_stretch_request(const PlayerState& st, std::string* problem) {
  StretchRequest request;
  const StretchMarks& marks = stretch_marks();
  if (!marks.in && !marks.out) {
    *problem = "MARK THE STRETCH WITH [ AND ] FIRST";
    return request;
  }
  const MarkPoint in = marks.in ? *marks.in : MarkPoint{marks.out->path, 0, marks.out->duration_s, marks.out->start};
  const MarkPoint out = marks.out ? *marks.out : MarkPoint{in.path, in.duration_s, in.duration_s, in.start};
  std::vector<std::string> inputs = recordings_from_to(in.path, out.path);
  if (inputs.empty()) {
    *problem = "THE OUT-POINT'S RECORDING DOES NOT FOLLOW THE IN-POINT'S";
    return request;
  }
  request.inputs = std::move(inputs);
  request.in_s = in.time_s;
  request.out_s = marks.out ? out.time_s : -1;
  // Past the index's reach (a mark made in an earlier playback of this
  // recording) the start is found in the file, as for another recording.
  if (same_recording_path(in.path, st.path) && !st.recording.frames.empty() &&
      index_reaches(st, in.time_s)) {
    request.start = start_from_index(st, in.time_s);
  }
  request.planned_s = planned_length(in, out, request.inputs.size() == 1);
  request.name = stretch_file_name(in.path, in.start, in.time_s, out.start, out.time_s);
  request.folders = {folder_without_separator(in.path), user_videos_folder()};
  request.options.print_frame_rate = false;
  return request;
}

void export_marked_stretch(PlayerState& st) {
  if (st.export_job && export_job_active(*st.export_job)) {
    say("AN EXPORT IS RUNNING - ESC CANCELS IT");
    return;
  }
  std::string problem;
  StretchRequest request = marked_stretch_request(st, &problem);
  if (request.inputs.empty()) {
    say(problem, kResultMessageMs);
    return;
  }
  if (!st.export_job) st.export_job = std::make_unique<ExportJob>();
  if (!start_export_job(*st.export_job, std::move(request))) {
    report_export(st.export_job->request, st.export_job->result);
    return;
  }
  say(export_progress_message(0.0f), kProgressMessageMs);
}

bool follow_export(PlayerState& st) {
  if (!st.export_job || !export_job_active(*st.export_job)) return false;
  ExportJob& job = *st.export_job;
  if (collect_finished_export(job)) {
    report_export(job.request, job.result);
    return true;
  }
  // The progress gives way to other messages and comes back after them.
  const bool other_message = toast_showing(SDL_GetTicks()) &&
                             std::strncmp(toast_text(), kProgressPrefix, std::strlen(kProgressPrefix)) != 0;
  if (!other_message) say(export_progress_message(job.progress.load()), kProgressMessageMs);
  return false;
}

bool cancel_running_export(PlayerState& st) {
  if (!st.export_job || !export_job_active(*st.export_job)) return false;
  cancel_export_job(*st.export_job);
  report_export(st.export_job->request, st.export_job->result);
  return true;
}

void end_export(PlayerState& st) {
  if (!st.export_job || !export_job_active(*st.export_job)) return;
  if (!collect_finished_export(*st.export_job)) cancel_export_job(*st.export_job);
  report_export(st.export_job->request, st.export_job->result);
}

void prepare_activity_strip(PlayerState& st, SDL_Window* window) {
  if (!window) return;
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  const OverlayLayout layout = layout_overlay(w, h, window_text_scale(window), st.audio.has_audio);
  activity_strip(st.activity, layout.track.w);
}
