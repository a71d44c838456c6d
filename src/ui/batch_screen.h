// The batch conversion screen: converts several recordings, as many at once
// as the machine has cores, listing each file with its state.
#pragma once

#include <SDL.h>

#include <atomic>
#include <string>
#include <vector>

#include "convert/remux.h"

// Shared between the screen and one recording's worker. The worker stores
// `progress` and `done` atomically; it writes `result` before it stores
// `done`, and the screen reads it only after joining the worker.
struct ConversionStatus {
  std::atomic<float> progress{0.0f};
  std::atomic<bool> done{false};
  RemuxResult result;
};

// What the list shows for one recording.
enum class RowState { waiting, converting, succeeded, failed, cancelled };
struct BatchRow {
  std::string name;  // the file name without its folder
  RowState state = RowState::waiting;
  float progress = 0;
  std::string reason;  // for failed
  std::string notes;   // for succeeded: what was replaced or left out
};

// How a finished batch came out: conversions that succeeded, failed, or were
// cancelled by the user (before or while running).
struct BatchSummary {
  int succeeded = 0;
  int failed = 0;
  int cancelled = 0;
};

// Converts each path with a progress screen; draws nothing when window or
// renderer is null. Esc or the window's close asks first, then cancels:
// running conversions stop and leave no temporary file, waiting ones do not
// start, finished MP4s stay. The S key leaves the sound out of conversions
// that have not started yet. Recordings that would share an MP4 get distinct
// names (batch_output_paths). Each recording prints its result line as
// convert_mp4 does ("OK  in -> out  (notes)", "FAILED  in: reason" or
// "CANCELLED  in"). At the end the results stay on the screen (each file,
// the counts, where the MP4s are) until a key or a click; a close request
// ends them too and is passed on (queued again) to the next screen.
void run_batch_conversion(SDL_Window* window, SDL_Renderer* renderer,
                          const std::vector<std::string>& paths);

// The same, returning whether each conversion succeeded, in path order. A
// worker thread that cannot start counts as a failed conversion.
std::vector<bool> run_batch_conversion_with_results(SDL_Window* window, SDL_Renderer* renderer,
                                                    const std::vector<std::string>& paths);

// At most this many conversions run at once: the machine's cores, at least 1.
int concurrent_conversion_limit();

// The overall frame: counter "done+1/count" (capped at count), bar and
// percentage of the whole batch. Does not present.
void draw_conversion_frame(SDL_Renderer* renderer, int w, int h, int index, int count,
                           float progress);

// The list of recordings above the bar, scrolled so the first unfinished one
// shows, and the "S" key's sound state below it. Does not clear or present.
void draw_batch_rows(SDL_Renderer* renderer, int w, int h, const std::vector<BatchRow>& rows,
                     bool sound);

// The question asked before cancelling, over whatever is drawn.
void draw_cancel_question(SDL_Renderer* renderer, int w, int h);

// The outcome frame: "OK" in green or "ER" in red, centred. Does not present.
void draw_outcome_frame(SDL_Renderer* renderer, int w, int h, bool succeeded);

// The text of a row: "NAME  WAITING", "NAME  42%", "NAME  OK", "NAME  OK (notes)",
// "NAME  ER: reason" or "NAME  CANCELLED".
std::string batch_row_text(const BatchRow& row);

// The counts of finished rows by outcome.
BatchSummary summarize_rows(const std::vector<BatchRow>& rows);

// "2 CONVERTED  1 FAILED  3 CANCELLED", leaving out the outcomes nobody had
// (but always the converted count).
std::string batch_summary_text(const BatchSummary& summary);

// Where the written MP4s are: "MP4 FILES ARE IN <folder>" when all share one
// folder, "MP4 FILES ARE BESIDE THEIR RECORDINGS" when they are in several,
// "NO MP4 FILE WAS WRITTEN" when there are none. A bare name is in the working
// folder, named as the full path of it.
std::string output_place_text(const std::vector<std::string>& written_mp4s);

// `text` cut from the left (at a character's start, "..." in front) so that it
// is at most max_width pixels wide at the scale; unchanged when it fits.
std::string fit_from_left(const std::string& text, int max_width, int scale);

// The results screen over the outcome frame: the rows, the summary, the MP4s'
// place and how to go on. Does not clear or present.
void draw_batch_results(SDL_Renderer* renderer, int w, int h, const std::vector<BatchRow>& rows,
                        const std::string& place);
