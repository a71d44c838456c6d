// An export of a marked stretch, run on a worker thread while the playback
// goes on. The worker shares only the progress, the done flag and the
// cancel flag with the player; its result is read after the join.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "convert/stretch_export.h"

struct ExportJob {
  std::thread worker;
  std::atomic<float> progress{0.0f};
  std::atomic<bool> done{false};
  std::atomic<bool> cancel{false};
  StretchRequest request;
  StretchResult result;

  ExportJob() = default;
  ExportJob(const ExportJob&) = delete;
  ExportJob& operator=(const ExportJob&) = delete;
  ~ExportJob();  // cancels and waits
};

// Starts exporting `request` (its cancel flag becomes the job's). False when
// the worker cannot be started (the reason is then in job.result).
bool start_export_job(ExportJob& job, StretchRequest request);

// True while the worker runs or its result waits to be collected.
bool export_job_active(const ExportJob& job);

// When the worker has finished: joins it and returns true (job.result holds
// what it did). False while it runs or when there is none.
bool collect_finished_export(ExportJob& job);

// Asks the worker to stop and waits for it; its temporary file is removed.
void cancel_export_job(ExportJob& job);

// "EXPORTING 45%  -  ESC CANCELS".
std::string export_progress_message(float fraction);

// "SAVED <name>" (the whole path when it went to another folder than the
// first of the request's), "EXPORT CANCELLED" or "EXPORT FAILED: <reason>";
// at most 127 bytes, a long path keeping its end.
std::string export_result_message(const StretchRequest& request, const StretchResult& result);
