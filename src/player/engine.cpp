#include "player/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "draw/overlay.h"
#include "platform/choosers.h"
#include "platform/user_folders.h"
#include "draw/toast.h"
#include "player/controls.h"
#include "player/find_and_share.h"
#include "recording/folder_order.h"
#include "player/marks.h"

namespace {

constexpr int kDecoderThreads = 4;
constexpr uint32_t kPausedFrameMs = 30;
constexpr uint32_t kFinishedPollMs = 50;
// Long enough to be read on the menu that follows a failed start.
constexpr uint32_t kFailureMessageMs = 3000;

double now_ms() {
  return static_cast<double>(SDL_GetPerformanceCounter()) * 1000.0 /
         static_cast<double>(SDL_GetPerformanceFrequency());
}

void handle_pending_events(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer) {
  SDL_Event event;
  while (SDL_PollEvent(&event)) handle_player_event(st, window, renderer, event);
}

// Time the paused loop spends, per pass, decoding ahead for a step back.
constexpr double kPausedDecodeSliceMs = 25.0;

// Paused without a seek drag: the picture at the position (decoded by the
// stepper after a paused seek) with the overlay. The rest of the pass goes
// to decoding ahead for a step back, or to waiting.
void show_paused_frame(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer) {
  st.overlay_visible = true;
  if (st.frame_counter != st.shown_frame && st.frame_counter != st.unreachable_frame) {
    int tag = -1;
    const AVFrame* picture = stepper_picture_from(st.stepper, st.frame_counter, &tag);
    if (picture) {
      show_stepper_picture(st, window, renderer, picture, tag);
    } else {
      st.unreachable_frame = st.frame_counter;
    }
  }
  const OverlayView view = overlay_view(st);
  if (renderer && st.video.texture) {
    draw_video_frame(st.video, window, renderer, &view, true, st.help_visible);
  }
  set_playback_title(window, view);
  if (st.shown_frame <= 0 || stepper_decode_ahead(st.stepper, st.shown_frame, kPausedDecodeSliceMs)) {
    SDL_Delay(kPausedFrameMs);
  }
}

// Numbers the frame-list entries the index added since the last call with
// the picture each belongs to: a slice whose first macroblock is 0 (its
// first bit set) starts a picture.
void number_new_pictures(PlayerState& st) {
  if (!st.split_pictures) return;
  const Recording& rec = st.recording;
  int number = st.picture_numbers.empty() ? 0 : st.picture_numbers.back();
  for (size_t k = st.picture_numbers.size(); k < rec.frames.size(); ++k) {
    if (number == 0 || frame_starts_picture(rec, k)) ++number;
    st.picture_numbers.push_back(number);
  }
}

// Longest sleep between two passes of the loop, so events are handled while
// a picture is awaited.
constexpr double kMaxSleepMs = 10.0;
constexpr int kIdleWaitMs = 10;

void sleep_ms(double ms) {
  const double capped = ms < kMaxSleepMs ? ms : kMaxSleepMs;
  if (capped >= 1.0) SDL_Delay(static_cast<uint32_t>(capped));
}

double slot_ms(const PlayerState& st) { return pacing_interval_ms(st.fps, st.speed); }

// Recording time of a decoded picture; its tag is kept inside the frames.
double picture_time(const PlayerState& st, int frame_index) {
  const int last = st.frame_count > 0 ? st.frame_count - 1 : 0;
  return frame_time(st, frame_index < 0 ? 0 : (frame_index > last ? last : frame_index));
}

// The position follows the clock, not the pictures shown; without pacing it
// is the picture's own time.
void follow_clock(PlayerState& st, double now) {
  const double end = end_time(st);
  const double position = clock_position_s(st.clock, now);
  st.position_s = position < end ? position : end;
  st.frame_counter = frame_at_time(st, st.position_s);
}

void refresh_decoding_stats(PlayerState& st) {
  if (!st.decoding) return;
  const DecodingCounts counts = decoding_counts(*st.decoding);
  st.stats.slices_sent = counts.slices_sent;
  st.stats.pictures_skipped = counts.slices_skipped;
}

// Behind with nothing newer decoded: from 2x the decoder decodes key frames
// only until one is far enough ahead of the clock; below 2x the clock waits
// for the pictures once they are far behind.
void react_to_falling_behind(PlayerState& st, const PictureVerdict& verdict, double picture_s,
                             double now) {
  if (wants_key_frames_only(st.speed)) {
    const double from_s = catch_up_time_s(st.clock, now, slot_ms(st));
    request_key_frames_only(*st.decoding, frame_at_time(st, from_s) + 1);
  } else if (clock_should_yield(st.speed, verdict.late_ms)) {
    clock_start(st.clock, picture_s, now);
  }
}

void show_picture(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                  const PlaybackOptions& options, DecodedPicture picture,
                  const PictureVerdict& verdict) {
  const double now = now_ms();
  const double picture_s = picture_time(st, picture.frame_index);
  // The first picture after a start or a seek sets the clock once it is on
  // the screen: making the window and texture for it costs no later picture
  // its time.
  const bool sets_clock = !st.clock.started || !options.pacing;
  if (sets_clock) clock_wait_for_picture(st.clock, picture_s);
  follow_clock(st, now);
  const int replaced = st.shown_frame;
  std::swap(st.video.frame, picture.frame);
  st.shown_frame = picture.frame_index;
  remember_recent_picture(st, replaced, std::move(picture.frame));
  feed_audio(st.audio, video_position(st), st.paused, st.speed);
  const OverlayView view = overlay_view(st);
  present_picture(st.video, window, renderer, st.overlay_visible ? &view : nullptr, true,
                  st.help_visible);
  // The title follows the playback also while the bar is hidden.
  set_playback_title(window, view);
  st.last_drawn_ms = now_ms();
  if (sets_clock) clock_start(st.clock, picture_s, st.last_drawn_ms);
  ++(picture.drained ? st.stats.pictures_drained : st.stats.pictures_shown);
  if (options.on_picture) options.on_picture(st);
  if (options.pacing && verdict.behind) react_to_falling_behind(st, verdict, picture_s, now);
}

void drop_picture(PlayerState& st, double now) {
  take_picture(*st.decoding);
  ++st.stats.pictures_dropped;
  follow_clock(st, now);
  feed_audio(st.audio, video_position(st), st.paused, st.speed);
}

// Everything was shown: the end comes when the clock reaches it.
void reach_end_when_due(PlayerState& st, const PlaybackOptions& options, double now) {
  if (options.pacing && st.clock.started) {
    const double wait = clock_due_ms(st.clock, end_time(st)) - now;
    if (wait > kPacingToleranceMs) {
      follow_clock(st, now);
      sleep_ms(wait);
      return;
    }
  }
  st.reached_end = true;
  st.frame_counter = st.frame_count;
  st.position_s = end_time(st);
}

// Paced: the clock's verdict, and from 2x no picture drawn that a newer one
// replaces before the screen can show it. Unpaced: every picture, or when
// asked to keep to the screen, the newest at most once per refresh.
PictureVerdict decide_on_picture(const PlayerState& st, const PlaybackOptions& options,
                                 const QueueHead& head, double now) {
  PictureVerdict verdict;
  const double since_drawn = now - st.last_drawn_ms;
  if (options.pacing) {
    verdict = judge_picture(st.clock, picture_time(st, head.frame_index), now, slot_ms(st),
                            head.newer_waiting);
    if (verdict.action == PictureAction::show && wants_key_frames_only(st.speed) &&
        replaced_before_screen_shows_it(since_drawn, head.newer_waiting)) {
      verdict.action = PictureAction::drop;
    }
  } else if (!options.every_picture && since_drawn < kScreenRefreshMs) {
    verdict.action = head.newer_waiting ? PictureAction::drop : PictureAction::wait;
    verdict.wait_ms = 1.0;
  }
  return verdict;
}

// The oldest decoded picture is waited for, shown or dropped; with none
// decoded yet the loop waits a little for one.
void advance_pictures(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                      const PlaybackOptions& options) {
  DecodingThread* decoding = st.decoding.get();
  if (!decoding) {
    st.reached_end = true;
    return;
  }
  const QueueHead head = peek_queue(*decoding);
  const double now = now_ms();
  if (head.ended) return reach_end_when_due(st, options, now);
  if (!head.has_picture) {
    follow_clock(st, now);
    wait_for_picture(*decoding, kIdleWaitMs);
    return;
  }
  const PictureVerdict verdict = decide_on_picture(st, options, head, now);
  switch (verdict.action) {
    case PictureAction::wait:
      follow_clock(st, now);
      sleep_ms(verdict.wait_ms);
      return;
    case PictureAction::drop:
      return drop_picture(st, now);
    case PictureAction::show:
      return show_picture(st, window, renderer, options, take_picture(*decoding), verdict);
  }
}

// The last picture with the bar, "END" and whatever message or help is up.
void show_finished_frame(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer) {
  st.overlay_visible = true;
  const OverlayView view = overlay_view(st);
  draw_video_frame(st.video, window, renderer, &view, true, st.help_visible);
  set_playback_title(window, view);
}

// True while the finished state lasts: nothing asked to leave and no seek
// made the playback run again.
bool still_finished(const PlayerState& st) { return !st.leave && !playback_running(st); }

// The finished state: redrawn while something on it changes (events, an
// expiring message), otherwise idle.
void run_finished_state(PlayerState& st, SDL_Window* window, SDL_Renderer* renderer,
                        const PlaybackOptions& options) {
  // Without a window no key can ever arrive: waiting would never end.
  if (!window) return;
  st.ended = true;
  st.paused = false;
  show_finished_frame(st, window, renderer);
  if (options.on_finished) options.on_finished(st);
  bool message_was_showing = true;
  while (still_finished(st)) {
    bool changed = false;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      handle_player_event(st, window, renderer, event);
      changed = true;
    }
    // An export kept the next recording waiting; it follows once the export is done.
    if (follow_export(st) && continue_with_next_recording(st)) break;
    if (!still_finished(st)) break;
    prepare_activity_strip(st, window);
    const bool message_showing = toast_showing(SDL_GetTicks());
    if (changed || message_showing || message_was_showing) {
      show_finished_frame(st, window, renderer);
    }
    message_was_showing = message_showing;
    SDL_Delay(kFinishedPollMs);
  }
  st.ended = false;
  // Played again: the bar stays a while, and with it the title leaves "Finished".
  st.last_mouse_motion = SDL_GetTicks();
}

// The index's figures as the playback uses them.
void take_index_figures(PlayerState& st) {
  st.frame_count = static_cast<int>(st.recording.frames.size());
  st.fps = st.recording.fps;
  st.duration = estimated_duration(st.recording);
}

// The end of the index: the line a whole load prints, or why it ended
// before the file did (what was indexed still plays).
void report_index_end(PlayerState& st) {
  const LoadStatus status = st.recording.index_status;
  if (status == LoadStatus::ok) {
    std::fputs(loaded_line(st.recording).c_str(), stdout);
    return;
  }
  std::fputs(load_error_message(status, st.path).c_str(), stdout);
  show_toast(load_error_caption(status).c_str(), kFailureMessageMs);
}

// A mark in the playing recording, held as its frame and the time into it
// while the index may retime the frames.
struct MarkPlace {
  std::optional<MarkPoint>* mark = nullptr;
  int frame = 0;
  double into = 0;
};

std::vector<MarkPlace> places_of_marks(PlayerState& st) {
  std::vector<MarkPlace> places;
  StretchMarks& marks = stretch_marks();
  for (std::optional<MarkPoint>* mark : {&marks.in, &marks.out}) {
    if (!*mark || !same_recording_path((*mark)->path, st.path)) continue;
    const int frame = frame_at_time(st, (*mark)->time_s);
    places.push_back({mark, frame, (*mark)->time_s - frame_time(st, frame)});
  }
  return places;
}

// What the index's growth changes for the features that read it: the
// picture numbers, the activity (measured again now and then while it
// grows), and once the times settle the recording's start and the marks in
// it, which keep their pictures.
void follow_index_in_features(PlayerState& st, const IndexGrowth& growth,
                              const std::vector<MarkPlace>& marks) {
  number_new_pictures(st);
  if (growth.retimed || activity_wants_remeasure(st.activity, st.recording, st.duration)) {
    remeasure_playback_activity(st.activity, st.recording, st.duration);
  }
  if (!growth.retimed && !growth.completed) return;
  if (growth.completed) st.start = recording_start(st.path, st.duration, file_modified_time(st.path));
  for (const MarkPlace& place : marks) {
    MarkPoint& mark = **place.mark;
    if (growth.retimed) mark.time_s = frame_time(st, place.frame) + place.into;
    mark.duration_s = st.duration;
    mark.start = st.start;
  }
}

// A playback that cannot start says why in the window as well as on the
// console: the message outlives this screen and shows on the next one.
bool fail_to_open(PlayerState& st, const std::string& caption) {
  st.failure = caption;
  show_toast(caption.c_str(), kFailureMessageMs);
  return false;
}

}  // namespace

bool open_playback(PlayerState& st, const std::string& path) {
  // A click before this playback has drawn its bar must not reach the
  // previous recording's buttons.
  clear_overlay_rects();
  take_carried_speed(st);
  st.path = path;
  LoadStatus status = LoadStatus::ok;
  // The first frames are enough to start: the rest is indexed meanwhile.
  if (!open_recording(path, st.recording, &status)) return fail_to_open(st, load_error_caption(status));
  remember_used_folder(path);
  take_index_figures(st);
  if (st.recording.index_complete) report_index_end(st);
  st.split_pictures = has_split_pictures(st.recording.units);
  remeasure_playback_activity(st.activity, st.recording, st.duration);
  keep_marks_of_folder(stretch_marks(), path);
  if (!setup_video_decoder(st.video, kDecoderThreads, st.split_pictures)) {
    return fail_to_open(st, "CANNOT OPEN THE DECODER");
  }
  st.start = recording_start(path, st.duration, file_modified_time(path));
  number_new_pictures(st);
  attach_stepper(st.stepper, st.recording.units, st.recording.frames, st.split_pictures);
  // Sound blocks come with their timestamps on the pictures' clock.
  open_audio_output(st.audio, std::move(st.recording.sound), st.recording.time_origin);
  st.recording.sound.clear();
  st.position_s = frame_time(st, 0);
  clock_wait_for_picture(st.clock, st.position_s);
  st.decoding = std::make_unique<DecodingThread>();
  if (!start_decoding(*st.decoding, std::move(st.video.codec), st.recording.units,
                      st.recording.index_complete, st.recording.file.get())) {
    std::printf("Error: Cannot start decoding\n");
    return fail_to_open(st, "CANNOT START DECODING");
  }
  st.last_mouse_motion = SDL_GetTicks();
  return true;
}

void run_playback_step(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                       const PlaybackOptions& options) {
  take_index_growth(st);
  handle_pending_events(st, window, renderer);
  if (st.leave) return;
  update_overlay_visibility(st, SDL_GetTicks());
  follow_export(st);
  follow_skip_quiet(st);
  prepare_activity_strip(st, window);
  // While paused the clock stands; a seek drag lets pictures come as if playing.
  const bool standing = st.paused && !st.seek_drag;
  clock_set_running(st.clock, !standing, now_ms());
  if (standing) {
    show_paused_frame(st, window, renderer);
    return;
  }
  advance_pictures(st, window, renderer, options);
  refresh_decoding_stats(st);
}

bool playback_running(const PlayerState& st) { return !st.leave && !st.reached_end; }

void finish_playback(PlayerState& st, SDL_Window*& window, SDL_Renderer*& renderer,
                     const PlaybackOptions& options) {
  const bool exporting = st.export_job && export_job_active(*st.export_job);
  if (!exporting && continue_with_next_recording(st)) return;
  run_finished_state(st, window, renderer, options);
}

void close_playback(PlayerState& st) {
  end_export(st);
  refresh_decoding_stats(st);
  if (st.decoding) stop_decoding(*st.decoding);
  st.decoding.reset();
  reset_stepper(st.stepper);
  close_audio_output(st.audio);
  teardown_video_output(st.video);
  st.recording = Recording{};
}

void take_index_growth(PlayerState& st) {
  Recording& rec = st.recording;
  if (!rec.indexing) return;
  if (st.stats.pictures_shown > 0) release_index_hold(rec);
  // Where the picture is, in its frame, before the times may change.
  const int frame = st.frame_counter;
  const double into_frame = video_position(st) - frame_time(st, frame);
  const std::vector<MarkPlace> marks = places_of_marks(st);
  const IndexGrowth growth = absorb_index_progress(rec);
  if (st.decoding && (growth.new_units > 0 || growth.completed)) {
    extend_decoding_units(*st.decoding, rec.units.data() + growth.first_new_unit, growth.new_units,
                          rec.index_complete);
  }
  take_index_figures(st);
  std::vector<AudioBlock> blocks = std::move(rec.sound);
  rec.sound.clear();
  if (growth.retimed) {
    st.position_s = frame_time(st, frame) + into_frame;
    clock_rename_now(st.clock, st.position_s, now_ms());
    replace_audio_blocks(st.audio, std::move(blocks), rec.time_origin, st.position_s);
  } else {
    extend_audio_blocks(st.audio, std::move(blocks), video_position(st));
  }
  if (growth.completed) report_index_end(st);
  follow_index_in_features(st, growth, marks);
  go_on_with_waiting_seek(st);
}

std::string play_recording_with(const std::string& path, SDL_Window*& window,
                                SDL_Renderer*& renderer, const PlaybackOptions& options) {
  PlayerState st;
  st.video.allow_direct_rgb = options.allow_direct_rgb;
  if (!open_playback(st, path)) {
    close_playback(st);
    return "";
  }
  // A seek or a replay from the finished state runs the playback again.
  do {
    while (playback_running(st)) run_playback_step(st, window, renderer, options);
    if (st.leave) break;
    finish_playback(st, window, renderer, options);
  } while (playback_running(st));
  close_playback(st);
  if (options.stats_out) *options.stats_out = st.stats;
  return st.next_action;
}

std::string play_recording(const std::string& path, SDL_Window*& window, SDL_Renderer*& renderer) {
  return play_recording_with(path, window, renderer, PlaybackOptions{});
}
