#include "ui/batch_screen.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "convert/output_paths.h"
#include "convert/remux.h"
#include "draw/sdl_handles.h"
#include "draw/text.h"
#include "platform/files.h"
#include "recording/folder_order.h"

namespace {

constexpr Uint32 kFrameDelayMs = 50;
constexpr int kRowScale = 2;
constexpr int kRowHeight = 22;  // a line of scale-2 text with its descenders, and a gap
constexpr int kListTop = 12;

struct BatchJob {
  std::string input, output;
  ConversionStatus status;
  std::thread worker;
  RowState state = RowState::waiting;
  std::string reason, notes;
};

struct Batch {
  std::vector<std::unique_ptr<BatchJob>> jobs;
  std::atomic<bool> cancel{false};
  bool sound = true;
  bool asking = false;
};

void clear_screen(SDL_Renderer* renderer) {
  SDL_SetRenderDrawColor(renderer, 20, 20, 30, 255);
  SDL_RenderClear(renderer);
}

void draw_centred_text(SDL_Renderer* renderer, int w, int top, const char* text, int scale) {
  draw_text(renderer, (w - text_width(text, scale)) / 2, top, text, scale);
}

void convert_one(BatchJob& job, const std::atomic<bool>& cancel, bool sound) {
  ProgressCallback report = [&job](float fraction) { job.status.progress.store(fraction); };
  RemuxOptions options;
  options.sound = sound;
  options.cancel = &cancel;
  job.status.result = convert_to_mp4(job.input, job.output, report, options);
  job.status.done.store(true);
}

int running_count(const Batch& batch) {
  int running = 0;
  for (const auto& job : batch.jobs) running += job->state == RowState::converting ? 1 : 0;
  return running;
}

void finish_job(BatchJob& job, const RemuxResult& result) {
  const bool cancelled = !result.succeeded && result.reason == kCancelledReason;
  job.state = result.succeeded ? RowState::succeeded
              : cancelled      ? RowState::cancelled
                               : RowState::failed;
  job.reason = result.reason;
  job.notes = remux_notes(result);
  std::fputs(remux_result_line(job.input, job.output, result).c_str(), stdout);
}

// A conversion that never ran.
RemuxResult failure(const char* reason) {
  RemuxResult result;
  result.reason = reason;
  return result;
}

// Starts waiting conversions while fewer than the limit run; after a cancel
// the waiting ones fail as cancelled instead.
void start_waiting(Batch& batch) {
  const int limit = concurrent_conversion_limit();
  for (auto& job : batch.jobs) {
    if (job->state != RowState::waiting) continue;
    if (batch.cancel.load()) {
      finish_job(*job, failure(kCancelledReason));
      continue;
    }
    if (running_count(batch) >= limit) return;
    try {
      job->worker = std::thread(convert_one, std::ref(*job), std::cref(batch.cancel), batch.sound);
      job->state = RowState::converting;
    } catch (const std::system_error&) {
      finish_job(*job, failure("cannot start a worker"));
    }
  }
}

void collect_finished(Batch& batch) {
  for (auto& job : batch.jobs) {
    if (job->state != RowState::converting || !job->status.done.load()) continue;
    job->worker.join();
    finish_job(*job, job->status.result);
  }
}

bool all_finished(const Batch& batch) {
  for (const auto& job : batch.jobs) {
    if (job->state == RowState::waiting || job->state == RowState::converting) return false;
  }
  return true;
}

// Esc or close asks; while asking, Y, Enter or a second close cancels, N or Esc goes on.
void handle_event(Batch& batch, const SDL_Event& event) {
  free_drop_text(event);
  const bool close = event.type == SDL_QUIT ||
                     (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE);
  const SDL_Keycode key = event.type == SDL_KEYDOWN ? event.key.keysym.sym : SDLK_UNKNOWN;
  if (batch.asking) {
    if (close || key == SDLK_y || key == SDLK_RETURN) {
      batch.cancel.store(true);
      batch.asking = false;
    } else if (key == SDLK_n || key == SDLK_ESCAPE) {
      batch.asking = false;
    }
    return;
  }
  if ((close || key == SDLK_ESCAPE) && !batch.cancel.load()) batch.asking = true;
  if (key == SDLK_s) batch.sound = !batch.sound;
}

void handle_events(Batch& batch) {
  SDL_Event event;
  while (SDL_PollEvent(&event)) handle_event(batch, event);
}

std::vector<BatchRow> rows_of(const Batch& batch, float* overall, int* finished) {
  std::vector<BatchRow> rows;
  float sum = 0;
  *finished = 0;
  for (const auto& job : batch.jobs) {
    BatchRow row;
    row.name = file_name_of(job->input);
    row.state = job->state;
    row.reason = job->reason;
    row.notes = job->notes;
    const bool over = job->state != RowState::waiting && job->state != RowState::converting;
    row.progress = over ? 1.0f : job->status.progress.load();
    sum += row.progress;
    *finished += over ? 1 : 0;
    rows.push_back(row);
  }
  *overall = batch.jobs.empty() ? 0.0f : sum / static_cast<float>(batch.jobs.size());
  return rows;
}

void draw_batch(SDL_Window* window, SDL_Renderer* renderer, const Batch& batch) {
  if (!window || !renderer) return;
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  float overall = 0;
  int finished = 0;
  const std::vector<BatchRow> rows = rows_of(batch, &overall, &finished);
  const int count = static_cast<int>(rows.size());
  draw_conversion_frame(renderer, w, h, std::min(finished, count - 1), count, overall);
  draw_batch_rows(renderer, w, h, rows, batch.sound);
  if (batch.asking) draw_cancel_question(renderer, w, h);
  SDL_RenderPresent(renderer);
}

std::vector<std::string> written_mp4s(const Batch& batch) {
  std::vector<std::string> written;
  for (const auto& job : batch.jobs) {
    if (job->state == RowState::succeeded) written.push_back(job->output);
  }
  return written;
}

void draw_results(SDL_Window* window, SDL_Renderer* renderer, const std::vector<BatchRow>& rows,
                  const std::string& place) {
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  const BatchSummary summary = summarize_rows(rows);
  draw_outcome_frame(renderer, w, h, summary.failed == 0 && summary.succeeded > 0);
  draw_batch_results(renderer, w, h, rows, place);
  SDL_RenderPresent(renderer);
}

// True when the event ends the results: a key pressed or a click once they
// were shown (a key held or pressed during the conversion does not count),
// or a close request, which is queued again for the next screen.
bool dismisses_results(const SDL_Event& event, Uint32 shown_at) {
  free_drop_text(event);
  const bool since_shown = SDL_TICKS_PASSED(event.common.timestamp, shown_at);
  switch (event.type) {
    case SDL_KEYDOWN: return since_shown && event.key.repeat == 0;
    case SDL_MOUSEBUTTONDOWN: return since_shown;
    case SDL_QUIT: break;
    case SDL_WINDOWEVENT:
      if (event.window.event != SDL_WINDOWEVENT_CLOSE) return false;
      break;
    default: return false;
  }
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  return true;
}

// Keeps the results on the screen until the user has read them.
void show_results(SDL_Window* window, SDL_Renderer* renderer, const Batch& batch) {
  if (!window || !renderer) return;
  float overall = 0;
  int finished = 0;
  const std::vector<BatchRow> rows = rows_of(batch, &overall, &finished);
  const std::string place = output_place_text(written_mp4s(batch));
  draw_results(window, renderer, rows, place);
  const Uint32 shown_at = SDL_GetTicks();
  for (;;) {
    SDL_Delay(kFrameDelayMs);
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      if (dismisses_results(event, shown_at)) return;
    }
    draw_results(window, renderer, rows, place);
  }
}

void set_row_colour(SDL_Renderer* renderer, RowState state) {
  switch (state) {
    case RowState::waiting: SDL_SetRenderDrawColor(renderer, 130, 130, 140, 255); break;
    case RowState::converting: SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255); break;
    case RowState::succeeded: SDL_SetRenderDrawColor(renderer, 100, 255, 100, 255); break;
    case RowState::failed: SDL_SetRenderDrawColor(renderer, 255, 60, 100, 255); break;
    case RowState::cancelled: SDL_SetRenderDrawColor(renderer, 240, 190, 70, 255); break;
  }
}

// The rows fill the space above the counter; the first unfinished row stays in view.
void draw_row_list(SDL_Renderer* renderer, int h, const std::vector<BatchRow>& rows) {
  const int room = std::max(1, (h / 2 - 60 - kListTop - 8) / kRowHeight);
  const int count = static_cast<int>(rows.size());
  int first_open = count;
  for (int i = 0; i < count; ++i) {
    if (rows[static_cast<size_t>(i)].state == RowState::waiting ||
        rows[static_cast<size_t>(i)].state == RowState::converting) {
      first_open = i;
      break;
    }
  }
  int first = std::max(0, std::min(first_open - 1, count - room));
  if (first_open == count) first = std::max(0, count - room);
  for (int i = first; i < count && i < first + room; ++i) {
    const BatchRow& row = rows[static_cast<size_t>(i)];
    set_row_colour(renderer, row.state);
    draw_text(renderer, 16, kListTop + (i - first) * kRowHeight, batch_row_text(row).c_str(),
              kRowScale);
  }
}

}  // namespace

int concurrent_conversion_limit() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

std::string batch_row_text(const BatchRow& row) {
  switch (row.state) {
    case RowState::waiting: return row.name + "  WAITING";
    case RowState::converting:
      return row.name + "  " + std::to_string(static_cast<int>(row.progress * 100.0f)) + "%";
    case RowState::succeeded: return row.name + (row.notes.empty() ? "  OK" : "  OK (" + row.notes + ")");
    case RowState::failed: return row.name + "  ER: " + row.reason;
    case RowState::cancelled: return row.name + "  CANCELLED";
  }
  return row.name;
}

void draw_conversion_frame(SDL_Renderer* renderer, int w, int h, int index, int count,
                           float progress) {
  clear_screen(renderer);

  char counter[64];
  std::snprintf(counter, sizeof counter, "%d/%d", index + 1, count);
  SDL_SetRenderDrawColor(renderer, 200, 200, 200, 255);
  draw_centred_text(renderer, w, h / 2 - 60, counter, 3);

  const int bar_width = 2 * w / 3;
  const SDL_Rect track = {(w - bar_width) / 2, h / 2 - 10, bar_width, 20};
  SDL_SetRenderDrawColor(renderer, 60, 60, 80, 255);
  SDL_RenderFillRect(renderer, &track);
  const int fill_width = static_cast<int>(static_cast<float>(bar_width) * progress);
  if (fill_width > 0) {
    const SDL_Rect fill = {track.x, track.y, fill_width, track.h};
    SDL_SetRenderDrawColor(renderer, 50, 150, 255, 255);
    SDL_RenderFillRect(renderer, &fill);
  }

  char percent[16];
  std::snprintf(percent, sizeof percent, "%d", static_cast<int>(progress * 100.0f));
  SDL_SetRenderDrawColor(renderer, 255, 255, 255, 220);
  draw_centred_text(renderer, w, h / 2 + 20, percent, 2);
}

void draw_batch_rows(SDL_Renderer* renderer, int w, int h, const std::vector<BatchRow>& rows,
                     bool sound) {
  draw_row_list(renderer, h, rows);
  SDL_SetRenderDrawColor(renderer, 130, 130, 140, 255);
  draw_centred_text(renderer, w, h - 24, sound ? "S: SOUND ON   ESC: CANCEL" : "S: SOUND OFF   ESC: CANCEL",
                    kRowScale);
}

void draw_cancel_question(SDL_Renderer* renderer, int w, int h) {
  const SDL_Rect box = {w / 2 - 200, h / 2 - 40, 400, 80};
  SDL_SetRenderDrawColor(renderer, 40, 40, 60, 255);
  SDL_RenderFillRect(renderer, &box);
  SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
  draw_centred_text(renderer, w, h / 2 - 8, "CANCEL ALL? Y/N", 3);
}

void draw_outcome_frame(SDL_Renderer* renderer, int w, int h, bool succeeded) {
  clear_screen(renderer);
  if (succeeded) {
    SDL_SetRenderDrawColor(renderer, 100, 255, 100, 255);
  } else {
    SDL_SetRenderDrawColor(renderer, 255, 60, 100, 255);
  }
  draw_centred_text(renderer, w, h / 2 - 10, succeeded ? "OK" : "ER", 4);
}

BatchSummary summarize_rows(const std::vector<BatchRow>& rows) {
  BatchSummary summary;
  for (const BatchRow& row : rows) {
    summary.succeeded += row.state == RowState::succeeded ? 1 : 0;
    summary.failed += row.state == RowState::failed ? 1 : 0;
    summary.cancelled += row.state == RowState::cancelled ? 1 : 0;
  }
  return summary;
}

std::string batch_summary_text(const BatchSummary& summary) {
  std::string text = std::to_string(summary.succeeded) + " CONVERTED";
  if (summary.failed > 0) text += "  " + std::to_string(summary.failed) + " FAILED";
  if (summary.cancelled > 0) text += "  " + std::to_string(summary.cancelled) + " CANCELLED";
  return text;
}

std::string output_place_text(const std::vector<std::string>& written_mp4s) {
  if (written_mp4s.empty()) return "NO MP4 FILE WAS WRITTEN";
  const std::string folder = folder_of(written_mp4s.front());
  for (const std::string& path : written_mp4s) {
    if (folder_of(path) != folder) return "MP4 FILES ARE BESIDE THEIR RECORDINGS";
  }
  std::string shown = folder;
  if (shown.empty()) {
    std::error_code error;
    const auto working = std::filesystem::current_path(error);
    shown = error ? std::string("THE WORKING FOLDER") : path_text(working);
  }
  return "MP4 FILES ARE IN " + shown;
}

std::string fit_from_left(const std::string& text, int max_width, int scale) {
  if (text_width(text.c_str(), scale) <= max_width) return text;
  const std::string ellipsis = "...";
  for (size_t cut = 1; cut < text.size(); ++cut) {
    // A UTF-8 continuation byte is no character's start.
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) continue;
    const std::string shown = ellipsis + text.substr(cut);
    if (text_width(shown.c_str(), scale) <= max_width) return shown;
  }
  return ellipsis;
}

void draw_batch_results(SDL_Renderer* renderer, int w, int h, const std::vector<BatchRow>& rows,
                        const std::string& place) {
  draw_row_list(renderer, h, rows);
  SDL_SetRenderDrawColor(renderer, 220, 220, 230, 255);
  draw_centred_text(renderer, w, h / 2 + 30, batch_summary_text(summarize_rows(rows)).c_str(),
                    kRowScale);
  draw_centred_text(renderer, w, h / 2 + 56, fit_from_left(place, w - 32, kRowScale).c_str(),
                    kRowScale);
  SDL_SetRenderDrawColor(renderer, 130, 130, 140, 255);
  draw_centred_text(renderer, w, h - 24, "PRESS A KEY OR CLICK TO GO ON", kRowScale);
}

std::vector<bool> run_batch_conversion_with_results(SDL_Window* window, SDL_Renderer* renderer,
                                                    const std::vector<std::string>& paths) {
  if (paths.empty()) return {};
  Batch batch;
  const std::vector<std::string> outputs = batch_output_paths(paths);
  for (size_t i = 0; i < paths.size(); ++i) {
    auto job = std::make_unique<BatchJob>();
    job->input = paths[i];
    job->output = outputs[i];
    batch.jobs.push_back(std::move(job));
  }
  for (;;) {
    collect_finished(batch);
    start_waiting(batch);
    if (all_finished(batch)) break;
    handle_events(batch);
    draw_batch(window, renderer, batch);
    SDL_Delay(kFrameDelayMs);
  }
  std::vector<bool> results;
  for (const auto& job : batch.jobs) results.push_back(job->state == RowState::succeeded);
  show_results(window, renderer, batch);
  return results;
}

void run_batch_conversion(SDL_Window* window, SDL_Renderer* renderer,
                          const std::vector<std::string>& paths) {
  run_batch_conversion_with_results(window, renderer, paths);
}
