#include "convert/batch_screen.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>

#include "convert/remux.h"
#include "draw/sdl_handles.h"
#include "draw/text.h"

namespace {

constexpr Uint32 kFrameDelayMs = 50;
constexpr Uint32 kOutcomeDelayMs = 800;
constexpr int kRowScale = 2;
constexpr int kRowHeight = 22;  // a line of scale-2 text with its descenders, and a gap
constexpr int kListTop = 12;

struct BatchJob {
  std::string input, output;
  ConversionStatus status;
  std::thread worker;
  RowState state = RowState::waiting;
  std::string reason;
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

std::string file_name_of(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void convert_one(BatchJob& job, const std::atomic<bool>& cancel, bool sound) {
  ProgressCallback report = [&job](float fraction) { job.status.progress.store(fraction); };
  RemuxOptions options;
  options.sound = sound;
  options.cancel = &cancel;
  job.status.succeeded = remux_recording(job.input, job.output, report, options, &job.status.reason);
  job.status.done.store(true);
}

int running_count(const Batch& batch) {
  int running = 0;
  for (const auto& job : batch.jobs) running += job->state == RowState::converting ? 1 : 0;
  return running;
}

void finish_job(BatchJob& job, bool succeeded, const std::string& reason) {
  job.state = succeeded ? RowState::succeeded : RowState::failed;
  job.reason = reason;
  if (!succeeded) std::printf("FAILED  %s: %s\n", job.input.c_str(), reason.c_str());
}

// Starts waiting conversions while fewer than the limit run; after a cancel
// the waiting ones fail as cancelled instead.
void start_waiting(Batch& batch) {
  const int limit = concurrent_conversion_limit();
  for (auto& job : batch.jobs) {
    if (job->state != RowState::waiting) continue;
    if (batch.cancel.load()) {
      finish_job(*job, false, "cancelled");
      continue;
    }
    if (running_count(batch) >= limit) return;
    try {
      job->worker = std::thread(convert_one, std::ref(*job), std::cref(batch.cancel), batch.sound);
      job->state = RowState::converting;
    } catch (const std::system_error&) {
      finish_job(*job, false, "cannot start a worker");
    }
  }
}

void collect_finished(Batch& batch) {
  for (auto& job : batch.jobs) {
    if (job->state != RowState::converting || !job->status.done.load()) continue;
    job->worker.join();
    finish_job(*job, job->status.succeeded, job->status.reason);
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
    const bool over = job->state == RowState::succeeded || job->state == RowState::failed;
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

void show_outcome(SDL_Window* window, SDL_Renderer* renderer, const Batch& batch, bool succeeded) {
  if (window && renderer) {
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    float overall = 0;
    int finished = 0;
    draw_outcome_frame(renderer, w, h, succeeded);
    draw_batch_rows(renderer, w, h, rows_of(batch, &overall, &finished), batch.sound);
    SDL_RenderPresent(renderer);
  }
  SDL_Delay(kOutcomeDelayMs);
}

void set_row_colour(SDL_Renderer* renderer, RowState state) {
  switch (state) {
    case RowState::waiting: SDL_SetRenderDrawColor(renderer, 130, 130, 140, 255); break;
    case RowState::converting: SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255); break;
    case RowState::succeeded: SDL_SetRenderDrawColor(renderer, 100, 255, 100, 255); break;
    case RowState::failed: SDL_SetRenderDrawColor(renderer, 255, 60, 100, 255); break;
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
    case RowState::succeeded: return row.name + "  OK";
    case RowState::failed: return row.name + "  ER: " + row.reason;
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
  // Rows fill the space above the counter; the first unfinished row stays in view.
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

std::vector<bool> run_batch_conversion_with_results(SDL_Window* window, SDL_Renderer* renderer,
                                                    const std::vector<std::string>& paths) {
  if (paths.empty()) return {};
  Batch batch;
  for (const std::string& path : paths) {
    auto job = std::make_unique<BatchJob>();
    job->input = path;
    job->output = mp4_output_path(path);
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
  const bool all_ok = std::all_of(results.begin(), results.end(), [](bool ok) { return ok; });
  show_outcome(window, renderer, batch, all_ok);
  return results;
}

void run_batch_conversion(SDL_Window* window, SDL_Renderer* renderer,
                          const std::vector<std::string>& paths) {
  run_batch_conversion_with_results(window, renderer, paths);
}
