#include "player/export_job.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "recording/folder_order.h"

namespace {

constexpr size_t kMessageBytes = 127;

// At most 127 bytes, as a message holds: a long one keeps its first words
// and its end, where a file's name is.
std::string fit_message(const std::string& message) {
  if (message.size() <= kMessageBytes) return message;
  constexpr size_t kHead = 8;
  return message.substr(0, kHead) + ".." + message.substr(message.size() - (kMessageBytes - kHead - 2));
}

}  // namespace

ExportJob::~ExportJob() { cancel_export_job(*this); }

bool start_export_job(ExportJob& job, StretchRequest request) {
  if (export_job_active(job)) return false;
  job.progress = 0.0f;
  job.done = false;
  job.cancel = false;
  job.result = StretchResult{};
  job.request = std::move(request);
  job.request.options.cancel = &job.cancel;
  try {
    job.worker = std::thread([&job] {
      const ProgressCallback progress = [&job](float f) { job.progress.store(f); };
      StretchResult result;
      try {
        result = export_stretch(job.request, progress);
      } catch (const std::bad_alloc&) {
        result.remux.reason = "out of memory";
      }
      job.result = std::move(result);
      job.done.store(true);
    });
  } catch (const std::system_error&) {
    job.result.remux.reason = "cannot start the export";
    return false;
  }
  return true;
}

bool export_job_active(const ExportJob& job) { return job.worker.joinable(); }

bool collect_finished_export(ExportJob& job) {
  if (!job.worker.joinable() || !job.done.load()) return false;
  job.worker.join();
  return true;
}

void cancel_export_job(ExportJob& job) {
  job.cancel.store(true);
  if (job.worker.joinable()) job.worker.join();
}

std::string export_progress_message(float fraction) {
  const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0f, 1.0f) * 100.0f));
  return "EXPORTING " + std::to_string(percent) + "%  -  ESC CANCELS";
}

std::string export_result_message(const StretchRequest& request, const StretchResult& result) {
  if (result.remux.succeeded) {
    const std::string first = request.folders.empty() ? "" : request.folders.front();
    const bool in_first = folder_of(result.output) == (first.empty() ? "" : first + "/");
    return fit_message("SAVED " + (in_first ? file_name_of(result.output) : result.output));
  }
  if (result.remux.reason == kCancelledReason) return "EXPORT CANCELLED";
  return fit_message("EXPORT FAILED: " + result.remux.reason);
}
